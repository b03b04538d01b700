// TList: an ordered list of untyped pointers with the host library's index
// rules. Owns nothing it points to; typed containers are preferred, this one
// serves code whose design names a TList.
#pragma once

#include <functional>
#include <vector>

namespace jw {

// Negative when a sorts before b, 0 when equal, positive otherwise.
using TListSortCompare = std::function<int(void* a, void* b)>;

class TList {
 public:
  // Appends and returns the new item's index.
  int Add(void* item);
  // 0 <= index <= Count(); Count() appends.
  void Insert(int index, void* item);
  void Delete(int index);
  // Deletes the first occurrence; returns its former index or -1.
  int Remove(void* item);
  int IndexOf(void* item) const;
  int Count() const { return static_cast<int>(items_.size()); }
  void* Items(int index) const;
  void SetItems(int index, void* item);
  void Clear() { items_.clear(); }
  void Exchange(int index1, int index2);
  // Takes the item at cur_index out and puts it back at new_index.
  void Move(int cur_index, int new_index);
  // Stable: items that compare equal keep their order.
  void Sort(const TListSortCompare& compare);

 private:
  // Raises EListError "List index out of bounds (<index>)" unless 0 <= index < limit.
  static void CheckIndex(int index, int limit);

  std::vector<void*> items_;
};

}  // namespace jw
