#include "platform/gui/page_control.h"

#include <QSignalBlocker>
#include <QTabBar>
#include <algorithm>

#include "platform/gui/application.h"
#include "platform/gui/qt_convert.h"
#include "platform/rtl/exceptions.h"

namespace jw {

namespace {

// Space between the page area and the control's edges.
constexpr int kPageBorder = 4;

}  // namespace

// ---------------------------------------------------------------- TTabSheet

TTabSheet::TTabSheet(TComponent* owner) : TWinControl(owner) {}

TTabSheet::~TTabSheet() {
  if (TPageControl* control = PageControl()) control->PageLeft(this);
}

TPageControl* TTabSheet::PageControl() const {
  return dynamic_cast<TPageControl*>(Parent());
}

void TTabSheet::SetPageControl(TPageControl* page_control) {
  if (page_control == PageControl()) return;
  if (TPageControl* old = PageControl()) old->PageLeft(this);
  SetParent(page_control);
  if (page_control != nullptr) page_control->PageJoined(this);
}

void TTabSheet::SetCaption(const std::string& caption) {
  TWinControl::SetCaption(caption);
  if (TPageControl* control = PageControl()) control->SyncTabs();
}

// ------------------------------------------------------------- TPageControl

TPageControl::TPageControl(TComponent* owner) : TWinControl(owner) {
  SetBounds(0, 0, 289, 193);
}

// The tab bar goes while the control is whole: it reports to it.
TPageControl::~TPageControl() {
  DestroyHandle();
}

std::vector<TTabSheet*> TPageControl::Sheets(const TTabSheet* leaving) const {
  std::vector<TTabSheet*> pages;
  for (int i = 0; i < ControlCount(); ++i) {
    auto* page = dynamic_cast<TTabSheet*>(Controls(i));
    if (page != nullptr && page != leaving) pages.push_back(page);
  }
  return pages;
}

int TPageControl::PageCount() const {
  return static_cast<int>(Sheets().size());
}

TTabSheet* TPageControl::Pages(int index) const {
  const std::vector<TTabSheet*> pages = Sheets();
  if (index < 0 || index >= static_cast<int>(pages.size()))
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  return pages[static_cast<size_t>(index)];
}

void TPageControl::SetActivePage(TTabSheet* page) {
  if (page != nullptr && page->PageControl() != this) return;
  active_ = page;
  LayoutPages();
  SyncTabs();
}

int TPageControl::ActivePageIndex() const {
  const std::vector<TTabSheet*> pages = Sheets();
  const auto at = std::find(pages.begin(), pages.end(), active_);
  return at == pages.end() ? -1 : static_cast<int>(at - pages.begin());
}

void TPageControl::SetActivePageIndex(int index) {
  const std::vector<TTabSheet*> pages = Sheets();
  SetActivePage(index >= 0 && index < static_cast<int>(pages.size())
                    ? pages[static_cast<size_t>(index)]
                    : nullptr);
}

void TPageControl::PageJoined(TTabSheet* page) {
  if (active_ == nullptr) active_ = page;
  LayoutPages();
  SyncTabs();
}

void TPageControl::PageLeft(TTabSheet* page) {
  if (active_ == page) {
    const std::vector<TTabSheet*> rest = Sheets(page);
    active_ = rest.empty() ? nullptr : rest.front();
  }
  LayoutPages();
  SyncTabs(page);
}

void TPageControl::LayoutPages() {
  const int width = std::max(Width() - 2 * kPageBorder, 0);
  const int height = std::max(Height() - kTabHeight - kPageBorder, 0);
  for (TTabSheet* page : Sheets()) {
    page->SetBounds(kPageBorder, kTabHeight, width, height);
    page->SetVisible(page == active_);
  }
}

QTabBar* TPageControl::TabBar() {
  return HandleAllocated() ? Handle()->findChild<QTabBar*>(QString(), Qt::FindDirectChildrenOnly)
                           : nullptr;
}

void TPageControl::SyncTabs(const TTabSheet* leaving) {
  if (QTabBar* tabs = TabBar()) FillTabs(*tabs, leaving);
}

void TPageControl::FillTabs(QTabBar& tabs, const TTabSheet* leaving) {
  const QSignalBlocker quiet(&tabs);
  const std::vector<TTabSheet*> pages = Sheets(leaving);
  const int count = static_cast<int>(pages.size());
  while (tabs.count() > count) tabs.removeTab(tabs.count() - 1);
  while (tabs.count() < count) tabs.addTab(QString());
  for (int i = 0; i < count; ++i)
    tabs.setTabText(i, ToQString(pages[static_cast<size_t>(i)]->Caption()));
  const auto at = std::find(pages.begin(), pages.end(), active_);
  tabs.setCurrentIndex(at == pages.end() ? -1 : static_cast<int>(at - pages.begin()));
}

std::unique_ptr<QWidget> TPageControl::CreateWidget(const TCreateParams& params) {
  std::unique_ptr<QWidget> widget = TWinControl::CreateWidget(params);
  auto* tabs = new QTabBar(widget.get());
  tabs->setGeometry(0, 0, Width(), kTabHeight);
  FillTabs(*tabs, nullptr);
  QObject::connect(tabs, &QTabBar::currentChanged, [this](int index) {
    CallGuarded([this, index] {
      SetActivePageIndex(index);
      if (OnChange) OnChange(this);
    });
  });
  return widget;
}

void TPageControl::BoundsChanged() {
  TWinControl::BoundsChanged();
  if (QTabBar* tabs = TabBar()) tabs->setGeometry(0, 0, Width(), kTabHeight);
  LayoutPages();
}

}  // namespace jw
