// "Email scrap..." from the note's menu to what leaves the program: with a
// fake transport the mail as handed over, with a real SMTP server on
// loopback (aiosmtpd) the mail as Python's e-mail parser reads it, and the
// failures the user is told about.
#include "app/scrap_mail.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/email_form.h"
#include "app/folders.h"
#include "app/note_snapshot.h"
#include "app/settings.h"
#include "platform/gui/application.h"
#include "platform/gui/dialogs_scripted.h"
#include "tests/mail/python_peer.h"
#include "tests/mail/script_peer.h"
#include "tests/mail/smtp_server_peer.h"
#include "tests/support/temp_folder.h"

namespace jw {
namespace {

const char kPaper[] = "test-mail-plain-80.bmp";

// Records every mail instead of sending it.
class FakeTransport : public ScrapMailTransport {
 public:
  explicit FakeTransport(std::vector<TScrapMail>& sent) : sent_(sent) {}
  void Send(const TScrapMail& mail) override { sent_.push_back(mail); }

 private:
  std::vector<TScrapMail>& sent_;
};

class ScrapMailTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    TBitmap paper;
    paper.SetSize(80, 60);
    paper.Canvas().Brush().SetColor(RGB(255, 255, 160));
    paper.Canvas().FillRect(Rect(0, 0, 80, 60));
    std::filesystem::create_directories(PaperFolder());
    paper.SaveToFile(PaperFolder() + kPaper);
  }
  static void TearDownTestSuite() { std::filesystem::remove(PaperFolder() + kPaper); }

  void SetUp() override {
    ScrapSettings = TScrapSettings();
    ScrapSettings.DefaultFontDesc = "DejaVu Sans,12,0";
    ScrapSettings.SMTPHostName = "127.0.0.1";
    ScrapSettings.ReturnAddress = "Me <me@here.example>";
    ScrapSettings.EmailLines[0] = "Anna|anna@x";
    ScrapSettings.EmailLines[3] = "Bob|bob@y.org";
    auto dialogs = std::make_unique<ScriptedDialogs>();
    dialogs_ = dialogs.get();
    SetDialogService(std::move(dialogs));
    SetMailTransport(std::make_unique<FakeTransport>(sent_));
    std::filesystem::remove(SnapshotFileName());
    note_.reset(MakeForm<TScrapForm>(nullptr));
    note_->PaperFile = kPaper;
    note_->RebuildShape();
    note_->Message = "To mail";
  }
  void TearDown() override {
    note_.reset();
    SetMailTransport(nullptr);
    SetDialogService(nullptr);
    std::filesystem::remove(SnapshotFileName());
    ScrapSettings = TScrapSettings();
  }

  std::string RandomFile(const std::string& name, size_t size) {
    std::string bytes(size, '\0');
    for (auto& b : bytes) b = static_cast<char>(random_());
    const std::string path = files_.File(name);
    test_support::WriteFileBytes(path, bytes);
    return path;
  }

  // The next dialog must be the e-mail dialog; act works its controls.
  void AnswerEmailForm(std::function<TModalResult(TEmailSpecForm&)> act) {
    dialogs_->AnswerForm<TEmailSpecForm>(std::move(act));
  }

  // The user picks the recipient entry (or types it), the subject and the
  // files through the dialog's own controls, and presses "Send".
  void AnswerDialog(const std::string& recipient, const std::string& subject,
                    const std::vector<std::string>& files) {
    for (const auto& file : files) dialogs_->AnswerOpenFile(file);
    AnswerEmailForm([=](TEmailSpecForm& form) {
      form.AddressCB->SetText(recipient);
      form.SubjectEdit->SetText(subject);
      for (size_t i = 0; i < files.size(); ++i) form.AddFileBtn->Click();
      return mrOk;
    });
  }

  // The menu command as the user starts it: an exception ends in the
  // application's handler, which shows it.
  void ClickEmailScrap() {
    CallGuarded([this] { note_->Emailscrap1->Click(); });
  }

  // The message boxes shown, "type: text".
  std::vector<std::string> Messages() const {
    std::vector<std::string> shown;
    for (const DialogCall& call : dialogs_->Calls()) {
      if (call.kind != DialogCall::Kind::Message) continue;
      shown.push_back((call.type == TMsgDlgType::mtError ? "error: " : "warning: ") + call.text);
    }
    return shown;
  }

  ScriptedDialogs* dialogs_ = nullptr;
  std::vector<TScrapMail> sent_;
  std::unique_ptr<TScrapForm> note_;
  test_support::TempFolder files_;
  std::mt19937 random_{29};
};

TEST(RecipientOf, AddressBookEntryGivesTheAddressInItsLastBrackets) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Anna    (anna@x)", "anna@x"},
      {"Dan (work)    (dan@w.org)", "dan@w.org"},
      {"carl@z.org", "carl@z.org"},
      {"  carl@z.org ", "carl@z.org"},
      {"Eve (eve@v.org) later", "Eve (eve@v.org) later"},
      {"odd)", "odd)"},
  };
  for (const auto& [entry, recipient] : cases) EXPECT_EQ(RecipientOf(entry), recipient) << entry;
}

TEST_F(ScrapMailTest, DialogListsTheAddressBookAndTheMailCarriesSnapshotThenFilesInOrder) {
  const std::string a = RandomFile("a.txt", 10);
  const std::string b = RandomFile("b.bin", 20);
  const std::string c = RandomFile("c.pdf", 30);
  for (const auto& file : {a, b, c}) dialogs_->AnswerOpenFile(file);
  AnswerEmailForm([](TEmailSpecForm& form) {
    EXPECT_EQ(form.Caption(), "Email Settings");
    const TStringList& items = form.AddressCB->Items();
    EXPECT_EQ(items.Count(), 2);
    EXPECT_EQ(items.Strings(0), "Anna    (anna@x)");
    EXPECT_EQ(items.Strings(1), "Bob    (bob@y.org)");
    EXPECT_EQ(form.AddressCB->Text(), "Anna    (anna@x)");
    EXPECT_EQ(form.SubjectEdit->Text(), "Message subject");
    form.AddFileBtn->Click();
    form.AddFileBtn->Click();
    form.AddFileBtn->Click();
    form.FileList->SetItemIndex(1);
    form.RemoveBtn->Click();
    form.RemoveBtn->Click();  // nothing is selected any more
    return mrOk;
  });
  ClickEmailScrap();
  EXPECT_EQ(Messages(), std::vector<std::string>{});
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_EQ(sent_[0].Host, "127.0.0.1");
  EXPECT_EQ(sent_[0].Sender, "Me <me@here.example>");
  EXPECT_EQ(sent_[0].Recipient, "anna@x");
  EXPECT_EQ(sent_[0].Subject, "Message subject");
  EXPECT_EQ(sent_[0].Files, (std::vector<std::string>{SnapshotFileName(), a, c}));
  EXPECT_EQ(test_support::ReadFileBytes(SnapshotFileName()).substr(0, 2), "\xFF\xD8");
  EXPECT_EQ(dialogs_->PendingAnswers(), 0);
}

TEST_F(ScrapMailTest, TypedRecipientIsUsedAsTyped) {
  AnswerDialog("carl@z.org", "Hi", {});
  ClickEmailScrap();
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_EQ(sent_[0].Recipient, "carl@z.org");
  EXPECT_EQ(sent_[0].Files, std::vector<std::string>{SnapshotFileName()});
}

TEST_F(ScrapMailTest, CancelSendsNothingAndLeavesTheSnapshotWritten) {
  AnswerEmailForm([](TEmailSpecForm&) { return mrCancel; });
  ClickEmailScrap();
  EXPECT_TRUE(sent_.empty());
  EXPECT_EQ(Messages(), std::vector<std::string>{});
  EXPECT_TRUE(std::filesystem::exists(SnapshotFileName()));
}

// The transport would send nothing and say nothing; the user is told which
// address is missing, and nothing is reported as sent.
TEST_F(ScrapMailTest, MissingReturnAddressOrRecipientIsNamedAndNothingIsSent) {
  ScrapSettings.ReturnAddress = "";
  AnswerDialog("Anna    (anna@x)", "Hi", {});
  ClickEmailScrap();
  ScrapSettings.ReturnAddress = "Me <me@here.example>";
  AnswerDialog("Anna", "Hi", {});
  ClickEmailScrap();
  AnswerDialog("", "Hi", {});
  ClickEmailScrap();
  EXPECT_TRUE(sent_.empty());
  const std::string no_sender =
      "warning: The mail was not sent: there is no return address. Enter one in the "
      "preferences, on the page Email.";
  const std::string no_recipient = "warning: The mail was not sent: there is no recipient address.";
  EXPECT_EQ(Messages(), (std::vector<std::string>{no_sender, no_recipient, no_recipient}));
}

class ScrapMailServerTest : public ScrapMailTest {
 protected:
  void UseServer(uint16_t port, int timeout_ms) {
    SetMailTransport(std::make_unique<SmtpScrapMailTransport>(port, timeout_ms));
  }
};

TEST_F(ScrapMailServerTest, RealServerGetsThePictureInlineAndTheFileWhole) {
  test_support::SmtpServerPeer server;
  ASSERT_NE(server.Port(), 0);
  UseServer(server.Port(), 300);
  const std::string attachment = RandomFile("notes.bin", 5000);
  AnswerDialog("Bob    (bob@y.org)", "Grüße", {attachment});
  ClickEmailScrap();
  EXPECT_EQ(Messages(), std::vector<std::string>{});
  EXPECT_EQ(Screen->Cursor(), crDefault);

  EXPECT_EQ(test_support::ReadFileBytes(server.Stored(1) + ".env"), "me@here.example\nbob@y.org\n");
  const std::string snapshot = SnapshotFileName();
  const std::string found =
      test_support::RunPython("mime_check.py", {server.Stored(1) + ".eml", snapshot, attachment});
  const auto has = [&](const std::string& line) {
    return found.find("\n" + line + "\n") != std::string::npos;
  };
  EXPECT_TRUE(found.starts_with("defects 0\n")) << found;
  EXPECT_TRUE(has("subject 'Grüße'")) << found;
  EXPECT_TRUE(has("from 'Me' me@here.example")) << found;
  EXPECT_TRUE(has("to '' bob@y.org")) << found;
  EXPECT_TRUE(
      has("structure multipart/mixed(multipart/related(text/html,image/jpeg),"
          "application/octet-stream)"))
      << found;
  EXPECT_NE(found.find("<IMG src=\"cid:jotterwick\""), std::string::npos) << found;
  const std::string picture_size = std::to_string(test_support::ReadFileBytes(snapshot).size());
  EXPECT_TRUE(
      has("part image/jpeg inline 'EmailImage.jpg' <jotterwick> base64 "
          "params=[('filename', 'EmailImage.jpg')] file=0 bytes=" +
          picture_size))
      << found;
  EXPECT_TRUE(
      has("part application/octet-stream attachment 'notes.bin' None base64 "
          "params=[('filename', 'notes.bin')] file=1 bytes=5000"))
      << found;
}

// The server refuses the one recipient and so the message: the user reads
// the server's answer, nothing arrives, and the program goes on.
TEST_F(ScrapMailServerTest, RefusedRecipientReachesTheUserAsAMessage) {
  test_support::SmtpServerPeer server("bob@y.org");
  ASSERT_NE(server.Port(), 0);
  UseServer(server.Port(), 300);
  AnswerDialog("Bob    (bob@y.org)", "Hi", {});
  ClickEmailScrap();
  EXPECT_EQ(Messages(), std::vector<std::string>{"error: Error: need RCPT command."});
  EXPECT_EQ(Screen->Cursor(), crDefault);
  EXPECT_FALSE(std::filesystem::exists(server.Stored(1) + ".eml"));

  // The next mail, to an address the server takes, goes out.
  AnswerDialog("Anna    (anna@x)", "Hi", {});
  ClickEmailScrap();
  EXPECT_TRUE(std::filesystem::exists(server.Stored(1) + ".eml"));
}

// The peer stays silent for 5 s and then hangs up; the failure comes at the
// transport's 300 ms timeout, long before that.
TEST_F(ScrapMailServerTest, ServerThatNeverAnswersFailsAtTheTimeout) {
  test_support::ScriptedPeer server({"W 5"});
  UseServer(server.Port(), 300);
  AnswerDialog("Anna    (anna@x)", "Hi", {});
  const auto start = std::chrono::steady_clock::now();
  ClickEmailScrap();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(Messages(), std::vector<std::string>{"error: Error receiving reply."});
  EXPECT_EQ(Screen->Cursor(), crDefault);
}

}  // namespace
}  // namespace jw
