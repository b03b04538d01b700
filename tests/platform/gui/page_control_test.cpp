// The page control: its sheets are its children in order, the tabs follow
// their captions, one page shows at a time, and a tab chosen by the user
// makes its page active and reports the change.
#include "platform/gui/page_control.h"

#include <gtest/gtest.h>

#include <QTabBar>
#include <memory>
#include <string>

#include "platform/gui/application.h"
#include "platform/gui/forms.h"
#include "platform/rtl/exceptions.h"

namespace jw {
namespace {

class PageControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form_.reset(MakeForm<TForm>(nullptr));
    form_->SetBounds(0, 0, 300, 200);
    pages_ = new TPageControl(form_.get());
    pages_->SetParent(form_.get());
    pages_->SetBounds(0, 0, 300, 200);
  }

  TTabSheet* AddSheet(const std::string& caption) {
    auto* sheet = new TTabSheet(form_.get());
    sheet->SetPageControl(pages_);
    sheet->SetCaption(caption);
    return sheet;
  }

  QTabBar& Tabs() {
    auto* tabs = pages_->Handle()->findChild<QTabBar*>();
    EXPECT_NE(tabs, nullptr);
    return *tabs;
  }

  std::unique_ptr<TForm> form_;
  TPageControl* pages_ = nullptr;
};

TEST_F(PageControlTest, TheFirstSheetIsActiveAndTheTabsFollowTheCaptions) {
  TTabSheet* one = AddSheet("One");
  TTabSheet* two = AddSheet("Two");
  EXPECT_EQ(pages_->PageCount(), 2);
  EXPECT_EQ(pages_->Pages(1), two);
  EXPECT_THROW(pages_->Pages(2), EListError);
  EXPECT_EQ(pages_->ActivePage(), one);
  EXPECT_EQ(one->PageControl(), pages_);

  form_->Show();
  ASSERT_EQ(Tabs().count(), 2);
  EXPECT_EQ(Tabs().tabText(1), "Two");
  two->SetCaption("Second");
  EXPECT_EQ(Tabs().tabText(1), "Second");
  EXPECT_TRUE(one->Handle()->isVisible());
  EXPECT_FALSE(two->Handle()->isVisible());
  EXPECT_EQ(one->Top(), TPageControl::kTabHeight);
  EXPECT_GT(one->Width(), 0);
  EXPECT_GT(one->Height(), 0);

  pages_->SetActivePageIndex(1);
  EXPECT_EQ(pages_->ActivePage(), two);
  EXPECT_EQ(Tabs().currentIndex(), 1);
  EXPECT_FALSE(one->Handle()->isVisible());
  EXPECT_TRUE(two->Handle()->isVisible());
  pages_->SetActivePageIndex(5);
  EXPECT_EQ(pages_->ActivePage(), nullptr);
  EXPECT_EQ(pages_->ActivePageIndex(), -1);
}

TEST_F(PageControlTest, AChosenTabActivatesItsPageAndReportsTheChange) {
  AddSheet("One");
  TTabSheet* two = AddSheet("Two");
  int changes = 0;
  pages_->OnChange = [&](TPersistent* sender) {
    EXPECT_EQ(sender, pages_);
    ++changes;
  };
  form_->Show();
  Tabs().setCurrentIndex(1);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(pages_->ActivePage(), two);
  EXPECT_EQ(pages_->ActivePageIndex(), 1);
  pages_->SetActivePageIndex(0);
  EXPECT_EQ(changes, 1);
}

TEST_F(PageControlTest, ASheetThatLeavesTakesItsTabAndHandsOnTheActivePage) {
  TTabSheet* one = AddSheet("One");
  TTabSheet* two = AddSheet("Two");
  TTabSheet* three = AddSheet("Three");
  form_->Show();
  pages_->SetActivePage(two);
  delete two;
  EXPECT_EQ(pages_->PageCount(), 2);
  EXPECT_EQ(pages_->ActivePage(), one);
  ASSERT_EQ(Tabs().count(), 2);
  EXPECT_EQ(Tabs().tabText(1), "Three");

  auto* other = new TPageControl(form_.get());
  other->SetParent(form_.get());
  three->SetPageControl(other);
  EXPECT_EQ(pages_->PageCount(), 1);
  EXPECT_EQ(pages_->Pages(0), one);
  EXPECT_EQ(other->ActivePage(), three);
  EXPECT_EQ(three->PageControl(), other);
  EXPECT_EQ(Tabs().count(), 1);
}

}  // namespace
}  // namespace jw
