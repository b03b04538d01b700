// The SMTP client (T_SMTP): sends one composed message to a mail server over
// a T_TcpIp connection with the fixed dialogue HELO, MAIL FROM, RCPT TO,
// DATA, the dot-stuffed message, QUIT.
#pragma once

#include <string>

#include "mail/header_text.h"
#include "mail/mail_lines.h"
#include "mail/tcpip.h"
#include "platform/rtl/string_list.h"

namespace jw {

// The port of the SMTP service.
constexpr uint16_t kSmtpPort = 25;

class T_SMTP : public T_TcpIp {
 public:
  explicit T_SMTP(TComponent* owner);

  // The envelope sender: the first address of this text is used.
  const std::string& Sender() const { return sender_; }
  void SetSender(const std::string& sender) { sender_ = sender; }
  // This machine's name as sent with HELO, taken at each send.
  const std::string& LocalName() const { return local_name_; }
  // The code and text of the last reply the dialogue checked.
  int ReplyCode() const { return reply_code_; }
  const std::string& ReplyText() const { return reply_text_; }

  // Free-text address lines; each line may hold several addresses.
  TStringList& Recipients() { return recipients_; }
  // The whole message: header lines, an empty line, the body.
  TMailLines& MessageLines() { return message_lines_; }
  // Copy the list, or clear when given none.
  void SetRecipients(const TStrings* recipients);
  void SetMessageLines(const TStrings* lines);

  // Reads one reply, continuation lines included; code and text come from
  // its first line. The whole reply must come within the timeout and in at
  // most 100 lines. A reply that does not start with three digits, is
  // longer, or a connection that closes first, raises EProtocolError with
  // code 0; a failed or timed-out receive raises ESocketError with its
  // WinSock number.
  void ReadReply();

  // Sends the message lines to every recipient. Nothing happens without
  // recipients or message lines. A sender without an e-mail address (no
  // "@") raises ETcpIpError before anything is sent. A refusing reply to
  // HELO, MAIL FROM or the end of the message, and any reply to DATA but
  // 354, raise EProtocolError; refused recipients are left to the server's
  // answer to the message.
  void Action() override;

 private:
  // One line of a reply, traced; raises as ReadReply says when the line
  // did not come whole.
  std::string ReadReplyLine();
  // Raises EProtocolError when the last reply is 300 or more.
  void CheckReply();

  std::string sender_;
  std::string local_name_;
  int reply_code_ = 0;
  std::string reply_text_;
  TStringList recipients_;
  TMailLines message_lines_;
};

}  // namespace jw
