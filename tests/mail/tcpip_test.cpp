#include "mail/tcpip.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/os/socket.h"
#include "tests/mail/script_peer.h"

namespace jw {
namespace {

using TraceLog = std::vector<std::pair<std::string, int>>;

// Opens the protected reading calls to the tests.
class TestClient : public T_TcpIp {
 public:
  explicit TestClient(TraceLog* trace = nullptr) : T_TcpIp(nullptr) {
    SetHostname("127.0.0.1");
    SetTimeoutMs(3000);
    if (trace != nullptr)
      OnTrace = [trace](const std::string& t, int l) { trace->push_back({t, l}); };
  }
  std::string Line() { return ReadLine(socket_); }
  bool AtEnd() { return Eof(socket_); }
};

TEST(ResolveHost, DottedQuadsAndNames) {
  const uint32_t ten = ResolveHost("10.0.0.1");
  EXPECT_EQ(IpToText(ten), "10.0.0.1");
  EXPECT_EQ(ResolveHost("localhost"), htonl(INADDR_LOOPBACK));
  EXPECT_EQ(ResolveHost(""), kNoAddress);
  EXPECT_EQ(ResolveHost(std::string(64, 'x') + ".invalid"), kNoAddress);
}

TEST(LocalHost, ScopeFixesNameAndAddress) {
  EXPECT_FALSE(LocalHostName().empty());
  uint32_t address;
  ASSERT_EQ(inet_pton(AF_INET, "192.168.1.5", &address), 1);
  {
    TScopedLocalHost scope("mail.example.org", address);
    EXPECT_EQ(LocalHostName(), "mail.example.org");
    EXPECT_EQ(IpToText(LocalIpAddress()), "192.168.1.5");
  }
  EXPECT_NE(LocalHostName(), "mail.example.org");
  EXPECT_TRUE(WinSockStarted());
}

TEST(Login, UnresolvableHostRaisesWithTheName) {
  for (const std::string& host : {std::string(), std::string(64, 'x') + ".invalid"}) {
    TraceLog trace;
    TestClient client(&trace);
    client.SetHostname(host);
    try {
      client.Login();
      FAIL() << "no exception for '" << host << "'";
    } catch (const ESocketError&) {
      FAIL() << "socket error instead of a resolve error";
    } catch (const ETcpIpError& e) {
      EXPECT_EQ(e.Message(), "Couldn't resolve hostname " + host);
    }
    EXPECT_FALSE(client.LoggedIn());
    EXPECT_EQ(client.Socket(), kInvalidSocket);
    EXPECT_TRUE(trace.empty());
  }
}

TEST(Login, RefusedPortRaisesSocketError10061) {
  TraceLog trace;
  TestClient client(&trace);
  const uint16_t port = test_support::UnusedPort();
  client.SetPort(port);
  try {
    client.Login();
    FAIL() << "no exception";
  } catch (const ESocketError& e) {
    EXPECT_EQ(e.Message(), "Error creating socket");
    EXPECT_EQ(e.ErrorCode(), 10061);
  }
  EXPECT_FALSE(client.LoggedIn());
  ASSERT_EQ(trace.size(), 1u);
  EXPECT_EQ(trace[0],
            std::make_pair(
                "Failed to open output socket " + std::to_string(port) + " to host 127.0.0.1", 2));
}

TEST(Action, ReadsEverythingUntilThePeerCloses) {
  test_support::ScriptedPeer peer({"S first\\r\\n", "S \\x00second", "C"});
  TraceLog trace;
  std::string id;
  {
    TestClient client(&trace);
    client.SetPort(peer.Port());
    client.Action();
    id = std::to_string(client.Socket());
    TMemoryStream& stream = client.ReceiveStream();
    EXPECT_EQ(stream.Position(), 0);
    std::string got(static_cast<size_t>(stream.Size()), '\0');
    stream.ReadBuffer(got.data(), stream.Size());
    EXPECT_EQ(got, std::string("first\r\n\0second", 14));
    EXPECT_TRUE(client.Error());
    EXPECT_EQ(client.LastError(), 0);
    EXPECT_TRUE(client.LoggedIn());
  }
  ASSERT_GE(trace.size(), 3u);
  EXPECT_EQ(trace.front(), std::make_pair("Opened output socket " + std::to_string(peer.Port()) +
                                              " to host 127.0.0.1 successfully; ID " + id,
                                          2));
  EXPECT_EQ(trace[1].first.rfind("Received ", 0), 0u);
  EXPECT_NE(trace[1].first.find(" bytes on socket ID " + id), std::string::npos);
  // Freeing the component closes the socket while the trace is still there.
  EXPECT_EQ(trace.back(), std::make_pair("Closed socket ID " + id, 2));
  EXPECT_EQ(peer.Received(), "");
}

TEST(ReadLine, LineEndsAndAPartialLastLine) {
  test_support::ScriptedPeer peer({"S one\\r\\ntwo\\nthree\\rfour\\n\\r\\nlast", "C"});
  TestClient client;
  client.SetPort(peer.Port());
  client.Login();
  EXPECT_EQ(client.Line(), "one");
  EXPECT_EQ(client.Line(), "two");
  EXPECT_EQ(client.Line(), "threefour");
  EXPECT_EQ(client.Line(), "");
  EXPECT_FALSE(client.AtEnd());
  EXPECT_EQ(client.Line(), "last");
  EXPECT_TRUE(client.AtEnd());
  EXPECT_EQ(client.Line(), "");
}

TEST(ReadLine, OverlongLineIsRefused) {
  const std::string chunk(1000, 'a');
  std::vector<std::string> steps;
  for (int i = 0; i < 70; ++i) steps.push_back("S " + chunk);
  steps.push_back("S \\n");
  test_support::ScriptedPeer peer(steps);
  TestClient client;
  client.SetPort(peer.Port());
  client.Login();
  EXPECT_THROW(client.Line(), ETcpIpError);
  EXPECT_TRUE(client.AtEnd());
}

TEST(ReadLine, SilentPeerTimesOut) {
  test_support::ScriptedPeer peer({"S partial", "W 2"});
  TestClient client;
  client.SetTimeoutMs(200);
  client.SetPort(peer.Port());
  client.Login();
  EXPECT_EQ(client.Line(), "partial");
  EXPECT_TRUE(client.Error());
  EXPECT_EQ(client.LastError(), 10060);
}

// A server whose queue of pending connections is full lets new ones wait
// unanswered; the connect gives up after the timeout with 10060.
TEST(Login, UnansweredConnectTimesOut) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const uint16_t port = ntohs(address.sin_port);
  // Fill the queue: connections succeed until one is left waiting.
  std::vector<int> fillers;
  for (bool answered = true; answered && fillers.size() < 8;) {
    fillers.push_back(SocketCreate());
    answered = SocketConnect(fillers.back(), htonl(INADDR_LOOPBACK), port, 300);
  }
  TestClient client;
  client.SetPort(port);
  client.SetTimeoutMs(300);
  const auto start = std::chrono::steady_clock::now();
  try {
    client.Login();
    ADD_FAILURE() << "no exception";
  } catch (const ESocketError& e) {
    EXPECT_EQ(e.ErrorCode(), 10060);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(client.LoggedIn());
  for (int filler : fillers) SocketClose(filler);
  close(listener);
}

// Sending to a peer that has closed the connection is a failed send
// reported by the error flag, never SIGPIPE, which would end the process.
TEST(SendBufferDeathTest, SendAfterThePeerClosedDoesNotKillTheProcess) {
  test_support::ScriptedPeer peer({"C"});
  TestClient client;
  client.SetPort(peer.Port());
  client.Login();
  peer.Received();  // the peer has closed
  EXPECT_EXIT(
      {
        signal(SIGPIPE, SIG_DFL);
        const std::string block(4096, 'x');
        for (int i = 0; i < 1000 && !client.Error(); ++i) client.SendCommand(block);
        std::exit(client.Error() && client.LastError() != 0 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST(Login, SecondLoginClosesTheFirstConnection) {
  test_support::ScriptedPeer first({"L"});
  TraceLog trace;
  TestClient client(&trace);
  client.SetPort(first.Port());
  client.Login();
  const std::string id = std::to_string(client.Socket());
  client.SendCommand("hello");
  test_support::ScriptedPeer second({"C"});
  client.SetPort(second.Port());
  trace.clear();
  client.Login();
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ(trace[0], std::make_pair("Closed socket ID " + id, 2));
  EXPECT_EQ(first.Received(), "hello\r\n");
  client.Logout();
  EXPECT_FALSE(client.LoggedIn());
  EXPECT_EQ(client.Socket(), kInvalidSocket);
}

}  // namespace
}  // namespace jw
