// Sends mails through a real SMTP server (aiosmtpd on loopback) and reads
// what it received with Python's e-mail parser.
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mail/mime.h"
#include "tests/mail/mail_test_world.h"
#include "tests/mail/python_peer.h"

namespace jw {
namespace {

class RealServer {
 public:
  RealServer() : server_("smtp_server.py", {dir_.Path()}) {
    port_ = static_cast<uint16_t>(std::stoi("0" + server_.ReadLine(20000)));
  }
  uint16_t Port() const { return port_; }
  std::string Folder() const { return dir_.Path(); }

 private:
  test_support::TempFolder dir_;
  test_support::PythonProcess server_;
  uint16_t port_ = 0;
};

TEST(RealServer, MimeMailWithPictureAndAttachmentsParsesCleanly) {
  RealServer server;
  ASSERT_NE(server.Port(), 0);
  test_support::FixedWorld world;

  test_support::TempFolder files;
  std::mt19937 random(77);
  auto random_file = [&](const std::string& name, size_t size) {
    std::string bytes(size, '\0');
    for (auto& b : bytes) b = static_cast<char>(random());
    const std::string path = files.File(name);
    test_support::WriteFileBytes(path, bytes);
    return path;
  };
  std::filesystem::create_directory(files.File("sub"));
  const std::vector<std::string> paths = {
      random_file("sub/snap.jpg", 3000), random_file("empty.bin", 0), random_file("one.bin", 1),
      random_file("sub/f44.dat", 44),    random_file("f45.JPG", 45),  random_file("f46", 46),
      random_file("big.bin", 100000),
  };

  T_SMTP smtp(nullptr);
  smtp.SetHostname("127.0.0.1");
  smtp.SetPort(server.Port());
  smtp.SetTimeoutMs(10000);
  T_Mail mail(nullptr);
  mail.SetSMTP(&smtp);
  mail.SetFrom("Ann <ann@x.org>");
  mail.SetSubject("A note");
  mail.Recipients().Add("Bob <bob@y.org>, carol@z.org");
  mail.CC().Add("dave@w.org");
  mail.BCC().Add("eve@v.org");
  mail.Body().Add(".x");
  mail.Body().Add(".");
  T_Mime mime(nullptr);
  mime.SetMail(&mail);
  for (const auto& path : paths) mime.AttachFile(path);
  mime.BuildAndSend();
  EXPECT_EQ(smtp.ReplyCode(), 250);
  EXPECT_EQ(smtp.ReplyText(), "Message accepted for delivery");

  const std::string stored = server.Folder() + "message-1";
  EXPECT_EQ(test_support::ReadFileBytes(stored + ".env"),
            "ann@x.org\nbob@y.org\ncarol@z.org\ndave@w.org\neve@v.org\n");
  std::vector<std::string> args = {stored + ".eml"};
  args.insert(args.end(), paths.begin(), paths.end());
  const std::string description = test_support::RunPython("mime_check.py", args);
  const std::string expected =
      "defects 0\n"
      "headers From,Message-ID,Date,Subject,To,CC,MIME-Version,Content-Type\n"
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
      "part image/jpeg inline 'EmailImage.jpg' <jotterwick> base64 file=0 bytes=3000\n"
      "part application/octet-stream attachment 'empty.bin' None base64 file=1 bytes=0\n"
      "part application/octet-stream attachment 'one.bin' None base64 file=2 bytes=1\n"
      "part application/octet-stream attachment 'f44.dat' None base64 file=3 bytes=44\n"
      "part image/jpeg attachment 'f45.JPG' None base64 file=4 bytes=45\n"
      "part application/octet-stream attachment 'f46' None base64 file=5 bytes=46\n"
      "part application/octet-stream attachment 'big.bin' None base64 file=6 bytes=100000\n";
  EXPECT_EQ(description, expected);
  const std::string raw = test_support::ReadFileBytes(stored + ".eml");
  EXPECT_EQ(
      raw.rfind("From: Ann <ann@x.org>\r\nMessage-ID: <1705312800.5EED5EED@myhost.example>\r\n"
                "Date: Mon, 15 Jan 2024 10:00:00 +1000\r\nSubject: A note\r\n"
                "To: Bob <bob@y.org>, carol@z.org\r\nCC: dave@w.org\r\n",
                0),
      0u)
      << raw.substr(0, 300);
}

}  // namespace
}  // namespace jw
