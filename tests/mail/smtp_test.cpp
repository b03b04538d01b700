#include "mail/smtp.h"

#include <arpa/inet.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/mail/script_peer.h"

namespace jw {
namespace {

using TraceLog = std::vector<std::pair<std::string, int>>;

// A client for the scripted peer on its port, with HELO name "myhost".
struct Client {
  TScopedLocalHost local_host{"myhost", htonl(INADDR_LOOPBACK)};
  TraceLog trace;  // outlives smtp, which traces the close when it is freed
  T_SMTP smtp{nullptr};
  explicit Client(uint16_t port) {
    smtp.SetHostname("127.0.0.1");
    smtp.SetPort(port);
    smtp.SetTimeoutMs(3000);
    smtp.SetSender("Me <me@here.org>");
    smtp.Recipients().Add("ann@x.org");
    smtp.MessageLines().Add("Subject: x");
    smtp.MessageLines().Add("");
    smtp.MessageLines().Add("hello");
    smtp.OnTrace = [this](const std::string& t, int l) { trace.push_back({t, l}); };
  }
  TraceLog At(int level) const {
    TraceLog picked;
    for (const auto& entry : trace) {
      if (entry.second == level) picked.push_back(entry);
    }
    return picked;
  }
};

TEST(SmtpDialogue, FullDialogueByteForByte) {
  test_support::ScriptedPeer peer({
      "S 220-mail.test greets\\r\\n220-second line\\r\\n220 ready\\r\\n",
      "L",
      "S 250 hello myhost\\r\\n",
      "L",
      "S 250 sender ok\\r\\n",
      "L",
      "S 250 ok\\r\\n",
      "L",
      "S 550 no such user\\r\\n",
      "L",
      "S 250 ok\\r\\n",
      "L",
      "S 354 go ahead\\r\\n",
      "D",
      "S 250-queued as 42\\r\\n250 thanks\\r\\n",
      "L",
      "S 221 bye\\r\\n",
  });
  Client c(peer.Port());
  c.smtp.Recipients().Clear();
  c.smtp.Recipients().Add("Ann <ann@x.org>, bob@y.org");
  c.smtp.Recipients().Add("carol@z.org");
  c.smtp.MessageLines().Add(".");
  c.smtp.MessageLines().Add(".x");
  c.smtp.MessageLines().Add("..");
  c.smtp.Action();
  EXPECT_EQ(peer.Received(),
            "HELO myhost\r\n"
            "MAIL FROM: <me@here.org>\r\n"
            "RCPT TO: <ann@x.org>\r\n"
            "RCPT TO: <bob@y.org>\r\n"
            "RCPT TO: <carol@z.org>\r\n"
            "DATA\r\n"
            "Subject: x\r\n\r\nhello\r\n..\r\n..x\r\n...\r\n.\r\n"
            "QUIT\r\n");
  EXPECT_EQ(c.smtp.ReplyCode(), 250);
  EXPECT_EQ(c.smtp.ReplyText(), "queued as 42");
  EXPECT_EQ(c.smtp.LocalName(), "myhost");
  EXPECT_EQ(c.smtp.MessageLines().Strings(3), ".");
  EXPECT_FALSE(c.smtp.LoggedIn());
  const TraceLog commands = {{"HELO myhost", 0},
                             {"MAIL FROM: <me@here.org>", 0},
                             {"RCPT TO: <ann@x.org>", 0},
                             {"RCPT TO: <bob@y.org>", 0},
                             {"RCPT TO: <carol@z.org>", 0},
                             {"DATA", 0},
                             {"QUIT", 0}};
  EXPECT_EQ(c.At(0), commands);
  const TraceLog replies = {
      {"220-mail.test greets", 1}, {"220-second line", 1}, {"220 ready", 1},
      {"250 hello myhost", 1},     {"250 sender ok", 1},   {"250 ok", 1},
      {"550 no such user", 1},     {"250 ok", 1},          {"354 go ahead", 1},
      {"250-queued as 42", 1},     {"250 thanks", 1},      {"221 bye", 1}};
  EXPECT_EQ(c.At(1), replies);
  // The greeting is read whole before HELO goes out.
  size_t helo = 0, ready = 0;
  for (size_t i = 0; i < c.trace.size(); ++i) {
    if (c.trace[i].first == "HELO myhost") helo = i;
    if (c.trace[i].first == "220 ready") ready = i;
  }
  EXPECT_LT(ready, helo);
  const TraceLog sockets = c.At(2);
  ASSERT_FALSE(sockets.empty());
  const std::string opened = sockets.front().first;
  const std::string id = opened.substr(opened.rfind(' ') + 1);
  EXPECT_EQ(opened, "Opened output socket " + std::to_string(peer.Port()) +
                        " to host 127.0.0.1 successfully; ID " + id);
  EXPECT_EQ(sockets[1].first, "Received 1 bytes on socket ID " + id);
  EXPECT_NE(std::find(sockets.begin(), sockets.end(),
                      std::make_pair("Sent 13 bytes on socket ID " + id, 2)),
            sockets.end());
  EXPECT_EQ(sockets.back().first, "Closed socket ID " + id);
}

TEST(SmtpDialogue, BareLineFeedRepliesAreRead) {
  test_support::ScriptedPeer peer({"S 220 hi\\n", "L", "S 250 ok\\n", "L", "S 250 ok\\n", "L",
                                   "S 250 ok\\n", "L", "S 354 go\\n", "D", "S 250 done\\n", "L",
                                   "S 221 bye\\n"});
  Client c(peer.Port());
  c.smtp.Action();
  EXPECT_EQ(c.smtp.ReplyText(), "done");
  EXPECT_NE(peer.Received().find("DATA\r\nSubject: x\r\n"), std::string::npos);
}

TEST(SmtpDialogue, ServerHangingUpAfterAcceptingIsNoFailure) {
  test_support::ScriptedPeer peer({"S 220 hi\\r\\n", "L", "S 250 ok\\r\\n", "L", "S 250 ok\\r\\n",
                                   "L", "S 250 ok\\r\\n", "L", "S 354 go\\r\\n", "D",
                                   "S 250 done\\r\\n", "L", "C"});
  Client c(peer.Port());
  EXPECT_NO_THROW(c.smtp.Action());
  EXPECT_EQ(c.smtp.ReplyCode(), 250);
  EXPECT_NE(peer.Received().find("QUIT\r\n"), std::string::npos);
}

// A refusing reply at each checked step, a 3xx where a 2xx is due
// included: the exception, and what the server got before it.
TEST(SmtpFailures, RefusalsRaiseProtocolErrors) {
  const std::vector<std::string> greeting = {"S 220 hi\\r\\n"};
  const struct {
    std::vector<std::string> steps;
    int code;
    std::string text;
    std::string sent;
  } cases[] = {
      {{"L", "S 501 who are you\\r\\n"}, 501, "who are you", "HELO myhost\r\n"},
      {{"L", "S 334 go on\\r\\n"}, 334, "go on", "HELO myhost\r\n"},
      {{"L", "S 250 ok\\r\\n", "L", "S 451 try later\\r\\n"},
       451,
       "try later",
       "HELO myhost\r\nMAIL FROM: <me@here.org>\r\n"},
      {{"L", "S 250 ok\\r\\n", "L", "S 250 ok\\r\\n", "L", "S 250 ok\\r\\n", "L",
        "S 554 no data\\r\\n"},
       554,
       "no data",
       "HELO myhost\r\nMAIL FROM: <me@here.org>\r\nRCPT TO: <ann@x.org>\r\nDATA\r\n"},
      {{"L", "S 250 ok\\r\\n", "L", "S 250 ok\\r\\n", "L", "S 250 ok\\r\\n", "L",
        "S 250 odd\\r\\n"},
       250,
       "odd",
       "HELO myhost\r\nMAIL FROM: <me@here.org>\r\nRCPT TO: <ann@x.org>\r\nDATA\r\n"},
      {{"L", "S 250 ok\\r\\n", "L", "S 250 ok\\r\\n", "L", "S 250 ok\\r\\n", "L", "S 354 go\\r\\n",
        "D", "S 552 too big\\r\\n"},
       552,
       "too big",
       "HELO myhost\r\nMAIL FROM: <me@here.org>\r\nRCPT TO: <ann@x.org>\r\nDATA\r\n"
       "Subject: x\r\n\r\nhello\r\n.\r\n"},
      {{"L", "S 250 ok\\r\\n", "L", "S 250 ok\\r\\n", "L", "S 250 ok\\r\\n", "L", "S 354 go\\r\\n",
        "D", "S 354 more\\r\\n"},
       354,
       "more",
       "HELO myhost\r\nMAIL FROM: <me@here.org>\r\nRCPT TO: <ann@x.org>\r\nDATA\r\n"
       "Subject: x\r\n\r\nhello\r\n.\r\n"},
  };
  for (const auto& cs : cases) {
    std::vector<std::string> steps = greeting;
    steps.insert(steps.end(), cs.steps.begin(), cs.steps.end());
    test_support::ScriptedPeer peer(steps);
    {
      Client c(peer.Port());
      try {
        c.smtp.Action();
        ADD_FAILURE() << "no exception for " << cs.code;
      } catch (const EProtocolError& e) {
        EXPECT_EQ(e.ErrorCode(), cs.code);
        EXPECT_EQ(e.Message(), cs.text);
        EXPECT_EQ(e.Protocol(), "SMTP");
      }
    }
    EXPECT_EQ(peer.Received(), cs.sent) << cs.code;
  }
}

TEST(SmtpFailures, BrokenRepliesRaiseProtocolErrors) {
  const struct {
    std::vector<std::string> steps;
    std::string message;
  } cases[] = {
      {{"S 22", "C"}, "Connection closed by server"},
      {{"C"}, "Connection closed by server"},
      {{"S 220-more to come\\r\\n", "C"}, "Connection closed by server"},
      {{"S hello\\r\\n"}, "Malformed reply: hello"},
      {{"S 220 hi\\r\\n", "L", "S 2x0 ok\\r\\n"}, "Malformed reply: 2x0 ok"},
  };
  for (const auto& cs : cases) {
    test_support::ScriptedPeer peer(cs.steps);
    {
      Client c(peer.Port());
      try {
        c.smtp.Action();
        ADD_FAILURE() << "no exception for " << cs.message;
      } catch (const EProtocolError& e) {
        EXPECT_EQ(e.Message(), cs.message);
        EXPECT_EQ(e.ErrorCode(), 0);
        EXPECT_EQ(e.Protocol(), "SMTP");
      }
    }
    peer.Received();
  }
}

TEST(SmtpFailures, SilentServerTimesOut) {
  test_support::ScriptedPeer peer({"W 3"});
  Client c(peer.Port());
  c.smtp.SetTimeoutMs(200);
  try {
    c.smtp.Action();
    FAIL() << "no exception";
  } catch (const ESocketError& e) {
    EXPECT_EQ(e.ErrorCode(), 10060);
  }
}

// Each reply has the timeout as a whole: a server that keeps sending
// continuation lines just inside the timeout is cut off when it runs out.
TEST(SmtpFailures, TricklingReplyEndsWithinTheTimeout) {
  std::vector<std::string> steps;
  for (int i = 0; i < 40; ++i) {
    steps.push_back("S 220-still greeting\\r\\n");
    steps.push_back("W 0.25");
  }
  test_support::ScriptedPeer peer(steps);
  Client c(peer.Port());
  c.smtp.SetTimeoutMs(1000);
  const auto start = std::chrono::steady_clock::now();
  try {
    c.smtp.Action();
    ADD_FAILURE() << "no exception";
  } catch (const ESocketError& e) {
    EXPECT_EQ(e.ErrorCode(), 10060);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(c.At(0), TraceLog{});
}

// A reply may have 100 lines; one more ends the dialogue as no reply.
TEST(SmtpFailures, ReplyOfMoreThanAHundredLinesIsRefused) {
  std::string greeting, second;
  for (int i = 0; i < 99; ++i) greeting += "220-line\\r\\n";
  for (int i = 0; i < 100; ++i) second += "250-line\\r\\n";
  test_support::ScriptedPeer peer(
      {"S " + greeting + "220 ready\\r\\n", "S " + second + "250 ok\\r\\n"});
  Client c(peer.Port());
  c.smtp.Login();
  c.smtp.ReadReply();
  EXPECT_EQ(c.smtp.ReplyCode(), 220);
  EXPECT_EQ(c.At(1).back().first, "220 ready");
  try {
    c.smtp.ReadReply();
    ADD_FAILURE() << "no exception";
  } catch (const EProtocolError& e) {
    EXPECT_EQ(e.Message(), "Reply longer than 100 lines");
    EXPECT_EQ(e.ErrorCode(), 0);
  }
  EXPECT_EQ(c.At(1).size(), 200u);
}

TEST(SmtpFailures, ConnectionFailures) {
  {
    Client c(test_support::UnusedPort());
    try {
      c.smtp.Action();
      FAIL() << "no exception";
    } catch (const ESocketError& e) {
      EXPECT_EQ(e.Message(), "Error creating socket");
      EXPECT_EQ(e.ErrorCode(), 10061);
    }
  }
  {
    Client c(test_support::UnusedPort());
    const std::string host = std::string(64, 'h') + ".invalid";
    c.smtp.SetHostname(host);
    try {
      c.smtp.Action();
      FAIL() << "no exception";
    } catch (const ESocketError&) {
      FAIL() << "socket error instead of a resolve error";
    } catch (const ETcpIpError& e) {
      EXPECT_EQ(e.Message(), "Couldn't resolve hostname " + host);
    }
  }
}

// Without recipients or lines nothing is contacted; a sender without an
// address, or a line break where one would end a command or header, raises
// before anything is contacted: the port has no listener, so a connection
// attempt would raise ESocketError.
TEST(SmtpGuards, NothingIsSentWithoutPartsOrWithBadSenderOrLineBreaks) {
  {
    Client c(test_support::UnusedPort());
    c.smtp.Recipients().Clear();
    EXPECT_NO_THROW(c.smtp.Action());
    c.smtp.Recipients().Add("ann@x.org");
    c.smtp.SetMessageLines(nullptr);
    EXPECT_NO_THROW(c.smtp.Action());
    EXPECT_TRUE(c.trace.empty());
  }
  const struct {
    std::string sender;
    std::string recipient;
    std::string line;
    std::string message;
  } cases[] = {
      {"", "ann@x.org", "ok", "No address in sender \"\""},
      {"Ann Example", "ann@x.org", "ok", "No address in sender \"Ann Example\""},
      {"me@here.org\r\nRCPT TO: <x@y>", "ann@x.org", "ok", "Line break in sender"},
      {"me@here.org", "ann@x.org\nRCPT TO: <x@y>", "ok", "Line break in recipient line"},
      {"me@here.org", "ann@x.org", "a\r\n.\r\nMAIL FROM: <x@y>", "Line break in message line"},
      {"me@here.org", "ann@x.org", "bare\rcr", "Line break in message line"},
  };
  for (const auto& cs : cases) {
    Client c(test_support::UnusedPort());
    c.smtp.SetSender(cs.sender);
    c.smtp.Recipients().Clear();
    c.smtp.Recipients().Add(cs.recipient);
    c.smtp.MessageLines().Add(cs.line);
    try {
      c.smtp.Action();
      ADD_FAILURE() << "no exception for " << cs.message;
    } catch (const ESocketError&) {
      ADD_FAILURE() << "connected for " << cs.message;
    } catch (const ETcpIpError& e) {
      EXPECT_EQ(e.Message(), cs.message);
    }
    EXPECT_TRUE(c.trace.empty());
  }
}

TEST(SmtpLists, SettersCopyOrClear) {
  T_SMTP smtp(nullptr);
  EXPECT_EQ(smtp.Port(), 25);
  TStringList list;
  list.Add("a@b");
  smtp.SetRecipients(&list);
  list.Add("c@d");
  EXPECT_EQ(smtp.Recipients().Count(), 1);
  smtp.SetMessageLines(&list);
  EXPECT_EQ(smtp.MessageLines().Count(), 2);
  smtp.SetRecipients(nullptr);
  smtp.SetMessageLines(nullptr);
  EXPECT_EQ(smtp.Recipients().Count(), 0);
  EXPECT_EQ(smtp.MessageLines().Count(), 0);
}

}  // namespace
}  // namespace jw
