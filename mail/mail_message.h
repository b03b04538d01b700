// The internet message: T_MailNews composes header lines and body, T_Mail
// adds the recipient lines and sends the result through a T_SMTP.
#pragma once

#include <string>

#include "mail/mail_lines.h"
#include "mail/smtp.h"
#include "platform/rtl/component.h"
#include "platform/rtl/string_list.h"

namespace jw {

class T_MailNews : public TComponent {
 public:
  explicit T_MailNews(TComponent* owner);

  const std::string& From() const { return from_; }
  void SetFrom(const std::string& from) { from_ = from; }
  // An optional "Sender: " line, also preferred as the envelope sender.
  const std::string& Sender() const { return sender_; }
  void SetSender(const std::string& sender) { sender_ = sender; }
  const std::string& Subject() const { return subject_; }
  void SetSubject(const std::string& subject) { subject_ = subject; }
  const std::string& References() const { return references_; }
  void SetReferences(const std::string& references) { references_ = references; }
  const std::string& ReplyTo() const { return reply_to_; }
  void SetReplyTo(const std::string& reply_to) { reply_to_ = reply_to; }

  TMailLines& Body() { return body_; }
  // Extra header lines, placed after the standard ones.
  TStringList& Header() { return header_; }
  // Copy the list, or clear when given none.
  void SetBody(const TStrings* body);
  void SetHeader(const TStrings* header);

  // The message as composed for sending.
  TMailLines& Lines() { return lines_; }

  // Composes the message into Lines, around what is there already: From,
  // Message-ID, Date, Subject, the lines there before, Sender, References,
  // Reply-To, Header, an empty line, Body. Non-ASCII text in the subject and
  // in display names goes out as encoded-words; long header lines are
  // folded. A header value or Header line with a line break raises
  // ETcpIpError before anything changes.
  virtual void Action();

 private:
  std::string from_;
  std::string sender_;
  std::string subject_;
  TMailLines body_;
  TStringList header_;
  TMailLines lines_;
  std::string references_;
  std::string reply_to_;
};

class T_Mail : public T_MailNews {
 public:
  explicit T_Mail(TComponent* owner);
  ~T_Mail() override;

  // The client that sends; not owned (it is forgotten when it is freed).
  T_SMTP* SMTP() const { return smtp_; }
  void SetSMTP(T_SMTP* smtp);

  // Free-text address lines.
  TStringList& Recipients() { return recipients_; }
  TStringList& CC() { return cc_; }
  TStringList& BCC() { return bcc_; }
  void SetRecipients(const TStrings* recipients);
  void SetCC(const TStrings* cc);
  void SetBCC(const TStrings* bcc);

  // When set, the header names no recipients.
  bool Disclose_Receipts() const { return disclose_receipts_; }
  void SetDisclose_Receipts(bool disclose) { disclose_receipts_ = disclose; }

  // Composes and sends the message. Nothing happens without SMTP, a
  // recipient or From; an envelope sender without an e-mail address raises
  // ETcpIpError (T_SMTP::Action). The composed lines, and a sender filled in
  // for this send, are cleared afterwards whether the send succeeds or
  // raises.
  void Action() override;

  void Notification(TComponent* component, TOperation operation) override;

 private:
  T_SMTP* smtp_ = nullptr;
  TStringList recipients_;
  TStringList cc_;
  TStringList bcc_;
  bool disclose_receipts_ = false;
};

// Whole seconds from 1970-01-01 00:00 to now in local time, rounded; the
// start of Message-ID and of the outer MIME boundary.
int64_t LocalSecondsSince1970();

// A new message identifier: "<" seconds "." eight random hex digits "@"
// this host ">". The random part keeps mails of the same second apart.
std::string MessageId();

}  // namespace jw
