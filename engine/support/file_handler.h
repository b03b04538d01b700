// TFileHandler: a table's handle on a shared file object, the base of the
// storage core's data, index and BLOB files. It reaches the file objects
// through the registry and raises engine errors with its file name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/support/file_objects.h"

namespace jw {

// The calls of TFileHandler::ReadMapped that an open handle leaves to the
// read calls before it maps its file.
constexpr int32_t kReadsBeforeMapping = 8;
// The calls of TFileHandler::MappedHead that an open handle answers with
// null (the caller reads the header's counter from the file) before it
// maps the file's head.
constexpr int32_t kHeadReadsBeforeMapping = 8;

class TFileHandler {
 public:
  TFileHandler() = default;
  TFileHandler(const TFileHandler&) = delete;
  TFileHandler& operator=(const TFileHandler&) = delete;
  virtual ~TFileHandler();

  virtual void Open();
  virtual void Close();
  // Creates the named file empty and keeps it open. With must_be_new a file
  // that exists already raises 13060 and is left alone.
  virtual void CreateFile(bool must_be_new = false);
  virtual void DeleteFile();
  virtual void RenameFile(const std::string& new_name);
  virtual void CopyToFile(const std::string& file_name);
  // Raises 9217 when fewer bytes came back and short reads are not allowed.
  virtual int32_t Read(void* buffer, int32_t length, bool allow_short);
  // Raises 9218 unless every byte was written; 0 bytes truncates the file
  // at the position.
  virtual int32_t Write(const void* buffer, int32_t length);
  virtual void Flush();

  void CopyFromFile(const std::string& file_name);
  bool Exists();
  // Origin 0 from the start, 1 from the position, 2 the end (offset 0).
  int64_t Seek(int64_t offset, int origin);
  int64_t GetSize();
  // Locks (lock true) or unlocks the byte range. A lock is Taken, Busy
  // (held elsewhere, in this process or another: worth a retry) or Failed
  // (a range below 0, empty or reaching the share byte, no open file, or a
  // failure of the system: a retry cannot help). An unlock is Taken when
  // exactly this range was held and is now released, else Failed.
  // Virtual so that a test layer can watch every lock call of a table file.
  virtual OsLockResult SetRegionLock(int64_t offset, int64_t length, bool lock);
  // The same for one byte at each offset (ascending, distinct) as one
  // step: a lock takes all or none; an unlock is Taken when every byte was
  // held and is now released.
  virtual OsLockResult SetByteLocks(const std::vector<int64_t>& offsets, bool lock);
  // The first length bytes of the open disk file through a mapping that
  // shows every process's writes at once, so that reading them takes no
  // system call; null for a file in memory, a file still shorter than
  // length, or where no mapping can be made. The bytes may change under the
  // reader at any time: a caller copies what it compares. The first
  // kHeadReadsBeforeMapping calls of an open handle give null too: the
  // mapping, its page fault and its end (which makes the system flush the
  // address translations of every processor the process ran on) cost more
  // than the few reads of a table that opens, looks and closes.
  const uint8_t* MappedHead(int32_t length) {
    if (head_ != nullptr) return length <= head_length_ ? head_ : nullptr;
    if (unmapped_heads_ < kHeadReadsBeforeMapping) {
      ++unmapped_heads_;
      return nullptr;
    }
    return MapHead(length);
  }
  // Copies up to length bytes at offset through a read-only mapping of
  // the disk file that this handle keeps (TOsFileView), without a system
  // call while they lie within the file's size as last seen; the size is
  // looked at again when they reach past it. The bytes copied: fewer at the
  // file's end, 0 where no mapping serves (a file in memory, a mapping
  // refused, a page of it that failed): the caller then reads them from
  // the file, which reports what went wrong. Cutting the file through the
  // handle drops its mapping first; no other handle cuts the file while
  // this one is open, since only an exclusive opener cuts it. The first
  // kReadsBeforeMapping calls of an open handle copy nothing: a mapping,
  // its page faults and its end cost as much as a dozen read calls, which
  // a table that reads a BLOB or two and closes then saves. Virtual so
  // that a test layer counts it with the reads.
  virtual int32_t ReadMapped(int64_t offset, uint8_t* buffer, int32_t length);
  // Where the byte at offset lies in the mapping ReadMapped reads through,
  // for a prefetch ahead of that read; nullptr where no mapping holds it.
  const uint8_t* PrefetchAddress(int64_t offset) const { return view_.PrefetchAddress(offset); }
  // The shared file's lock, held around a seek and its read or write.
  void EnterFileLock();
  void LeaveFileLock();

  bool InMemory() const { return in_memory_; }
  void SetInMemory(bool value) { in_memory_ = value; }
  TAbstractFile* File() const { return file_; }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name);
  int32_t Handle() const { return handle_; }
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool value) { exclusive_ = value; }
  bool ReadOnly() const { return read_only_; }
  bool IsOpen() const { return open_; }
  bool Temporary() const { return temporary_; }
  void SetTemporary(bool value) { temporary_ = value; }

 private:
  // The handle's state once the registry opened or made its file.
  void TakeOpenedFile(TAbstractFile* file, int32_t handle);
  // Lets go of both mappings and starts their counts of calls again.
  void ForgetMappings();
  // MappedHead before the mapping is made.
  const uint8_t* MapHead(int32_t length);
  // Raises the code of a negated registry result with the file name.
  void Check(int32_t result) const;
  [[noreturn]] void Raise(EngineErrorCode code) const;

  bool in_memory_ = false;
  TAbstractFile* file_ = nullptr;
  // The mapping MappedHead found, kept while the handle is open (the file
  // object keeps it as long as it has open handles).
  const uint8_t* head_ = nullptr;
  int32_t head_length_ = 0;
  // MappedHead's calls before the mapping was made.
  int32_t unmapped_heads_ = 0;
  // The mapping ReadMapped reads through, and its calls before it was made.
  TOsFileView view_;
  int32_t unmapped_reads_ = 0;
  std::string name_;
  int32_t handle_ = 0;
  bool exclusive_ = false;
  bool read_only_ = false;
  bool open_ = false;
  bool temporary_ = false;
};

// Holds the shared file's lock around a seek and its read or write.
class FileLockGuard {
 public:
  explicit FileLockGuard(TFileHandler& file) : file_(file) { file_.EnterFileLock(); }
  ~FileLockGuard() { file_.LeaveFileLock(); }
  FileLockGuard(const FileLockGuard&) = delete;
  FileLockGuard& operator=(const FileLockGuard&) = delete;

 private:
  TFileHandler& file_;
};

}  // namespace jw
