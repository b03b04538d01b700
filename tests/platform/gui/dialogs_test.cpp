#include "platform/gui/dialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFontDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <string>
#include <vector>

namespace jw {
namespace {

// The real font box, offscreen: the user sees the chooser at a usable size,
// and what is chosen in it comes back with the box's colour.
TEST(QtDialogs, FontBoxShowsItsChooserAndReturnsTheChoice) {
  TFont font;
  font.SetName("DejaVu Sans");
  font.SetSize(12);
  font.SetColor(255);
  QTimer::singleShot(0, [] {
    auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    auto* chooser = box->findChild<QFontDialog*>();
    ASSERT_NE(chooser, nullptr);
    EXPECT_TRUE(chooser->isVisible());
    EXPECT_EQ(chooser->window(), box);
    EXPECT_GE(chooser->width(), 300);
    EXPECT_GE(chooser->height(), 200);
    EXPECT_GE(box->height(), chooser->height());
    EXPECT_EQ(chooser->currentFont().family(), "DejaVu Sans");
    EXPECT_EQ(chooser->currentFont().pointSize(), 12);
    QFont choice("DejaVu Serif");
    choice.setPointSize(20);
    choice.setBold(true);
    chooser->setCurrentFont(choice);
    box->accept();
  });
  QtDialogService service;
  ASSERT_TRUE(service.ChooseFont(font));
  EXPECT_EQ(font.Name(), "DejaVu Serif");
  EXPECT_EQ(font.Size(), 20);
  EXPECT_EQ(font.Style(), fsBold);
  EXPECT_EQ(font.Color(), 255);

  // Escape in the chooser cancels the box and leaves the font as it was.
  QTimer::singleShot(0, [] {
    auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(box->findChild<QFontDialog*>(), &escape);
    EXPECT_FALSE(box->isVisible());
    if (box->isVisible()) box->reject();
  });
  EXPECT_FALSE(service.ChooseFont(font));
  EXPECT_EQ(font.Name(), "DejaVu Serif");
}

// The box's colour button is labelled and shows the colour, by name in a
// colour of its own on it.
void ExpectLabelledColour(QDialog& box, const QString& name) {
  QPushButton* colour = nullptr;
  for (auto* label : box.findChildren<QLabel*>()) {
    if (label->text().contains("Color")) colour = qobject_cast<QPushButton*>(label->buddy());
  }
  ASSERT_NE(colour, nullptr) << "no labelled colour button";
  EXPECT_TRUE(colour->isVisible());
  EXPECT_EQ(colour->text(), name);
  EXPECT_EQ(colour->palette().color(QPalette::Button), QColor(name));
  EXPECT_NE(colour->palette().color(colour->foregroundRole()),
            colour->palette().color(colour->backgroundRole()));
}

// OK on the box without a change gives back the font it was opened with,
// whichever of the family's faces that is.
TEST(QtDialogs, FontBoxOkWithoutAChangeKeepsTheStyleAndShowsTheColour) {
  for (const char* family : {"DejaVu Sans", "DejaVu Serif"}) {
    for (const TFontStyles style : {TFontStyles(0), TFontStyles(fsBold), TFontStyles(fsItalic),
                                    TFontStyles(fsBold | fsItalic)}) {
      TFont font;
      font.SetName(family);
      font.SetSize(14);
      font.SetStyle(style);
      font.SetColor(0);
      QTimer::singleShot(0, [] {
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        ExpectLabelledColour(*box, "#000000");
        box->accept();
      });
      QtDialogService service;
      ASSERT_TRUE(service.ChooseFont(font));
      EXPECT_EQ(font.Name(), family);
      EXPECT_EQ(font.Size(), 14) << family << " style " << style;
      EXPECT_EQ(font.Style(), style) << family;
      EXPECT_EQ(font.Color(), 0);
    }
  }
}

// Every dialog of the service, and the colour dialog the font box opens,
// stays above the windows that stay on top (notes); each is cancelled here.
TEST(QtDialogs, EveryDialogStaysAboveTheNotes) {
  std::vector<std::string> seen;
  const auto expect_above = [&seen](const std::string& what) {
    QTimer::singleShot(0, [&seen, what] {
      QWidget* dialog = QApplication::activeModalWidget();
      if (dialog == nullptr) return;
      if (dialog->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) seen.push_back(what);
      if (what == "font") {
        // The colour button opens the colour dialog, which is looked at
        // and cancelled first.
        QTimer::singleShot(0, [&seen] {
          QWidget* colours = QApplication::activeModalWidget();
          if (colours != nullptr && colours->windowFlags().testFlag(Qt::WindowStaysOnTopHint))
            seen.push_back("colour");
          if (auto* open = qobject_cast<QDialog*>(colours)) open->reject();
        });
        for (auto* label : dialog->findChildren<QLabel*>())
          if (auto* button = qobject_cast<QPushButton*>(label->buddy())) button->click();
      }
      if (auto* open = qobject_cast<QDialog*>(dialog)) open->reject();
    });
  };
  QtDialogService service;
  expect_above("message");
  service.MessageBox("Caption", "Text", TMsgDlgType::mtConfirmation, mbOK);
  expect_above("input");
  std::string value = "x";
  service.InputQuery("Caption", "Prompt", value);
  expect_above("open");
  std::string file_name;
  service.ChooseOpenFile(TOpenFileRequest{}, file_name);
  expect_above("font");
  TFont font;
  service.ChooseFont(font);
  EXPECT_EQ(seen, (std::vector<std::string>{"message", "input", "open", "font", "colour"}));
}

}  // namespace
}  // namespace jw
