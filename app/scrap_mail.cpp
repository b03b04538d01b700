#include "app/scrap_mail.h"

#include <utility>

#include "app/email_form.h"
#include "app/note_snapshot.h"
#include "app/settings.h"
#include "app/str_lib.h"
#include "mail/address_text.h"
#include "mail/mime.h"
#include "platform/gui/application.h"
#include "platform/gui/dialogs.h"

namespace jw {

namespace {

std::unique_ptr<ScrapMailTransport>& InstalledTransport() {
  static std::unique_ptr<ScrapMailTransport> transport;
  return transport;
}

// Shows the busy cursor while it lives.
class BusyCursor {
 public:
  BusyCursor() { Screen->SetCursor(crHourGlass); }
  ~BusyCursor() { Screen->SetCursor(crDefault); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace

SmtpScrapMailTransport::SmtpScrapMailTransport(uint16_t port, int timeout_ms)
    : port_(port), timeout_ms_(timeout_ms) {}

void SmtpScrapMailTransport::Send(const TScrapMail& scrap_mail) {
  T_Mail mail(nullptr);
  T_SMTP smtp(nullptr);
  T_Mime mime(nullptr);
  mime.SetMail(&mail);
  mail.SetSMTP(&smtp);
  mail.SetFrom(scrap_mail.Sender);
  mail.Recipients().Add(scrap_mail.Recipient);
  mail.SetSubject(scrap_mail.Subject);
  smtp.SetHostname(scrap_mail.Host);
  smtp.SetPort(port_);
  smtp.SetTimeoutMs(timeout_ms_);
  for (const std::string& file : scrap_mail.Files) mime.AttachFile(file);
  mime.BuildAndSend();
}

ScrapMailTransport& MailTransport() {
  static SmtpScrapMailTransport smtp;
  auto& installed = InstalledTransport();
  return installed ? *installed : smtp;
}

std::unique_ptr<ScrapMailTransport> SetMailTransport(
    std::unique_ptr<ScrapMailTransport> transport) {
  return std::exchange(InstalledTransport(), std::move(transport));
}

std::string RecipientOf(const std::string& entry) {
  const std::string text = TrimBlanks(entry);
  if (!text.ends_with(')')) return text;
  const size_t open = text.rfind('(');
  if (open == std::string::npos) return text;
  return TrimBlanks(text.substr(open + 1, text.size() - open - 2));
}

void SendScrapMail(const std::string& host, const std::string& recipient,
                   const std::vector<std::string>& files, const std::string& subject,
                   const std::string& sender) {
  // The transport would quietly send nothing; the user must know why.
  if (AddressFrom(sender, 1).empty()) {
    MessageDlg(
        "The mail was not sent: there is no return address. Enter one in the preferences, "
        "on the page Email.",
        TMsgDlgType::mtWarning, mbOK);
    return;
  }
  if (AddressFrom(recipient, 1).empty()) {
    MessageDlg("The mail was not sent: there is no recipient address.", TMsgDlgType::mtWarning,
               mbOK);
    return;
  }
  TScrapMail mail{host, sender, recipient, subject, {SnapshotFileName()}};
  mail.Files.insert(mail.Files.end(), files.begin(), files.end());
  const BusyCursor busy;
  MailTransport().Send(mail);
}

void EmailScrap(TScrapForm& note) {
  SaveSnapshotJpeg(note, SnapshotFileName());
  TMailSpec spec;
  if (!AskMailSpec(spec)) return;
  // The dialog leaves the screen before the wait for the server begins.
  Application->ProcessMessages();
  SendScrapMail(ScrapSettings.SMTPHostName, RecipientOf(spec.Recipient), spec.Files, spec.Subject,
                ScrapSettings.ReturnAddress);
}

}  // namespace jw
