// TPageControl and TTabSheet: pages of controls shown one at a time under a
// row of tabs. The sheets are the page control's children, laid out in the
// area below the tabs; the active one is visible, the others are hidden.
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

  TPageControl* PageControl() const;
  // Makes the sheet the last page of page_control, out of its old one.
  void SetPageControl(TPageControl* page_control);
  // The tab's text.
  void SetCaption(const std::string& caption) override;
};

class TPageControl : public TWinControl {
 public:
  // The height of the row of tabs, in pixels.
  static constexpr int kTabHeight = 24;

  explicit TPageControl(TComponent* owner);
  ~TPageControl() override;

  int PageCount() const;
  TTabSheet* Pages(int index) const;
  // The page shown; the first page joined is active until another is chosen.
  TTabSheet* ActivePage() const { return active_; }
  void SetActivePage(TTabSheet* page);
  int ActivePageIndex() const;
  void SetActivePageIndex(int index);

  // The user chose another tab.
  TNotifyEvent OnChange;

 protected:
  std::unique_ptr<QWidget> CreateWidget(const TCreateParams& params) override;
  void BoundsChanged() override;

 private:
  friend class TTabSheet;

  // The sheets among the children, in order, without leaving (a sheet on
  // its way out).
  std::vector<TTabSheet*> Sheets(const TTabSheet* leaving = nullptr) const;
  void PageJoined(TTabSheet* page);
  void PageLeft(TTabSheet* page);
  // Sheets fill the area below the tabs; only the active one shows.
  void LayoutPages();
  // The tab bar lists the pages' captions and marks the active one.
  void SyncTabs(const TTabSheet* leaving = nullptr);
  void FillTabs(QTabBar& tabs, const TTabSheet* leaving);
  // The widget's tab bar; null while there is no widget.
  QTabBar* TabBar();

  TTabSheet* active_ = nullptr;
};

}  // namespace jw
