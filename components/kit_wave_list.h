// TKitWaveList: a container of waves. An item's payload is one wave record,
// written only for a wave that is not empty.
#pragma once

#include <memory>

#include "components/kit_container_base.h"
#include "components/kit_wave.h"

namespace jw {

class TKitWaveListItem : public TKitListItem {
 public:
  explicit TKitWaveListItem(TComponent* owner);
  ~TKitWaveListItem() override;

  TKitWave& Wave() { return *wave_; }

  void Clear() override;
  bool IsEmpty() const override { return wave_->Empty(); }

 protected:
  void ReadPayload(TStream& stream, uint8_t flags) override;
  void WritePayload(TStream& stream) override;
  void AssignPayload(TKitListItem& source) override;

 private:
  std::unique_ptr<TKitWave> wave_;
};

class TKitWaveList : public TKitCustomContainer {
 public:
  explicit TKitWaveList(TComponent* owner);

  TKitWaveListItem* Items(int i) const;
};

}  // namespace jw
