#include "platform/rtl/list.h"

#include <algorithm>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/strings.h"

namespace jw {

void TList::CheckIndex(int index, int limit) {
  if (index < 0 || index >= limit) {
    throw EListError("List index out of bounds (" + IntToStr(int32_t{index}) + ")");
  }
}

int TList::Add(void* item) {
  items_.push_back(item);
  return Count() - 1;
}

void TList::Insert(int index, void* item) {
  CheckIndex(index, Count() + 1);
  items_.insert(items_.begin() + index, item);
}

void TList::Delete(int index) {
  CheckIndex(index, Count());
  items_.erase(items_.begin() + index);
}

int TList::Remove(void* item) {
  const int index = IndexOf(item);
  if (index >= 0) Delete(index);
  return index;
}

int TList::IndexOf(void* item) const {
  const auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void* TList::Items(int index) const {
  CheckIndex(index, Count());
  return items_[index];
}

void TList::SetItems(int index, void* item) {
  CheckIndex(index, Count());
  items_[index] = item;
}

void TList::Exchange(int index1, int index2) {
  CheckIndex(index1, Count());
  CheckIndex(index2, Count());
  std::swap(items_[index1], items_[index2]);
}

void TList::Move(int cur_index, int new_index) {
  if (cur_index == new_index) return;
  CheckIndex(new_index, Count());
  void* item = Items(cur_index);
  items_.erase(items_.begin() + cur_index);
  items_.insert(items_.begin() + new_index, item);
}

void TList::Sort(const TListSortCompare& compare) {
  std::stable_sort(items_.begin(), items_.end(),
                   [&compare](void* a, void* b) { return compare(a, b) < 0; });
}

}  // namespace jw
