#include "mail/smtp.h"

#include <vector>

#include "mail/address_text.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

const char kProtocol[] = "SMTP";

// SMTP's reply to DATA that asks for the message.
constexpr int kStartMailInput = 354;

// The most lines one reply may have. Real replies have a few (a greeting,
// the extensions list); a peer that sends more is not a mail server.
constexpr int kMaxReplyLines = 100;

// The message goes out in blocks of about this size.
constexpr size_t kSendBlockOctets = 64 * 1024;

bool StartsWithThreeDigits(const std::string& line) {
  if (line.size() < 3) return false;
  for (int i = 0; i < 3; ++i) {
    if (line[i] < '0' || line[i] > '9') return false;
  }
  return true;
}

}  // namespace

T_SMTP::T_SMTP(TComponent* owner) : T_TcpIp(owner) {
  SetPort(kSmtpPort);
}

void T_SMTP::SetRecipients(const TStrings* recipients) {
  if (recipients != nullptr) {
    recipients_.Assign(*recipients);
  } else {
    recipients_.Clear();
  }
}

void T_SMTP::SetMessageLines(const TStrings* lines) {
  if (lines != nullptr) {
    message_lines_.Assign(*lines);
  } else {
    message_lines_.Clear();
  }
}

std::string T_SMTP::ReadReplyLine() {
  std::string line = ReadLine(socket_);
  Trace(line, kTraceReply);
  // A line cut short by the end of the stream or a failure is no reply.
  if (Error()) {
    if (LastError() != 0) {
      throw ESocketError("Error receiving reply", static_cast<uint16_t>(LastError()));
    }
    throw EProtocolError("Connection closed by server", 0, kProtocol);
  }
  return line;
}

void T_SMTP::ReadReply() {
  const TReceiveDeadline deadline(*this);
  std::string line = ReadReplyLine();
  if (!StartsWithThreeDigits(line)) throw EProtocolError("Malformed reply: " + line, 0, kProtocol);
  reply_code_ = std::stoi(line.substr(0, 3));
  reply_text_ = line.size() > 4 ? line.substr(4) : std::string();
  // Continuation lines have "-" after the code; the last line has a blank.
  for (int count = 1; line.find('-') == 3; ++count) {
    if (count == kMaxReplyLines) {
      throw EProtocolError("Reply longer than " + IntToStr(int32_t{kMaxReplyLines}) + " lines", 0,
                           kProtocol);
    }
    line = ReadReplyLine();
  }
}

void T_SMTP::CheckReply() {
  if (reply_code_ >= 300) {
    throw EProtocolError(reply_text_, static_cast<uint16_t>(reply_code_), kProtocol);
  }
}

void T_SMTP::Action() {
  if (recipients_.Count() == 0 || message_lines_.Count() == 0) return;
  RefuseLineBreaks(sender_, "sender");
  // Without an address MAIL FROM would name the null reverse path, and the
  // server would take the mail as one that no bounce may ever answer.
  if (AddressFrom(sender_, 1).empty()) {
    throw ETcpIpError("No address in sender \"" + sender_ + "\"");
  }
  RefuseControlBytes(AddressFrom(sender_, 1), "sender address");
  // Every address is checked before the connection is made, so a refused
  // one leaves no half-done dialogue behind.
  std::vector<std::string> addresses;
  for (int i = 0; i < recipients_.Count(); ++i) {
    const std::string line = recipients_.Strings(i);
    RefuseLineBreaks(line, "recipient line");
    for (int n = 1;; ++n) {
      std::string address = AddressFrom(line, n);
      if (address.empty()) break;
      RefuseControlBytes(address, "recipient address");
      addresses.push_back(std::move(address));
    }
  }
  message_lines_.ForEach([](const std::string& line) { RefuseLineBreaks(line, "message line"); });
  Login();
  local_name_ = LocalHostName();
  ReadReply();  // the greeting; any code will do
  SendCommand("HELO " + local_name_);
  ReadReply();
  CheckReply();
  SendCommand("MAIL FROM: <" + AddressFrom(sender_, 1) + ">");
  ReadReply();
  CheckReply();
  for (const std::string& address : addresses) {
    SendCommand("RCPT TO: <" + address + ">");
    ReadReply();
  }
  SendCommand("DATA");
  ReadReply();
  if (reply_code_ != kStartMailInput) {
    throw EProtocolError(reply_text_, static_cast<uint16_t>(reply_code_), kProtocol);
  }
  // Lines go out in blocks, a system call for many lines.
  std::string block;
  message_lines_.ForEach([&](const std::string& line) {
    // A line that starts with "." gets one more, which the server takes off
    // again; so no line can end the data early.
    if (line.starts_with('.')) block += '.';
    block += line;
    block += "\r\n";
    if (block.size() >= kSendBlockOctets) {
      SendText(socket_, block);
      block.clear();
    }
  });
  SendText(socket_, block + ".\r\n");
  ReadReply();
  CheckReply();
  // The message is accepted; the caller keeps the server's answer to it.
  const int accepted_code = reply_code_;
  const std::string accepted_text = reply_text_;
  SendCommand("QUIT");
  try {
    ReadReply();
  } catch (const ETcpIpError&) {
    // The message is delivered; a server that hangs up without answering
    // QUIT loses nothing, and reporting a failure would make the user send
    // the mail twice.
  }
  Logout();
  reply_code_ = accepted_code;
  reply_text_ = accepted_text;
}

}  // namespace jw
