#include "mail/mail_message.h"

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/mail/mail_test_world.h"
#include "tests/mail/script_peer.h"

namespace jw {
namespace {

using test_support::FixedWorld;
using test_support::LinesOf;

TEST(MailNewsCompose, HeaderLinesComeInTheirOrder) {
  FixedWorld world;
  T_MailNews news(nullptr);
  news.SetFrom("Ann <ann@x.org>");
  news.SetSender("sec@x.org");
  news.SetSubject("Hi");
  news.SetReferences("<r@x>");
  news.SetReplyTo("back@x.org");
  news.Header().Add("X-A: 1");
  news.Body().Add("b1");
  news.Body().Add("b2");
  news.Lines().Add("To: z@z");
  news.Action();
  const std::vector<std::string> expected = {
      "From: Ann <ann@x.org>",
      "Message-ID: <1705312800.5EED5EED@myhost.example>",
      "Date: Mon, 15 Jan 2024 10:00:00 +1000",
      "Subject: Hi",
      "To: z@z",
      "Sender: sec@x.org",
      "References: <r@x>",
      "Reply-To: back@x.org",
      "X-A: 1",
      "",
      "b1",
      "b2",
  };
  EXPECT_EQ(LinesOf(news.Lines()), expected);
}

TEST(MailNewsCompose, OptionalLinesAreLeftOutWhenEmpty) {
  FixedWorld world;
  T_MailNews news(nullptr);
  news.SetFrom("ann@x.org");
  news.Action();
  const std::vector<std::string> expected = {
      "From: ann@x.org", "Message-ID: <1705312800.5EED5EED@myhost.example>",
      "Date: Mon, 15 Jan 2024 10:00:00 +1000", "Subject: ", ""};
  EXPECT_EQ(LinesOf(news.Lines()), expected);
}

// Mails of the same second get Message-IDs of the same form that differ,
// so a receiver never takes one for a duplicate of the other.
TEST(MailNewsCompose, MailsOfTheSameSecondHaveDifferentMessageIds) {
  TFixedClock clock(EncodeDate(2024, 1, 15) + EncodeTime(10, 0, 0, 0), 600);
  TScopedClock clock_scope(clock);
  TScopedLocalHost host("myhost.example", htonl(0xC0A80105));
  std::set<std::string> ids;
  for (int i = 0; i < 20; ++i) {
    T_MailNews news(nullptr);
    news.SetFrom("ann@x.org");
    news.Action();
    const std::string id = news.Lines().Strings(1);
    const std::string head = "Message-ID: <1705312800.";
    const std::string tail = "@myhost.example>";
    ASSERT_EQ(id.size(), head.size() + 8 + tail.size()) << id;
    EXPECT_TRUE(id.starts_with(head) && id.ends_with(tail)) << id;
    EXPECT_EQ(id.find_first_not_of("0123456789ABCDEF", head.size()), head.size() + 8) << id;
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 20u);
}

TEST(MailNewsCompose, LineBreaksInHeaderValuesAreRefused) {
  const struct {
    void (T_MailNews::*set)(const std::string&);
    std::string message;
  } cases[] = {
      {&T_MailNews::SetFrom, "Line break in From"},
      {&T_MailNews::SetSender, "Line break in Sender"},
      {&T_MailNews::SetSubject, "Line break in Subject"},
      {&T_MailNews::SetReferences, "Line break in References"},
      {&T_MailNews::SetReplyTo, "Line break in Reply-To"},
  };
  for (const auto& c : cases) {
    for (const char* bad : {"x\r\nBcc: evil@x", "x\nBcc: evil@x", "x\r"}) {
      T_MailNews news(nullptr);
      news.SetFrom("ann@x.org");
      (news.*c.set)(bad);
      try {
        news.Action();
        ADD_FAILURE() << "no exception for " << c.message;
      } catch (const ETcpIpError& e) {
        EXPECT_EQ(e.Message(), c.message);
      }
      EXPECT_EQ(news.Lines().Count(), 0);
    }
  }
  T_MailNews news(nullptr);
  news.Header().Add("X-A: 1\r\nBcc: evil@x");
  EXPECT_THROW(news.Action(), ETcpIpError);
}

TEST(MailNewsLists, SettersCopyOrClear) {
  T_MailNews news(nullptr);
  TStringList list;
  list.Add("one");
  news.SetBody(&list);
  news.SetHeader(&list);
  list.Add("two");
  EXPECT_EQ(news.Body().Count(), 1);
  EXPECT_EQ(news.Header().Count(), 1);
  news.SetBody(nullptr);
  news.SetHeader(nullptr);
  EXPECT_EQ(news.Body().Count(), 0);
  EXPECT_EQ(news.Header().Count(), 0);
}

std::vector<std::string> AcceptingSteps(int recipients) {
  std::vector<std::string> steps = {"S 220 hi\\r\\n", "L", "S 250 ok\\r\\n", "L", "S 250 ok\\r\\n"};
  for (int i = 0; i < recipients; ++i) {
    steps.push_back("L");
    steps.push_back("S 250 ok\\r\\n");
  }
  for (const char* step :
       {"L", "S 354 go\\r\\n", "D", "S 250 done\\r\\n", "L", "S 221 bye\\r\\n"}) {
    steps.push_back(step);
  }
  return steps;
}

struct MailClient {
  FixedWorld world;
  T_SMTP smtp{nullptr};
  T_Mail mail{nullptr};
  explicit MailClient(uint16_t port) {
    smtp.SetHostname("127.0.0.1");
    smtp.SetPort(port);
    smtp.SetTimeoutMs(3000);
    mail.SetSMTP(&smtp);
    mail.SetFrom("Ann <ann@x.org>");
    mail.SetSubject("Note");
    mail.Recipients().Add("bob@y.org");
    mail.Body().Add("body");
  }
};

TEST(MailSend, RecipientsCopiesAndBlindCopies) {
  test_support::ScriptedPeer peer(AcceptingSteps(3));
  MailClient c(peer.Port());
  c.mail.CC().Add("carol@z.org");
  c.mail.BCC().Add("dave@w.org");
  c.mail.Action();
  EXPECT_EQ(peer.Received(),
            "HELO myhost.example\r\n"
            "MAIL FROM: <ann@x.org>\r\n"
            "RCPT TO: <bob@y.org>\r\n"
            "RCPT TO: <carol@z.org>\r\n"
            "RCPT TO: <dave@w.org>\r\n"
            "DATA\r\n"
            "From: Ann <ann@x.org>\r\n"
            "Message-ID: <1705312800.5EED5EED@myhost.example>\r\n"
            "Date: Mon, 15 Jan 2024 10:00:00 +1000\r\n"
            "Subject: Note\r\n"
            "To: bob@y.org\r\n"
            "CC: carol@z.org\r\n"
            "\r\n"
            "body\r\n"
            ".\r\n"
            "QUIT\r\n");
  // The sender was filled in for this send only, and the lines are gone.
  EXPECT_EQ(c.smtp.Sender(), "");
  EXPECT_EQ(c.mail.Lines().Count(), 0);
}

TEST(MailSend, SenderIsTheEnvelopeSenderAndDisclosureHidesRecipients) {
  test_support::ScriptedPeer peer(AcceptingSteps(1));
  MailClient c(peer.Port());
  c.mail.SetSender("Sec <sec@x.org>");
  c.mail.SetDisclose_Receipts(true);
  c.mail.Action();
  const std::string received = peer.Received();
  EXPECT_NE(received.find("MAIL FROM: <sec@x.org>\r\n"), std::string::npos);
  EXPECT_NE(received.find("\r\nSubject: Note\r\nTo: disclosed recipients list\r\n"
                          "Sender: Sec <sec@x.org>\r\n\r\nbody\r\n"),
            std::string::npos)
      << received;
  EXPECT_EQ(received.find("To: bob"), std::string::npos);
}

TEST(MailSend, GivenEnvelopeSenderIsKept) {
  test_support::ScriptedPeer peer(AcceptingSteps(1));
  MailClient c(peer.Port());
  c.smtp.SetSender("bounce@x.org");
  c.mail.Action();
  EXPECT_NE(peer.Received().find("MAIL FROM: <bounce@x.org>\r\n"), std::string::npos);
  EXPECT_EQ(c.smtp.Sender(), "bounce@x.org");
}

TEST(MailSend, FailedSendClearsLinesAndSender) {
  MailClient c(test_support::UnusedPort());
  EXPECT_THROW(c.mail.Action(), ESocketError);
  EXPECT_EQ(c.mail.Lines().Count(), 0);
  EXPECT_EQ(c.smtp.Sender(), "");
  // A second attempt composes from scratch.
  EXPECT_THROW(c.mail.Action(), ESocketError);
  EXPECT_EQ(c.smtp.MessageLines().Strings(0), "From: Ann <ann@x.org>");
  EXPECT_EQ(c.smtp.MessageLines().Count(), 7);  // From .. To, empty, body
}

TEST(MailSend, NothingHappensWithoutClientRecipientOrFrom) {
  MailClient c(test_support::UnusedPort());
  c.mail.Recipients().Clear();
  EXPECT_NO_THROW(c.mail.Action());
  c.mail.Recipients().Add("bob@y.org");
  c.mail.SetFrom("");
  EXPECT_NO_THROW(c.mail.Action());
  c.mail.SetFrom("ann@x.org");
  c.mail.SetSMTP(nullptr);
  EXPECT_NO_THROW(c.mail.Action());
  EXPECT_EQ(c.mail.Lines().Count(), 0);
  EXPECT_EQ(c.smtp.MessageLines().Count(), 0);
}

// The message of the ETcpIpError a send raises; no exception, or a
// connection attempt (the client's port has no listener), fails the test.
std::string RefusalOf(T_Mail& mail) {
  try {
    mail.Action();
    ADD_FAILURE() << "no exception";
  } catch (const ESocketError&) {
    ADD_FAILURE() << "a connection was tried";
  } catch (const ETcpIpError& e) {
    return e.Message();
  }
  return "";
}

// A From without an address would become the null reverse path, to which
// no bounce can return: the send is refused before a connection is made.
TEST(MailSend, FromWithoutAnAddressIsRefused) {
  MailClient c(test_support::UnusedPort());
  c.mail.SetFrom("Ann");
  EXPECT_EQ(RefusalOf(c.mail), "No address in sender \"Ann\"");
  EXPECT_EQ(c.smtp.Sender(), "");
}

// A line break or another control byte in an address would go out raw in
// a header or an SMTP command; a control byte in a display name is encoded.
TEST(MailSend, LineBreaksAndControlBytesInAddressesAreRefused) {
  for (auto list : {&T_Mail::Recipients, &T_Mail::CC, &T_Mail::BCC}) {
    for (const std::string& bad : std::vector<std::string>{"eve@x.org\r\nRCPT TO: <more@x.org>",
                                                           std::string("Eve <e\0ve@x.org>", 17),
                                                           "ev\x01"
                                                           "e@x.org",
                                                           "eve@x.org\x7f"}) {
      MailClient c(test_support::UnusedPort());
      (c.mail.*list)().Add(bad);
      const std::string refusal = RefusalOf(c.mail);
      EXPECT_TRUE(refusal.starts_with("Line break in ") ||
                  refusal.starts_with("Control character in "))
          << refusal;
    }
  }
  MailClient c(test_support::UnusedPort());
  c.mail.SetFrom(std::string("Ann <a\0nn@x.org>", 17));
  EXPECT_EQ(RefusalOf(c.mail), "Control character in From address");
}

TEST(MailSend, FreedClientIsForgotten) {
  T_Mail mail(nullptr);
  {
    T_SMTP smtp(nullptr);
    mail.SetSMTP(&smtp);
    EXPECT_EQ(mail.SMTP(), &smtp);
  }
  EXPECT_EQ(mail.SMTP(), nullptr);
}

}  // namespace
}  // namespace jw
