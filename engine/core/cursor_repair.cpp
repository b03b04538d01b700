// The repair of a table whose last write was cut off, run by the first
// cursor that opens it (see RepairInterruptedWrite in data_cursor.h).
#include "engine/core/data_cursor.h"
#include "engine/core/index_rebuild.h"

namespace jw {

void TDataCursor::RepairInterruptedWrite() {
  if (table_->ReadOnly()) Raise(kErrHeaderCorrupt);
  table_->LockForWrite();
  try {
    // The mark may be another process's write in progress at the open; only
    // a mark still there under the write lock is left by a writer that died.
    table_->Reload(true, true);
    if (table_->DataFile().WriteInterrupted()) {
      // The BLOB file first: removing a duplicate record during the index
      // rebuild frees its BLOB onto the free list.
      const std::vector<TBlobChainStart> chains = table_->DataFile().RepairRecords();
      if (table_->BlobFileInUse()) table_->BlobFile().RebuildFreeList(chains);
      RebuildIndexes(*this, {}, TIndexRebuildHandlers());
      table_->DataFile().WriteRepaired();
      table_->WriteBack(false, true, table_->ForceBufferFlush(), true, true);
    }
    // The open left the index file unjudged behind the mark.
    table_->IndexFile().Check();
  } catch (...) {
    table_->UnlockForWrite();
    throw;
  }
  table_->UnlockForWrite();
  SaveChangeCounters();
}

}  // namespace jw
