#include "mail/mail_message.h"

#include <cmath>

#include "mail/header_text.h"
#include "mail/mail_date.h"
#include "platform/rtl/date_time.h"
#include "platform/rtl/random.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

void CopyOrClear(TStrings& target, const TStrings* source) {
  if (source != nullptr) {
    target.Assign(*source);
  } else {
    target.Clear();
  }
}

void RefuseLineBreaksIn(const TStrings& lines, const std::string& what) {
  for (int i = 0; i < lines.Count(); ++i) RefuseLineBreaks(lines.Strings(i), what);
}

void RefuseControlBytesIn(const TStrings& lines, const std::string& what) {
  for (int i = 0; i < lines.Count(); ++i) RefuseControlBytes(lines.Strings(i), what);
}

// Every address line in one field, as a message may hold one To and one CC
// field only; blank lines name no one.
std::string JoinedAddressLines(const TStrings& lines) {
  std::string list;
  for (int i = 0; i < lines.Count(); ++i) {
    const std::string line = Trim(lines.Strings(i));
    if (line.empty()) continue;
    if (!list.empty()) list += ", ";
    list += line;
  }
  return list;
}

}  // namespace

int64_t LocalSecondsSince1970() {
  return std::llround((Now() - EncodeDate(1970, 1, 1)) * kSecsPerDay);
}

T_MailNews::T_MailNews(TComponent* owner) : TComponent(owner) {}

void T_MailNews::SetBody(const TStrings* body) {
  CopyOrClear(body_, body);
}

void T_MailNews::SetHeader(const TStrings* header) {
  CopyOrClear(header_, header);
}

std::string MessageId() {
  return "<" + IntToStr(LocalSecondsSince1970()) + "." + IntToHex(int32_t{Random(0x10000)}, 4) +
         IntToHex(int32_t{Random(0x10000)}, 4) + "@" + LocalHostName() + ">";
}

void T_MailNews::Action() {
  RefuseLineBreaks(from_, "From");
  RefuseLineBreaks(sender_, "Sender");
  RefuseLineBreaks(subject_, "Subject");
  RefuseControlBytes(references_, "References");
  RefuseLineBreaks(reply_to_, "Reply-To");
  RefuseControlBytesIn(header_, "header line");
  TStringList fields;
  fields.Add(AddressField("From", from_));
  fields.Add("Message-ID: " + MessageId());
  fields.Add("Date: " + InternetDate(Now()));
  fields.Add(UnstructuredField("Subject", subject_));
  fields.AddStrings(lines_);
  if (!sender_.empty()) fields.Add(AddressField("Sender", sender_));
  if (!references_.empty()) fields.Add("References: " + references_);
  if (!reply_to_.empty()) fields.Add(AddressField("Reply-To", reply_to_));
  fields.AddStrings(header_);
  lines_.Clear();
  for (int i = 0; i < fields.Count(); ++i) AddFoldedHeaderLine(lines_, fields.Strings(i));
  lines_.Add("");
  lines_.AddLines(body_);
}

T_Mail::T_Mail(TComponent* owner) : T_MailNews(owner) {}

T_Mail::~T_Mail() {
  SetSMTP(nullptr);
}

void T_Mail::SetSMTP(T_SMTP* smtp) {
  if (smtp_ == smtp) return;
  if (smtp_ != nullptr) RemoveFreeNotification(smtp_);
  smtp_ = smtp;
  if (smtp_ != nullptr) FreeNotification(smtp_);
}

void T_Mail::Notification(TComponent* component, TOperation operation) {
  T_MailNews::Notification(component, operation);
  if (operation == opRemove && component == smtp_) smtp_ = nullptr;
}

void T_Mail::SetRecipients(const TStrings* recipients) {
  CopyOrClear(recipients_, recipients);
}

void T_Mail::SetCC(const TStrings* cc) {
  CopyOrClear(cc_, cc);
}

void T_Mail::SetBCC(const TStrings* bcc) {
  CopyOrClear(bcc_, bcc);
}

void T_Mail::Action() {
  if (smtp_ == nullptr || recipients_.Count() == 0 || From().empty()) return;
  RefuseLineBreaksIn(recipients_, "recipient line");
  RefuseLineBreaksIn(cc_, "CC line");
  RefuseLineBreaksIn(bcc_, "BCC line");
  const bool fill_sender = smtp_->Sender().empty();
  if (fill_sender) smtp_->SetSender(Sender().empty() ? From() : Sender());
  // Whatever happens, the next send starts from empty composed lines and
  // from the sender the caller gave.
  struct Cleanup {
    T_Mail& mail;
    bool clear_sender;
    ~Cleanup() {
      mail.Lines().Clear();
      if (clear_sender && mail.smtp_ != nullptr) mail.smtp_->SetSender("");
    }
  } cleanup{*this, fill_sender};

  if (disclose_receipts_) {
    Lines().Add("To: disclosed recipients list");
  } else {
    Lines().Add(AddressField("To", JoinedAddressLines(recipients_)));
  }
  smtp_->SetRecipients(&recipients_);
  const std::string cc = JoinedAddressLines(cc_);
  if (!cc.empty()) Lines().Add(AddressField("CC", cc));
  for (int i = 0; i < cc_.Count(); ++i) smtp_->Recipients().Add(cc_.Strings(i));
  for (int i = 0; i < bcc_.Count(); ++i) smtp_->Recipients().Add(bcc_.Strings(i));
  T_MailNews::Action();
  smtp_->MessageLines().AssignLines(Lines());
  smtp_->Action();
}

}  // namespace jw
