#include "engine/core/btree.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "engine/support/engine_errors.h"
#include "engine/support/records_bitmap.h"

namespace jw {
namespace {

// Thrown when the cursor reports a change of the files while a walk reads a
// page; the walk starts again from the root.
struct TFilesChanged {};

// A walk that keeps meeting changes gives up rather than spin.
constexpr int32_t kMaxRestarts = 64;

class TPin {
 public:
  TPin(TIndexFile& file, TPage* page) : file_(file), page_(page) {}
  ~TPin() { file_.ReleasePage(page_); }
  TPin(const TPin&) = delete;
  TPin& operator=(const TPin&) = delete;

 private:
  TIndexFile& file_;
  TPage* page_;
};

}  // namespace

TBTree::TPath::~TPath() {
  while (size_ > 0) file_.ReleasePage(pages_[--size_]);
}

void TBTree::TPath::Push(TPage* page) {
  if (size_ == pages_.size()) {
    file_.ReleasePage(page);
    RaiseEngineError(kErrIndexPagesCorrupt, file_.Name());
  }
  pages_[size_++] = page;
}

TBTree::TBTree(TIndexFile& file, TIndexCursor& cursor)
    : file_(file),
      cursor_(cursor),
      slot_(cursor.IndexSlot()),
      key_length_(file.IndexDesc(slot_).KeyLength) {}

template <class Operation>
auto TBTree::Retrying(Operation operation) {
  for (int32_t attempt = 1;; ++attempt) {
    try {
      return operation();
    } catch (const TFilesChanged&) {
      if (attempt == kMaxRestarts) RaiseEngineError(kErrIndexPagesCorrupt, file_.Name());
    }
  }
}

TBTree::TLeafWalk::~TLeafWalk() {
  if (fetched_) tree_.file_.ReleasePage(leaf_);
}

bool TBTree::TLeafWalk::Step(int direction) {
  const int32_t link = direction == 1 ? leaf_->Next() : leaf_->Previous();
  if (link == 0) return false;
  if (++steps_ > tree_.file_.EndPosition() / kIndexPageSize) leaf_->RaiseCorrupt();
  TPage* sibling = tree_.Fetch(link);
  const int32_t back = direction == 1 ? sibling->Previous() : sibling->Next();
  if (!sibling->IsLeaf() || sibling->KeyCount() == 0 || back != leaf_->Position()) {
    tree_.file_.ReleasePage(sibling);
    leaf_->RaiseCorrupt();
  }
  if (fetched_) tree_.file_.ReleasePage(leaf_);
  leaf_ = sibling;
  fetched_ = true;
  return true;
}

bool TBTree::PushRoot(TPath& path, TPagePosition reset) {
  TPage* root = nullptr;
  if (!file_.FetchRootPage(cursor_, reset, root)) throw TFilesChanged();
  if (root == nullptr) return false;
  path.Push(root);
  return true;
}

TPage* TBTree::Fetch(int32_t position) {
  if (changing_) return file_.FetchPageForChange(cursor_, position);
  TPage* page = nullptr;
  if (!file_.FetchPage(cursor_, position, false, page)) throw TFilesChanged();
  return page;
}

TPage* TBTree::PushChild(TPath& path) {
  if (path.Size() >= static_cast<size_t>(kMaxTreeDepth)) path.Back()->RaiseCorrupt();
  TPage* parent = path.Back();
  TPage* child = Fetch(parent->Pointer(parent->EditPosition()));
  path.Push(child);
  // Below the root only inner pages and leaves hold keys.
  if (child->IsRoot() || child->Free() || child->KeyCount() == 0) child->RaiseCorrupt();
  child->SetParentPosition(parent->Position());
  return child;
}

int64_t TBTree::KeyCount() {
  return Retrying([&]() -> int64_t {
    TPath path(file_);
    return PushRoot(path, TPagePosition::Navigation) ? path[0]->TotalKeys() : 0;
  });
}

// ---- lookups ----

bool TBTree::Find(const uint8_t* key, int32_t& record_number) {
  return Retrying([&]() -> bool {
    TPath path(file_);
    if (!PushRoot(path, TPagePosition::Edit)) return false;
    TPage* page = path.Back();
    while (!page->IsLeaf()) {
      page->DescendLookup(cursor_, key);
      page = PushChild(path);
    }
    if (!page->DescendLookup(cursor_, key)) return false;
    record_number = page->Pointer(page->EditPosition());
    return true;
  });
}

int64_t TBTree::CountBounded(const uint8_t* key, bool upper) {
  return Retrying([&]() -> int64_t {
    TPath path(file_);
    if (!PushRoot(path, TPagePosition::Navigation)) return 0;
    TPage* page = path.Back();
    int64_t ordinal = 0;
    for (;;) {
      if (upper) {
        page->NavigateUpperBound(cursor_, key, ordinal);
      } else {
        page->NavigateLowerBound(cursor_, key, ordinal);
      }
      if (page->IsLeaf()) return ordinal;
      page->CopyNavigationToEdit();
      page = PushChild(path);
    }
  });
}

int64_t TBTree::CountBelow(const uint8_t* key) {
  return CountBounded(key, false);
}

int64_t TBTree::CountNotAbove(const uint8_t* key) {
  return CountBounded(key, true);
}

bool TBTree::DescendToOrdinal(TPath& path, int64_t ordinal) {
  if (!PushRoot(path, TPagePosition::Edit)) return false;
  TPage* page = path.Back();
  ordinal = std::clamp<int64_t>(ordinal, 1, page->TotalKeys());
  for (;;) {
    page->DescendToOrdinal(ordinal);
    if (page->IsLeaf()) return true;
    page = PushChild(path);
  }
}

TLeafSpot TBTree::SpotOf(const TPage* leaf, int32_t entry, int64_t ordinal) const {
  TLeafSpot spot{&file_, slot_, file_.PagesVersion(), leaf->Position(), entry, leaf->Pointer(entry),
                 ordinal};
  spot.Leaf = leaf;
  spot.Departures = file_.PageDepartures(slot_);
  return spot;
}

bool TBTree::Select(int64_t ordinal, uint8_t* key, int32_t& record_number, TLeafSpot* spot) {
  return Retrying([&]() -> bool {
    TPath path(file_);
    if (!DescendToOrdinal(path, ordinal) || ordinal < 1 || ordinal > path[0]->TotalKeys()) {
      return false;
    }
    TPage* leaf = path.Back();
    std::memcpy(key, leaf->Key(leaf->EditPosition()), key_length_);
    record_number = leaf->Pointer(leaf->EditPosition());
    if (spot != nullptr) *spot = SpotOf(leaf, leaf->EditPosition(), ordinal);
    return true;
  });
}

TPage* TBTree::SpotLeaf(const TLeafSpot& spot) {
  if (spot.File != &file_ || spot.Slot != slot_ || spot.Version != file_.PagesVersion()) {
    return nullptr;
  }
  TPage* leaf = Fetch(spot.Page);
  // An unchanged version keeps the page as the spot saw it; what is
  // checked here costs nothing against a walk from the root.
  if (!leaf->IsLeaf() || spot.Entry < 1 || spot.Entry > leaf->KeyCount() ||
      leaf->Pointer(spot.Entry) != spot.RecordNumber) {
    file_.ReleasePage(leaf);
    return nullptr;
  }
  return leaf;
}

const TPage* TBTree::KeptLeaf(const TLeafSpot& spot) const {
  const TPage* leaf = spot.Leaf;
  if (leaf == nullptr || spot.File != &file_ || spot.Slot != slot_ ||
      spot.Version != file_.PagesVersion() || spot.Departures != file_.PageDepartures(slot_)) {
    return nullptr;
  }
  // What SpotLeaf checks of the page it fetches holds for the kept one too.
  if (leaf->Position() != spot.Page || !leaf->IsLeaf() || spot.Entry < 1 ||
      spot.Entry > leaf->KeyCount() || leaf->Pointer(spot.Entry) != spot.RecordNumber) {
    return nullptr;
  }
  return leaf;
}

void TBTree::TakeStep(const TPage* leaf, int32_t entry, int direction, uint8_t* key,
                      int32_t& record_number, std::span<int32_t> ahead, int32_t stride) const {
  std::memcpy(key, leaf->Key(entry), key_length_);
  record_number = leaf->Pointer(entry);
  int32_t next = entry;
  for (int32_t& number : ahead) {
    next += direction == 1 ? stride : -stride;
    number = next >= 1 && next <= leaf->KeyCount() ? leaf->Pointer(next) : 0;
  }
}

bool TBTree::KeyAtSpot(const TLeafSpot& spot, uint8_t* key, int32_t& record_number) const {
  const TPage* kept = KeptLeaf(spot);
  if (kept == nullptr) return false;
  TakeStep(kept, spot.Entry, 1, key, record_number, {}, 0);
  return true;
}

bool TBTree::StepAlong(TLeafSpot& spot, int direction, uint8_t* key, int32_t& record_number,
                       std::span<int32_t> ahead, int32_t stride) {
  // A step within the kept leaf reads nothing but the leaf: nothing is
  // fetched, so nothing can push the leaf out meanwhile, and the spot stays
  // on the leaf at the pages' version it had.
  if (const TPage* kept = KeptLeaf(spot); kept != nullptr) {
    const int32_t entry = spot.Entry + (direction == 1 ? 1 : -1);
    if (entry >= 1 && entry <= kept->KeyCount()) {
      TakeStep(kept, entry, direction, key, record_number, ahead, stride);
      spot.Entry = entry;
      spot.RecordNumber = record_number;
      spot.Ordinal += direction == 1 ? 1 : -1;
      return true;
    }
  }
  try {
    TPage* leaf = SpotLeaf(spot);
    if (leaf == nullptr) return false;
    const TPin pin(file_, leaf);
    TLeafWalk walk(*this, leaf);
    int32_t entry = spot.Entry + (direction == 1 ? 1 : -1);
    if (entry < 1 || entry > leaf->KeyCount()) {
      if (!walk.Step(direction)) return false;
      entry = direction == 1 ? 1 : walk.Leaf()->KeyCount();
    }
    TakeStep(walk.Leaf(), entry, direction, key, record_number, ahead, stride);
    spot = SpotOf(walk.Leaf(), entry, spot.Ordinal + (direction == 1 ? 1 : -1));
    return true;
  } catch (const TFilesChanged&) {
    return false;
  }
}

bool TBTree::FollowInsert(TLeafSpot& spot, int64_t ordinal) {
  if (spot.File != &file_ || spot.Slot != slot_ || spot.Entry < 1) return false;
  try {
    TPage* leaf = Fetch(spot.Page);
    const TPin pin(file_, leaf);
    if (!leaf->IsLeaf() || leaf->Free()) return false;
    // A record has one key in an index: its number names its entry.
    for (const int32_t entry : {spot.Entry, spot.Entry + 1}) {
      if (entry <= leaf->KeyCount() && leaf->Pointer(entry) == spot.RecordNumber) {
        spot = SpotOf(leaf, entry, ordinal);
        return true;
      }
    }
    return false;
  } catch (const TFilesChanged&) {
    return false;
  }
}

int64_t TBTree::Locate(const uint8_t* key, int32_t record_number) {
  return Retrying([&]() -> int64_t {
    TPath path(file_);
    if (!PushRoot(path, TPagePosition::Navigation)) return 0;
    TPage* page = path.Back();
    int64_t ordinal = 0;
    while (!page->IsLeaf()) {
      page->NavigateLowerBound(cursor_, key, ordinal);
      page->CopyNavigationToEdit();
      page = PushChild(path);
    }
    page->NavigateLowerBound(cursor_, key, ordinal);
    // Equal keys run on across leaves; the walk ends at the first other key.
    int32_t position = page->NavigationPosition();
    TLeafWalk walk(*this, page);
    for (;;) {
      TPage* leaf = walk.Leaf();
      if (position > leaf->KeyCount()) {
        if (!walk.Step(1)) return 0;
        position = 1;
        continue;
      }
      if (cursor_.CompareKeys(leaf->Key(position), key, key_length_) != 0) return 0;
      ++ordinal;
      if (leaf->Pointer(position) == record_number) return ordinal;
      ++position;
    }
  });
}

// ---- navigation and walks ----

// The leaves before hold only keys below the leaf's first key, those after
// only keys above its last: between them, the first key not below the one
// sought is on this leaf. The search gallops out from the entry it starts
// at, so that a key near the last one sought costs a few comparisons, not a
// search of the whole leaf.
int32_t TBTree::FirstNotBelowNear(const TPage& leaf, int32_t start, const uint8_t* key) const {
  const int32_t count = leaf.KeyCount();
  const auto below = [&](int32_t entry) {
    return cursor_.CompareKeys(leaf.Key(entry), key, key_length_) < 0;
  };
  // The answer lies in (low, high]: the key at low is below, that at high
  // is not.
  int32_t low = std::clamp(start, 1, count);
  int32_t high = low;
  if (below(low)) {
    for (int32_t step = 1;; step *= 2) {
      if (high == count) return 0;
      high = std::min(low + step, count);
      if (!below(high)) break;
      low = high;
    }
  } else {
    for (int32_t step = 1;; step *= 2) {
      if (low == 1) return 0;
      low = std::max(high - step, 1);
      if (below(low)) break;
      high = low;
    }
  }
  while (high - low > 1) {
    const int32_t middle = low + (high - low) / 2;
    if (below(middle)) {
      low = middle;
    } else {
      high = middle;
    }
  }
  return high;
}

bool TBTree::NavigateInLeaf(const uint8_t* key, TLeafSpot& spot, uint8_t* spot_key,
                            TKeyPosition& at, std::span<int32_t> ahead, int32_t stride) {
  try {
    TPage* leaf = SpotLeaf(spot);
    if (leaf == nullptr) return false;
    const TPin pin(file_, leaf);
    const int32_t entry = FirstNotBelowNear(*leaf, spot.Entry, key);
    if (entry == 0) return false;
    at.Found = cursor_.CompareKeys(leaf->Key(entry), key, key_length_) == 0;
    at.Ordinal = spot.Ordinal - spot.Entry + entry;
    std::memcpy(spot_key, leaf->Key(entry), key_length_);
    // Searches that move up the leaf by the same step each time will want
    // the records that many steps on.
    const int32_t step = entry - spot.Entry;
    int32_t next = entry;
    for (int32_t& number : ahead) {
      next += step * stride;
      number = step > 0 && next <= leaf->KeyCount() ? leaf->Pointer(next) : 0;
    }
    spot = SpotOf(leaf, entry, at.Ordinal);
    return true;
  } catch (const TFilesChanged&) {
    // The walk from the root meets the change and starts again.
    return false;
  }
}

TKeyPosition TBTree::Navigate(const uint8_t* key, bool after, TLeafSpot* spot, uint8_t* spot_key,
                              std::span<int32_t> ahead, int32_t stride) {
  TKeyPosition in_leaf;
  if (spot != nullptr && after && NavigateInLeaf(key, *spot, spot_key, in_leaf, ahead, stride)) {
    return in_leaf;
  }
  std::fill(ahead.begin(), ahead.end(), 0);
  return Retrying([&]() -> TKeyPosition {
    if (spot != nullptr) *spot = TLeafSpot();
    TPath path(file_);
    if (!PushRoot(path, TPagePosition::Navigation)) return {false, after ? 1 : 0};
    TPage* page = path.Back();
    int64_t ordinal = 0;
    while (!page->IsLeaf()) {
      page->NavigateToKey(cursor_, key, after, ordinal);
      page->CopyNavigationToEdit();
      page = PushChild(path);
    }
    TLeafWalk walk(*this, page);
    TKeyPosition at;
    int32_t entry = 0;
    if (page->NavigateToKey(cursor_, key, after, ordinal)) {
      entry = page->NavigationPosition();
      at = {true, ordinal + 1};
    } else {
      // The keys of the whole index below the key, and those of this leaf.
      const int32_t position = page->NavigationPosition();
      const int32_t leaf_below = after ? position - 1 : position;
      const int64_t below = after || position == 0 ? ordinal : ordinal + 1;
      entry = position;
      bool equal = false;
      // The leaf ends below the key; the first equal key may open the next one.
      if (leaf_below == page->KeyCount() && walk.Step(1)) {
        entry = 1;
        equal = cursor_.CompareKeys(walk.Leaf()->Key(1), key, key_length_) == 0;
      }
      at = {equal, equal || after ? below + 1 : below};
    }
    // With after, the key at the ordinal is the entry on the leaf the walk
    // ended on; past the leaf's last entry the index holds none.
    const TPage* leaf = walk.Leaf();
    if (spot != nullptr && after && entry <= leaf->KeyCount()) {
      std::memcpy(spot_key, leaf->Key(entry), key_length_);
      *spot = SpotOf(leaf, entry, at.Ordinal);
    }
    return at;
  });
}

TKeyPosition TBTree::RangeScan(const uint8_t* lower, const uint8_t* upper, bool strict) {
  return Retrying([&]() -> TKeyPosition {
    TPath path(file_);
    if (!PushRoot(path, TPagePosition::Navigation)) return {};
    TPage* page = path.Back();
    int64_t ordinal = 0;
    while (!page->IsLeaf()) {
      page->RangeScan(cursor_, lower, upper, strict, ordinal);
      page->CopyNavigationToEdit();
      page = PushChild(path);
    }
    if (page->RangeScan(cursor_, lower, upper, strict, ordinal)) return {true, ordinal + 1};
    const int32_t position = page->NavigationPosition();
    if (position < page->KeyCount() ||
        cursor_.CompareKeys(page->Key(position), lower, key_length_) >= 0) {
      return {false, ordinal + 1};
    }
    // Every key of the leaf lies below lower; the next leaf opens with the
    // first key not below it.
    TLeafWalk walk(*this, page);
    if (!walk.Step(1)) return {false, ordinal + 1};
    const bool equal = cursor_.CompareKeys(walk.Leaf()->Key(1), lower, key_length_) == 0;
    return {equal, equal || strict ? ordinal + 2 : ordinal + 1};
  });
}

int64_t TBTree::NextInBitmap(int64_t ordinal, const TRecordsBitmap& bitmap, int direction,
                             const uint8_t* end_key) {
  return Retrying([&]() -> int64_t {
    TPath path(file_);
    if (!DescendToOrdinal(path, ordinal)) return 0;
    const bool forward = direction == 1;
    const int64_t total = path[0]->TotalKeys();
    TPage* leaf = path.Back();
    int64_t at = std::clamp<int64_t>(ordinal, 1, total);
    leaf->SetNavigationPosition(leaf->EditPosition());
    // From an edge of the index the walk starts before its first key or
    // after its last one.
    if (forward && ordinal < 1) {
      at = 0;
      leaf->SetNavigationPosition(0);
    } else if (!forward && ordinal > total) {
      at = total + 1;
      leaf->SetNavigationPosition(leaf->KeyCount() + 1);
    }
    TLeafWalk walk(*this, leaf);
    for (;;) {
      int32_t steps = 0;
      const TWalkStop stop = walk.Leaf()->WalkBitmap(cursor_, bitmap, direction, end_key, steps);
      at += forward ? steps : -steps;
      if (stop == TWalkStop::Found) return at;
      if (stop == TWalkStop::RangeEnd || !walk.Step(direction)) return 0;
      walk.Leaf()->SetNavigationPosition(forward ? 0 : walk.Leaf()->KeyCount() + 1);
    }
  });
}

void TBTree::MarkRecords(int64_t ordinal, TRecordsBitmap& bitmap, const uint8_t* end_key) {
  Retrying([&] {
    TPath path(file_);
    if (!DescendToOrdinal(path, ordinal) || ordinal > path[0]->TotalKeys()) return;
    TPage* leaf = path.Back();
    leaf->SetNavigationPosition(leaf->EditPosition());
    TLeafWalk walk(*this, leaf);
    while (walk.Leaf()->MarkBitmap(cursor_, bitmap, end_key) == TWalkStop::PageEnd &&
           walk.Step(1)) {
      walk.Leaf()->SetNavigationPosition(1);
    }
  });
}

// ---- insert ----

void TBTree::Insert(const uint8_t* key, int32_t record_number) {
  InsertKey(key, record_number, false);
}

bool TBTree::InsertUnique(const uint8_t* key, int32_t record_number) {
  return InsertKey(key, record_number, true);
}

bool TBTree::InsertKey(const uint8_t* key, int32_t record_number, bool unique) {
  return Retrying([&]() -> bool {
    TPath path(file_);
    if (!PushRoot(path, TPagePosition::Edit)) {
      const TChangeScope changing(*this);
      TPage* page = file_.NewPage(cursor_);
      path.Push(page);
      page->SetPageType(kPageRootLeaf);
      page->InsertAt(1, key, record_number, 1);
      file_.SetRoot(slot_, page->Position());
      return true;
    }
    TPage* page = path.Back();
    while (!page->IsLeaf()) {
      page->DescendInsert(cursor_, key);
      // A key below every entry goes down the first child.
      if (page->EditPosition() == 0) page->SetEditPosition(1);
      page = PushChild(path);
    }
    page->DescendInsert(cursor_, key);
    // The walk went down the children whose first keys are not above the
    // key, as a lookup does, so an equal key would stand where it stopped.
    const int32_t at = page->EditPosition();
    if (unique && at >= 1 && cursor_.CompareKeys(page->Key(at), key, key_length_) == 0) {
      return false;
    }
    // A split cascade appends at most one page per level and a new root;
    // refuse before changing anything when the file cannot take them.
    const int64_t room = static_cast<int64_t>(path.Size() + 1) * kIndexPageSize;
    if (file_.FreeHead(slot_) == 0 && file_.EndPosition() + room >= kMaxEndPosition) {
      RaiseEngineError(kErrTableFull, file_.Name());
    }
    const TChangeScope changing(*this);
    InsertEntry(path, path.Size() - 1, key, 1, record_number);
    ApplyCountDelta(path, 1);
    return true;
  });
}

void TBTree::InsertEntry(TPath& path, size_t level, const uint8_t* key, int32_t count,
                         int32_t pointer) {
  TPage* page = path[level];
  const int32_t position = page->EditPosition() + 1;
  page->InsertAt(position, key, pointer, count);
  page->SetEditPosition(position);
  if (position == 1) PropagateFirstKey(path, level);
  if (!page->Overflowing()) {
    exact_level_ = level;
    return;
  }
  Split(path, level);
}

void TBTree::PropagateFirstKey(TPath& path, size_t level) {
  std::vector<uint8_t> first(path[level]->Key(1), path[level]->Key(1) + key_length_);
  for (size_t j = level; j-- > 0;) {
    TPage* parent = path[j];
    const int32_t entry = std::max(parent->EditPosition(), 1);
    parent->ReplaceKey(entry, first.data());
    if (entry != 1) break;
  }
}

void TBTree::RelinkNeighbour(int32_t neighbour, bool its_previous, int32_t replacement) {
  if (neighbour == 0) return;
  TPage* page = Fetch(neighbour);
  const TPin pin(file_, page);
  if (its_previous) {
    page->SetPrevious(replacement);
  } else {
    page->SetNext(replacement);
  }
  page->SetDirty(true);
}

void TBTree::SplitPage(TPage* page, TPage* new_page) {
  const uint8_t type = page->IsLeaf() ? kPageLeaf : kPageInner;
  const int32_t count = page->KeyCount();
  const int32_t moved = count / 2;
  new_page->SetPageType(type);
  page->SetPageType(type);
  new_page->MoveEntriesFrom(*page, count - moved + 1, moved, 1);
  new_page->SetPrevious(page->Position());
  new_page->SetNext(page->Next());
  RelinkNeighbour(page->Next(), true, new_page->Position());
  page->SetNext(new_page->Position());
  new_page->SetParentPosition(page->ParentPosition());
  page->SetDirty(true);
  new_page->SetDirty(true);
  if (!page->CompressedLeaf()) return;
  // Compressed entries differ in size: balance the halves by bytes.
  while (page->UsedBytes() > kPageEntryBytes && page->KeyCount() > 1) {
    new_page->MoveEntriesFrom(*page, page->KeyCount(), 1, 1);
    if (new_page->UsedBytes() > kPageEntryBytes) page->RaiseCorrupt();
  }
  while (new_page->UsedBytes() > kPageEntryBytes && new_page->KeyCount() > 1) {
    page->MoveEntriesFrom(*new_page, 1, 1, page->KeyCount() + 1);
    if (page->UsedBytes() > kPageEntryBytes) page->RaiseCorrupt();
  }
  if (page->UsedBytes() > kPageEntryBytes || new_page->UsedBytes() > kPageEntryBytes) {
    page->RaiseCorrupt();
  }
}

void TBTree::Split(TPath& path, size_t level) {
  TPage* page = path[level];
  const bool was_root = page->IsRoot();
  if (!was_root && level == 0) page->RaiseCorrupt();
  TPage* new_page = file_.NewPage(cursor_);
  const TPin new_pin(file_, new_page);
  SplitPage(page, new_page);
  if (was_root) {
    TPage* root = file_.NewPage(cursor_);
    const TPin root_pin(file_, root);
    root->SetPageType(kPageRoot);
    root->InsertAt(1, page->Key(1), page->Position(), static_cast<int32_t>(page->TotalKeys()));
    root->InsertAt(2, new_page->Key(1), new_page->Position(),
                   static_cast<int32_t>(new_page->TotalKeys()));
    page->SetParentPosition(root->Position());
    new_page->SetParentPosition(root->Position());
    file_.SetRoot(slot_, root->Position());
    exact_level_ = 0;
    return;
  }
  TPage* parent = path[level - 1];
  const int32_t entry = parent->EditPosition();
  if (parent->Pointer(entry) != page->Position()) parent->RaiseCorrupt();
  parent->SetCount(entry, static_cast<int32_t>(page->TotalKeys()));
  InsertEntry(path, level - 1, new_page->Key(1), static_cast<int32_t>(new_page->TotalKeys()),
              new_page->Position());
}

// ---- delete ----

bool TBTree::DescendToEntry(TPath& path, const uint8_t* key, int32_t record_number) {
  if (!PushRoot(path, TPagePosition::Edit)) return false;
  TPage* page = path.Back();
  while (!page->IsLeaf()) {
    page->DescendLookup(cursor_, key);
    page = PushChild(path);
  }
  page->DescendInsert(cursor_, key);
  const int32_t position = page->EditPosition();
  return position >= 1 && page->Pointer(position) == record_number &&
         cursor_.CompareKeys(page->Key(position), key, key_length_) == 0;
}

void TBTree::Delete(const uint8_t* key, int32_t record_number) {
  Retrying([&] {
    // A key of its own is met by one descent; among equal keys the entry
    // may lie on an earlier leaf, and is found by its ordinal instead.
    std::optional<TPath> path(std::in_place, file_);
    if (!DescendToEntry(*path, key, record_number)) {
      path.emplace(file_);
      const int64_t ordinal = Locate(key, record_number);
      if (ordinal == 0) RaiseEngineError(kErrIndexPagesCorrupt, file_.Name());
      if (!DescendToOrdinal(*path, ordinal)) RaiseEngineError(kErrIndexPagesCorrupt, file_.Name());
      TPage* leaf = path->Back();
      const int32_t position = leaf->EditPosition();
      if (leaf->Pointer(position) != record_number ||
          cursor_.CompareKeys(leaf->Key(position), key, key_length_) != 0) {
        leaf->RaiseCorrupt();
      }
    }
    const TChangeScope changing(*this);
    DeleteEntry(*path, path->Size() - 1);
    ApplyCountDelta(*path, -1);
  });
}

void TBTree::DeleteEntry(TPath& path, size_t level) {
  TPage* page = path[level];
  const int32_t position = page->EditPosition();
  page->RemoveAt(position);
  if (page->KeyCount() > 0 && position == 1) PropagateFirstKey(path, level);
  if (position > page->KeyCount()) page->SetEditPosition(std::max(page->KeyCount(), 1));
  if (page->CompressedLeaf()) {
    if (page->KeyCount() > 0) {
      exact_level_ = level;
      return;
    }
    if (level == 0) {
      CollapseRoot(page);
      return;
    }
    RelinkNeighbour(page->Previous(), false, page->Next());
    RelinkNeighbour(page->Next(), true, page->Previous());
    file_.FreePage(page);
    DeleteEntry(path, level - 1);
    return;
  }
  if (page->KeyCount() >= page->Capacity() / 2) {
    exact_level_ = level;
    return;
  }
  if (level == 0) {
    CollapseRoot(page);
    return;
  }
  Rebalance(path, level);
}

void TBTree::CollapseRoot(TPage* root) {
  exact_level_ = 0;
  if (root->IsLeaf()) {
    if (root->KeyCount() > 0) return;
    file_.FreePage(root);
    file_.SetRoot(slot_, 0);
    return;
  }
  if (root->KeyCount() != 1) return;
  TPage* child = Fetch(root->Pointer(1));
  const TPin pin(file_, child);
  child->SetPageType(child->IsLeaf() ? kPageRootLeaf : kPageRoot);
  child->SetParentPosition(0);
  child->SetPrevious(0);
  child->SetNext(0);
  child->SetDirty(true);
  file_.FreePage(root);
  file_.SetRoot(slot_, child->Position());
}

void TBTree::Rebalance(TPath& path, size_t level) {
  TPage* page = path[level];
  TPage* parent = path[level - 1];
  const int32_t entry = parent->EditPosition();
  if (parent->Pointer(entry) != page->Position()) parent->RaiseCorrupt();
  // An only child has no sibling under its parent to share with.
  if (parent->KeyCount() < 2) {
    exact_level_ = level;
    return;
  }
  const bool with_previous = entry > 1;
  const int32_t sibling_entry = with_previous ? entry - 1 : entry + 1;
  TPage* sibling = Fetch(parent->Pointer(sibling_entry));
  const TPin pin(file_, sibling);
  const bool linked =
      with_previous
          ? sibling->Next() == page->Position() && page->Previous() == sibling->Position()
          : page->Next() == sibling->Position() && sibling->Previous() == page->Position();
  if (!linked || sibling->IsLeaf() != page->IsLeaf() || sibling->KeyCount() == 0) {
    sibling->RaiseCorrupt();
  }
  const int32_t total = page->KeyCount() + sibling->KeyCount();
  if (total < page->Capacity()) {
    if (with_previous) {
      sibling->MoveEntriesFrom(*page, 1, page->KeyCount(), sibling->KeyCount() + 1);
      parent->SetCount(sibling_entry, static_cast<int32_t>(sibling->TotalKeys()));
      sibling->SetNext(page->Next());
      RelinkNeighbour(page->Next(), true, sibling->Position());
    } else {
      sibling->MoveEntriesFrom(*page, 1, page->KeyCount(), 1);
      parent->SetCount(sibling_entry, static_cast<int32_t>(sibling->TotalKeys()));
      parent->ReplaceKey(sibling_entry, sibling->Key(1));
      sibling->SetPrevious(page->Previous());
      RelinkNeighbour(page->Previous(), false, sibling->Position());
    }
    file_.FreePage(page);
    parent->SetEditPosition(entry);
    DeleteEntry(path, level - 1);
    return;
  }
  TPage* left = with_previous ? sibling : page;
  TPage* right = with_previous ? page : sibling;
  const int32_t keep = with_previous ? (total + 1) / 2 : total / 2;
  if (left->KeyCount() > keep) {
    right->MoveEntriesFrom(*left, keep + 1, left->KeyCount() - keep, 1);
  } else if (left->KeyCount() < keep) {
    left->MoveEntriesFrom(*right, 1, keep - left->KeyCount(), left->KeyCount() + 1);
  }
  const int32_t left_entry = with_previous ? sibling_entry : entry;
  parent->SetCount(left_entry, static_cast<int32_t>(left->TotalKeys()));
  parent->SetCount(left_entry + 1, static_cast<int32_t>(right->TotalKeys()));
  parent->ReplaceKey(left_entry + 1, right->Key(1));
  exact_level_ = level - 1;
}

void TBTree::ApplyCountDelta(TPath& path, int32_t delta) {
  for (size_t j = 0; j < exact_level_ && j < path.Size(); ++j) {
    TPage* page = path[j];
    const int32_t entry = page->EditPosition();
    page->SetCount(entry, page->Count(entry) + delta);
  }
}

}  // namespace jw
