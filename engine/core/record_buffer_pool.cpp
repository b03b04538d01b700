#include "engine/core/record_buffer_pool.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/core/data_file.h"
#include "platform/os/large_pages.h"

namespace jw {
namespace {

// The first slab holds this many records; each next one twice its
// predecessor's bytes, up to a large page.
constexpr size_t kFirstSlabRecords = 16;

size_t RoundUp(size_t bytes, size_t unit) {
  return (bytes + unit - 1) / unit * unit;
}

}  // namespace

// The list takes its room with the first record put back: a table opened
// and closed without dropping a record never zeroes it.
TRecordStack::TRecordStack(TDataFile* file) : file_(file) {}

TRecordStack::~TRecordStack() {
  for (const TSlab& slab : slabs_) {
    for (size_t at = 0; at < slab.Used; at += slab.Entry) {
      std::launder(reinterpret_cast<TRecord*>(slab.Memory + at))->~TRecord();
    }
    FreeCacheMemory(slab.Memory, slab.Bytes);
  }
}

TRecord* TRecordStack::Make() {
  const auto size = static_cast<size_t>(std::max(file_->RecordSize(), kRecordHeadSize));
  const size_t entry = kSlabBytesOffset + RoundUp(size, alignof(TRecord));
  if (slabs_.empty() || slabs_.back().Entry != entry ||
      slabs_.back().Used + entry > slabs_.back().Bytes) {
    const size_t last = slabs_.empty() ? 0 : slabs_.back().Bytes;
    const size_t bytes = std::max(entry * kFirstSlabRecords, std::min(2 * last, kLargePageBytes));
    slabs_.reserve(slabs_.size() + 1);
    slabs_.push_back({static_cast<std::byte*>(AllocateCacheMemory(bytes)), bytes, entry, 0});
  }
  TSlab& slab = slabs_.back();
  std::byte* place = slab.Memory + slab.Used;
  auto* storage = reinterpret_cast<uint8_t*>(place + kSlabBytesOffset);
  auto* record = new (place) TRecord(file_, storage, static_cast<int32_t>(size));
  slab.Used += entry;
  return record;
}

TRecord* TRecordStack::Get() {
  if (list_.Count() == 0) return Make();
  auto* record = static_cast<TRecord*>(list_.Last());
  list_.Delete(list_.Count() - 1);
  // The file's record size may have changed since the buffer was pooled.
  record->SetSize(file_->RecordSize());
  std::memset(record->Bytes(), 0, static_cast<size_t>(record->Size()));
  PutInt32(record->Bytes() + kRecNumber, record->record_number_);
  record->modified_ = false;
  record->use_count_ = 0;
  record->newer_ = nullptr;
  record->older_ = nullptr;
  record->key_length_ = 0;
  record->run_number_ = 0;
  return record;
}

void TRecordStack::Put(TRecord*& record) {
  if (record == nullptr) return;
  if (list_.Capacity() == 0) list_.SetCapacity(kRecordStackCapacity);
  list_.Add(record);
  record = nullptr;
}

}  // namespace jw
