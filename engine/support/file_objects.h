// The shared file objects of the file layer: TAbstractFile (handles with
// their positions, the size, the in-process byte-range lock list), the
// in-memory TMemoryFile and the disk TPhysicalFile. There is one object per
// file name and kind in the process; TFileList creates, shares and frees
// them. Failures come back as negated engine codes, never as exceptions.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/support/engine_errors.h"
#include "platform/os/os_file.h"
#include "platform/rtl/sync.h"

namespace jw {

// Writes never reach the lock bytes that the tables keep near 2^31.
constexpr int64_t kMaxFileEnd = 0x7FFF0000;

// The engine code (EngineFileErrorCodes) of an operating-system failure.
EngineErrorCode EngineCodeFromOsError(OsFileError error);

class TAbstractFile {
 public:
  TAbstractFile() = default;
  TAbstractFile(const TAbstractFile&) = delete;
  TAbstractFile& operator=(const TAbstractFile&) = delete;
  virtual ~TAbstractFile() = default;

  // Index of the handle in the handle table, or -1.
  virtual int32_t FindHandle(int32_t id);
  // A new handle id (>= 1) or a negated engine code.
  virtual int32_t CreateFile();
  virtual int32_t OpenFile();
  virtual void CloseHandle(int32_t id);
  // 0 or a negated engine code.
  virtual int32_t Rename(const std::string& new_name);
  virtual int32_t Delete();
  // Bytes read or written at the handle's position; -1 on failure. Writing
  // 0 bytes truncates the file at the position.
  virtual int32_t Read(int32_t id, void* buffer, int32_t length);
  virtual int32_t Write(int32_t id, const void* buffer, int32_t length);
  virtual bool Flush(int32_t id);
  // Origin 0 from the start, 1 from the position, 2 the end; the new position.
  virtual int64_t Seek(int32_t id, int64_t offset, int origin);
  // Taken; Busy when the range overlaps a held one, even one of the same
  // handle, or another process holds it; Failed for a range that
  // LockRangeAllowed refuses or a failure of the system.
  virtual OsLockResult LockRegion(int64_t offset, int64_t length);
  // Releases the held range with exactly this offset and length.
  virtual bool UnlockRegion(int64_t offset, int64_t length);
  // One byte at each offset (ascending, distinct), locked as one step:
  // Taken when all are held afterwards, else none of them is (Busy when
  // one is held elsewhere, Failed as for LockRegion).
  virtual OsLockResult LockBytes(const std::vector<int64_t>& offsets);
  // Releases the one-byte ranges at the offsets (ascending, distinct);
  // false when one was not held so (it is skipped) or could not be released.
  virtual bool UnlockBytes(const std::vector<int64_t>& offsets);
  // The first length bytes of a disk file, mapped so that every process's
  // writes show in them at once (TOsFile::MapHead), valid while a handle is
  // open; null for a file in memory or where no mapping can be made.
  virtual const uint8_t* MapHead(int32_t length);
  // Brings the view up to the disk file's size (TOsFile::RefreshView);
  // false for a file in memory or where no mapping can be made.
  virtual bool RefreshView(TOsFileView& view);

  TCriticalSection& Lock() { return lock_; }
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool value) { exclusive_ = value; }
  bool ReadOnly() const { return read_only_; }
  bool ReadOnlyAttributeFound() const { return read_only_found_; }
  bool Temporary() const { return temporary_; }
  void SetTemporary(bool value) { temporary_ = value; }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  int64_t Size() const { return size_; }
  int32_t HandleCount() const { return static_cast<int32_t>(handles_.size()); }

 protected:
  struct HandleRecord {
    int32_t id = 0;
    int64_t position = 0;
  };

  HandleRecord* FindRecord(int32_t id);
  // Appends a handle with the lowest id no open handle carries.
  int32_t AddHandle();
  // Whether a write of length bytes at position stays below the lock area.
  static bool WriteFits(int64_t position, int32_t length);
  // The in-process lock list alone.
  OsLockResult AddRange(int64_t offset, int64_t length);
  bool RemoveRange(int64_t offset, int64_t length);
  void ClearRanges() { ranges_.clear(); }
  // Whether a range of the in-process list has a byte in first .. last.
  bool HeldWithin(int64_t first, int64_t last) const;

  bool read_only_ = false;
  bool read_only_found_ = false;
  int64_t size_ = 0;

 private:
  TCriticalSection lock_;
  bool exclusive_ = false;
  bool temporary_ = false;
  std::string name_;
  // The locked ranges by their first byte, to their last: they never
  // overlap, so the neighbours of a new range are the only ones it can
  // meet, and a transaction holding a lock on every record it changed
  // pays O(log n) a lock.
  std::map<int64_t, int64_t> ranges_;
  std::vector<HandleRecord> handles_;
};

// A file that lives only in memory, in a buffer of whole 4096-byte pages that
// at least doubles when it grows.
class TMemoryFile : public TAbstractFile {
 public:
  ~TMemoryFile() override;

  int32_t CreateFile() override;
  int32_t Read(int32_t id, void* buffer, int32_t length) override;
  int32_t Write(int32_t id, const void* buffer, int32_t length) override;

  int32_t Capacity() const { return capacity_; }

 private:
  void* data_ = nullptr;
  int32_t capacity_ = 0;
};

// A disk file: one descriptor serves every handle, and all handles share one
// position. Its byte-range locks hold between processes; the in-process
// lock list is asked first, since locks of one descriptor never conflict.
// A temporary file, created or opened, is deleted when its last handle closes.
class TPhysicalFile : public TAbstractFile {
 public:
  int32_t CreateFile() override;
  int32_t OpenFile() override;
  void CloseHandle(int32_t id) override;
  int32_t Rename(const std::string& new_name) override;
  int32_t Delete() override;
  int32_t Read(int32_t id, void* buffer, int32_t length) override;
  int32_t Write(int32_t id, const void* buffer, int32_t length) override;
  bool Flush(int32_t id) override;
  int64_t Seek(int32_t id, int64_t offset, int origin) override;
  OsLockResult LockRegion(int64_t offset, int64_t length) override;
  bool UnlockRegion(int64_t offset, int64_t length) override;
  OsLockResult LockBytes(const std::vector<int64_t>& offsets) override;
  bool UnlockBytes(const std::vector<int64_t>& offsets) override;
  const uint8_t* MapHead(int32_t length) override;
  bool RefreshView(TOsFileView& view) override;

  // The next CreateFile fails with 13060 when the file exists already, so
  // that a new name cannot race another process.
  void SetMustBeNew(bool value) { must_be_new_ = value; }

 private:
  TOsFile os_file_;
  int64_t position_ = 0;
  bool delete_on_close_ = false;
  bool must_be_new_ = false;
};

}  // namespace jw
