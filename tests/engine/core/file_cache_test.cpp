// The file cache against a model: random fetches that take victims or grow
// the cache, dirtying and cleaning, pinning, write-backs and trims, applied
// to the cache and to a number map with a use-order list (which a use moves
// only while the cache is nearly full), the cached objects
// and the cache's dirty list compared after every step; and
// the counted cost of victim searches while cached objects stay dirty.
#include "engine/core/file_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <deque>
#include <list>
#include <map>
#include <random>
#include <vector>

#include "tests/engine/core/test_table.h"

namespace jw::test {
namespace {

struct CachedObject {
  int32_t number = 0;
  TDirtyMark<CachedObject> dirty{this};
  int32_t pins = 0;
  CachedObject* newer_ = nullptr;
  CachedObject* older_ = nullptr;
  int32_t UseCount() const { return pins; }
};

int32_t CacheNumber(const CachedObject& object) {
  return object.number;
}
bool CacheObjectDirty(const CachedObject& object) {
  return object.dirty;
}
TDirtyMark<CachedObject>& CacheDirtyMark(CachedObject& object) {
  return object.dirty;
}

using Cache = TFileCache<CachedObject, 2>;

constexpr int32_t kCapacity = 40;
constexpr int32_t kGrowth = 8;

// The owner's side: the objects it made and a spare list, as a pool.
class Owner {
 public:
  CachedObject* Get() {
    if (spare_.empty()) return &made_.emplace_back();
    CachedObject* object = spare_.back();
    spare_.pop_back();
    object->number = 0;
    object->dirty = false;
    object->pins = 0;
    return object;
  }
  void Put(CachedObject* object) { spare_.push_back(object); }

 private:
  std::deque<CachedObject> made_;
  std::vector<CachedObject*> spare_;
};

class CacheModelRun {
 public:
  explicit CacheModelRun(uint32_t seed) : rng_(seed) { cache_.SetCapacity(kCapacity); }

  void Run(int32_t operations) {
    for (int32_t op = 1; op <= operations; ++op) {
      const uint32_t dice = rng_() % 100;
      if (dice < 50) {
        Fetch(static_cast<int32_t>(rng_() % 200), op);
      } else if (dice < 70) {
        Touch([](CachedObject& o) { o.dirty = true; });
      } else if (dice < 73) {
        // Cleaned by its owner, outside a write-back.
        Touch([](CachedObject& o) { o.dirty = false; });
      } else if (dice < 80) {
        Touch([](CachedObject& o) { ++o.pins; });
      } else if (dice < 90) {
        Touch([](CachedObject& o) { o.pins = std::max(0, o.pins - 1); });
      } else if (dice < 95) {
        WriteBack();
      } else if (dice < 97) {
        in_transaction_ = !in_transaction_;
      } else {
        Trim();
      }
      if (::testing::Test::HasFatalFailure()) return;
      Compare(op);
      if (::testing::Test::HasFatalFailure()) return;
    }
  }

 private:
  void Fetch(int32_t number, int32_t op) {
    // A cache with room to spare keeps no use order: only a use within an
    // eighth of its capacity moves the object to the front.
    const bool keeps_order =
        static_cast<int32_t>(objects_.size()) >= cache_.Capacity() - cache_.Capacity() / 8;
    ASSERT_EQ(cache_.KeepsUseOrder(), keeps_order) << "at operation " << op;
    if (CachedObject* found = cache_.Find(number)) {
      ASSERT_TRUE(objects_.count(number)) << "found an uncached object at operation " << op;
      ASSERT_EQ(found, objects_[number]);
      if (keeps_order) {
        use_order_.remove(number);
        use_order_.push_front(number);
      }
      return;
    }
    ASSERT_FALSE(objects_.count(number)) << "missed a cached object at operation " << op;
    CachedObject* object = nullptr;
    if (cache_.Full()) {
      bool fresh_search = restarted_;
      object = cache_.TakeVictim(!in_transaction_, [&] {
        WriteBack();
        fresh_search = true;
      });
      restarted_ = false;
      const CachedObject* oldest_victim = OldestVictim();
      if (object == nullptr) {
        ASSERT_EQ(oldest_victim, nullptr) << "a victim was missed at operation " << op;
        if (!in_transaction_) return;
        cache_.Grow(kGrowth);
      } else {
        ASSERT_FALSE(object->dirty) << "a dirty victim at operation " << op;
        ASSERT_EQ(object->pins, 0) << "a pinned victim at operation " << op;
        // A search from the oldest object takes the least recently used victim.
        if (fresh_search) {
          ASSERT_EQ(object, oldest_victim) << "at operation " << op;
        }
        use_order_.remove(object->number);
        objects_.erase(object->number);
        owner_.Put(object);
      }
    }
    object = owner_.Get();
    object->number = number;
    // A new object may come in dirty, as a record made for an insert does.
    object->dirty = rng_() % 8 == 0;
    cache_.LinkAtHead(object);
    cache_.Insert(object);
    objects_[number] = object;
    use_order_.push_front(number);
  }

  // The least recently used clean, unpinned object of the model.
  const CachedObject* OldestVictim() const {
    for (auto it = use_order_.rbegin(); it != use_order_.rend(); ++it) {
      const CachedObject* object = objects_.at(*it);
      if (!object->dirty && object->pins == 0) return object;
    }
    return nullptr;
  }

  template <class Change>
  void Touch(Change change) {
    if (objects_.empty()) return;
    auto it = objects_.begin();
    std::advance(it, rng_() % objects_.size());
    change(*it->second);
  }

  // Writes back the dirty, unpinned objects with an odd number, then the
  // rest, as an owner that holds some back for a while; each time exactly
  // the model's choice, ascending.
  void WriteBack() {
    for (const int32_t parity : {1, 0}) {
      std::vector<CachedObject*> expected;
      for (const auto& [number, object] : objects_) {
        if (object->dirty && object->pins == 0 && (number & 1) == parity) {
          expected.push_back(object);
        }
      }
      std::vector<CachedObject*> dirty;
      cache_.CollectWriteBack(dirty, [parity](const CachedObject& o) {
        return (o.number & 1) == parity;
      });
      ASSERT_EQ(dirty, expected);
      for (CachedObject* object : dirty) object->dirty = false;
    }
    restarted_ = true;
  }

  void Trim() {
    cache_.SetCapacity(kCapacity);
    cache_.TrimToCapacity([this](CachedObject* object) { owner_.Put(object); });
    for (auto it = objects_.end();
         it != objects_.begin() && static_cast<int32_t>(objects_.size()) > kCapacity;) {
      --it;
      if (it->second->pins != 0) continue;
      use_order_.remove(it->first);
      it = objects_.erase(it);
    }
  }

  void Compare(int32_t op) {
    std::vector<int32_t> cached;
    for (const auto& entry : cache_.ByNumber()) cached.push_back(entry.second->number);
    std::vector<int32_t> expected;
    for (const auto& [number, object] : objects_) expected.push_back(number);
    ASSERT_EQ(cached, expected) << "at operation " << op;
    std::vector<int32_t> dirty;
    cache_.Dirty().ForEach([&](const CachedObject* object) { dirty.push_back(object->number); });
    std::sort(dirty.begin(), dirty.end());
    std::vector<int32_t> expected_dirty;
    for (const auto& [number, object] : objects_) {
      if (object->dirty) expected_dirty.push_back(number);
    }
    ASSERT_EQ(dirty, expected_dirty) << "at operation " << op;
    ASSERT_EQ(cache_.Dirty().Count(), static_cast<int32_t>(expected_dirty.size()));
    const int32_t probe = static_cast<int32_t>(rng_() % 200);
    ASSERT_EQ(cache_.Lookup(probe), objects_.count(probe) ? objects_[probe] : nullptr)
        << "at operation " << op;
  }

  std::mt19937 rng_;
  Cache cache_;
  Owner owner_;
  std::map<int32_t, CachedObject*> objects_;
  std::list<int32_t> use_order_;  // newest first
  bool in_transaction_ = false;
  bool restarted_ = true;
};

TEST(FileCache, MatchesModelThroughVictimsWriteBacksAndTrims) {
  const uint32_t seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  CacheModelRun run(seed);
  run.Run(LongTests() ? 2000000 : 100000);
}

// The number table under the cache's search against a map: numbers of the
// three forms the caches file (records in ones, BLOB blocks in 64s, index
// pages in 4096s), filed and erased at random so that runs of probes wrap
// around the array and shift back across its end; every filed number and
// some absent ones looked up after each change.
TEST(FileCache, NumberTableFindsWhatAMapFindsThroughInsertsAndErases) {
  const uint32_t seed = TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed) + " (JW_SEED)");
  std::mt19937 rng(seed);
  std::vector<CachedObject> objects(64);
  TNumberTable<CachedObject> table;
  std::map<int32_t, CachedObject*> model;
  const int32_t steps = LongTests() ? 200000 : 20000;
  for (int32_t step = 0; step < steps; ++step) {
    const int32_t stride = std::array{1, 64, 4096}[rng() % 3];
    const int32_t number = stride * (1 + static_cast<int32_t>(rng() % 200));
    const auto it = model.find(number);
    if (it == model.end()) {
      CachedObject* object = &objects[rng() % objects.size()];
      table.Insert(number, object);
      model.emplace(number, object);
    } else {
      table.Erase(number);
      model.erase(it);
    }
    ASSERT_EQ(table.Count(), model.size()) << "step " << step;
    for (const auto& [filed, object] : model) {
      ASSERT_EQ(table.Find(filed), object) << "step " << step << ", number " << filed;
    }
    const int32_t probe = std::array{1, 64, 4096}[rng() % 3] * static_cast<int32_t>(rng() % 220);
    ASSERT_EQ(table.Find(probe), model.contains(probe) ? model.at(probe) : nullptr) << probe;
  }
  table.Clear();
  EXPECT_EQ(table.Find(model.empty() ? 1 : model.begin()->first), nullptr);
}

// The number table under a cache that appends: a window of consecutive
// numbers slides on, the newest filed and the oldest erased at each step,
// so that the entries form one long run of places at home, broken up by
// numbers erased and filed again out of order, while the table wraps many
// times. Present and absent numbers are looked up against the window after
// each change, and every number at the end.
TEST(FileCache, NumberTableFollowsASlidingWindowOfNumbers) {
  const uint32_t seed = TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed) + " (JW_SEED)");
  std::mt19937 rng(seed);
  std::vector<CachedObject> objects(16);
  TNumberTable<CachedObject> table;
  std::map<int32_t, CachedObject*> model;
  const int32_t window = 3000;
  const int32_t last = LongTests() ? 2000000 : 100000;
  for (int32_t number = 1; number <= last; ++number) {
    CachedObject* object = &objects[static_cast<size_t>(number) % objects.size()];
    table.Insert(number, object);
    model.emplace(number, object);
    if (number > window) {
      table.Erase(number - window);
      model.erase(number - window);
    }
    // A record taken from inside the window and put back, as a reused slot is.
    if (rng() % 8 == 0 && number > window) {
      const int32_t inside = number - 1 - static_cast<int32_t>(rng() % (window - 1));
      table.Erase(inside);
      ASSERT_EQ(table.Find(inside), nullptr) << "number " << inside;
      table.Insert(inside, model.at(inside));
    }
    ASSERT_EQ(table.Count(), model.size()) << "number " << number;
    const int32_t probe = number - static_cast<int32_t>(rng() % (2 * window));
    const auto it = model.find(probe);
    ASSERT_EQ(table.Find(probe), it == model.end() ? nullptr : it->second) << "probe " << probe;
  }
  for (const auto& [filed, object] : model) ASSERT_EQ(table.Find(filed), object) << filed;
}

// Every victim search together looks at O(1) objects per new object, both
// when every cached object stays dirty (inside a transaction, where the
// cache grows instead) and when a dirty old end sits before clean objects
// that come and go.
TEST(FileCache, VictimSearchStepsStayLinearWhileObjectsStayDirty) {
  constexpr int32_t kObjects = 100000;
  Owner owner;
  Cache all_dirty;
  all_dirty.SetCapacity(kCapacity);
  for (int32_t n = 1; n <= kObjects; ++n) {
    if (all_dirty.Full() && all_dirty.TakeVictim(false, [] {}) == nullptr) all_dirty.Grow(255);
    CachedObject* object = owner.Get();
    object->number = n;
    object->dirty = true;
    all_dirty.LinkAtHead(object);
    all_dirty.Insert(object);
  }
  EXPECT_EQ(all_dirty.Count(), kObjects);
  EXPECT_LE(all_dirty.VictimSearchSteps(), 8 * kObjects);

  Cache dirty_end;
  constexpr int32_t kDirty = 5000;
  dirty_end.SetCapacity(kDirty + 1);
  for (int32_t n = 1; n <= kObjects; ++n) {
    CachedObject* object = nullptr;
    if (dirty_end.Full()) object = dirty_end.TakeVictim(false, [] {});
    if (object == nullptr) object = owner.Get();
    object->number = n;
    object->dirty = n <= kDirty;
    dirty_end.LinkAtHead(object);
    dirty_end.Insert(object);
  }
  EXPECT_EQ(dirty_end.Count(), kDirty + 1);
  EXPECT_LE(dirty_end.VictimSearchSteps(), 2 * kObjects);
}

}  // namespace
}  // namespace jw::test
