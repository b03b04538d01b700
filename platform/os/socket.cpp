#include "platform/os/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace jw {

namespace {

thread_local int last_error = 0;

bool Fail(int winsock_error) {
  last_error = winsock_error;
  return false;
}

bool FailErrno() {
  return Fail(WinSockErrorFromErrno(errno));
}

// Waits until the socket is ready for the given poll events. A wait that an
// interruption cuts short starts again with the full time, which errs on
// the side of waiting longer rather than failing early.
bool WaitFor(int socket, short events, int timeout_ms) {
  pollfd entry{socket, events, 0};
  for (;;) {
    int ready = poll(&entry, 1, timeout_ms > 0 ? timeout_ms : -1);
    if (ready > 0) return true;
    if (ready == 0) return Fail(WSAETIMEDOUT);
    if (errno != EINTR) return FailErrno();
  }
}

int AddressInfoError(int code) {
  switch (code) {
    case EAI_AGAIN:
      return WSATRY_AGAIN;
    case EAI_FAIL:
      return WSANO_RECOVERY;
    case EAI_SYSTEM:
      return WinSockErrorFromErrno(errno);
    default:
      return WSAHOST_NOT_FOUND;
  }
}

}  // namespace

int WinSockErrorFromErrno(int error) {
  switch (error) {
    case EINTR:
      return WSAEINTR;
    case EBADF:
      return WSAEBADF;
    case EACCES:
    case EPERM:
      return WSAEACCES;
    case EFAULT:
      return WSAEFAULT;
    case EINVAL:
      return WSAEINVAL;
    case EMFILE:
    case ENFILE:
      return WSAEMFILE;
    case EAGAIN:
      return WSAEWOULDBLOCK;
    case EINPROGRESS:
      return WSAEINPROGRESS;
    case EALREADY:
      return WSAEALREADY;
    case ENOTSOCK:
      return WSAENOTSOCK;
    case EMSGSIZE:
      return WSAEMSGSIZE;
    case EAFNOSUPPORT:
      return WSAEAFNOSUPPORT;
    case EADDRINUSE:
      return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
      return WSAEADDRNOTAVAIL;
    case ENETDOWN:
      return WSAENETDOWN;
    case ENETUNREACH:
      return WSAENETUNREACH;
    case ENETRESET:
      return WSAENETRESET;
    case ECONNABORTED:
      return WSAECONNABORTED;
    case ECONNRESET:
      return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM:
      return WSAENOBUFS;
    case EISCONN:
      return WSAEISCONN;
    case ENOTCONN:
      return WSAENOTCONN;
    case EPIPE:
    case ESHUTDOWN:
      return WSAESHUTDOWN;
    case ETIMEDOUT:
      return WSAETIMEDOUT;
    case ECONNREFUSED:
      return WSAECONNREFUSED;
    case EHOSTDOWN:
      return WSAEHOSTDOWN;
    case EHOSTUNREACH:
      return WSAEHOSTUNREACH;
    default:
      return WSASYSCALLFAILURE;
  }
}

int SocketLastError() {
  return last_error;
}

int SocketCreate() {
  int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket < 0) {
    FailErrno();
    return kInvalidSocket;
  }
  return socket;
}

bool SocketConnect(int socket, uint32_t address, uint16_t port, int timeout_ms) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  peer.sin_addr.s_addr = address;
  // Connect without blocking so that an unanswered attempt ends after the
  // time limit instead of the system's minutes-long retries.
  int flags = fcntl(socket, F_GETFL);
  if (flags < 0 || fcntl(socket, F_SETFL, flags | O_NONBLOCK) < 0) return FailErrno();
  bool connected = true;
  if (connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) {
      connected = FailErrno();
    } else if (!WaitFor(socket, POLLOUT, timeout_ms)) {
      connected = false;
    } else {
      int error = 0;
      socklen_t length = sizeof error;
      if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        connected = FailErrno();
      } else if (error != 0) {
        connected = Fail(WinSockErrorFromErrno(error));
      }
    }
  }
  if (fcntl(socket, F_SETFL, flags) < 0 && connected) return FailErrno();
  return connected;
}

bool SocketSendAll(int socket, const void* data, size_t size, int timeout_ms) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    if (!WaitFor(socket, POLLOUT, timeout_ms)) return false;
    ssize_t sent = send(socket, next, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return FailErrno();
    }
    next += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

long SocketReceive(int socket, void* buffer, size_t size, int timeout_ms) {
  for (;;) {
    if (!WaitFor(socket, POLLIN, timeout_ms)) return -1;
    ssize_t received = recv(socket, buffer, size, MSG_DONTWAIT);
    if (received >= 0) return static_cast<long>(received);
    if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
      FailErrno();
      return -1;
    }
  }
}

int SocketPeerError(int socket) {
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  if (getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) == 0) return 0;
  FailErrno();
  return last_error;
}

void SocketClose(int socket) {
  if (socket >= 0) close(socket);
}

bool ParseDottedQuad(const std::string& text, uint32_t* address) {
  in_addr parsed{};
  if (inet_pton(AF_INET, text.c_str(), &parsed) != 1) return false;
  *address = parsed.s_addr;
  return true;
}

bool LookupHostIPv4(const std::string& name, uint32_t* address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int code = getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (code != 0) return Fail(AddressInfoError(code));
  bool ok = false;
  for (addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in)) {
      *address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
      ok = true;
      break;
    }
  }
  freeaddrinfo(found);
  return ok ? true : Fail(WSAHOST_NOT_FOUND);
}

std::string SystemHostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) {
    FailErrno();
    return std::string();
  }
  return std::string(name);
}

std::string OfficialHostName(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* found = nullptr;
  int code = getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (code != 0) {
    Fail(AddressInfoError(code));
    return std::string();
  }
  std::string official =
      found->ai_canonname != nullptr && *found->ai_canonname ? found->ai_canonname : name;
  freeaddrinfo(found);
  return official;
}

}  // namespace jw
