// TOsFile: one descriptor on a disk file (always close-on-exec) with
// positioned reads and writes, and byte-range locks that hold between
// processes (open-file-description locks, never the blocking form). Share
// modes are locks on two bytes above 4 GiB: every opener read-locks the
// share byte, an exclusive opener for writing write-locks it instead, and
// an exclusive opener that may only read also read-locks the byte after it.
// Delete, rename and re-create hold the file exclusively while they work,
// and an opener makes sure that the path still names the file it holds.
#pragma once

#include <cstdint>
#include <string>

#include "platform/os/os_errors.h"

namespace jw {

// The share byte lies far above any data and above every lock byte (those
// stay below 2 GiB), so it never meets a record lock.
constexpr int64_t kShareLockOffset = 0x100000001LL;
// A descriptor that may only read cannot write-lock the share byte, so an
// exclusive opener of that kind read-locks this byte as well; shared openers
// check it after taking the share byte, and it checks the share byte after
// taking both, so of two that race at least one sees the other.
constexpr int64_t kExclusiveReadOffset = kShareLockOffset + 1;

// The outcome of a byte-range lock: taken, busy (another open file
// description holds an overlapping range; worth a retry) or failed (a bad
// range or a failure of the system; a retry cannot help).
enum class OsLockResult { Taken, Busy, Failed };

// Whether callers may lock the range: offset 0 or above, a length of 1 or
// more, and below the share byte, which only the share modes use.
bool LockRangeAllowed(int64_t offset, int64_t length);

class TOsFile;

// A read-only mapping of a file from its first byte, shared with every
// writer of the file so that another process's writes show in it at once,
// and owned by whoever holds the view (apart from every other view of the
// file). It reaches beyond the file's end, so that the file may grow into
// it; only the bytes below Length(), the file's size when the view was
// last refreshed, are ever read. A page that cannot be had (the disk
// failed, or a process outside the locks cut the file below Length())
// makes Copy fail instead of ending the process. Whoever cuts the file
// resets its view first; the file stays open while the view lives.
class TOsFileView {
 public:
  TOsFileView() = default;
  TOsFileView(const TOsFileView&) = delete;
  TOsFileView& operator=(const TOsFileView&) = delete;
  ~TOsFileView() { Reset(); }

  // Whether the file is mapped.
  bool Mapped() const { return data_ != nullptr; }
  // The bytes known to be in the file.
  int64_t Length() const { return length_; }
  // Whether a mapping failed, so that the view is not refreshed again
  // until it is reset.
  bool Refused() const { return refused_; }
  // Copies length bytes at offset, all below Length(); false when they are
  // not, or a page of them failed (the view is then refused).
  bool Copy(int64_t offset, void* buffer, int64_t length);
  // Where the byte at offset lies in the mapping, for a prefetch, which
  // never faults; nullptr when it lies at or past Length(). Nothing is to be
  // read through it: only Copy survives a page that fails.
  const uint8_t* PrefetchAddress(int64_t offset) const {
    return data_ != nullptr && offset >= 0 && offset < length_ ? data_ + offset : nullptr;
  }
  // Unmaps the view; the next refresh maps the file again.
  void Reset();

 private:
  friend class TOsFile;
  const uint8_t* data_ = nullptr;
  int64_t capacity_ = 0;
  int64_t length_ = 0;
  bool refused_ = false;
};

class TOsFile {
 public:
  TOsFile() = default;
  TOsFile(const TOsFile&) = delete;
  TOsFile& operator=(const TOsFile&) = delete;
  ~TOsFile();

  // Opens an existing file for reading (write false) or reading and writing,
  // shared or exclusive. A share conflict is AccessDenied. The file held is
  // the one the path names once the share lock is taken.
  OsFileError Open(const std::string& path, bool write, bool exclusive);
  // Opens the file for reading and writing, creating it when missing, holds
  // it exclusively and empties it. With must_be_new an existing file is
  // Exists. A file another opener holds is AccessDenied and stays untouched.
  OsFileError Create(const std::string& path, bool must_be_new);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  bool Writable() const { return writable_; }

  // Bytes read (fewer only at the end of the file) or -1.
  int64_t ReadAt(int64_t offset, void* buffer, int64_t length);
  // Bytes written (all of them) or -1.
  int64_t WriteAt(int64_t offset, const void* buffer, int64_t length);
  bool Truncate(int64_t size);
  bool Sync();
  // The file's size, or -1.
  int64_t Size();
  // The file's first length bytes, mapped for reading and shared with every
  // writer of the file, so that another process's write shows in them at
  // once; null while the file is shorter than length (a page wholly past
  // the end faults when touched, so callers must never cut the file below
  // length while it is open) or when the mapping failed. The mapping lasts
  // until Close; a later call may ask for no more bytes than the first.
  const uint8_t* MapHead(int64_t length);
  // Brings the view's length up to the file's size, mapping the file again
  // (with room to grow) when it outgrew the mapping; false when it is
  // refused or the mapping fails (the view is then refused).
  bool RefreshView(TOsFileView& view);

  // Locks [offset, offset + length) without waiting: a write lock, or a read
  // lock on a descriptor opened for reading only. Busy when another open
  // file description holds an overlapping lock; Failed for a range that
  // LockRangeAllowed refuses or a failure of the system.
  OsLockResult LockRange(int64_t offset, int64_t length);
  // Releases exactly the range; false for a range LockRangeAllowed refuses.
  bool UnlockRange(int64_t offset, int64_t length);

  // The failure of the latest call that failed.
  OsFileError LastError() const { return last_error_; }

 private:
  OsFileError Fail();

  int fd_ = -1;
  bool writable_ = false;
  const uint8_t* head_ = nullptr;
  int64_t head_length_ = 0;
  // A mapping failed: the file is not mapped again until it is reopened.
  bool head_refused_ = false;
  OsFileError last_error_ = OsFileError::None;
};

// AccessDenied while some opener holds the file, NotFound when it is
// missing, None when it may be deleted, renamed or re-created.
OsFileError OsProbeFileFree(const std::string& path);
// Deletes the file unless another opener holds it; it is held exclusively
// across the unlink, so no opener can take it meanwhile.
OsFileError OsDeleteFile(const std::string& path);
// Renames the file unless another opener holds it, held exclusively as for
// a delete; an existing target is never replaced (Exists).
OsFileError OsRenameFile(const std::string& from, const std::string& to);
// Whether the file exists, and whether it can only be read (no write
// permission for this user, or a read-only file system).
OsFileError OsFileReadOnly(const std::string& path, bool& read_only);

}  // namespace jw
