// The standard dialogs behind one small service (font with colour, open
// file, input query, message boxes, and the modal run of the application's
// own dialog forms), the host-style calls and components over it, and the Qt
// implementation that production code uses. Tests put a ScriptedDialogs
// (dialogs_scripted.h) in its place.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/gui/font.h"
#include "platform/gui/forms.h"
#include "platform/rtl/component.h"

namespace jw {

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

enum TMsgDlgBtn : uint16_t {
  mbYes = 1,
  mbNo = 2,
  mbOK = 4,
  mbCancel = 8,
  mbAbort = 16,
  mbRetry = 32,
  mbIgnore = 64,
};
using TMsgDlgButtons = uint16_t;

struct TOpenFileRequest {
  std::string Title;
  std::string InitialDir;
  // "Text|pattern;pattern|Text|pattern", as the host writes it.
  std::string Filter;
  std::string FileName;
  bool MustExist = true;
};

class DialogService {
 public:
  virtual ~DialogService() = default;
  // Lets the user choose a font, its colour included; font holds the start
  // value and, when the result is true, the choice.
  virtual bool ChooseFont(TFont& font) = 0;
  // The full path of the chosen file in file_name; false when cancelled.
  virtual bool ChooseOpenFile(const TOpenFileRequest& request, std::string& file_name) = 0;
  // value holds the start text and, when the result is true, the entry.
  virtual bool InputQuery(const std::string& caption, const std::string& prompt,
                          std::string& value) = 0;
  // The button chosen (mrOk, mrYes ...); closing the box gives mrCancel, or
  // mrNo when there is no Cancel button.
  virtual TModalResult MessageBox(const std::string& caption, const std::string& text,
                                  TMsgDlgType type, TMsgDlgButtons buttons) = 0;
  // Runs one of the application's own dialog forms modally and returns how
  // it ended (mrOk, mrCancel ...).
  virtual TModalResult ShowModal(TCustomForm& form) = 0;
};

// The current service; the Qt one until another is installed.
DialogService& Dialogs();
// Installs service (null restores the Qt one) and returns the previous one
// when it was installed this way.
std::unique_ptr<DialogService> SetDialogService(std::unique_ptr<DialogService> service);

// The host's calls. MessageDlg captions the box "Warning", "Error",
// "Information" or "Confirm" by type, and the application title for
// mtCustom; ShowMessage uses the title with no icon.
TModalResult MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons);
void ShowMessage(const std::string& text);
bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value);

class TFontDialog : public TComponent {
 public:
  explicit TFontDialog(TComponent* owner);
  TFont& Font() { return font_; }
  bool Execute();

 private:
  TFont font_;
};

class TOpenDialog : public TComponent {
 public:
  explicit TOpenDialog(TComponent* owner);
  const std::string& InitialDir() const { return request_.InitialDir; }
  void SetInitialDir(const std::string& dir) { request_.InitialDir = dir; }
  const std::string& FileName() const { return file_name_; }
  void SetFileName(const std::string& name) { file_name_ = name; }
  const std::string& Filter() const { return request_.Filter; }
  void SetFilter(const std::string& filter) { request_.Filter = filter; }
  const std::string& Title() const { return request_.Title; }
  void SetTitle(const std::string& title) { request_.Title = title; }
  void SetMustExist(bool on) { request_.MustExist = on; }
  // True when a file was chosen; FileName then holds its full path.
  bool Execute();

 private:
  TOpenFileRequest request_;
  std::string file_name_;
};

// An open dialog for pictures: bitmaps and icons by default.
class TOpenPictureDialog : public TOpenDialog {
 public:
  explicit TOpenPictureDialog(TComponent* owner);
};

// The service over Qt's own (non-native) dialogs.
class QtDialogService : public DialogService {
 public:
  bool ChooseFont(TFont& font) override;
  bool ChooseOpenFile(const TOpenFileRequest& request, std::string& file_name) override;
  bool InputQuery(const std::string& caption, const std::string& prompt,
                  std::string& value) override;
  TModalResult MessageBox(const std::string& caption, const std::string& text, TMsgDlgType type,
                          TMsgDlgButtons buttons) override;
  TModalResult ShowModal(TCustomForm& form) override;
};

}  // namespace jw
