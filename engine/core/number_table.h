// TNumberTable: a file cache's objects by their numbers in one open-addressed
// array (linear probing, a power-of-two size at most half full), so that a
// search reads one place of memory where a node-based hash map reads the
// bucket and then the node. A run keeps its entries ordered by how far they
// sit from their home places (an insert lets the entry farther from home
// keep the place), so a deletion shifts back only the entries behind the
// hole that are away from home and stops at the first one at home: runs of
// entries at home (groups of consecutive numbers, below) can be long, and
// deleting one of them must not walk the rest.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "engine/core/prefetch.h"
#include "platform/os/large_pages.h"

namespace jw {

template <typename T>
class TNumberTable {
 public:
  // The object filed under number; nullptr when none is.
  T* Find(int32_t number) const {
    if (slots_.empty()) return nullptr;
    for (size_t i = Home(number), distance = 0;; i = (i + 1) & mask_, ++distance) {
      const TSlot& slot = slots_[i];
      if (slot.Object == nullptr) return nullptr;
      if (slot.Number == number) return slot.Object;
      // A run is ordered by the entries' distances from home: an entry
      // nearer its home than number would be here means number is not
      // filed. Without this stop a number missing from a window of
      // consecutive numbers (each at home) walks the rest of the window.
      if (Distance(i) < distance) return nullptr;
    }
  }

  // Asks the processor to bring the number's first place into its cache
  // (an empty table gives the null address).
  void Prefetch(int32_t number) const { PrefetchForRead(slots_.data() + Home(number)); }

  // Files the object; the number must not be filed yet.
  void Insert(int32_t number, T* object) {
    if ((count_ + 1) * 2 > slots_.size()) Rehash(slots_.empty() ? kFirstSize : slots_.size() * 2);
    Place(number, object);
    ++count_;
  }

  void Erase(int32_t number) {
    if (slots_.empty()) return;
    size_t hole = Home(number);
    for (;; hole = (hole + 1) & mask_) {
      if (slots_[hole].Object == nullptr) return;
      if (slots_[hole].Number == number) break;
    }
    for (size_t next = (hole + 1) & mask_; slots_[next].Object != nullptr && Distance(next) != 0;
         next = (next + 1) & mask_) {
      slots_[hole] = slots_[next];
      hole = next;
    }
    slots_[hole] = TSlot();
    --count_;
  }

  void Clear() {
    slots_.clear();
    mask_ = 0;
    shift_ = kEmptyShift;
    count_ = 0;
  }

  size_t Count() const { return count_; }

  // Calls visit(number, object) for every filed object, in no order.
  template <typename Visit>
  void ForEach(Visit visit) const {
    for (const TSlot& slot : slots_) {
      if (slot.Object != nullptr) visit(slot.Number, slot.Object);
    }
  }

 private:
  struct TSlot {
    int32_t Number = 0;
    T* Object = nullptr;
  };
  static constexpr size_t kFirstSize = 16;
  static constexpr uint32_t kGroupBits = 4;
  static constexpr uint32_t kGroupMask = (1U << kGroupBits) - 1;
  // 2^64 divided by the golden ratio: consecutive groups land far apart.
  static constexpr uint64_t kGroupMultiplier = 0x9E3779B97F4A7C15ULL;

  // Numbers go in groups of sixteen consecutive ones, and a group's sixteen
  // places follow one another from where a multiplicative hash of the
  // group number puts it. A walk in number order (records 1, 2, 3) reads
  // runs of memory, while groups and numbers in large steps (index pages at
  // multiples of their size) spread over every place: a dense window of
  // consecutive numbers among scattered ones no longer forms one long run
  // that pushes the scattered ones far from home.
  size_t Home(int32_t number) const {
    const auto x = static_cast<uint32_t>(number);
    const uint64_t group = (x >> kGroupBits) * kGroupMultiplier;
    return (static_cast<size_t>(group >> shift_) + (x & kGroupMask)) & mask_;
  }

  // How far the entry at place i sits from its home place.
  size_t Distance(size_t i) const { return (i - Home(slots_[i].Number)) & mask_; }

  void Place(int32_t number, T* object) {
    TSlot entry{number, object};
    size_t distance = 0;
    for (size_t i = Home(number);; i = (i + 1) & mask_, ++distance) {
      if (slots_[i].Object == nullptr) {
        slots_[i] = entry;
        return;
      }
      const size_t resident = Distance(i);
      if (resident < distance) {
        std::swap(entry, slots_[i]);
        distance = resident;
      }
    }
  }

  void Rehash(size_t size) {
    TSlots old(size);
    old.swap(slots_);
    mask_ = size - 1;
    shift_ = 64 - static_cast<uint32_t>(std::countr_zero(size));
    for (const TSlot& slot : old) {
      if (slot.Object != nullptr) Place(slot.Number, slot.Object);
    }
  }

  // A large table lies in large pages: lookups land at random places.
  using TSlots = std::vector<TSlot, TCacheMemoryAllocator<TSlot>>;
  TSlots slots_;
  size_t mask_ = 0;
  // 64 less the number of bits a place takes; any shift below 64 serves an
  // empty table, whose mask makes every home 0.
  static constexpr uint32_t kEmptyShift = 63;
  uint32_t shift_ = kEmptyShift;
  size_t count_ = 0;
};

}  // namespace jw
