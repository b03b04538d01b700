// TKitStringList: a container of string lists. An item's payload is one
// string-list record, written only for a list that is not empty.
#pragma once

#include <memory>

#include "components/kit_container_base.h"
#include "platform/rtl/string_list.h"

namespace jw {

class TKitStringListItem : public TKitListItem {
 public:
  explicit TKitStringListItem(TComponent* owner);
  ~TKitStringListItem() override;

  TStringList& Items() { return *items_; }

  void Clear() override;
  bool IsEmpty() const override { return items_->Count() == 0; }

 protected:
  void ReadPayload(TStream& stream, uint8_t flags) override;
  void WritePayload(TStream& stream) override;
  void AssignPayload(TKitListItem& source) override;

 private:
  std::unique_ptr<TStringList> items_;
};

class TKitStringList : public TKitCustomContainer {
 public:
  explicit TKitStringList(TComponent* owner);

  TKitStringListItem* Items(int i) const;
};

}  // namespace jw
