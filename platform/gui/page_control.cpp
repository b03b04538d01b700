#include "platform/gui/page_control.h"

#include <QTabBar>
#include <algorithm>

#include "platform/gui/application.h"
#include "platform/gui/qt_convert.h"
#include "platform/rtl/exceptions.h"

namespace jw {

namespace {

// The height of the row of tabs, and the frame around a page.
constexpr int kTabHeight = 24;
constexpr int kPageFrame = 2;

}  // namespace

TTabSheet::TTabSheet(TComponent* owner) : TWinControl(owner) {}

TTabSheet::~TTabSheet() {
  SetPageControl(nullptr);
}

void TTabSheet::SetPageControl(TPageControl* page_control) {
  if (page_control == page_control_) return;
  if (page_control_ != nullptr) page_control_->RemovePage(this);
  page_control_ = page_control;
  SetParent(page_control);
  if (page_control != nullptr) page_control->InsertPage(this);
}

void TTabSheet::SetCaption(const std::string& caption) {
  TWinControl::SetCaption(caption);
  if (page_control_ != nullptr) page_control_->UpdateTabs();
}

TPageControl::TPageControl(TComponent* owner) : TWinControl(owner) {
  SetBounds(0, 0, 289, 193);
}

TPageControl::~TPageControl() {
  // The widget outlives this part of the control; its bar must not call back.
  if (tab_bar_ != nullptr) tab_bar_->disconnect();
  for (TTabSheet* page : pages_) page->page_control_ = nullptr;
}

TTabSheet* TPageControl::Pages(int index) const {
  if (index < 0 || index >= PageCount()) throw EListError("List index out of bounds");
  return pages_[index];
}

void TPageControl::SetActivePage(TTabSheet* page) {
  if (page != nullptr && page->page_control_ != this) return;
  active_page_ = page;
  ArrangePages();
  UpdateTabs();
}

void TPageControl::InsertPage(TTabSheet* page) {
  pages_.push_back(page);
  if (active_page_ == nullptr) active_page_ = page;
  ArrangePages();
  UpdateTabs();
}

void TPageControl::RemovePage(TTabSheet* page) {
  std::erase(pages_, page);
  if (active_page_ == page) active_page_ = pages_.empty() ? nullptr : pages_.front();
  ArrangePages();
  UpdateTabs();
}

void TPageControl::ArrangePages() {
  for (TTabSheet* page : pages_) {
    page->SetBounds(kPageFrame, kTabHeight + kPageFrame, Width() - 2 * kPageFrame,
                    Height() - kTabHeight - 2 * kPageFrame);
    page->SetVisible(page == active_page_);
  }
}

void TPageControl::UpdateTabs() {
  if (tab_bar_ == nullptr) return;
  const QSignalBlocker quiet(tab_bar_);
  while (tab_bar_->count() > PageCount()) tab_bar_->removeTab(tab_bar_->count() - 1);
  for (int i = 0; i < PageCount(); ++i) {
    if (i == tab_bar_->count()) tab_bar_->addTab(QString());
    tab_bar_->setTabText(i, ToQString(pages_[i]->Caption()));
  }
  const auto active = std::find(pages_.begin(), pages_.end(), active_page_);
  if (active != pages_.end()) tab_bar_->setCurrentIndex(int(active - pages_.begin()));
  tab_bar_->setGeometry(0, 0, Width(), kTabHeight);
}

void TPageControl::BoundsChanged() {
  TWinControl::BoundsChanged();
  ArrangePages();
  UpdateTabs();
}

std::unique_ptr<QWidget> TPageControl::CreateWidget(const TCreateParams& params) {
  std::unique_ptr<QWidget> widget = TWinControl::CreateWidget(params);
  tab_bar_ = new QTabBar(widget.get());
  QObject::connect(tab_bar_, &QTabBar::currentChanged, [this](int index) {
    if (index >= 0 && index < PageCount())
      CallGuarded([this, index] { SetActivePage(pages_[index]); });
  });
  // The bar goes with the widget; forget it then.
  QObject::connect(tab_bar_, &QObject::destroyed, [this] { tab_bar_ = nullptr; });
  UpdateTabs();
  tab_bar_->show();
  return widget;
}

}  // namespace jw
