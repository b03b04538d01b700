// TKitCustomImageList: the interface of the kit's image containers that the
// tray icon animates through (lists of equally sized images), and the change
// link through which a user of a list hears of its changes.
#pragma once

#include <vector>

#include "components/kit_base.h"
#include "platform/gui/canvas.h"

namespace jw {

class TKitCustomImageList;

class TKitChangeLink {
 public:
  TKitCustomImageList* Sender() const { return sender_; }
  TNotifyEvent OnChange;

 private:
  friend class TKitCustomImageList;
  TKitCustomImageList* sender_ = nullptr;
};

class TKitCustomImageList : public TKitComponent {
 public:
  using TKitComponent::TKitComponent;
  ~TKitCustomImageList() override;

  // The number of images of list list_index.
  virtual int Count(int list_index) const = 0;
  // Draws image index of list list_index with its top-left corner at (x, y).
  virtual void Draw(TCanvas& canvas, int x, int y, int list_index, int index) = 0;

  void RegisterChanges(TKitChangeLink* link);
  void UnRegisterChanges(TKitChangeLink* link);
  // Tells every registered link, then OnChange.
  void Change() override;

 private:
  std::vector<TKitChangeLink*> links_;
};

}  // namespace jw
