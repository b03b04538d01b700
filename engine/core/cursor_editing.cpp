// TDataCursor's write side: the write bracket, record locks, and insert,
// modify and delete with every index and the status index kept in step.
// Every refusal is decided before the first key changes; a file error
// after that undoes the key changes made so far, in reverse order, while
// the write lock is still held, so no index names a record never written.
#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "engine/core/blob_post.h"
#include "engine/core/btree.h"
#include "engine/core/cursor_read_scope.h"
#include "engine/core/index_slot_cursor.h"
#include "engine/core/record_keys.h"

namespace jw {
namespace {

// A key of any index, or a bookmark, without an allocation.
using TKeyImage = std::array<uint8_t, kMaxKeyLength>;
static_assert(kNaturalBookmarkSize <= kMaxKeyLength);

// The key changes of one edit, to be undone by compensating changes.
class TKeyChanges {
 public:
  TKeyChanges(TIndexFile& file, TIndexCursor& owner) : file_(file), owner_(owner) {}

  void Insert(int32_t slot, const uint8_t* key, int32_t number) {
    Apply(slot, key, number, true);
    Record(slot, key, number, true);
  }
  // Inserts unless an equal key is there: false then, nothing changed.
  bool InsertUnique(int32_t slot, const uint8_t* key, int32_t number) {
    TBTree tree(file_, SlotCursor(slot));
    if (!tree.InsertUnique(key, number)) return false;
    Record(slot, key, number, true);
    return true;
  }
  void Delete(int32_t slot, const uint8_t* key, int32_t number) {
    Apply(slot, key, number, false);
    Record(slot, key, number, false);
  }
  bool Any() const { return count_ > 0; }
  // Reverse order: a key inserted twice into one slot (never for one
  // record) would otherwise come out in the wrong place.
  void Undo() {
    for (size_t k = count_; k-- > 0;) {
      const TChange& change = At(k);
      Apply(change.Slot, change.Key.data(), change.Number, !change.Inserted);
    }
    count_ = 0;
    more_.clear();
  }

 private:
  struct TChange {
    int32_t Slot;
    TKeyImage Key;
    int32_t Number;
    bool Inserted;
  };
  // The first changes of an edit stay in place, without an allocation: an
  // insert into a table with up to two indexes makes no more.
  static constexpr size_t kInPlace = 4;
  TChange& At(size_t k) { return k < kInPlace ? first_[k] : more_[k - kInPlace]; }
  void Record(int32_t slot, const uint8_t* key, int32_t number, bool inserted) {
    TChange& change = count_ < kInPlace ? first_[count_] : more_.emplace_back();
    ++count_;
    change.Slot = slot;
    std::memcpy(change.Key.data(), key, static_cast<size_t>(file_.IndexDesc(slot).KeyLength));
    change.Number = number;
    change.Inserted = inserted;
  }
  void Apply(int32_t slot, const uint8_t* key, int32_t number, bool insert) {
    TBTree tree(file_, SlotCursor(slot));
    insert ? tree.Insert(key, number) : tree.Delete(key, number);
  }
  // An edit changes each index up to twice (the status index in a delete,
  // a changed key in a modify): the key orders of its first indexes are
  // built once, in place.
  TIndexSlotCursor& SlotCursor(int32_t slot) {
    for (std::optional<TIndexSlotCursor>& cursor : cursors_) {
      if (!cursor) return cursor.emplace(owner_, file_, slot);
      if (cursor->IndexSlot() == slot) return *cursor;
    }
    return other_.emplace(owner_, file_, slot);
  }

  TIndexFile& file_;
  TIndexCursor& owner_;
  std::array<std::optional<TIndexSlotCursor>, kInPlace> cursors_;
  std::optional<TIndexSlotCursor> other_;
  std::array<TChange, kInPlace> first_;
  std::vector<TChange> more_;
  size_t count_ = 0;
};

// Refuses a read-only cursor, then holds the write bracket and ends it on
// every way out; an error already on its way is not replaced by a failed
// release.
class TWriteScope {
 public:
  explicit TWriteScope(TDataCursor& cursor) : cursor_(cursor) {
    if (cursor_.ReadOnly()) RaiseEngineError(kErrAccessDenied, cursor_.TableName());
    cursor_.BeginWrite();
  }
  ~TWriteScope() {
    try {
      cursor_.EndWrite();
    } catch (const Exception&) {
    }
  }
  TWriteScope(const TWriteScope&) = delete;
  TWriteScope& operator=(const TWriteScope&) = delete;

 private:
  TDataCursor& cursor_;
};

// The image's key of the index in slot, built into key; its bytes.
const uint8_t* KeyOf(const TDataFile& data, const TIndexFile& index, int32_t slot,
                     const uint8_t* image, TKeyImage& key) {
  BuildRecordKey(data, index.IndexDesc(slot), slot, image, key.data());
  return key.data();
}

std::vector<uint8_t> StatusKeyOf(const uint8_t* image) {
  std::vector<uint8_t> key(kStatusKeyLength);
  BuildStatusKey(image, key.data());
  return key;
}

// Stores the image in the slot the data file hands out next (the head of
// the free chain, else a new one at the end).
void PlaceRecord(TDataFile& data, TIndexFile& index, const uint8_t* image) {
  TRecord* record = data.AllocRecord();
  record->InitNew(false);
  record->SetFieldBytes(image);
  record->SetRecordId(TDataCursor::GetRecordId(image));
  record->SetModified(true);
  data.ReleaseRecord(record);
  index.IncLiveCount();
}

// Frees slot n, rewritten from image first when one is given; the status
// key the slot had while live.
std::vector<uint8_t> FreeSlot(TDataFile& data, TIndexFile& index, int32_t n, const uint8_t* image) {
  TRecord* record = nullptr;
  data.FetchRecord(nullptr, n, 1, false, false, record);
  if (image != nullptr) record->SetFieldBytes(image);
  std::vector<uint8_t> status = StatusKeyOf(record->Bytes());
  try {
    data.FreeRecord(record);
  } catch (...) {
    data.ReleaseRecord(record);
    throw;
  }
  record->SetModified(true);
  data.ReleaseRecord(record);
  index.DecLiveCount();
  return status;
}

// Takes back FreeSlot of slot n while it still heads the free chain, which
// started at free_head before: the slot is live again, holding image.
void ReviveSlot(TDataFile& data, TIndexFile& index, int32_t n, int32_t free_head,
                const uint8_t* image) {
  TRecord* record = nullptr;
  data.FetchRecord(nullptr, n, 1, false, false, record);
  try {
    data.ReviveRecord(record, free_head);
  } catch (...) {
    data.ReleaseRecord(record);
    throw;
  }
  record->SetFieldBytes(image);
  record->SetRecordId(TDataCursor::GetRecordId(image));
  record->SetModified(true);
  data.ReleaseRecord(record);
  index.IncLiveCount();
}

}  // namespace

// ---- brackets ----

void TDataCursor::BeginWrite() {
  TKeyImage bookmark;
  GetBookmark(bookmark.data());
  // The writers' range covers this table's own reader byte.
  EndRead();
  const bool changed = table_->LockForRecordWrite();
  try {
    if ((WatchesChanges() && (changed || CountersMoved())) || resync_pending_) {
      SaveChangeCounters();
      resync_pending_ = false;
      RecomputeView();
      GotoBookmark(bookmark.data(), true, true);
    }
  } catch (...) {
    table_->UnlockForWrite();
    throw;
  }
}

void TDataCursor::EndWrite() {
  table_->UnlockForWrite();
}

bool TDataCursor::LockForRead() {
  TKeyImage bookmark;
  GetBookmark(bookmark.data());
  bool changed = table_->LockForStatement();
  changed = WatchesChanges() && (changed || CountersMoved());
  if (!changed) return false;
  SaveChangeCounters();
  RecomputeView();
  return GotoBookmark(bookmark.data(), true, true);
}

void TDataCursor::UnlockForRead() {
  table_->UnlockForStatement();
}

// ---- record locks ----

void TDataCursor::LockRecord(int32_t number) {
  const int32_t n = number == 0 ? CurrentRecordNumber() : number;
  TKeyImage bookmark;
  GetBookmark(bookmark.data());
  if (n <= 0 || table_->IsCursorLocked(n) ||
      (table_->IsRecordHeld(n) && !table_->InTransaction())) {
    Raise(kErrRecordInUse);
  }
  const bool changed = table_->LockRecord(n);
  table_->MarkCursorLock(n);
  if ((WatchesChanges() && (changed || CountersMoved()))) {
    SaveChangeCounters();
    RecomputeView();
    GotoBookmark(bookmark.data(), true, true);
  }
}

void TDataCursor::UnlockRecord(int32_t number) {
  const int32_t n = number == 0 ? CurrentRecordNumber() : number;
  if (n <= 0 || !table_->IsCursorLocked(n)) Raise(kErrUnlock);
  table_->ClearCursorLock(n);
  table_->UnlockRecord(n);
}

void TDataCursor::LockRecordsForTransaction(const std::vector<int32_t>& numbers) {
  table_->LockRecordsForTransaction(numbers);
}

void TDataCursor::KeepWriteLock() {
  table_->KeepWriteLock();
}

void TDataCursor::ReleaseKeptWriteLock() {
  table_->ReleaseKeptWriteLock();
}

int32_t TDataCursor::GetCurrentRecord(uint8_t* image, bool lock) {
  if (!lock) return GetCurrentRecord(image);
  {
    TCursorReadScope read(*this);
    if (!OnRecord()) return GetCurrentRecord(image);
    const int32_t number = exclusive_ ? 0 : record_number_;
    LockRecord(number);
    if (!exclusive_) {
      ReadCurrent();
      if (!SameAsCurrent(image)) {
        UnlockRecord(number);
        Raise(kErrRecordChanged);
      }
    }
  }
  return GetCurrentRecord(image);
}

// ---- helpers ----

void TDataCursor::ReadCurrentForEdit() {
  if (!OnRecord()) Raise(kErrRecordChanged);
  ReadCurrent();
}

std::vector<int32_t> TDataCursor::KeyedSlots() const {
  std::vector<int32_t> slots;
  if (result_set_ && !natural_order_) return slots;
  if (table_->HasPrimaryIndex()) slots.push_back(kPrimarySlot);
  for (int32_t s = 1; s <= table_->IndexFile().SecondaryCount(); ++s) slots.push_back(s);
  return slots;
}

int32_t TDataCursor::NextFreeRecord() const {
  const TDataFile& data = table_->DataFile();
  return data.FreeHead() != 0 && table_->HasPrimaryIndex() ? data.FreeHead()
                                                           : data.NextRecordNumber();
}

void TDataCursor::CheckUniqueKey(int32_t slot, const uint8_t* key) {
  TIndexFile& index = table_->IndexFile();
  if (slot != kStatusSlot && index.IndexDesc(slot).Unique == 0) return;
  TIndexSlotCursor cursor(*this, index, slot);
  TBTree tree(index, cursor);
  int32_t found = 0;
  if (tree.Find(key, found)) Raise(kErrDuplicateKey, "", index.IndexDesc(slot).Name);
}

void TDataCursor::WriteChange(bool index_changed, bool blob_changed) {
  if (!exclusive_ && !table_->InTransaction()) {
    table_->WriteBack(false, true, table_->ForceBufferFlush(), blob_changed, index_changed);
  } else {
    table_->DataFile().TouchHeader();
    if (index_changed) table_->IndexFile().TouchHeader();
    if (blob_changed) table_->BlobFile().TouchHeader();
  }
}

template <class Undo>
void TDataCursor::CommitChange(bool index_changed, bool blob_changed, Undo undo) {
  try {
    WriteChange(index_changed, blob_changed);
  } catch (const Exception&) {
    // Part of the change may be on disk: what was written is written again
    // as it was before, and the first error is the one reported.
    try {
      undo();
      WriteChange(true, blob_changed);
    } catch (const Exception&) {
    }
    SaveChangeCounters();
    throw;
  }
  SaveChangeCounters();
}

std::vector<uint8_t> TDataCursor::BookmarkOf(const uint8_t* image, int32_t number) const {
  std::vector<uint8_t> bookmark(static_cast<size_t>(GetBookmarkSize()));
  BookmarkOf(image, number, bookmark.data());
  return bookmark;
}

void TDataCursor::BookmarkOf(const uint8_t* image, int32_t number, uint8_t* bookmark) const {
  if (NaturalOrderInForce()) {
    PutInt32(bookmark, number);
  } else {
    BuildKey(image, bookmark);
  }
}

void TDataCursor::ReturnTo(const std::vector<uint8_t>& bookmark, int32_t number,
                           const uint8_t* image) {
  // Only the written record's bits move, so a write costs no walk of the table.
  if (image != nullptr) {
    FilterRecordChanged(number, image);
  } else {
    FilterRecordDeleted(number);
  }
  // In natural order a record changed where the cursor stands keeps its
  // place while it stays visible: it is read again there, without counting
  // the visible records before it.
  if (image != nullptr && NaturalOrderInForce() && OnRecord() && record_number_ == number &&
      GetInt32(bookmark.data()) == number && visible_->IsSet(number)) {
    StandOnNumber(number, position_);
    return;
  }
  GotoBookmark(bookmark.data(), false, true);
}

bool TDataCursor::SpotHolds(const uint8_t* bookmark, const std::vector<int32_t>& slots) const {
  const TIndexFile& index = table_->IndexFile();
  return !NaturalOrderInForce() && OnRecord() && key_length_ > 0 &&
         std::find(slots.begin(), slots.end(), slot_) != slots.end() && spot_.File == &index &&
         spot_.Slot == slot_ && spot_.Version == index.PagesVersion() &&
         spot_.RecordNumber == record_number_ && spot_.Ordinal == position_ &&
         CompareKeys(key_.data(), bookmark, key_length_) == 0;
}

void TDataCursor::StayAfterInsert(const uint8_t* bookmark, int32_t number, const uint8_t* image) {
  FilterRecordChanged(number, image);
  TKeyImage key;
  BuildKey(image, key.data());
  // Keys of one index are distinct (the record id ends those whose values
  // repeat): the new one sorts before the cursor's or after it.
  if (CompareKeys(key.data(), key_.data(), key_length_) < 0) ++position_;
  TBTree tree(table_->IndexFile(), *this);
  if (!tree.FollowInsert(spot_, position_)) spot_ = TLeafSpot();
  // A record outside the range or hidden by the view was left for the
  // nearest one shown, as the walk back would.
  if (position_ < range_start_ || position_ > range_end_ ||
      (bitmap_view_ && !visible_->IsSet(record_number_))) {
    GotoBookmark(bookmark, false, true);
  }
}

// ---- insert, modify, delete ----

void TDataCursor::InsertRecord(uint8_t* image, bool reposition) {
  TWriteScope write(*this);
  TDataFile& data = table_->DataFile();
  TIndexFile& index = table_->IndexFile();
  TKeyImage before;
  BookmarkOf(current_.data(), record_number_, before.data());
  const int32_t n = NextFreeRecord();
  LockRecord(n);
  TKeyChanges changes(index, *this);
  try {
    CheckRecord(image);
    const int32_t last = data.LastAutoInc();
    // The counter never wraps: a value past the last one would repeat an id.
    // A record that keeps its own id still goes in; the counter stays.
    const bool exhausted = last >= kMaxCounterValue;
    if (exhausted && !keep_auto_inc_) Raise(kErrFieldLimits);
    const int32_t next = exhausted ? last : last + 1;
    if (!keep_auto_inc_) SetRecordId(image, next);
    const std::vector<int32_t> slots = KeyedSlots();
    TKeyImage key;
    const auto key_of = [&](size_t k) {
      BuildRecordKey(data, index.IndexDesc(slots[k]), slots[k], image, key.data());
      return key.data();
    };
    // When the first index is the only one to check, its insert (the first
    // change) checks it: one walk instead of two, and nothing is changed yet
    // when it refuses.
    const auto unique = [&](int32_t slot) { return index.IndexDesc(slot).Unique != 0; };
    const bool insert_checks = !slots.empty() && unique(slots.front()) && !keep_auto_inc_ &&
                               std::none_of(slots.begin() + 1, slots.end(), unique);
    if (!insert_checks) {
      for (size_t k = 0; k < slots.size(); ++k) CheckUniqueKey(slots[k], key_of(k));
    }
    // Keep-auto-inc must not hand out an id a live record has.
    if (keep_auto_inc_) CheckUniqueKey(kStatusSlot, StatusKeyOf(image).data());
    const bool stays = !reposition && SpotHolds(before.data(), slots);
    TBlobPost post(*this, image);
    bool stored = false;
    try {
      for (size_t k = 0; k < slots.size(); ++k) {
        if (k > 0 || !insert_checks) {
          changes.Insert(slots[k], key_of(k), n);
        } else if (!changes.InsertUnique(slots[k], key_of(k), n)) {
          Raise(kErrDuplicateKey, "", index.IndexDesc(slots[k]).Name);
        }
      }
      if (n != data.NextRecordNumber()) {
        TRecord* old = nullptr;
        data.FetchRecord(nullptr, n, 1, false, false, old);
        const std::vector<uint8_t> deleted = StatusKeyOf(old->Bytes());
        data.ReleaseRecord(old);
        changes.Delete(kStatusSlot, deleted.data(), n);
      }
      TKeyImage status;
      BuildStatusKey(image, status.data());
      changes.Insert(kStatusSlot, status.data(), n);
      const bool blobs = post.Write();
      const bool appended = n == data.NextRecordNumber();
      PlaceRecord(data, index, image);
      data.SetLastAutoInc(keep_auto_inc_ ? std::max(next, GetRecordId(image)) : next);
      stored = true;
      // Undone, the new record becomes a deleted slot: an appended one
      // keeps its number, so the status index gets its deleted key.
      CommitChange(true, blobs, [&] {
        changes.Undo();
        post.Undo();
        std::vector<uint8_t> status = FreeSlot(data, index, n, nullptr);
        if (appended) {
          status[0] = kRecordFree;
          changes.Insert(kStatusSlot, status.data(), n);
        }
      });
    } catch (const Exception&) {
      if (!stored) {
        changes.Undo();
        post.Undo();
      }
      throw;
    }
    post.Finish();
    if (stays) {
      StayAfterInsert(before.data(), n, image);
    } else {
      const auto size = static_cast<size_t>(GetBookmarkSize());
      ReturnTo(reposition ? BookmarkOf(image, n)
                          : std::vector<uint8_t>(before.begin(), before.begin() + size),
               n, image);
    }
  } catch (...) {
    UnlockRecord(n);
    throw;
  }
  UnlockRecord(n);
}

void TDataCursor::ModifyRecord(uint8_t* image, bool unlock, bool reposition) {
  TWriteScope write(*this);
  ReadCurrentForEdit();
  TDataFile& data = table_->DataFile();
  TIndexFile& index = table_->IndexFile();
  const int32_t n = record_number_;
  const std::vector<uint8_t> old = current_;
  CheckRecord(image);
  if (keep_auto_inc_) {
    data.SetLastAutoInc(std::max(data.LastAutoInc(), GetRecordId(image)));
  } else {
    SetRecordId(image, GetRecordId(old.data()));
  }
  struct TKeyPair {
    int32_t Slot;
    TKeyImage Old, New;
  };
  std::vector<TKeyPair> changed;
  std::vector<int32_t> slots = KeyedSlots();
  if (keep_auto_inc_) slots.push_back(kStatusSlot);
  TKeyImage old_key;
  TKeyImage new_key;
  for (const int32_t slot : slots) {
    KeyOf(data, index, slot, old.data(), old_key);
    KeyOf(data, index, slot, image, new_key);
    // Equal bytes are equal keys in every order; only keys that differ in
    // bytes need the index's own comparison.
    const int32_t length = index.IndexDesc(slot).KeyLength;
    if (std::memcmp(old_key.data(), new_key.data(), static_cast<size_t>(length)) == 0) continue;
    TIndexSlotCursor cursor(*this, index, slot);
    if (cursor.CompareKeys(old_key.data(), new_key.data(), length) == 0) continue;
    CheckUniqueKey(slot, new_key.data());
    changed.push_back({slot, old_key, new_key});
  }
  TKeyChanges changes(index, *this);
  TBlobPost post(*this, image);
  bool stored = false;
  try {
    for (const TKeyPair& pair : changed) {
      changes.Delete(pair.Slot, pair.Old.data(), n);
      changes.Insert(pair.Slot, pair.New.data(), n);
    }
    const bool blobs = post.Write();
    const auto store = [&](const uint8_t* bytes) {
      TRecord* record = nullptr;
      data.FetchRecord(nullptr, n, 1, false, false, record);
      record->SetFieldBytes(bytes);
      record->SetRecordId(GetRecordId(bytes));
      record->SetModified(true);
      data.ReleaseRecord(record);
    };
    store(image);
    stored = true;
    CommitChange(changes.Any(), blobs, [&] {
      changes.Undo();
      post.Undo();
      store(old.data());
    });
  } catch (const Exception&) {
    if (!stored) {
      changes.Undo();
      post.Undo();
    }
    throw;
  }
  post.Finish();
  if (unlock && table_->IsCursorLocked(n)) UnlockRecord(n);
  ReturnTo(reposition ? BookmarkOf(image, n) : BookmarkOf(old.data(), n), n, image);
}

// The cursor goes to the nearest record either way: its own is gone.
void TDataCursor::DeleteRecord(const uint8_t* image, bool /*reposition*/) {
  TWriteScope write(*this);
  ReadCurrentForEdit();
  TDataFile& data = table_->DataFile();
  TIndexFile& index = table_->IndexFile();
  if (!exclusive_ && !SameAsCurrent(image)) Raise(kErrRecordChanged);
  const int32_t n = record_number_;
  std::vector<uint8_t> old = current_;
  const bool lock = !table_->IsCursorLocked(n);
  if (lock) LockRecord(n);
  TKeyChanges changes(index, *this);
  // The slot is rewritten from gone: the record with its BLOBs let go.
  std::vector<uint8_t> gone = old;
  TBlobPost post(*this, gone.data());
  bool stored = false;
  try {
    try {
      TKeyImage key;
      for (const int32_t slot : KeyedSlots())
        changes.Delete(slot, KeyOf(data, index, slot, old.data(), key), n);
      BuildStatusKey(old.data(), key.data());
      changes.Delete(kStatusSlot, key.data(), n);
      key[0] = kRecordFree;
      changes.Insert(kStatusSlot, key.data(), n);
      bool blobs = false;
      if (GetBlobFieldCount() > 0) {
        ClearRecordBlobs(gone.data());
        blobs = post.Write();
      }
      const int32_t free_head = data.FreeHead();
      FreeSlot(data, index, n, gone.data());
      stored = true;
      CommitChange(true, blobs, [&] {
        changes.Undo();
        post.Undo();
        ReviveSlot(data, index, n, free_head, old.data());
      });
    } catch (const Exception&) {
      if (!stored) {
        changes.Undo();
        post.Undo();
      }
      post.Finish();
      throw;
    }
    post.Finish();
    ReturnTo(BookmarkOf(old.data(), n), n, nullptr);
  } catch (...) {
    if (lock) UnlockRecord(n);
    throw;
  }
  if (lock || table_->IsCursorLocked(n)) UnlockRecord(n);
}

// The caller holds the write bracket and writes back; the indexes left
// alone hold no key of the record (they are being built).
void TDataCursor::RemoveRecord(int32_t number, const std::vector<int32_t>& leave_alone) {
  TDataFile& data = table_->DataFile();
  TIndexFile& index = table_->IndexFile();
  TRecord* record = nullptr;
  data.FetchRecord(nullptr, number, 1, false, false, record);
  std::vector<uint8_t> image(record->Bytes(), record->Bytes() + data.RecordSize());
  const bool live = record->Status() == kRecordLive;
  data.ReleaseRecord(record);
  if (!live) Raise(kErrRecordChanged);
  const auto kept = [&](int32_t slot) {
    return std::find(leave_alone.begin(), leave_alone.end(), slot) != leave_alone.end();
  };
  TKeyChanges changes(index, *this);
  TBlobPost post(*this, image.data());
  try {
    for (const int32_t slot : KeyedSlots()) {
      TKeyImage key;
      if (!kept(slot)) changes.Delete(slot, KeyOf(data, index, slot, image.data(), key), number);
    }
    if (!kept(kStatusSlot)) {
      std::vector<uint8_t> status = StatusKeyOf(image.data());
      changes.Delete(kStatusSlot, status.data(), number);
      status[0] = kRecordFree;
      changes.Insert(kStatusSlot, status.data(), number);
    }
    if (GetBlobFieldCount() > 0) {
      ClearRecordBlobs(image.data());
      post.Write();
    }
    FreeSlot(data, index, number, image.data());
  } catch (const Exception&) {
    changes.Undo();
    post.Undo();
    post.Finish();
    throw;
  }
  post.Finish();
}

}  // namespace jw
