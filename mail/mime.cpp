#include "mail/mime.h"

#include <cmath>
#include <memory>
#include <vector>

#include "mail/address_text.h"
#include "mail/encoders.h"
#include "mail/header_text.h"
#include "platform/rtl/date_time.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

// The footer link of the HTML page.
const char kMakerAddress[] = "https://www.brightfern.example/jotterwick";

// The lines hold a copy of the data as it is now, encoded as they are sent.
void AddBase64(TMailLines& body, TMemoryStream& data) {
  const auto* bytes = static_cast<const uint8_t*>(data.Memory());
  body.AddBase64(std::make_shared<const std::vector<uint8_t>>(bytes, bytes + data.Size()));
}

}  // namespace

std::string OuterMimeBoundary() {
  const uint32_t address = LocalIpAddress();
  const auto* bytes = reinterpret_cast<const uint8_t*>(&address);
  const int64_t little_endian = int64_t{bytes[0]} | int64_t{bytes[1]} << 8 |
                                int64_t{bytes[2]} << 16 | int64_t{bytes[3]} << 24;
  return IntToStr(LocalSecondsSince1970()) + IntToHex(little_endian, 8) + "==";
}

std::string InnerMimeBoundary() {
  const int64_t seconds = std::llround((Now() - EncodeDate(1980, 1, 1)) * kSecsPerDay);
  return IntToStr(seconds) + "-BOUNDARY2-==";
}

void T_Attachment::LoadFromStream(TStream* stream) {
  text_lines_.Clear();
  if (stream != nullptr) {
    data_.LoadFromStream(*stream);
  } else {
    data_.Clear();
  }
}

T_Mime::T_Mime(TComponent* owner) : TComponent(owner) {}

T_Mime::~T_Mime() {
  SetMail(nullptr);
  ClearAttachments();
}

void T_Mime::SetMail(T_MailNews* mail) {
  if (mail_ == mail) return;
  if (mail_ != nullptr) RemoveFreeNotification(mail_);
  mail_ = mail;
  if (mail_ != nullptr) FreeNotification(mail_);
}

void T_Mime::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == mail_) mail_ = nullptr;
}

int T_Mime::AttachFile(const std::string& path) {
  const std::string name = FileNameOf(path);
  RefuseLineBreaks(name, "attachment file name");
  auto attachment = std::make_unique<T_Attachment>();
  const size_t dot = name.rfind('.');
  const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
  attachment->SetContentType(UpperCase(extension) == ".JPG" ? "image/jpeg"
                                                            : "application/octet-stream");
  attachment->SetEncoding(kMimeBase64);
  TFileStream file(path, fmOpenRead);
  attachment->LoadFromStream(&file);
  attachment->SetContentDisposition("attachment; " + MimeParameter("filename", name));
  attachments_.push_back(std::move(attachment));
  return AttachmentCount() - 1;
}

void T_Mime::ClearAttachments() {
  attachments_.clear();
}

T_Attachment& T_Mime::Attachments(int index) {
  if (index < 0 || index >= AttachmentCount()) {
    throw EListError("List index out of bounds (" + IntToStr(int32_t{index}) + ")");
  }
  return *attachments_[static_cast<size_t>(index)];
}

void T_Mime::BuildAndSend() {
  if (mail_ == nullptr) return;
  T_Attachment& picture = Attachments(0);
  boundary_ = OuterMimeBoundary();
  const std::string inner = InnerMimeBoundary();
  mail_->Header().Add("MIME-Version: 1.0");
  mail_->Header().Add("Content-Type: multipart/mixed; boundary=\"" + boundary_ + "\"");

  TMailLines& body = mail_->Body();
  body.Add("");
  body.Add("--" + boundary_);
  body.Add("Content-Type: multipart/related; boundary=\"" + inner + "\"");
  body.Add("");
  body.Add("--" + inner);
  body.Add("Content-Type: text/html; charset=\"us-ascii\"");
  body.Add("");
  body.Add("<HTML>");
  body.Add("<CENTER>");
  body.Add("<IMG src=\"cid:jotterwick\" alt=\"EmailImage.jpg\">");
  body.Add("<BR><FONT color=#0c66f0 size=2>Jotterwick 1.0 from");
  body.Add(std::string("<A HREF=\"") + kMakerAddress + "\">Brightfern </A></FONT>");
  body.Add("</CENTER>");
  body.Add("</HTML>");
  body.Add("");
  body.Add("--" + inner);
  body.Add("Content-Type: image/jpeg; name=\"EmailImage.jpg\"");
  body.Add("Content-ID: <jotterwick>");
  body.Add("Content-Transfer-Encoding: base64");
  body.Add("Content-Disposition: inline; filename=\"EmailImage.jpg\"");
  body.Add("");
  AddBase64(body, picture.Data());
  body.Add("");
  body.Add("--" + inner + "--");

  for (int i = 1; i < AttachmentCount(); ++i) {
    T_Attachment& attachment = *attachments_[static_cast<size_t>(i)];
    body.Add("");
    body.Add("--" + boundary_);
    AddFoldedHeaderLine(body, "Content-Type: " + attachment.ContentType());
    if (!attachment.ContentDisposition().empty()) {
      AddFoldedHeaderLine(body, "Content-Disposition: " + attachment.ContentDisposition());
    }
    if (attachment.Encoding() == kMimeBase64) {
      body.Add("Content-Transfer-Encoding: base64");
    } else if (attachment.Encoding() == kMimeQuotedPrintable) {
      body.Add("Content-Transfer-Encoding: quoted-printable");
    }
    body.Add("");
    if (attachment.Encoding() == kMimeBase64) {
      AddBase64(body, attachment.Data());
    } else {
      for (int j = 0; j < attachment.TextLines().Count(); ++j) {
        for (const std::string& line : QuotedPrintableLine(attachment.TextLines().Strings(j))) {
          body.Add(line);
        }
      }
    }
  }
  body.Add("");
  body.Add("--" + boundary_ + "--");
  mail_->Action();
}

}  // namespace jw
