#include "mail/tcpip.h"

#include <arpa/inet.h>

#include <algorithm>

#include "platform/os/performance_counter.h"
#include "platform/os/socket.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

TScopedLocalHost* local_host_scope = nullptr;

bool sockets_started = false;

// Stands in for the WinSock start-up and clean-up at program start and end.
struct SocketStartup {
  SocketStartup() { sockets_started = true; }
  ~SocketStartup() { sockets_started = false; }
} socket_startup;

}  // namespace

bool WinSockStarted() {
  return sockets_started;
}

T_TcpIp::T_TcpIp(TComponent* owner)
    : TComponent(owner), socket_(kInvalidSocket), receive_buffer_(kReceiveBufferSize) {}

T_TcpIp::~T_TcpIp() {
  // The connection is closed while the trace handler is still there, so the
  // close shows in the trace. The socket is closed before the trace, so a
  // handler that raises leaves nothing open; its exception stops here.
  try {
    if (socket_ != kInvalidSocket) Logout();
  } catch (...) {
  }
  OnTrace = nullptr;
}

void T_TcpIp::Trace(const std::string& text, int level) {
  if (OnTrace) OnTrace(text, level);
}

void T_TcpIp::Login() {
  if (logged_in_) Logout();
  address_ = ResolveHost(hostname_);
  if (address_ == kNoAddress) throw ETcpIpError("Couldn't resolve hostname " + hostname_);
  OpenSocket(socket_, port_, address_);
  if (socket_ == kInvalidSocket) {
    throw ESocketError("Error creating socket", static_cast<uint16_t>(SocketLastError()));
  }
  error_ = false;
  last_error_ = 0;
  logged_in_ = true;
}

void T_TcpIp::Logout() {
  CloseSocket(socket_);
  socket_ = kInvalidSocket;
  logged_in_ = false;
}

void T_TcpIp::OpenSocket(int& socket, uint16_t port, uint32_t address) {
  CloseSocket(socket);
  socket = SocketCreate();
  if (socket != kInvalidSocket) Connect(socket, port, address);
}

void T_TcpIp::Connect(int& socket, uint16_t port, uint32_t address) {
  const std::string target = IntToStr(int32_t{port}) + " to host " + IpToText(address);
  if (!SocketConnect(socket, address, port, timeout_ms_)) {
    SocketClose(socket);
    socket = kInvalidSocket;
    Trace("Failed to open output socket " + target, kTraceSocket);
    return;
  }
  Trace("Opened output socket " + target + " successfully; ID " + IntToStr(int32_t{socket}),
        kTraceSocket);
}

void T_TcpIp::CloseSocket(int& socket) {
  if (socket == kInvalidSocket) return;
  const int closed = socket;
  SocketClose(socket);
  socket = kInvalidSocket;
  Trace("Closed socket ID " + IntToStr(int32_t{closed}), kTraceSocket);
}

int T_TcpIp::SocketState(int socket) {
  if (socket == kInvalidSocket) return kSocketNone;
  const int error = SocketPeerError(socket);
  if (error == 0) return kSocketConnected;
  return error == WSAENOTCONN ? kSocketUnconnected : kSocketFailed;
}

bool T_TcpIp::Eof(int socket) {
  return error_ || SocketState(socket) != kSocketConnected;
}

void T_TcpIp::SendCommand(const std::string& text) {
  SendText(socket_, text + "\r\n");
  Trace(text, kTraceCommand);
}

void T_TcpIp::SendText(int socket, const std::string& text) {
  SendBuffer(socket, text.data(), text.size());
}

void T_TcpIp::SendBuffer(int socket, const void* data, size_t length) {
  if (error_) return;
  if (!SocketSendAll(socket, data, length, timeout_ms_)) {
    error_ = true;
    last_error_ = SocketLastError();
    return;
  }
  Trace("Sent " + IntToStr(static_cast<int64_t>(length)) + " bytes on socket ID " +
            IntToStr(int32_t{socket}),
        kTraceSocket);
}

size_t T_TcpIp::Receive(int socket, void* buffer, size_t size) {
  std::vector<uint8_t> temporary;
  if (buffer == nullptr) {
    temporary.resize(size);
    buffer = temporary.data();
  }
  int wait_ms = timeout_ms_;
  if (receive_deadline_ != 0) {
    const int64_t left_ticks = receive_deadline_ - QueryPerformanceCounter();
    // Rounded up, so a wait never ends before the deadline and then finds
    // it not yet reached.
    wait_ms = static_cast<int>(std::min<int64_t>(
        timeout_ms_,
        (left_ticks * 1000 + QueryPerformanceFrequency() - 1) / QueryPerformanceFrequency()));
    if (wait_ms < 1) {
      error_ = true;
      last_error_ = WSAETIMEDOUT;
      return 0;
    }
  }
  // SocketReceive itself retries after interruptions; 0 is the end of the
  // stream and -1 a failure or time-out, both final.
  const long received = SocketReceive(socket, buffer, size, wait_ms);
  if (received < 1) {
    error_ = true;
    last_error_ = received < 0 ? SocketLastError() : 0;
    return 0;
  }
  Trace("Received " + IntToStr(int64_t{received}) + " bytes on socket ID " +
            IntToStr(int32_t{socket}),
        kTraceSocket);
  return static_cast<size_t>(received);
}

T_TcpIp::TReceiveDeadline::TReceiveDeadline(T_TcpIp& client) : client_(client) {
  if (client_.timeout_ms_ > 0) {
    client_.receive_deadline_ = QueryPerformanceCounter() +
                                int64_t{client_.timeout_ms_} * QueryPerformanceFrequency() / 1000;
  }
}

T_TcpIp::TReceiveDeadline::~TReceiveDeadline() {
  client_.receive_deadline_ = 0;
}

std::string T_TcpIp::ReadLine(int socket) {
  std::string line;
  while (!Eof(socket)) {
    char byte;
    if (Receive(socket, &byte, 1) < 1) break;
    if (byte == '\n') break;
    if (byte == '\r') continue;
    if (line.size() == kMaxLineLength) {
      error_ = true;
      throw ETcpIpError("Received a line longer than " +
                        IntToStr(static_cast<int64_t>(kMaxLineLength)) + " bytes");
    }
    line += byte;
  }
  return line;
}

void T_TcpIp::Action() {
  Login();
  receive_stream_.Clear();
  while (!Eof(socket_)) {
    const size_t received = Receive(socket_, receive_buffer_.data(), receive_buffer_.size());
    if (received > 0) receive_stream_.WriteBuffer(receive_buffer_.data(), received);
  }
  receive_stream_.SetPosition(0);
}

uint32_t ResolveHost(const std::string& name) {
  if (name.empty()) return kNoAddress;
  uint32_t address;
  if (ParseDottedQuad(name, &address)) return address;
  if (LookupHostIPv4(name, &address)) return address;
  return kNoAddress;
}

std::string LocalHostName() {
  if (local_host_scope != nullptr) return local_host_scope->host_name_;
  const std::string name = SystemHostName();
  if (name.empty()) return "127.0.0.1";
  const std::string official = OfficialHostName(name);
  return official.empty() ? "127.0.0.1" : official;
}

uint32_t LocalIpAddress() {
  if (local_host_scope != nullptr) return local_host_scope->ip_address_;
  uint32_t address;
  const std::string name = SystemHostName();
  if (!name.empty() && LookupHostIPv4(name, &address)) return address;
  return htonl(INADDR_LOOPBACK);
}

std::string IpToText(uint32_t address) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&address);
  return IntToStr(int32_t{bytes[0]}) + "." + IntToStr(int32_t{bytes[1]}) + "." +
         IntToStr(int32_t{bytes[2]}) + "." + IntToStr(int32_t{bytes[3]});
}

TScopedLocalHost::TScopedLocalHost(std::string host_name, uint32_t ip_address)
    : previous_(local_host_scope), host_name_(std::move(host_name)), ip_address_(ip_address) {
  local_host_scope = this;
}

TScopedLocalHost::~TScopedLocalHost() {
  local_host_scope = previous_;
}

}  // namespace jw
