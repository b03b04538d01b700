// TDataCursor's index definitions: adding an index built from the records,
// and dropping one with its pages.
#include "engine/core/data_cursor.h"
#include "engine/core/index_rebuild.h"
#include "platform/rtl/strings.h"

namespace jw {

void TDataCursor::SetIndexProgressHandler(TProgressHandler handler, void* user_data) {
  index_progress_ = handler;
  index_progress_user_data_ = user_data;
}

template <class Change>
void TDataCursor::DefinitionChange(Change change) {
  table_->LockForWrite();
  try {
    change();
    table_->WriteBack(false, true, false, table_->BlobFileInUse(), true);
  } catch (...) {
    try {
      table_->UnlockForWrite();
    } catch (const Exception&) {
    }
    SaveChangeCounters();
    throw;
  }
  table_->UnlockForWrite();
  SaveChangeCounters();
}

void TDataCursor::DropIndexPages() {
  // Cached pages carry their slot's descriptor: once descriptors move or
  // change, what is cached is written and forgotten.
  TIndexFile& index = table_->IndexFile();
  index.FlushPages(false);
  index.DropPageCache(false);
}

void TDataCursor::AddIndex(const IndexDescriptor& descriptor) {
  CheckOpen();
  CheckExclusive();
  CheckWritable();
  IndexDescriptor added = descriptor;
  added.SegmentCount = 0;
  while (added.SegmentCount < kMaxSegments && added.FieldNumbers[added.SegmentCount] != 0) {
    ++added.SegmentCount;
  }
  if (added.SegmentCount == 0) Raise(kErrInvalidKeySize, "", descriptor.Name);
  TIndexFile& index = table_->IndexFile();
  DefinitionChange([&] {
    index.AddIndexDesc(added);
    const int32_t slot = index.SecondaryCount();
    TIndexRebuildHandlers handlers;
    // A unique index over equal keys is refused whole: no record is lost
    // to an index definition.
    handlers.Duplicate = [](int32_t, int32_t) { return false; };
    if (index_progress_ != nullptr) {
      handlers.Progress = [this](int32_t number, int32_t percent) {
        index_progress_(index_progress_user_data_, number, percent);
      };
    }
    const auto drop_built = [&] {
      FreeIndexPages(index, *this, slot);
      DropIndexPages();
      index.RemoveIndexDesc(slot, true);
    };
    bool built = false;
    try {
      built = RebuildIndexes(*this, {slot}, handlers);
    } catch (...) {
      // The error that stopped the build is the one the caller hears of.
      try {
        drop_built();
      } catch (const Exception&) {
      }
      throw;
    }
    if (!built) {
      const std::string name = index.IndexDesc(slot).Name;
      drop_built();
      table_->WriteBack(false, true, false, false, true);
      Raise(kErrDuplicateKey, "", name);
    }
  });
  SelectIndex(index_number_);
  First();
}

void TDataCursor::DeleteIndex(const std::string& name, bool remove) {
  CheckOpen();
  CheckExclusive();
  CheckWritable();
  const TIndexFile& index = table_->IndexFile();
  for (int32_t slot = 0; slot <= index.SecondaryCount(); ++slot) {
    if (SameText(Trim(index.IndexDesc(slot).Name), Trim(name))) {
      DeleteIndexByNumber(slot, remove);
      return;
    }
  }
  Raise(kErrInvalidIndexName, "", name);
}

void TDataCursor::DeleteIndexByNumber(int32_t number, bool remove) {
  CheckOpen();
  CheckExclusive();
  CheckWritable();
  TIndexFile& index = table_->IndexFile();
  if (number < 0 || number > index.SecondaryCount()) {
    Raise(kErrInvalidIndexName, "", std::to_string(number));
  }
  DefinitionChange([&] {
    FreeIndexPages(index, *this, number);
    DropIndexPages();
    index.RemoveIndexDesc(number, remove);
  });
  SelectIndex(kPrimarySlot);
  First();
}

}  // namespace jw
