// TFileCache: the cache of one table file's objects (records, index pages,
// BLOB blocks): a list sorted by the objects' numbers, for the search and for
// write-back in file order, and a most-recently-used list through the
// objects' own links, for the probe of the last few used and for the victim.
// Getting, resetting and writing objects stays with the file that owns them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine/core/record_order.h"

namespace jw {

// A cache object also says whether it must be written before its slot is
// reused, and whether a caller holds it.
template <typename T>
concept FileCacheObject = CacheObject<T> && requires(const T& object) {
  { CacheObjectDirty(object) } -> std::convertible_to<bool>;
  { object.UseCount() } -> std::convertible_to<int32_t>;
};

// RecentProbes: how many of the most recently used objects are compared
// before the binary search. The objects befriend the cache for their links
// newer_ and older_.
template <typename T, int RecentProbes>
class TFileCache {
  static_assert(FileCacheObject<T>);

 public:
  const std::vector<T*>& Sorted() const { return sorted_; }
  int32_t Count() const { return static_cast<int32_t>(sorted_.size()); }
  int32_t Capacity() const { return capacity_; }
  void SetCapacity(int32_t capacity) { capacity_ = capacity; }
  bool Full() const { return Count() >= capacity_; }

  // The cached object numbered number, made the most recently used; nullptr
  // when none is cached.
  T* Find(int32_t number) {
    T* found = nullptr;
    T* object = newest_;
    for (int i = 0; i < RecentProbes && object != nullptr; ++i, object = object->older_) {
      if (CacheNumber(*object) == number) {
        found = object;
        break;
      }
    }
    if (found == nullptr) found = Lookup(number);
    if (found == nullptr) return nullptr;
    if (found != newest_) {
      Unlink(found);
      LinkAtHead(found);
    }
    return found;
  }

  // The cached object numbered number, its use order untouched; nullptr when none.
  T* Lookup(int32_t number) const {
    auto it = LowerBound(number);
    if (it == sorted_.end() || CompareCacheNumber(*it, number) != 0) return nullptr;
    return *it;
  }

  void Insert(T* object) { sorted_.insert(LowerBound(CacheNumber(*object)), object); }

  void Remove(T* object) {
    for (auto it = LowerBound(CacheNumber(*object));
         it != sorted_.end() && CompareCacheObjects(*it, object) == 0; ++it) {
      if (*it == object) {
        sorted_.erase(it);
        return;
      }
    }
  }

  void LinkAtHead(T* object) {
    object->older_ = newest_;
    object->newer_ = nullptr;
    if (newest_ != nullptr) newest_->newer_ = object;
    newest_ = object;
    if (oldest_ == nullptr) oldest_ = object;
  }

  void Unlink(T* object) {
    if (object->newer_ != nullptr) object->newer_->older_ = object->older_;
    if (object->older_ != nullptr) object->older_->newer_ = object->newer_;
    if (newest_ == object) newest_ = object->older_;
    if (oldest_ == object) oldest_ = object->newer_;
    object->newer_ = nullptr;
    object->older_ = nullptr;
  }

  // Takes the object out of both lists.
  void Evict(T* object) {
    Remove(object);
    Unlink(object);
  }

  // The least recently used object that is clean and unpinned; nullptr when none.
  T* FindVictim() const {
    for (T* object = oldest_; object != nullptr; object = object->newer_) {
      if (!CacheObjectDirty(*object) && object->UseCount() == 0) return object;
    }
    return nullptr;
  }

  // The least recently used clean, unpinned object, taken out of the cache
  // for reuse. When there is none and may_write_back, write_back() cleans
  // what it can first. nullptr when there is still none.
  template <typename WriteBack>
  T* TakeVictim(bool may_write_back, WriteBack write_back) {
    T* object = FindVictim();
    if (object == nullptr && may_write_back) {
      write_back();
      object = FindVictim();
    }
    if (object != nullptr) Evict(object);
    return object;
  }

  // Hands every object to put (the owner's pool) and empties the cache.
  template <typename Put>
  void Clear(Put put) {
    for (T* object : sorted_) {
      object->newer_ = nullptr;
      object->older_ = nullptr;
      put(object);
    }
    sorted_.clear();
    newest_ = nullptr;
    oldest_ = nullptr;
  }

  // Hands objects to put from the highest number down until the cache holds
  // no more than its capacity; a pinned object is in a caller's hands and stays.
  template <typename Put>
  void TrimToCapacity(Put put) {
    for (size_t i = sorted_.size(); i-- > 0 && Count() > capacity_;) {
      T* object = sorted_[i];
      if (object->UseCount() != 0) continue;
      sorted_.erase(sorted_.begin() + static_cast<std::ptrdiff_t>(i));
      Unlink(object);
      put(object);
    }
  }

 private:
  typename std::vector<T*>::const_iterator LowerBound(int32_t number) const {
    return std::lower_bound(sorted_.begin(), sorted_.end(), number, [](const T* object, int32_t n) {
      return CompareCacheNumber(object, n) < 0;
    });
  }

  std::vector<T*> sorted_;
  T* newest_ = nullptr;
  T* oldest_ = nullptr;
  int32_t capacity_ = 0;
};

}  // namespace jw
