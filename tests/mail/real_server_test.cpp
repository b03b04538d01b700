// Sends mails through a real SMTP server (aiosmtpd on loopback) and reads
// what it received with Python's e-mail parser.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mail/header_text.h"
#include "mail/mime.h"
#include "tests/mail/mail_test_world.h"
#include "tests/mail/python_peer.h"
#include "tests/mail/smtp_server_peer.h"

namespace jw {
namespace {

// A mail with its MIME builder and client, sent to a real server, and the
// files it attaches, filled with random bytes.
class RealServerMail : public testing::Test {
 protected:
  RealServerMail() {
    smtp.SetHostname("127.0.0.1");
    smtp.SetPort(server.Port());
    smtp.SetTimeoutMs(10000);
    mail.SetSMTP(&smtp);
    mime.SetMail(&mail);
  }

  // Written in pieces, so that making a large file costs this process no
  // memory of that size.
  std::string RandomFile(const std::string& name, size_t size) {
    const std::string path = files.File(name);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream file(path, std::ios::binary);
    std::string piece;
    for (size_t done = 0; done < size; done += piece.size()) {
      piece.resize(std::min<size_t>(size - done, 1 << 16));
      for (auto& b : piece) b = static_cast<char>(random());
      file.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    }
    return path;
  }

  // What mime_check.py finds in the n-th stored mail, whose attachments
  // are the given files.
  std::string Describe(int n, const std::vector<std::string>& paths) const {
    std::vector<std::string> args = {Stored(n) + ".eml"};
    args.insert(args.end(), paths.begin(), paths.end());
    return test_support::RunPython("mime_check.py", args);
  }
  std::string Stored(int n) const { return server.Stored(n); }

  test_support::SmtpServerPeer server;
  test_support::FixedWorld world;
  test_support::TempFolder files;
  std::mt19937 random{77};
  T_SMTP smtp{nullptr};
  T_Mail mail{nullptr};
  T_Mime mime{nullptr};
};

TEST_F(RealServerMail, MimeMailWithPictureAndAttachmentsParsesCleanly) {
  ASSERT_NE(server.Port(), 0);
  const std::vector<std::string> paths = {
      RandomFile("sub/snap.jpg", 3000), RandomFile("empty.bin", 0), RandomFile("one.bin", 1),
      RandomFile("sub/f44.dat", 44),    RandomFile("f45.JPG", 45),  RandomFile("f46", 46),
      RandomFile("big.bin", 100000),
  };
  mail.SetFrom("Ann <ann@x.org>");
  mail.SetSubject("A note");
  mail.Recipients().Add("Bob <bob@y.org>, carol@z.org");
  mail.Recipients().Add("frank@u.org");
  mail.CC().Add("dave@w.org");
  mail.CC().Add("Gil <gil@t.org>");
  mail.BCC().Add("eve@v.org");
  mail.Body().Add(".x");
  mail.Body().Add(".");
  for (const auto& path : paths) mime.AttachFile(path);
  mime.BuildAndSend();
  EXPECT_EQ(smtp.ReplyCode(), 250);
  EXPECT_EQ(smtp.ReplyText(), "Message accepted for delivery");

  EXPECT_EQ(test_support::ReadFileBytes(Stored(1) + ".env"),
            "ann@x.org\nbob@y.org\ncarol@z.org\nfrank@u.org\ndave@w.org\ngil@t.org\neve@v.org\n");
  const std::string expected =
      "defects 0\n"
      "headers From,Message-ID,Date,Subject,To,CC,MIME-Version,Content-Type\n"
      "longest-line 74\n"
      "subject 'A note'\n"
      "from 'Ann' ann@x.org\n"
      "to 'Bob' bob@y.org | '' carol@z.org | '' frank@u.org\n"
      "cc '' dave@w.org | 'Gil' gil@t.org\n"
      "structure multipart/mixed(multipart/related(text/html,image/jpeg),"
      "application/octet-stream,application/octet-stream,application/octet-stream,"
      "image/jpeg,application/octet-stream,application/octet-stream)\n"
      "boundary 17053128000501A8C0==\n"
      "preamble '.x\\r\\n.\\r\\n'\n"
      "epilogue ''\n"
      "inner-boundary 1389780000-BOUNDARY2-==\n"
      "html '<HTML>\\r\\n<CENTER>\\r\\n<IMG src=\"cid:jotterwick\" alt=\"EmailImage.jpg\">\\r\\n"
      "<BR><FONT color=#0c66f0 size=2>Jotterwick 1.0 from\\r\\n"
      "<A HREF=\"https://www.brightfern.example/jotterwick\">Brightfern </A></FONT>\\r\\n"
      "</CENTER>\\r\\n</HTML>\\r\\n'\n"
      "part image/jpeg inline 'EmailImage.jpg' <jotterwick> base64 "
      "params=[('filename', 'EmailImage.jpg')] file=0 bytes=3000\n"
      "part application/octet-stream attachment 'empty.bin' None base64 "
      "params=[('filename', 'empty.bin')] file=1 bytes=0\n"
      "part application/octet-stream attachment 'one.bin' None base64 "
      "params=[('filename', 'one.bin')] file=2 bytes=1\n"
      "part application/octet-stream attachment 'f44.dat' None base64 "
      "params=[('filename', 'f44.dat')] file=3 bytes=44\n"
      "part image/jpeg attachment 'f45.JPG' None base64 "
      "params=[('filename', 'f45.JPG')] file=4 bytes=45\n"
      "part application/octet-stream attachment 'f46' None base64 "
      "params=[('filename', 'f46')] file=5 bytes=46\n"
      "part application/octet-stream attachment 'big.bin' None base64 "
      "params=[('filename', 'big.bin')] file=6 bytes=100000\n";
  EXPECT_EQ(Describe(1, paths), expected);
  const std::string raw = test_support::ReadFileBytes(Stored(1) + ".eml");
  EXPECT_EQ(
      raw.rfind(
          "From: Ann <ann@x.org>\r\nMessage-ID: <1705312800.5EED5EED@myhost.example>\r\n"
          "Date: Mon, 15 Jan 2024 10:00:00 +1000\r\nSubject: A note\r\n"
          "To: Bob <bob@y.org>, carol@z.org, frank@u.org\r\nCC: dave@w.org, Gil <gil@t.org>\r\n",
          0),
      0u)
      << raw.substr(0, 300);
}

#if !defined(__SANITIZE_ADDRESS__)
// A figure of this process's memory from /proc/self/status, in kB.
long StatusKb(const std::string& name) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with(name + ":")) return std::stol(line.substr(name.size() + 1));
  }
  return -1;
}

#endif

// A 20 MB attachment is held once as read and once as the mail's copy; its
// encoded form never exists whole, and all of it is given back once the mail
// and its builder are freed.
TEST_F(RealServerMail, LargeAttachmentCostsAboutTwiceItsSize) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's allocator keeps freed memory and adds shadow memory";
#else
  ASSERT_NE(server.Port(), 0);
  const size_t size = 20 << 20;
  const std::vector<std::string> paths = {RandomFile("snap.jpg", 300), RandomFile("big.bin", size)};
  const long resident_before_kb = StatusKb("VmRSS");
  // Writing 5 to clear_refs starts the peak resident size afresh.
  std::ofstream("/proc/self/clear_refs") << "5";
  {
    T_SMTP client(nullptr);
    client.SetHostname("127.0.0.1");
    client.SetPort(server.Port());
    client.SetTimeoutMs(60000);
    T_Mail big(nullptr);
    big.SetSMTP(&client);
    big.SetFrom("ann@x.org");
    big.Recipients().Add("bob@y.org");
    T_Mime builder(nullptr);
    builder.SetMail(&big);
    for (const auto& path : paths) builder.AttachFile(path);
    builder.BuildAndSend();
    EXPECT_EQ(client.ReplyCode(), 250);
  }
  const long peak_kb = StatusKb("VmHWM") - resident_before_kb;
  const long size_kb = static_cast<long>(size >> 10);
  EXPECT_LE(peak_kb, 3 * size_kb) << "peak above the start, in kB";
  EXPECT_LE(StatusKb("VmRSS") - resident_before_kb, size_kb / 2) << "resident after, in kB";
  const std::string found = Describe(1, paths);
  EXPECT_NE(found.find("file=1 bytes=" + std::to_string(size) + "\n"), std::string::npos) << found;
  EXPECT_NE(found.find("defects 0\n"), std::string::npos) << found;
  std::cout << "peak " << peak_kb << " kB above " << resident_before_kb << " kB for a " << size_kb
            << " kB attachment; resident after " << StatusKb("VmRSS") << " kB\n";
#endif
}

// Non-ASCII text in the subject, the display names and the file names, a
// quote in a file name and subjects of 2,000 characters: the parser gives
// back every text and parameter exactly, and no line is longer than
// RFC 5322 allows.
TEST_F(RealServerMail, HeaderTextAndFileNamesComeBackExactly) {
  ASSERT_NE(server.Port(), 0);
  std::string accents;
  for (int i = 0; i < 100; ++i) accents += "é";
  const std::vector<std::string> paths = {
      RandomFile("snap.jpg", 300),      RandomFile("Ærø 東京.bin", 10),
      RandomFile("q\"; x=\"y.bin", 11), RandomFile(accents + ".txt", 12),
      RandomFile("plain name.bin", 13),
  };
  mail.SetFrom("Jürgen Müller <jm@x.org>");
  mail.SetSubject("Grüße aus Köln — 東京 ✓");
  mail.Recipients().Add("\"Zoë, Ærø\" <zoe@y.org>, bob@y.org");
  mail.CC().Add("Ĳssel Ölund <ij@z.org>");
  for (const auto& path : paths) mime.AttachFile(path);
  mime.BuildAndSend();
  const std::string description = Describe(1, paths);
  const std::string expected_start =
      "defects 0\n"
      "headers From,Message-ID,Date,Subject,To,CC,MIME-Version,Content-Type\n"
      "longest-line 74\n"
      "subject 'Grüße aus Köln — 東京 ✓'\n"
      "from 'Jürgen Müller' jm@x.org\n"
      "to 'Zoë, Ærø' zoe@y.org | '' bob@y.org\n"
      "cc 'Ĳssel Ölund' ij@z.org\n";
  EXPECT_EQ(description.substr(0, expected_start.size()), expected_start) << description;
  const std::string expected_parts =
      "part image/jpeg inline 'EmailImage.jpg' <jotterwick> base64 "
      "params=[('filename', 'EmailImage.jpg')] file=0 bytes=300\n"
      "part application/octet-stream attachment 'Ærø 東京.bin' None base64 "
      "params=[('filename', 'Ærø 東京.bin')] file=1 bytes=10\n"
      "part application/octet-stream attachment 'q\"; x=\"y.bin' None base64 "
      "params=[('filename', 'q\"; x=\"y.bin')] file=2 bytes=11\n"
      "part application/octet-stream attachment '" +
      accents + ".txt' None base64 params=[('filename', '" + accents +
      ".txt')] file=3 bytes=12\n"
      "part application/octet-stream attachment 'plain name.bin' None base64 "
      "params=[('filename', 'plain name.bin')] file=4 bytes=13\n";
  ASSERT_GE(description.size(), expected_parts.size());
  EXPECT_EQ(description.substr(description.size() - expected_parts.size()), expected_parts)
      << description;

  // Long subjects: ASCII words stay readable and are only folded; text with
  // letters beyond ASCII, and a word no line can hold, become encoded-words.
  std::string words, foreign, unbroken(2000, 'x');
  for (int i = 0; words.size() < 2000; ++i) words += "word" + std::to_string(i) + " ";
  words.resize(2000);
  while (foreign.size() < 2000) foreign += "Straße ";
  const char kControl[] = "NUL \0, escape \x1b and delete \x7f";
  const std::string control(kControl, sizeof kControl - 1);
  const std::vector<std::pair<std::string, bool>> subjects = {
      {words, false}, {foreign, true}, {unbroken, true}, {control, true}};
  int n = 1;
  for (const auto& [subject, encoded] : subjects) {
    mail.SetSubject(subject);
    mime.BuildAndSend();
    const std::string found = Describe(++n, paths);
    std::string shown = subject;
    for (const auto& [byte, escape] :
         {std::pair{'\0', "\\x00"}, {'\x1b', "\\x1b"}, {'\x7f', "\\x7f"}}) {
      for (size_t at; (at = shown.find(byte)) != std::string::npos;) shown.replace(at, 1, escape);
    }
    EXPECT_NE(found.find("\nsubject '" + shown + "'\n"), std::string::npos) << found;
    EXPECT_NE(found.find("defects 0\n"), std::string::npos) << found;
    const std::string raw = test_support::ReadFileBytes(Stored(n) + ".eml");
    EXPECT_EQ(raw.find("\r\nSubject: =?UTF-8?B?") != std::string::npos, encoded);
    size_t longest = 0;
    for (size_t at = 0, end; at < raw.size(); at = end + 2) {
      end = std::min(raw.find("\r\n", at), raw.size());
      longest = std::max(longest, end - at);
    }
    EXPECT_LE(longest, kMaxHeaderLineOctets);
    EXPECT_LE(longest, kFoldedLineOctets);
  }
}

}  // namespace
}  // namespace jw
