// TPageControl and TTabSheet: pages of controls behind a row of tabs. Each
// sheet is a child window of the page control filling the area below the
// tabs; only the active page shows.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/gui/controls.h"

class QTabBar;

namespace jw {

class TPageControl;

class TTabSheet : public TWinControl {
 public:
  explicit TTabSheet(TComponent* owner);
  ~TTabSheet() override;

  TPageControl* PageControl() const { return page_control_; }
  // Makes the sheet the last page of page_control (out of the old one).
  void SetPageControl(TPageControl* page_control);
  // The caption is the tab's text.
  void SetCaption(const std::string& caption) override;

 private:
  friend class TPageControl;
  TPageControl* page_control_ = nullptr;
};

class TPageControl : public TWinControl {
 public:
  explicit TPageControl(TComponent* owner);
  ~TPageControl() override;

  int PageCount() const { return static_cast<int>(pages_.size()); }
  TTabSheet* Pages(int index) const;
  // The page that shows; the first one added until another is chosen.
  TTabSheet* ActivePage() const { return active_page_; }
  void SetActivePage(TTabSheet* page);

 protected:
  std::unique_ptr<QWidget> CreateWidget(const TCreateParams& params) override;
  void BoundsChanged() override;

 private:
  friend class TTabSheet;
  void InsertPage(TTabSheet* page);
  void RemovePage(TTabSheet* page);
  // Places every sheet below the tabs and shows only the active one.
  void ArrangePages();
  void UpdateTabs();

  std::vector<TTabSheet*> pages_;
  TTabSheet* active_page_ = nullptr;
  QTabBar* tab_bar_ = nullptr;  // owned by the widget
};

}  // namespace jw
