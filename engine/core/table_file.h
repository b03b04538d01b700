// TTableFile: what the data, index and BLOB files of one open table share on
// top of the file layer: the owning table (TDataFileOwner), opening with the
// file's own header check, positioned reads and writes under the shared
// file's lock, the forced flush, the header's dirty state, the write-back of
// cached pages and blocks, and the lock routines that try again.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine/core/data_file_format.h"
#include "engine/core/lock_bytes.h"
#include "engine/support/file_handler.h"

namespace jw {

// What a table's files ask of the table that owns them and of its session.
class TDataFileOwner {
 public:
  virtual ~TDataFileOwner() = default;
  virtual bool InTransaction() const = 0;
  // Whether the table has written a header, records, pages or blocks since it opened.
  virtual bool Written() const = 0;
  virtual void MarkWritten() = 0;
  virtual bool ForceBufferFlush() const = 0;
  virtual bool StrictChangeDetection() const = 0;
  // The index file's word: a table without a primary index never reuses records.
  virtual bool HasPrimaryIndex() const = 0;
  // One of the table's files is about to write records, descriptors, pages
  // or blocks: the table marks its data file as being written.
  virtual void BodyWriteStarting() = 0;
  // The data file is about to write records: the BLOB blocks they name go first.
  virtual void RecordsWriteStarting() {}
  // The memory the table's record and page caches may take beyond their
  // fixed sizes, which stay the floor; 0 keeps them at the fixed sizes.
  virtual int64_t CacheBudgetBytes() const { return 0; }
};

// The cache budget of an open table: half for records, half for index pages.
constexpr int64_t kTableCacheBudgetBytes = 16 * 1024 * 1024;

// Read and write buffers grow in these steps; reads and writes go up to 65535 bytes.
constexpr int32_t kIoBufferChunk = 32767;
constexpr int32_t kIoWindowBytes = 65535;
// A write-back writes a run of adjacent objects in pieces of at most this
// many bytes, so that its buffer stays bounded however much a transaction
// wrote.
constexpr int32_t kWritePieceBytes = 8 << 20;

class TTableFile : public TFileHandler {
 public:
  explicit TTableFile(TDataFileOwner* owner) : owner_(owner) {}

  // Opens the file and reads what it holds (ReadOpenedFile); a failure
  // closes it again.
  void Open() override;
  // Forgets what is held of the file in memory (DropContents) and closes it.
  void Close() override;

  // Whether the header in memory holds changes the file has not yet stored.
  bool HeaderDirty() const { return header_dirty_; }
  // Whether bodies were written since the last header write; the next
  // header write then happens unforced too, so other processes see the change.
  bool BodiesWritten() const { return bodies_written_; }
  // Names what the file holds as this object last saw it: a new stamp at
  // every write through this object and whenever the file opens or closes,
  // and no two files ever share one. A copy of the file's bytes stays true
  // while the stamp it was read under stands, unless another process wrote.
  uint64_t ContentStamp() const { return content_stamp_; }

 protected:
  TDataFileOwner* Owner() const { return owner_; }

  // Reads and checks the header (and what else the file needs) of the file just opened.
  virtual void ReadOpenedFile() = 0;
  // Drops the caches and what else is held of the file being closed.
  virtual void DropContents() = 0;
  // For the destructors: a failure of the file layer while closing must not
  // leave them.
  void CloseQuietly() noexcept;

  // The bytes read; fewer than length only with allow_short.
  int32_t ReadAt(int64_t offset, uint8_t* buffer, int32_t length, bool allow_short);
  void WriteAt(int64_t offset, const uint8_t* buffer, int32_t length);
  // Cuts the file off at offset.
  void CutAt(int64_t offset);
  void FlushIfForced(bool flush);
  // The owner's cache budget. An exclusive file's caches hold its writes
  // until they overflow the budget (or the table writes back); a shared
  // file writes back after every change, so its larger caches change no write.
  int64_t CacheBudget() const { return owner_->CacheBudgetBytes(); }
  // The flush a write-back asks for, once after all its runs, unless the
  // forced flush followed every write already: one sync per file and
  // write-back instead of one per run.
  void FlushAfterRuns(bool flush) {
    if (flush && !owner_->ForceBufferFlush()) Flush();
  }

  // A change of the header in memory: counted in the header's change counter
  // (which other processes compare) and stored by the next header write.
  void TouchHeaderCounter(int32_t& change_counter) {
    CountChange(change_counter);
    header_dirty_ = true;
    Owner()->MarkWritten();
  }
  // What follows every header write: the forced flush, the table's written
  // mark, and the header counting as stored.
  void HeaderWritten(bool flush) {
    FlushIfForced(flush);
    Owner()->MarkWritten();
    header_dirty_ = false;
    bodies_written_ = false;
  }
  // Whether a header write may be skipped.
  bool HeaderClean(bool force) const { return !force && !header_dirty_ && !bodies_written_; }
  // Whether the header on disk still begins with the change counter as
  // stored (scrambled with the record seeds when scrambled), compared
  // through the file's mapped header without a system call, or, where the
  // header is not mapped (yet), by reading the counter's four bytes alone.
  // False when it differs or cannot be read: the caller then reads the
  // header from the file, and decides as it always did.
  bool StoredCounterIs(int32_t counter, int32_t header_size, bool scrambled) {
    uint8_t read[4];
    const uint8_t* head = MappedHead(header_size);
    if (head == nullptr) {
      if (ReadAt(0, read, 4, true) != 4) return false;
      head = read;
    }
    const auto stored = static_cast<uint32_t>(GetInt32(head));
    return stored == (static_cast<uint32_t>(counter) ^ (scrambled ? kCounterStream : 0));
  }
  // What the scrambler lays over the first four bytes of a header (the
  // change counter, little-endian).
  static const uint32_t kCounterStream;
  // Comes before every write of bodies (anything but the header).
  void BodyWriting() {
    Owner()->BodyWriteStarting();
    bodies_written_ = true;
  }

  // Counts one change of the file in its header's change counter, which
  // goes round past 2^31 - 1 instead of overflowing.
  static void CountChange(int32_t& counter) {
    counter = static_cast<int32_t>(static_cast<uint32_t>(counter) + 1);
  }
  // Grows buffer in steps of kIoBufferChunk until it holds size bytes.
  static void EnsureSize(std::vector<uint8_t>& buffer, int64_t size);

  // Writes the dirty cache objects, sorted by position, with one write for
  // each run of adjacent ones of unit_size bytes (a long run in pieces of
  // kWritePieceBytes); encode(object, bytes) lays out each one in buffer.
  // Only what reached the file is marked clean; a failure leaves the rest
  // dirty, to be written again.
  template <typename T, typename Encode>
  void WriteAdjacentRuns(const std::vector<T*>& dirty, int32_t unit_size, bool flush,
                         std::vector<uint8_t>& buffer, Encode encode) {
    const size_t piece_units = static_cast<size_t>(std::max(1, kWritePieceBytes / unit_size));
    size_t begin = 0;
    while (begin < dirty.size()) {
      size_t end = begin + 1;
      while (end < dirty.size() &&
             dirty[end]->Position() == dirty[end - 1]->Position() + unit_size) {
        ++end;
      }
      for (size_t piece = begin; piece < end;) {
        const size_t piece_end = std::min(end, piece + piece_units);
        const int64_t length = static_cast<int64_t>(piece_end - piece) * unit_size;
        EnsureSize(buffer, length);
        for (size_t i = piece; i < piece_end; ++i) {
          encode(*dirty[i], buffer.data() + (i - piece) * unit_size);
        }
        BodyWriting();
        WriteAt(dirty[piece]->Position(), buffer.data(), static_cast<int32_t>(length));
        piece = piece_end;
      }
      FlushIfForced(false);
      for (size_t i = begin; i < end; ++i) dirty[i]->SetDirty(false);
      Owner()->MarkWritten();
      begin = end;
    }
    try {
      FlushAfterRuns(flush);
    } catch (...) {
      for (T* object : dirty) object->SetDirty(true);
      throw;
    }
  }

  // The read window is recorded while a read is loaded, so that a write-back
  // started for a cache slot skips what is being loaded.
  class ReadWindowScope {
   public:
    ReadWindowScope(TTableFile& file, int64_t offset, int64_t length) : file_(file) {
      file_.window_offset_ = offset;
      file_.window_length_ = length;
    }
    ~ReadWindowScope() {
      file_.window_offset_ = 0;
      file_.window_length_ = 0;
    }
    ReadWindowScope(const ReadWindowScope&) = delete;
    ReadWindowScope& operator=(const ReadWindowScope&) = delete;

   private:
    TTableFile& file_;
  };
  // Whether the byte at offset lies in the window being loaded.
  bool InReadWindow(int64_t offset) const;

  // Tries the lock up to tries times, kSemaphoreRetryMs apart, while it is
  // busy; a lock that failed is not tried again.
  bool LockWithRetries(int64_t offset, int64_t length, int32_t tries);
  // The writer's whole lock range of the index and BLOB files.
  bool LockWriterRange(int32_t tries);
  bool UnlockWriterRange();
  // A reader's byte of the lock range, r drawn anew for every try: r, or 0
  // when the tries ran out or a lock failed.
  int32_t LockReaderByte(int32_t tries);
  // False for an r that names no reader's byte.
  bool UnlockReaderByte(int32_t r);

  // Set by every change to the header in memory, cleared by the header write.
  bool header_dirty_ = false;
  bool bodies_written_ = false;

 private:
  static uint64_t NextContentStamp();

  TDataFileOwner* owner_;
  uint64_t content_stamp_ = NextContentStamp();
  int64_t window_offset_ = 0;
  int64_t window_length_ = 0;
};

}  // namespace jw
