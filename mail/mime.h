// The MIME builder: T_Mime turns a T_MailNews into a multipart/mixed mail
// whose first part is a multipart/related HTML page showing the first
// attachment inline as "EmailImage.jpg" (Content-ID <jotterwick>), followed
// by every further attachment (T_Attachment) as a part of its own.
//
//   From .. Subject, recipients, MIME-Version, Content-Type: multipart/mixed
//   --outer   multipart/related
//     --inner text/html        the page with <IMG src="cid:jotterwick">
//     --inner image/jpeg       the first attachment, base64
//     --inner--
//   --outer   each further attachment
//   --outer--
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mail/mail_message.h"
#include "platform/rtl/component.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/string_list.h"

namespace jw {

// Transfer encodings of an attachment.
constexpr uint8_t kMimeBase64 = 0;
constexpr uint8_t kMimeQuotedPrintable = 1;
constexpr uint8_t kMimeNoEncoding = 2;

class T_Attachment {
 public:
  const std::string& ContentType() const { return content_type_; }
  void SetContentType(const std::string& type) { content_type_ = type; }
  const std::string& ContentDisposition() const { return content_disposition_; }
  void SetContentDisposition(const std::string& disposition) { content_disposition_ = disposition; }
  // The bytes sent base64-encoded.
  TMemoryStream& Data() { return data_; }
  // The lines sent with the other encodings.
  TStringList& TextLines() { return text_lines_; }
  uint8_t Encoding() const { return encoding_; }
  void SetEncoding(uint8_t encoding) { encoding_ = encoding; }

  // Clears the text lines and copies the whole stream into the data; with
  // no stream, clears the data.
  void LoadFromStream(TStream* stream);

 private:
  std::string content_type_;
  std::string content_disposition_;
  TMemoryStream data_;
  TStringList text_lines_;
  uint8_t encoding_ = kMimeNoEncoding;
};

class T_Mime : public TComponent {
 public:
  explicit T_Mime(TComponent* owner);
  ~T_Mime() override;

  // The mail that is built into and sent; not owned (it is forgotten when
  // it is freed).
  T_MailNews* Mail() const { return mail_; }
  void SetMail(T_MailNews* mail);

  // Attaches a file read whole now: "image/jpeg" for the extension ".JPG"
  // (any case), else "application/octet-stream", base64, disposition
  // attachment with the file's name without folders as its filename
  // parameter (MimeParameter: quoted, or RFC 2231 when not ASCII). A file
  // that cannot be read raises EFOpenError and leaves the list unchanged.
  // Returns the index.
  int AttachFile(const std::string& path);
  void ClearAttachments();
  int AttachmentCount() const { return static_cast<int>(attachments_.size()); }
  // EListError outside the list.
  T_Attachment& Attachments(int index);

  // The outer boundary of the last build.
  const std::string& Boundary() const { return boundary_; }

  // Adds the MIME header lines and parts to the mail's Header and Body (on
  // top of what they hold) and runs the mail's Action, which sends a
  // T_Mail. Nothing happens without a mail; without an attachment it raises
  // EListError before anything is changed.
  void BuildAndSend();

  void Notification(TComponent* component, TOperation operation) override;

 private:
  T_MailNews* mail_ = nullptr;
  std::string boundary_;
  std::vector<std::unique_ptr<T_Attachment>> attachments_;
};

// The outer boundary: local seconds since 1970, the local IPv4 address as 8
// hex digits of its bytes read little-endian (192.168.1.5 gives 0501A8C0),
// "==".
std::string OuterMimeBoundary();

// The inner boundary: local seconds since 1980, "-BOUNDARY2-", "==".
std::string InnerMimeBoundary();

}  // namespace jw
