#include "engine/core/record_buffer_pool.h"

#include <algorithm>

#include "engine/core/data_file.h"

namespace jw {

TRecordStack::TRecordStack(TDataFile* file) : file_(file) {
  list_.SetCapacity(kRecordStackCapacity);
}

TRecordStack::~TRecordStack() {
  Clear();
}

void TRecordStack::Clear() {
  for (int32_t i = list_.Count() - 1; i >= 0; --i) delete static_cast<TRecord*>(list_.Get(i));
  list_.Clear();
}

TRecord* TRecordStack::Get() {
  if (list_.Count() == 0) return new TRecord(file_);
  auto* record = static_cast<TRecord*>(list_.Last());
  list_.Delete(list_.Count() - 1);
  // The file's record size may have changed since the buffer was pooled.
  record->SetSize(file_->RecordSize());
  std::fill(record->bytes_.begin(), record->bytes_.end(), 0);
  PutInt32(&record->bytes_[kRecNumber], record->record_number_);
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
  list_.Add(record);
  record = nullptr;
}

}  // namespace jw
