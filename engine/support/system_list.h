// TSystemList: the engine's growable list of pointers, its slot array on the
// engine heap. The list never owns what its slots point to.
#pragma once

#include <cstdint>

namespace jw {

class TSystemList {
 public:
  // Negative, 0 or positive as the first item sorts before, with or after
  // the second.
  using CompareFn = int (*)(void* item1, void* item2);

  TSystemList() = default;
  TSystemList(const TSystemList&) = delete;
  TSystemList& operator=(const TSystemList&) = delete;
  virtual ~TSystemList();

  // Indexes are not checked: callers pass 0 .. Count() - 1 (for Insert, up to
  // Count()) and never set the capacity below the count. Every operation that
  // allocates leaves the list unchanged when the heap fails (11016).
  int32_t Add(void* item);
  void Insert(int32_t index, void* item);
  void Delete(int32_t index);
  void* Get(int32_t index) const { return items_[index]; }
  void* First() const { return items_[0]; }
  void* Last() const { return items_[count_ - 1]; }
  void Exchange(int32_t index1, int32_t index2);
  int32_t IndexOf(const void* item) const;
  void SetCapacity(int32_t n);
  void SetCount(int32_t n);
  void Clear();
  void Assign(const TSystemList& other);
  void Sort(CompareFn compare);

  int32_t Count() const { return count_; }
  int32_t Capacity() const { return capacity_; }

 protected:
  virtual void Grow();

 private:
  void QuickSort(int32_t low, int32_t high, CompareFn compare);

  void** items_ = nullptr;
  int32_t count_ = 0;
  int32_t capacity_ = 0;
};

}  // namespace jw
