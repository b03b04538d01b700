#include "platform/os/socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace jw {
namespace {

uint32_t Loopback() {
  return htonl(INADDR_LOOPBACK);
}

// A listening socket on a free loopback port, closed at the end of the test.
class Listener {
 public:
  Listener() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = Loopback();
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(listen(fd_, 4), 0);
    socklen_t length = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~Listener() { close(fd_); }
  uint16_t Port() const { return port_; }
  int Accept() { return accept(fd_, nullptr, nullptr); }

 private:
  int fd_;
  uint16_t port_ = 0;
};

// A port on which nobody listens: bound once to get a free number, then closed.
uint16_t UnusedPort() {
  Listener listener;
  return listener.Port();
}

// A connected pair: the socket under test and the accepted peer.
struct Connection {
  Listener listener;
  int client = kInvalidSocket;
  int peer = -1;
  Connection() {
    client = SocketCreate();
    EXPECT_TRUE(SocketConnect(client, Loopback(), listener.Port(), 5000));
    peer = listener.Accept();
  }
  ~Connection() {
    SocketClose(client);
    if (peer >= 0) close(peer);
  }
};

TEST(WinSockErrors, PosixErrorsMapToWinSockNumbers) {
  const struct {
    int error;
    int winsock;
  } cases[] = {
      {ECONNREFUSED, 10061}, {ETIMEDOUT, 10060},    {ECONNRESET, 10054},
      {EHOSTUNREACH, 10065}, {ENETUNREACH, 10051},  {ENOTCONN, 10057},
      {EAGAIN, 10035},       {EINPROGRESS, 10036},  {EADDRINUSE, 10048},
      {EPIPE, 10058},        {ECONNABORTED, 10053}, {EINVAL, 10022},
      {EBADF, 10009},        {EACCES, 10013},       {ENOSPC, WSASYSCALLFAILURE},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WinSockErrorFromErrno(c.error), c.winsock) << "errno " << c.error;
  }
}

TEST(DottedQuad, OnlyFourDecimalPartsParse) {
  uint32_t address = 0;
  ASSERT_TRUE(ParseDottedQuad("10.0.0.1", &address));
  const auto* bytes = reinterpret_cast<const unsigned char*>(&address);
  EXPECT_EQ(bytes[0], 10);
  EXPECT_EQ(bytes[3], 1);
  ASSERT_TRUE(ParseDottedQuad("192.168.1.5", &address));
  EXPECT_EQ(address, htonl(0xC0A80105));
  for (const char* text : {"", "10.0.0", "256.1.1.1", "localhost", "1.2.3.4 ", "::1"}) {
    EXPECT_FALSE(ParseDottedQuad(text, &address)) << text;
  }
}

TEST(HostLookup, LocalhostResolvesToLoopback) {
  uint32_t address = 0;
  ASSERT_TRUE(LookupHostIPv4("localhost", &address));
  EXPECT_EQ(address, Loopback());
  EXPECT_FALSE(SystemHostName().empty());
}

TEST(HostLookup, MalformedNameFailsWithHostNotFound) {
  // A label longer than 63 characters cannot be put in a query, so the
  // resolver refuses it without asking any name server.
  std::string name = std::string(64, 'x') + ".invalid";
  uint32_t address = 0;
  EXPECT_FALSE(LookupHostIPv4(name, &address));
  EXPECT_EQ(SocketLastError(), WSAHOST_NOT_FOUND);
  EXPECT_EQ(OfficialHostName(name), "");
}

TEST(SocketConnect, RefusedPortGives10061) {
  int socket = SocketCreate();
  ASSERT_NE(socket, kInvalidSocket);
  EXPECT_FALSE(SocketConnect(socket, Loopback(), UnusedPort(), 5000));
  EXPECT_EQ(SocketLastError(), WSAECONNREFUSED);
  SocketClose(socket);
}

TEST(SocketConnect, UnconnectedSocketHasNoPeer) {
  int socket = SocketCreate();
  EXPECT_EQ(SocketPeerError(socket), WSAENOTCONN);
  SocketClose(socket);
}

TEST(SocketTransfer, BytesArriveAndCloseEndsTheStream) {
  Connection c;
  EXPECT_EQ(SocketPeerError(c.client), 0);
  ASSERT_TRUE(SocketSendAll(c.client, "ping", 4, 5000));
  char got[8] = {};
  ASSERT_EQ(recv(c.peer, got, sizeof got, 0), 4);
  EXPECT_EQ(std::string(got, 4), "ping");
  ASSERT_EQ(send(c.peer, "pong", 4, 0), 4);
  close(c.peer);
  c.peer = -1;
  char buffer[16];
  EXPECT_EQ(SocketReceive(c.client, buffer, sizeof buffer, 5000), 4);
  EXPECT_EQ(SocketReceive(c.client, buffer, sizeof buffer, 5000), 0);
}

TEST(SocketTransfer, SilentPeerTimesOutWith10060) {
  Connection c;
  char buffer[4];
  EXPECT_EQ(SocketReceive(c.client, buffer, sizeof buffer, 100), -1);
  EXPECT_EQ(SocketLastError(), WSAETIMEDOUT);
}

TEST(SocketTransfer, LargeSendArrivesWhole) {
  Connection c;
  std::vector<char> data(4 << 20);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  std::vector<char> received;
  std::thread reader([&] {
    char chunk[65536];
    ssize_t n;
    while ((n = recv(c.peer, chunk, sizeof chunk, 0)) > 0)
      received.insert(received.end(), chunk, chunk + n);
  });
  bool sent = SocketSendAll(c.client, data.data(), data.size(), 5000);
  shutdown(c.client, SHUT_WR);
  reader.join();
  EXPECT_TRUE(sent);
  EXPECT_EQ(received, data);
}

TEST(SocketTransfer, PeerThatStopsReadingTimesTheSendOut) {
  Connection c;
  std::vector<char> data(64 << 20);
  EXPECT_FALSE(SocketSendAll(c.client, data.data(), data.size(), 200));
  EXPECT_EQ(SocketLastError(), WSAETIMEDOUT);
}

TEST(SocketTransfer, SendToClosedPeerFailsWithoutSignal) {
  Connection c;
  // Closing with unread data makes the peer answer with a reset.
  ASSERT_EQ(send(c.client, "x", 1, 0), 1);
  close(c.peer);
  c.peer = -1;
  std::vector<char> data(1 << 20);
  bool sent = true;
  for (int i = 0; i < 20 && sent; ++i)
    sent = SocketSendAll(c.client, data.data(), data.size(), 2000);
  EXPECT_FALSE(sent);
  EXPECT_TRUE(SocketLastError() == WSAECONNRESET || SocketLastError() == WSAESHUTDOWN)
      << SocketLastError();
}

}  // namespace
}  // namespace jw
