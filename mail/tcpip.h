// The blocking TCP client component of the mail transport (T_TcpIp), the
// transport's exception classes, and the host-name and address functions.
// Every wait on the network has a time limit, so a silent peer is reported
// as an error instead of blocking the caller for good.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/component.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"

namespace jw {

// A host that cannot be resolved, and the base of the transport's errors.
class ETcpIpError : public Exception {
  using Exception::Exception;
};

// No connection, or a socket that failed while a reply was awaited; the code
// is the WinSock error number (10061 refused, 10060 timed out, ...).
class ESocketError : public ETcpIpError {
 public:
  ESocketError(std::string message, uint16_t error_code)
      : ETcpIpError(std::move(message)), error_code_(error_code) {}
  uint16_t ErrorCode() const { return error_code_; }

 private:
  uint16_t error_code_;
};

// A server reply that refuses (code 300 or more) or breaks the protocol
// (code 0); the message is the reply text.
class EProtocolError : public ETcpIpError {
 public:
  EProtocolError(std::string message, uint16_t error_code, std::string protocol)
      : ETcpIpError(std::move(message)), error_code_(error_code), protocol_(std::move(protocol)) {}
  uint16_t ErrorCode() const { return error_code_; }
  const std::string& Protocol() const { return protocol_; }

 private:
  uint16_t error_code_;
  std::string protocol_;
};

// Trace handler: a text and its level.
using TTraceProc = std::function<void(const std::string& text, int level)>;

// Trace levels.
constexpr int kTraceCommand = 0;  // a command sent, without its line end
constexpr int kTraceReply = 1;    // a reply line received
constexpr int kTraceSocket = 2;   // a socket event

// An address in network byte order; this value marks "none".
constexpr uint32_t kNoAddress = 0xFFFFFFFF;

// How long a connect, send or receive may wait before it fails with 10060.
constexpr int kDefaultTimeoutMs = 60000;

// Bytes asked for at a time by T_TcpIp::Action.
constexpr size_t kReceiveBufferSize = 0x7F00;

// The longest line ReadLine accepts; a longer one is a broken or hostile
// peer, not a reply.
constexpr size_t kMaxLineLength = 65536;

// Socket states of T_TcpIp::SocketState.
constexpr int kSocketNone = 0;
constexpr int kSocketUnconnected = 1;
constexpr int kSocketConnected = 2;
constexpr int kSocketFailed = 3;

class T_TcpIp : public TComponent {
 public:
  explicit T_TcpIp(TComponent* owner);
  ~T_TcpIp() override;

  // Called only when assigned.
  TTraceProc OnTrace;

  const std::string& Hostname() const { return hostname_; }
  void SetHostname(const std::string& hostname) { hostname_ = hostname; }
  uint16_t Port() const { return port_; }
  void SetPort(uint16_t port) { port_ = port; }
  int TimeoutMs() const { return timeout_ms_; }
  void SetTimeoutMs(int timeout_ms) { timeout_ms_ = timeout_ms; }

  bool LoggedIn() const { return logged_in_; }
  int Socket() const { return socket_; }
  uint32_t Address() const { return address_; }
  // Set when a receive or send failed or the peer ended the stream.
  bool Error() const { return error_; }
  // The WinSock number of the failure that set the error flag; 0 when the
  // peer ended the stream.
  int LastError() const { return last_error_; }
  // What Action read, positioned at its start.
  TMemoryStream& ReceiveStream() { return receive_stream_; }

  // Connects and reads everything the peer sends until it closes.
  virtual void Action();
  // Closes an open connection, resolves Hostname and connects to it.
  // ETcpIpError when the host does not resolve, ESocketError with the
  // WinSock number when no connection comes about.
  virtual void Login();
  virtual void Logout();
  // True when the error flag is set or the socket is not connected.
  virtual bool Eof(int socket);
  // Sends the text and CR LF on the connection.
  virtual void SendCommand(const std::string& text);

 protected:
  virtual void OpenSocket(int& socket, uint16_t port, uint32_t address);
  void Connect(int& socket, uint16_t port, uint32_t address);
  void CloseSocket(int& socket);
  int SocketState(int socket);
  void SendText(int socket, const std::string& text);
  // Sends every byte; a failure sets the error flag and is reported by the
  // next read. Nothing is sent once the flag is set.
  void SendBuffer(int socket, const void* data, size_t length);
  // One receive of up to size bytes into buffer (a temporary one when null):
  // the count received, or 0 with the error flag set. It waits at most the
  // timeout, and never past a receive deadline in force.
  size_t Receive(int socket, void* buffer, size_t size);
  // One line without its line end: CR is dropped, LF ends the line. When the
  // stream ends or fails first, the bytes received so far. A line longer
  // than kMaxLineLength raises ETcpIpError.
  std::string ReadLine(int socket);
  void Trace(const std::string& text, int level);

  // While it lives, every receive ends within the timeout counted from its
  // start, however many receives there are: a peer that trickles bytes in
  // cannot hold the caller longer. Without a timeout it sets no deadline.
  class TReceiveDeadline {
   public:
    explicit TReceiveDeadline(T_TcpIp& client);
    ~TReceiveDeadline();
    TReceiveDeadline(const TReceiveDeadline&) = delete;
    TReceiveDeadline& operator=(const TReceiveDeadline&) = delete;

   private:
    T_TcpIp& client_;
  };

  int socket_;

 private:
  std::string hostname_;
  uint16_t port_ = 0;
  uint32_t address_ = kNoAddress;
  int timeout_ms_ = kDefaultTimeoutMs;
  bool error_ = false;
  int last_error_ = 0;
  TMemoryStream receive_stream_;
  std::vector<uint8_t> receive_buffer_;
  bool logged_in_ = false;
  // Counter ticks (QueryPerformanceCounter) at which receives stop; 0: none.
  int64_t receive_deadline_ = 0;
};

// A host name or dotted quad as an address in network byte order;
// kNoAddress for an empty or unknown name.
uint32_t ResolveHost(const std::string& name);

// This machine's official host name, "127.0.0.1" when it has none that
// resolves.
std::string LocalHostName();

// This machine's first IPv4 address in network byte order, 127.0.0.1 when
// its name does not resolve.
uint32_t LocalIpAddress();

// A network-order address as four decimal numbers joined by ".".
std::string IpToText(uint32_t address);

// Makes LocalHostName and LocalIpAddress give fixed values while it lives,
// so the bytes of Message-ID and of the MIME boundaries are known; the values
// before it come back at its end. Scopes end in reverse order of their start.
class TScopedLocalHost {
 public:
  TScopedLocalHost(std::string host_name, uint32_t ip_address);
  ~TScopedLocalHost();
  TScopedLocalHost(const TScopedLocalHost&) = delete;
  TScopedLocalHost& operator=(const TScopedLocalHost&) = delete;

 private:
  friend std::string LocalHostName();
  friend uint32_t LocalIpAddress();

  TScopedLocalHost* previous_;
  std::string host_name_;
  uint32_t ip_address_;
};

// Sockets need no start-up on this system; the transport counts them as
// started from program start to program end, as callers expect.
bool WinSockStarted();

}  // namespace jw
