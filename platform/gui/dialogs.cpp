#include "platform/gui/dialogs.h"

#include <QColorDialog>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdlib>

#include "platform/gui/application.h"
#include "platform/gui/qt_convert.h"

namespace jw {

namespace {

std::unique_ptr<DialogService>& Installed() {
  static std::unique_ptr<DialogService> service;
  return service;
}

// "Text|*.a;*.b|Other|*.c" becomes "Text (*.a *.A *.b *.B);;Other (*.c *.C)":
// paper and sound names written elsewhere may be upper case.
QString QtFilter(const std::string& filter) {
  const QStringList parts = ToQString(filter).split('|');
  QStringList entries;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns;
    for (const QString& pattern : parts[i + 1].split(';', Qt::SkipEmptyParts)) {
      patterns << pattern.trimmed();
      if (pattern.toUpper() != pattern) patterns << pattern.trimmed().toUpper();
    }
    entries << parts[i] + " (" + patterns.join(' ') + ")";
  }
  return entries.join(";;");
}

// The colour button shows the colour with its name written on it in black or
// white, whichever reads on it.
// A dialog waits for the user: it stays above the windows that stay on top
// (notes), which would cover its buttons.
void KeepAbove(QWidget& dialog) {
  dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
}

void SetButton(QPushButton* button, const QColor& colour) {
  const QString text_colour = colour.lightnessF() > 0.5 ? "black" : "white";
  button->setText(colour.name());
  button->setStyleSheet("background-color: " + colour.name() + "; color: " + text_colour);
}

// The chooser picks a face of the family by its style name; without one it
// can land on another face than the font's ("Oblique" for a regular font).
// The face whose weight and slant are the font's, the upright width first.
QString FaceOf(const QFont& font) {
  QString best;
  int best_distance = 0;
  for (const QString& style : QFontDatabase::styles(font.family())) {
    const QFont face = QFontDatabase::font(font.family(), style, font.pointSize());
    if (face.italic() != font.italic() || face.bold() != font.bold()) continue;
    const int distance =
        std::abs(face.weight() - font.weight()) + std::abs(face.stretch() - QFont::Unstretched);
    if (best.isEmpty() || distance < best_distance) {
      best = style;
      best_distance = distance;
    }
  }
  return best;
}

}  // namespace

DialogService& Dialogs() {
  static QtDialogService qt;
  DialogService* installed = Installed().get();
  return installed != nullptr ? *installed : qt;
}

std::unique_ptr<DialogService> SetDialogService(std::unique_ptr<DialogService> service) {
  std::swap(Installed(), service);
  return service;
}

TModalResult MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons) {
  std::string caption;
  switch (type) {
    case TMsgDlgType::mtWarning:
      caption = "Warning";
      break;
    case TMsgDlgType::mtError:
      caption = "Error";
      break;
    case TMsgDlgType::mtInformation:
      caption = "Information";
      break;
    case TMsgDlgType::mtConfirmation:
      caption = "Confirm";
      break;
    case TMsgDlgType::mtCustom:
      caption = Application != nullptr ? Application->Title() : std::string();
      break;
  }
  return Dialogs().MessageBox(caption, text, type, buttons);
}

void ShowMessage(const std::string& text) {
  Dialogs().MessageBox(Application != nullptr ? Application->Title() : std::string(), text,
                       TMsgDlgType::mtCustom, mbOK);
}

bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) {
  return Dialogs().InputQuery(caption, prompt, value);
}

TFontDialog::TFontDialog(TComponent* owner) : TComponent(owner) {}

bool TFontDialog::Execute() {
  return Dialogs().ChooseFont(font_);
}

TOpenDialog::TOpenDialog(TComponent* owner) : TComponent(owner) {}

bool TOpenDialog::Execute() {
  TOpenFileRequest request = request_;
  request.FileName = file_name_;
  std::string chosen;
  if (!Dialogs().ChooseOpenFile(request, chosen)) return false;
  file_name_ = chosen;
  return true;
}

TOpenPictureDialog::TOpenPictureDialog(TComponent* owner) : TOpenDialog(owner) {
  SetFilter("All (*.bmp;*.ico)|*.bmp;*.ico|Bitmaps (*.bmp)|*.bmp|Icons (*.ico)|*.ico");
}

bool QtDialogService::ChooseFont(TFont& font) {
  // Qt's font dialog has no colour; it sits in a box with a colour button.
  QDialog box;
  KeepAbove(box);
  box.setWindowTitle("Font");
  auto* layout = new QVBoxLayout(&box);
  auto* chooser = new QFontDialog(&box);
  // A dialog is a window of its own even with a parent; as a plain widget
  // it sits inside the box and shows with it.
  chooser->setWindowFlags(Qt::Widget);
  chooser->setOptions(QFontDialog::DontUseNativeDialog | QFontDialog::NoButtons);
  QFont start = font.ToQFont();
  start.setPointSize(std::max(1, font.Size()));
  if (const QString face = FaceOf(start); !face.isEmpty()) start.setStyleName(face);
  chooser->setCurrentFont(start);
  layout->addWidget(chooser);
  // Escape (or Return) in the chooser ends the chooser's own dialog; it
  // ends the box instead of leaving it empty.
  QObject::connect(chooser, &QDialog::finished, &box, &QDialog::done);
  QColor colour = ToQColor(font.Color());
  auto* colour_row = new QHBoxLayout;
  auto* colour_label = new QLabel("&Color:", &box);
  auto* colour_button = new QPushButton(&box);
  colour_label->setBuddy(colour_button);
  SetButton(colour_button, colour);
  QObject::connect(colour_button, &QPushButton::clicked, [&] {
    QColorDialog colours(colour, &box);
    KeepAbove(colours);
    colours.setWindowTitle("Color");
    colours.setOption(QColorDialog::DontUseNativeDialog);
    if (colours.exec() == QDialog::Accepted) {
      colour = colours.selectedColor();
      SetButton(colour_button, colour);
    }
  });
  colour_row->addWidget(colour_label);
  colour_row->addWidget(colour_button, 1);
  layout->addLayout(colour_row);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &box);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &box, &QDialog::reject);
  layout->addWidget(buttons);
  if (box.exec() != QDialog::Accepted) return false;
  const QFont chosen = chooser->currentFont();
  font.SetName(FromQString(chosen.family()));
  font.SetSize(chosen.pointSize());
  TFontStyles style = 0;
  if (chosen.bold()) style |= fsBold;
  if (chosen.italic()) style |= fsItalic;
  if (chosen.underline()) style |= fsUnderline;
  if (chosen.strikeOut()) style |= fsStrikeOut;
  font.SetStyle(style);
  font.SetColor(FromQColor(colour));
  return true;
}

bool QtDialogService::ChooseOpenFile(const TOpenFileRequest& request, std::string& file_name) {
  QFileDialog dialog(nullptr, ToQString(request.Title.empty() ? "Open" : request.Title),
                     ToQString(request.InitialDir), QtFilter(request.Filter));
  KeepAbove(dialog);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(request.MustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  if (!request.FileName.empty()) dialog.selectFile(ToQString(request.FileName));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  file_name = FromQString(dialog.selectedFiles().front());
  return true;
}

bool QtDialogService::InputQuery(const std::string& caption, const std::string& prompt,
                                 std::string& value) {
  QInputDialog dialog;
  KeepAbove(dialog);
  dialog.setOption(QInputDialog::UsePlainTextEditForTextInput, false);
  dialog.setWindowTitle(ToQString(caption));
  dialog.setLabelText(ToQString(prompt));
  dialog.setTextValue(ToQString(value));
  if (dialog.exec() != QDialog::Accepted) return false;
  value = FromQString(dialog.textValue());
  return true;
}

TModalResult QtDialogService::MessageBox(const std::string& caption, const std::string& text,
                                         TMsgDlgType type, TMsgDlgButtons buttons) {
  QMessageBox box;
  KeepAbove(box);
  box.setWindowTitle(ToQString(caption));
  box.setText(ToQString(text));
  switch (type) {
    case TMsgDlgType::mtWarning:
      box.setIcon(QMessageBox::Warning);
      break;
    case TMsgDlgType::mtError:
      box.setIcon(QMessageBox::Critical);
      break;
    case TMsgDlgType::mtInformation:
      box.setIcon(QMessageBox::Information);
      break;
    case TMsgDlgType::mtConfirmation:
      box.setIcon(QMessageBox::Question);
      break;
    case TMsgDlgType::mtCustom:
      box.setIcon(QMessageBox::NoIcon);
      break;
  }
  struct Pair {
    TMsgDlgBtn ours;
    QMessageBox::StandardButton qt;
    TModalResult result;
  };
  static constexpr Pair kButtons[] = {
      {mbYes, QMessageBox::Yes, mrYes},
      {mbNo, QMessageBox::No, mrNo},
      {mbOK, QMessageBox::Ok, mrOk},
      {mbCancel, QMessageBox::Cancel, mrCancel},
      {mbAbort, QMessageBox::Abort, mrAbort},
      {mbRetry, QMessageBox::Retry, mrRetry},
      {mbIgnore, QMessageBox::Ignore, mrIgnore},
  };
  QMessageBox::StandardButtons standard;
  for (const Pair& p : kButtons) {
    if (buttons & p.ours) standard |= p.qt;
  }
  if (standard == QMessageBox::NoButton) standard = QMessageBox::Ok;
  box.setStandardButtons(standard);
  if (buttons & mbCancel) {
    box.setEscapeButton(QMessageBox::Cancel);
  } else if (buttons & mbNo) {
    box.setEscapeButton(QMessageBox::No);
  }
  const int clicked = box.exec();
  for (const Pair& p : kButtons) {
    if (clicked == p.qt) return p.result;
  }
  return (buttons & mbCancel) || !(buttons & mbNo) ? mrCancel : mrNo;
}

TModalResult QtDialogService::ShowModal(TCustomForm& form) {
  return form.ShowModal();
}

}  // namespace jw
