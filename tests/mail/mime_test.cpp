#include "mail/mime.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/mail/mail_test_world.h"
#include "tests/mail/python_peer.h"

namespace jw {
namespace {

using test_support::FixedWorld;
using test_support::LinesOf;

TEST(MimeAttach, TypeAndNameFollowTheFile) {
  test_support::TempFolder dir;
  const struct {
    std::string name;
    std::string type;
  } cases[] = {
      {"photo.jpg", "image/jpeg"},
      {"PHOTO.JPG", "image/jpeg"},
      {"photo.Jpg", "image/jpeg"},
      {"photo.jpeg", "application/octet-stream"},
      {"notes.txt", "application/octet-stream"},
      {"noextension", "application/octet-stream"},
  };
  T_Mime mime(nullptr);
  for (const auto& c : cases) {
    test_support::WriteFileBytes(dir.File(c.name), "data");
    const int index = mime.AttachFile(dir.File(c.name));
    T_Attachment& attachment = mime.Attachments(index);
    EXPECT_EQ(attachment.ContentType(), c.type) << c.name;
    EXPECT_EQ(attachment.ContentDisposition(), "attachment; filename=\"" + c.name + "\"");
    EXPECT_EQ(attachment.Encoding(), kMimeBase64);
    EXPECT_EQ(attachment.Data().Size(), 4);
  }
  EXPECT_EQ(mime.AttachmentCount(), 6);
  EXPECT_THROW(mime.AttachFile(dir.File("missing.jpg")), EFOpenError);
  EXPECT_EQ(mime.AttachmentCount(), 6);
  mime.ClearAttachments();
  EXPECT_EQ(mime.AttachmentCount(), 0);
  EXPECT_THROW(mime.Attachments(0), EListError);
}

TEST(MimeAttach, LoadFromStreamReplacesOrClears) {
  T_Attachment attachment;
  EXPECT_EQ(attachment.Encoding(), kMimeNoEncoding);
  attachment.TextLines().Add("line");
  TMemoryStream source;
  source.WriteBuffer("abc", 3);
  attachment.LoadFromStream(&source);
  EXPECT_EQ(attachment.Data().Size(), 3);
  EXPECT_EQ(attachment.TextLines().Count(), 0);
  attachment.LoadFromStream(nullptr);
  EXPECT_EQ(attachment.Data().Size(), 0);
}

TEST(MimeBuild, WithoutAttachmentsNothingChanges) {
  T_MailNews news(nullptr);
  T_Mime mime(nullptr);
  EXPECT_NO_THROW(mime.BuildAndSend());
  mime.SetMail(&news);
  EXPECT_THROW(mime.BuildAndSend(), EListError);
  EXPECT_EQ(news.Header().Count(), 0);
  EXPECT_EQ(news.Body().Count(), 0);
  EXPECT_EQ(news.Lines().Count(), 0);
}

TEST(MimeBuild, PictureOnlyLayoutLineByLine) {
  FixedWorld world;
  test_support::TempFolder dir;
  test_support::WriteFileBytes(dir.File("snap.jpg"), "abcd");
  T_MailNews news(nullptr);
  news.SetFrom("ann@x.org");
  news.Body().Add("preamble");
  T_Mime mime(nullptr);
  mime.SetMail(&news);
  mime.AttachFile(dir.File("snap.jpg"));
  mime.BuildAndSend();
  const std::string outer = "17053128000501A8C0==";
  const std::string inner = "1389780000-BOUNDARY2-==";
  EXPECT_EQ(mime.Boundary(), outer);
  const std::vector<std::string> header = {
      "MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=\"" + outer + "\""};
  EXPECT_EQ(LinesOf(news.Header()), header);
  const std::vector<std::string> body = {
      "preamble",
      "",
      "--" + outer,
      "Content-Type: multipart/related; boundary=\"" + inner + "\"",
      "",
      "--" + inner,
      "Content-Type: text/html; charset=\"us-ascii\"",
      "",
      "<HTML>",
      "<CENTER>",
      "<IMG src=\"cid:jotterwick\" alt=\"EmailImage.jpg\">",
      "<BR><FONT color=#0c66f0 size=2>Jotterwick 1.0 from",
      "<A HREF=\"https://www.brightfern.example/jotterwick\">Brightfern </A></FONT>",
      "</CENTER>",
      "</HTML>",
      "",
      "--" + inner,
      "Content-Type: image/jpeg; name=\"EmailImage.jpg\"",
      "Content-ID: <jotterwick>",
      "Content-Transfer-Encoding: base64",
      "Content-Disposition: inline; filename=\"EmailImage.jpg\"",
      "",
      "YWJjZA==",
      "",
      "--" + inner + "--",
      "",
      "--" + outer + "--",
  };
  EXPECT_EQ(LinesOf(news.Body()), body);
  // The mail's Action ran: the composed message ends with the body.
  EXPECT_EQ(news.Lines().Strings(news.Lines().Count() - 1), "--" + outer + "--");
  EXPECT_EQ(news.Lines().Strings(4), "MIME-Version: 1.0");
}

TEST(MimeBuild, FurtherAttachmentsWithEachEncoding) {
  FixedWorld world;
  test_support::TempFolder dir;
  test_support::WriteFileBytes(dir.File("snap.jpg"), "x");
  test_support::WriteFileBytes(dir.File("a.bin"), "abc");
  T_MailNews news(nullptr);
  T_Mime mime(nullptr);
  mime.SetMail(&news);
  mime.AttachFile(dir.File("snap.jpg"));
  mime.AttachFile(dir.File("a.bin"));
  T_Attachment& printable = mime.Attachments(mime.AttachFile(dir.File("a.bin")));
  printable.SetEncoding(kMimeQuotedPrintable);
  printable.TextLines().Add("a=b \xe9");
  T_Attachment& plain = mime.Attachments(mime.AttachFile(dir.File("a.bin")));
  plain.SetEncoding(kMimeNoEncoding);
  plain.SetContentDisposition("");
  plain.TextLines().Add("caf\xe9");
  mime.BuildAndSend();
  const std::vector<std::string> lines = LinesOf(news.Body());
  const std::string outer = "--17053128000501A8C0==";
  const std::vector<std::string> expected = {
      "",
      outer,
      "Content-Type: application/octet-stream",
      "Content-Disposition: attachment; filename=\"a.bin\"",
      "Content-Transfer-Encoding: base64",
      "",
      "YWJj",
      "",
      outer,
      "Content-Type: application/octet-stream",
      "Content-Disposition: attachment; filename=\"a.bin\"",
      "Content-Transfer-Encoding: quoted-printable",
      "",
      "a=3Db =E9",
      "",
      outer,
      "Content-Type: application/octet-stream",
      "",
      "caf=E9",
      "",
  };
  ASSERT_GE(lines.size(), 21u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 21, lines.end() - 1), expected);
  EXPECT_EQ(lines.back(), outer + "--");
}

TEST(MimeBuild, FreedMailIsForgotten) {
  T_Mime mime(nullptr);
  {
    T_MailNews news(nullptr);
    mime.SetMail(&news);
  }
  EXPECT_EQ(mime.Mail(), nullptr);
}

}  // namespace
}  // namespace jw
