#include "engine/support/system_list.h"

#include <cstring>
#include <utility>

#include "engine/support/engine_heap.h"

namespace jw {

TSystemList::~TSystemList() {
  void* block = items_;
  EngineFree(block);
}

int32_t TSystemList::Add(void* item) {
  if (count_ == capacity_) Grow();
  items_[count_] = item;
  return count_++;
}

void TSystemList::Insert(int32_t index, void* item) {
  if (count_ == capacity_) Grow();
  std::memmove(items_ + index + 1, items_ + index, sizeof(void*) * (count_ - index));
  items_[index] = item;
  ++count_;
}

void TSystemList::Delete(int32_t index) {
  --count_;
  std::memmove(items_ + index, items_ + index + 1, sizeof(void*) * (count_ - index));
}

void TSystemList::Exchange(int32_t index1, int32_t index2) {
  std::swap(items_[index1], items_[index2]);
}

int32_t TSystemList::IndexOf(const void* item) const {
  for (int32_t i = 0; i < count_; ++i) {
    if (items_[i] == item) return i;
  }
  return -1;
}

void TSystemList::SetCapacity(int32_t n) {
  if (n == capacity_) return;
  if (n == 0) {
    void* block = items_;
    EngineFree(block);
    items_ = nullptr;
  } else if (items_ == nullptr) {
    items_ = static_cast<void**>(EngineAlloc(static_cast<int32_t>(sizeof(void*)) * n));
  } else {
    items_ = static_cast<void**>(EngineRealloc(items_, static_cast<int32_t>(sizeof(void*)) * n));
  }
  capacity_ = n;
}

void TSystemList::SetCount(int32_t n) {
  if (n > capacity_) SetCapacity(n);
  for (int32_t i = count_; i < n; ++i) items_[i] = nullptr;
  count_ = n;
}

void TSystemList::Clear() {
  SetCount(0);
  SetCapacity(0);
}

void TSystemList::Assign(const TSystemList& other) {
  if (&other == this) return;
  if (capacity_ < other.capacity_) SetCapacity(other.capacity_);
  if (other.capacity_ > 0) std::memcpy(items_, other.items_, sizeof(void*) * other.capacity_);
  count_ = other.count_;
}

void TSystemList::Sort(CompareFn compare) {
  if (items_ != nullptr && count_ > 0) QuickSort(0, count_ - 1, compare);
}

// The tie order of this exact quicksort is observable (collation maps are
// built with it), so it must not be replaced by another sort.
void TSystemList::QuickSort(int32_t low, int32_t high, CompareFn compare) {
  int32_t i;
  do {
    i = low;
    int32_t j = high;
    void* pivot = items_[(low + high) / 2];
    do {
      while (compare(items_[i], pivot) < 0) ++i;
      while (compare(items_[j], pivot) > 0) --j;
      if (i <= j) {
        std::swap(items_[i], items_[j]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (low < j) QuickSort(low, j, compare);
    low = i;
  } while (i < high);
}

void TSystemList::Grow() {
  int32_t delta;
  if (capacity_ > 64) {
    delta = capacity_ / 4;
  } else if (capacity_ > 8) {
    delta = 16;
  } else {
    delta = 4;
  }
  SetCapacity(capacity_ + delta);
}

}  // namespace jw
