// Mailing a note ("Email scrap..."): the note's snapshot is written as a
// JPEG beside the executable, the user picks the recipient, subject and
// files, and the note goes out as an HTML mail with the picture inline and
// the files attached. The sending sits behind a small transport interface so
// tests can put a fake in place of the SMTP server.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/scrap_form.h"
#include "mail/smtp.h"

namespace jw {

// One mail of a note, as handed to the transport.
struct TScrapMail {
  std::string Host;
  std::string Sender;
  std::string Recipient;
  std::string Subject;
  // The snapshot first (the picture shown inline), then the chosen files.
  std::vector<std::string> Files;
};

class ScrapMailTransport {
 public:
  virtual ~ScrapMailTransport() = default;
  // Sends the mail; the mail transport's errors pass out.
  virtual void Send(const TScrapMail& mail) = 0;
};

// Sends through the mail transport (T_Mail, T_SMTP, T_Mime) to the host on
// the given port; a server that does not answer fails after timeout_ms.
class SmtpScrapMailTransport : public ScrapMailTransport {
 public:
  explicit SmtpScrapMailTransport(uint16_t port = kSmtpPort, int timeout_ms = kDefaultTimeoutMs);
  void Send(const TScrapMail& mail) override;

 private:
  uint16_t port_;
  int timeout_ms_;
};

// The current transport; the SMTP one until another is installed.
ScrapMailTransport& MailTransport();
// Installs transport (null restores the SMTP one) and returns the previous
// one when it was installed this way.
std::unique_ptr<ScrapMailTransport> SetMailTransport(std::unique_ptr<ScrapMailTransport> transport);

// The recipient named by an entry of the recipient box: the text inside the
// last brackets when the entry ends with ")" (an address-book entry), else
// the entry as typed; blanks around it are dropped.
std::string RecipientOf(const std::string& entry);

// Sends the snapshot and files to recipient from sender through host. With
// no address in sender or recipient nothing is sent and the user is told
// which is missing. The busy cursor shows while the mail goes out; a failure
// passes out to the caller with the cursor restored.
void SendScrapMail(const std::string& host, const std::string& recipient,
                   const std::vector<std::string>& files, const std::string& subject,
                   const std::string& sender);

// The whole command on a note: snapshot first, before the dialog covers the
// note; then the dialog; then the mail.
void EmailScrap(TScrapForm& note);

}  // namespace jw
