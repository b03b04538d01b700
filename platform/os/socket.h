// Blocking IPv4 TCP sockets over POSIX for the mail transport. Failures are
// reported with the WinSock error numbers (10061 refused, 10060 timed out,
// ...) that the transport's exceptions carry, kept per thread like the
// original platform's last-error value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace jw {

// The WinSock error numbers this layer reports.
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSASYSCALLFAILURE = 10107;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;

// The WinSock number for a POSIX errno value; WSASYSCALLFAILURE for one
// that has no WinSock counterpart.
int WinSockErrorFromErrno(int error);

// The WinSock number of the last failed socket call on this thread; 0 when
// none has failed yet.
int SocketLastError();

constexpr int kInvalidSocket = -1;

// A new IPv4 stream socket (close-on-exec), or kInvalidSocket.
int SocketCreate();

// Connects to an IPv4 address (network byte order) and port, waiting at
// most timeout_ms (below 1: no limit). The socket stays blocking.
bool SocketConnect(int socket, uint32_t address, uint16_t port, int timeout_ms);

// Sends every byte, retrying after partial sends and interruptions; a peer
// that has gone away gives a failure, never SIGPIPE. A send that cannot go
// on for timeout_ms fails with WSAETIMEDOUT.
bool SocketSendAll(int socket, const void* data, size_t size, int timeout_ms);

// Receives up to size bytes, waiting at most timeout_ms for the first one.
// Returns the count received, 0 at the end of the stream, -1 on a failure
// (WSAETIMEDOUT when nothing came in time).
long SocketReceive(int socket, void* buffer, size_t size, int timeout_ms);

// Whether the socket has a peer: 0 when it has, else the WinSock number of
// the failure (WSAENOTCONN for a socket that is not connected).
int SocketPeerError(int socket);

void SocketClose(int socket);

// A dotted quad ("10.0.0.1") as an address in network byte order; false for
// any other text.
bool ParseDottedQuad(const std::string& text, uint32_t* address);

// The first IPv4 address of a host name, in network byte order.
bool LookupHostIPv4(const std::string& name, uint32_t* address);

// This machine's host name; empty when the system does not give one.
std::string SystemHostName();

// The official (canonical) name of a host; empty when it does not resolve.
std::string OfficialHostName(const std::string& name);

}  // namespace jw
