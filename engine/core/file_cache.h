// TFileCache: the cache of one table file's objects (records, index pages,
// BLOB blocks): an open-addressed table by the objects' numbers for the
// search, and a most-recently-used list through the objects' own links, for
// the probe of the last few used and for the victim. Search, insert and
// removal take O(1), with no allocation once the table has grown; the rare
// walks in number order (a sort of the cached records, a trim) sort what
// they visit. Choosing a victim and growing take O(1) amortised,
// even when every object is dirty. The dirty objects are also on a list of
// their own, which their dirty marks keep, so a write-back costs the dirty
// objects only. Getting, resetting and writing objects
// stays with the file that owns them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "engine/core/dirty_mark.h"
#include "engine/core/number_table.h"
#include "engine/core/prefetch.h"
#include "engine/core/record_order.h"

namespace jw {

// A cache object also says whether it must be written before its slot is
// reused, and whether a caller holds it.
template <typename T>
concept FileCacheObject = CacheObject<T> && requires(const T& object, T& changeable) {
  { CacheObjectDirty(object) } -> std::convertible_to<bool>;
  { CacheDirtyMark(changeable) } -> std::same_as<TDirtyMark<T>&>;
  { object.UseCount() } -> std::convertible_to<int32_t>;
};

// RecentProbes: how many of the most recently used objects are compared
// before the search of the table. The objects befriend the cache for their links
// newer_ and older_.
template <typename T, int RecentProbes>
class TFileCache {
  static_assert(FileCacheObject<T>);

 public:
  // The cached objects with their numbers, in ascending order.
  std::vector<std::pair<int32_t, T*>> ByNumber() const {
    std::vector<std::pair<int32_t, T*>> objects;
    objects.reserve(by_number_.Count());
    by_number_.ForEach([&](int32_t number, T* object) { objects.emplace_back(number, object); });
    std::sort(objects.begin(), objects.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    return objects;
  }
  int32_t Count() const { return static_cast<int32_t>(by_number_.Count()); }
  // The cached objects that are dirty, in no order.
  const TDirtyList<T>& Dirty() const { return dirty_; }
  int32_t Capacity() const { return capacity_; }
  void SetCapacity(int32_t capacity) { capacity_ = capacity; }
  bool Full() const { return Count() >= capacity_; }
  // Raises the capacity by at least step, and by half once that is more:
  // a cache that must grow for every new object (inside a transaction,
  // where nothing may be written back) then looks for victims in vain
  // only O(log n) times.
  void Grow(int32_t step) { capacity_ += std::max(step, capacity_ / 2); }
  // How many objects the victim searches have looked at so far.
  int64_t VictimSearchSteps() const { return victim_search_steps_; }
  // Counts every object that left the cache: while it stands still, an
  // object found in the cache before is in it still, under its number.
  uint64_t Departures() const { return departures_; }

  // The cached object numbered number, made the most recently used; nullptr
  // when none is cached.
  T* Find(int32_t number) {
    // Without a use order the newest objects are the last cached, not the
    // last used: they are not worth a probe.
    const bool keeps_order = KeepsUseOrder();
    T* found = nullptr;
    T* object = keeps_order ? newest_ : nullptr;
    for (int i = 0; i < RecentProbes && object != nullptr; ++i, object = object->older_) {
      if (CacheNumber(*object) == number) {
        found = object;
        break;
      }
    }
    if (found == nullptr) found = Lookup(number);
    if (found == nullptr) return nullptr;
    if (found != newest_ && keeps_order) {
      Unlink(found);
      LinkAtHead(found);
    }
    return found;
  }

  // Whether a use moves the object to the head of the use order. The order
  // only chooses victims, and a cache with room to spare takes none: until
  // it is within an eighth of its capacity, a walk over objects spread far
  // apart (records in the order of a key) reads no neighbours to relink
  // them. From there on every use counts, so the order that chooses the
  // first victims is that of the latest uses.
  bool KeepsUseOrder() const { return Count() >= capacity_ - capacity_ / 8; }

  // The cached object numbered number, its use order untouched; nullptr when none.
  T* Lookup(int32_t number) const { return by_number_.Find(number); }

  // Readies the memory a Find of number reads, one step at a time (a walk
  // that knows the numbers it uses next asks well before): first the
  // number's place in the search table, then, once that is at hand, the
  // object, then, once the object is at hand, its neighbours in the use
  // order. Each step reads only memory the step before brought in: a step
  // that read what it asks for would wait for it then and there.
  void PrefetchPlace(int32_t number) const { by_number_.Prefetch(number); }
  // The object's lines up to its links: the search and the move to the
  // head of the use order read no further (an object that keeps what they
  // read first needs the fewest lines).
  // The object, nullptr when none is cached.
  const T* PrefetchObject(int32_t number) const {
    const T* object = Lookup(number);
    if (object == nullptr) return nullptr;
    const auto* start = reinterpret_cast<const char*>(object);
    PrefetchRangeForRead(
        start, static_cast<size_t>(reinterpret_cast<const char*>(&object->older_ + 1) - start));
    return object;
  }
  // Readies what the next victims' eviction reads, a step ahead each: the
  // oldest object's place in the search table (the object itself readied
  // by the call before, as the one after the oldest), and the object after
  // it. A walk that misses the cache at every step evicts the oldest at
  // every step. The oldest object, nullptr when none.
  const T* PrefetchComingVictims() const {
    if (oldest_ == nullptr) return nullptr;
    by_number_.Prefetch(CacheNumber(*oldest_));
    if (oldest_->newer_ != nullptr) PrefetchForRead(oldest_->newer_);
    return oldest_;
  }
  // Worth it only while the cache keeps its use order (KeepsUseOrder).
  void PrefetchNeighbours(const T& object) const {
    if (object.newer_ != nullptr) PrefetchForRead(object.newer_);
    if (object.older_ != nullptr) PrefetchForRead(object.older_);
  }

  // Files the object under its number; the owner never caches two objects
  // of one number.
  void Insert(T* object) {
    by_number_.Insert(CacheNumber(*object), object);
    dirty_.Attach(CacheDirtyMark(*object));
  }

  void Remove(T* object) {
    ++departures_;
    if (by_number_.Find(CacheNumber(*object)) == object) {
      by_number_.Erase(CacheNumber(*object));
      dirty_.Detach(CacheDirtyMark(*object));
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
    if (passed_ == object) passed_ = object->older_;
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

  // A clean, unpinned object: the least recently used of those the searches
  // have not passed over; nullptr when the cache holds none. A search goes on from where the last
  // one stopped: the objects passed over were dirty or pinned and most stay so (every dirty object
  // inside a transaction), so looking at them again for every new slot
  // would make filling the cache quadratic. Only when the rest holds no
  // victim does the search start again from the oldest object, since one
  // passed over may have been written back or released since.
  T* FindVictim() {
    const bool from_oldest = passed_ == nullptr;
    T* victim = SearchOn();
    if (victim != nullptr || from_oldest) return victim;
    passed_ = nullptr;
    return SearchOn();
  }

  // The least recently used clean, unpinned object, taken out of the cache
  // for reuse. When there is none and may_write_back, write_back() cleans
  // what it can first. nullptr when there is still none.
  template <typename WriteBack>
  T* TakeVictim(bool may_write_back, WriteBack write_back) {
    T* object = FindVictim();
    if (object == nullptr && may_write_back) {
      write_back();
      passed_ = nullptr;
      object = FindVictim();
    }
    if (object != nullptr) Evict(object);
    return object;
  }

  // Appends the dirty, unpinned objects that accept (the owner's own
  // condition) lets through to dirty, ascending by number, for write-back.
  // The victim search starts again from the oldest object: those it passed
  // over are about to be clean.
  template <typename Accept>
  void CollectWriteBack(std::vector<T*>& dirty, Accept accept) {
    const size_t start = dirty.size();
    dirty_.ForEach([&](T* object) {
      if (object->UseCount() == 0 && accept(*object)) dirty.push_back(object);
    });
    std::sort(dirty.begin() + static_cast<std::ptrdiff_t>(start), dirty.end(),
              [](const T* a, const T* b) { return CacheNumber(*a) < CacheNumber(*b); });
    passed_ = nullptr;
  }

  // Appends up to count of the least recently used dirty, unpinned objects
  // to dirty, ascending by number: a write-back of the cold end when no
  // victim is left, which leaves the objects in use dirty instead of writing
  // them again and again while they keep changing. Called when the victim
  // search found no clean object, so the walk passes few clean ones.
  void CollectOldestDirty(std::vector<T*>& dirty, int32_t count) {
    const size_t start = dirty.size();
    for (T* object = oldest_;
         object != nullptr && static_cast<int32_t>(dirty.size() - start) < count;
         object = object->newer_) {
      if (CacheObjectDirty(*object) && object->UseCount() == 0) dirty.push_back(object);
    }
    std::sort(dirty.begin() + static_cast<std::ptrdiff_t>(start), dirty.end(),
              [](const T* a, const T* b) { return CacheNumber(*a) < CacheNumber(*b); });
    passed_ = nullptr;
  }

  // Hands every object to put (the owner's pool) and empties the cache.
  template <typename Put>
  void Clear(Put put) {
    ++departures_;
    by_number_.ForEach([&](int32_t, T* object) {
      object->newer_ = nullptr;
      object->older_ = nullptr;
      dirty_.Detach(CacheDirtyMark(*object));
      put(object);
    });
    by_number_.Clear();
    newest_ = nullptr;
    oldest_ = nullptr;
    passed_ = nullptr;
  }

  // Hands objects to put from the highest number down until the cache holds
  // no more than its capacity; a pinned object is in a caller's hands and stays.
  template <typename Put>
  void TrimToCapacity(Put put) {
    if (Count() <= capacity_) return;
    std::vector<T*> unpinned;
    by_number_.ForEach([&](int32_t, T* object) {
      if (object->UseCount() == 0) unpinned.push_back(object);
    });
    std::sort(unpinned.begin(), unpinned.end(),
              [](const T* a, const T* b) { return CacheNumber(*a) > CacheNumber(*b); });
    ++departures_;
    for (auto it = unpinned.begin(); it != unpinned.end() && Count() > capacity_; ++it) {
      T* object = *it;
      by_number_.Erase(CacheNumber(*object));
      dirty_.Detach(CacheDirtyMark(*object));
      Unlink(object);
      put(object);
    }
  }

 private:
  // From the object after passed_ towards the newest: the first clean,
  // unpinned one, passed_ moved up to the last one passed over.
  T* SearchOn() {
    for (T* object = passed_ == nullptr ? oldest_ : passed_->newer_; object != nullptr;
         object = object->newer_) {
      ++victim_search_steps_;
      if (!CacheObjectDirty(*object) && object->UseCount() == 0) return object;
      passed_ = object;
    }
    return nullptr;
  }

  TNumberTable<T> by_number_;
  TDirtyList<T> dirty_;
  T* newest_ = nullptr;
  T* oldest_ = nullptr;
  // The newest of the oldest objects that the victim search passed over;
  // nullptr when it starts at the oldest.
  T* passed_ = nullptr;
  int32_t capacity_ = 0;
  int64_t victim_search_steps_ = 0;
  uint64_t departures_ = 0;
};

}  // namespace jw
