// The combo box and the list box against their Qt widgets: what the program
// puts in shows, and what the user does comes back.
#include <memory>

#include <gtest/gtest.h>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>

#include "platform/gui/combo_box.h"
#include "platform/gui/forms.h"
#include "platform/gui/list_box.h"

namespace jw {
namespace {

TEST(ComboBox, ListAndTextFollowTheWidgetBothWays) {
  std::unique_ptr<TForm> form(MakeForm<TForm>(nullptr));
  auto* combo = new TComboBox(form.get());
  combo->SetParent(form.get());
  combo->Items().Add("Anna    (anna@x)");
  combo->Items().Add("Bob    (bob@y)");
  combo->SetText("typed");
  form->Handle();
  auto* widget = qobject_cast<QComboBox*>(combo->Handle());
  ASSERT_NE(widget, nullptr);
  EXPECT_EQ(widget->count(), 2);
  EXPECT_EQ(widget->itemText(1), "Bob    (bob@y)");
  EXPECT_EQ(widget->currentText(), "typed");

  // A changed list keeps the text the user sees.
  combo->Items().Add("Carl    (carl@z)");
  EXPECT_EQ(widget->count(), 3);
  EXPECT_EQ(widget->currentText(), "typed");

  widget->lineEdit()->setText("eve@v");
  EXPECT_EQ(combo->Text(), "eve@v");
  widget->setCurrentIndex(0);
  EXPECT_EQ(combo->Text(), "Anna    (anna@x)");
  EXPECT_EQ(widget->count(), 3);  // nothing typed was added to the list
}

TEST(ListBox, SelectionFollowsTheWidgetAndEndsWithAChangeOfItems) {
  std::unique_ptr<TForm> form(MakeForm<TForm>(nullptr));
  auto* list = new TListBox(form.get());
  list->SetParent(form.get());
  for (const char* item : {"a.txt", "b.bin", "c.pdf"}) list->Items().Add(item);
  list->SetItemIndex(2);
  form->Handle();
  auto* widget = qobject_cast<QListWidget*>(list->Handle());
  ASSERT_NE(widget, nullptr);
  EXPECT_EQ(widget->count(), 3);
  EXPECT_EQ(widget->currentRow(), 2);

  widget->setCurrentRow(1);
  EXPECT_EQ(list->ItemIndex(), 1);
  list->Items().Delete(list->ItemIndex());
  EXPECT_EQ(list->ItemIndex(), -1);
  EXPECT_EQ(widget->count(), 2);
  EXPECT_EQ(widget->item(1)->text(), "c.pdf");
  EXPECT_EQ(widget->currentRow(), -1);

  list->SetItemIndex(5);
  EXPECT_EQ(list->ItemIndex(), -1);
}

}  // namespace
}  // namespace jw
