#include "platform/os/os_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/os/os_file_faults.h"

namespace jw {
namespace {

// One non-blocking open-file-description lock call; EINTR retries at once.
int SetLock(int fd, short type, int64_t offset, int64_t length) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = offset;
  lock.l_len = length;
  int result;
  do {
    result = fcntl(fd, F_OFD_SETLK, &lock);
  } while (result < 0 && errno == EINTR);
  return result;
}

bool LockBusy(int error_number) {
  return error_number == EAGAIN || error_number == EACCES;
}

int OpenDescriptor(const std::string& path, int flags, mode_t mode = 0) {
  if ((flags & O_ACCMODE) != O_RDONLY && OsFaultReadOnly(path)) {
    errno = EACCES;
    return -1;
  }
  int fd;
  do {
    fd = open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Whether an open file description other than fd's holds a lock on the
// byte. OFD lock tests work on any descriptor, whatever its access mode; a
// test that fails counts as held, so that nothing is taken on a guess.
bool OthersHold(int fd, int64_t offset) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = offset;
  lock.l_len = 1;
  if (fcntl(fd, F_OFD_GETLK, &lock) < 0) return true;
  return lock.l_type != F_UNLCK;
}

OsFileError LockFailure(int error_number) {
  return LockBusy(error_number) ? OsFileError::AccessDenied : OsFileErrorFromErrno(error_number);
}

// Takes the share locks of an opener (see the header for the scheme).
OsFileError TakeShareLocks(int fd, bool writable, bool exclusive) {
  if (exclusive && writable) {
    return SetLock(fd, F_WRLCK, kShareLockOffset, 1) == 0 ? OsFileError::None : LockFailure(errno);
  }
  if (SetLock(fd, F_RDLCK, kShareLockOffset, 1) < 0) return LockFailure(errno);
  if (!exclusive) {
    return OthersHold(fd, kExclusiveReadOffset) ? OsFileError::AccessDenied : OsFileError::None;
  }
  if (SetLock(fd, F_RDLCK, kExclusiveReadOffset, 1) < 0) return LockFailure(errno);
  if (OthersHold(fd, kShareLockOffset) || OthersHold(fd, kExclusiveReadOffset)) {
    return OsFileError::AccessDenied;
  }
  return OsFileError::None;
}

// Whether the descriptor's file is the one the path names now: not
// unlinked, and the same device and inode behind the path.
bool PathNamesFile(int fd, const std::string& path) {
  struct stat held;
  struct stat named;
  if (fstat(fd, &held) != 0 || held.st_nlink == 0) return false;
  if (stat(path.c_str(), &named) != 0) return false;
  return held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// A path that names a new file at every try belongs to a folder that is
// being rewritten as fast as it can be opened; after this many tries the
// file counts as in use.
constexpr int kMaxOpenTries = 100;

// Opens the path and takes its share locks. Between the open and the lock
// another process may delete, rename or re-create the file, so the file
// held is checked against the path, and the open tried again when the path
// names another file by then.
OsFileError OpenHeld(const std::string& path, int flags, bool exclusive, int& fd_out) {
  const bool writable = (flags & O_ACCMODE) != O_RDONLY;
  for (int attempt = 0; attempt < kMaxOpenTries; ++attempt) {
    const int fd = OpenDescriptor(path, flags, 0666);
    if (fd < 0) return OsFileErrorFromErrno(errno);
    const OsFileError error = TakeShareLocks(fd, writable, exclusive);
    // A lock refused on a file that the path no longer names says nothing
    // about the file the path names now.
    const bool same_file = PathNamesFile(fd, path);
    if (same_file && error == OsFileError::None) {
      fd_out = fd;
      return OsFileError::None;
    }
    close(fd);
    if (same_file) return error;
  }
  return OsFileError::AccessDenied;
}

// Runs change (a call that returns 0, or -1 with errno set) while the file
// is held exclusively, so that no opener can take it meanwhile. The file is
// opened for writing where this user may write it, else for reading.
template <class Change>
OsFileError ChangeWhileHeld(const std::string& path, Change change) {
  int fd = -1;
  OsFileError error = OpenHeld(path, O_RDWR, true, fd);
  if (error == OsFileError::AccessDenied && OsProbeFileFree(path) == OsFileError::None) {
    error = OpenHeld(path, O_RDONLY, true, fd);
  }
  if (error != OsFileError::None) return error;
  const int result = change();
  const int error_number = errno;
  close(fd);
  return result == 0 ? OsFileError::None : OsFileErrorFromErrno(error_number);
}

// ---- copies out of views ----

// A view maps this much at least, and twice the file's size, so that a
// growing file is mapped again only when it doubled.
constexpr int64_t kMinViewBytes = 1 << 20;

// The jump of the view copy running on this thread, for the bus-error
// handler: a page of a mapping that cannot be had raises SIGBUS.
thread_local sigjmp_buf* t_copy_jump = nullptr;
struct sigaction g_previous_bus_action;

void OnBusError(int signal_number, siginfo_t* info, void* context) {
  if (sigjmp_buf* jump = t_copy_jump) {
    t_copy_jump = nullptr;
    siglongjmp(*jump, 1);
  }
  // A fault outside a copy goes where it went before; by default the
  // access runs again once the handler returns and ends the process.
  const struct sigaction& previous = g_previous_bus_action;
  if ((previous.sa_flags & SA_SIGINFO) != 0) {
    if (previous.sa_sigaction != nullptr) {
      previous.sa_sigaction(signal_number, info, context);
      return;
    }
  } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
    previous.sa_handler(signal_number);
    return;
  }
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  sigaction(SIGBUS, &fallback, nullptr);
}

void InstallBusHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action = {};
    action.sa_sigaction = OnBusError;
    // Not blocked while handled: the jump out leaves the mask as it was.
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &g_previous_bus_action);
  });
}

// Copies from a mapping; false when a page of it failed.
bool GuardedCopy(void* buffer, const uint8_t* source, size_t length) {
  sigjmp_buf jump;
  if (sigsetjmp(jump, 0) != 0) return false;
  t_copy_jump = &jump;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  std::memcpy(buffer, source, length);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  t_copy_jump = nullptr;
  return true;
}

}  // namespace

bool TOsFileView::Copy(int64_t offset, void* buffer, int64_t length) {
  if (data_ == nullptr || offset < 0 || length < 0 || offset > length_ - length) return false;
  if (GuardedCopy(buffer, data_ + offset, static_cast<size_t>(length))) return true;
  Reset();
  refused_ = true;
  return false;
}

void TOsFileView::Reset() {
  if (data_ != nullptr) munmap(const_cast<uint8_t*>(data_), static_cast<size_t>(capacity_));
  data_ = nullptr;
  capacity_ = 0;
  length_ = 0;
  refused_ = false;
}

TOsFile::~TOsFile() {
  Close();
}

OsFileError TOsFile::Fail() {
  last_error_ = OsFileErrorFromErrno(errno);
  return last_error_;
}

OsFileError TOsFile::Open(const std::string& path, bool write, bool exclusive) {
  Close();
  int fd = -1;
  const OsFileError error = OpenHeld(path, write ? O_RDWR : O_RDONLY, exclusive, fd);
  if (error != OsFileError::None) {
    last_error_ = error;
    return error;
  }
  fd_ = fd;
  writable_ = write;
  return OsFileError::None;
}

OsFileError TOsFile::Create(const std::string& path, bool must_be_new) {
  Close();
  int fd = -1;
  // The file is emptied only once no other opener holds it.
  OsFileError error = OpenHeld(path, O_RDWR | O_CREAT | (must_be_new ? O_EXCL : 0), true, fd);
  if (error == OsFileError::None && ftruncate(fd, 0) < 0) {
    error = OsFileErrorFromErrno(errno);
    close(fd);
  }
  if (error != OsFileError::None) {
    last_error_ = error;
    return error;
  }
  fd_ = fd;
  writable_ = true;
  return OsFileError::None;
}

void TOsFile::Close() {
  if (head_ != nullptr) munmap(const_cast<uint8_t*>(head_), static_cast<size_t>(head_length_));
  head_ = nullptr;
  head_length_ = 0;
  head_refused_ = false;
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  writable_ = false;
}

const uint8_t* TOsFile::MapHead(int64_t length) {
  if (head_ != nullptr) return length <= head_length_ ? head_ : nullptr;
  if (fd_ < 0 || head_refused_ || length <= 0 || Size() < length) return nullptr;
  void* head = MAP_FAILED;
  if (!OsFaultFailMap()) {
    head = mmap(nullptr, static_cast<size_t>(length), PROT_READ, MAP_SHARED, fd_, 0);
  }
  if (head == MAP_FAILED) {
    head_refused_ = true;
    return nullptr;
  }
  head_ = static_cast<const uint8_t*>(head);
  head_length_ = length;
  return head_;
}

bool TOsFile::RefreshView(TOsFileView& view) {
  if (fd_ < 0 || view.refused_) return false;
  const int64_t size = Size();
  if (size < 0) return false;
  if (size > view.capacity_) {
    view.Reset();
    const int64_t page = sysconf(_SC_PAGESIZE);
    const int64_t capacity = (std::max(2 * size, kMinViewBytes) + page - 1) / page * page;
    void* data = MAP_FAILED;
    if (!OsFaultFailMap()) {
      InstallBusHandler();
      data = mmap(nullptr, static_cast<size_t>(capacity), PROT_READ, MAP_SHARED, fd_, 0);
    }
    if (data == MAP_FAILED) {
      view.refused_ = true;
      return false;
    }
    view.data_ = static_cast<const uint8_t*>(data);
    view.capacity_ = capacity;
  }
  view.length_ = size;
  return true;
}

int64_t TOsFile::ReadAt(int64_t offset, void* buffer, int64_t length) {
  OsFaultCountRead();
  auto* bytes = static_cast<char*>(buffer);
  int64_t done = 0;
  while (done < length) {
    const ssize_t n = pread(fd_, bytes + done, static_cast<size_t>(length - done), offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail();
      return -1;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

int64_t TOsFile::WriteAt(int64_t offset, const void* buffer, int64_t length) {
  if (OsFaultFailWrite()) {
    Fail();
    return -1;
  }
  const auto* bytes = static_cast<const char*>(buffer);
  int64_t done = 0;
  while (done < length) {
    const ssize_t n = pwrite(fd_, bytes + done, static_cast<size_t>(length - done), offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail();
      return -1;
    }
    done += n;
  }
  OsFaultJournal(fd_, OsFileEvent::Kind::Write, offset, buffer, length);
  return done;
}

bool TOsFile::Truncate(int64_t size) {
  if (ftruncate(fd_, size) == 0) {
    OsFaultJournal(fd_, OsFileEvent::Kind::Cut, size, nullptr, 0);
    return true;
  }
  Fail();
  return false;
}

bool TOsFile::Sync() {
  if (!OsFaultFailFlush() && fsync(fd_) == 0) {
    OsFaultJournal(fd_, OsFileEvent::Kind::Sync, 0, nullptr, 0);
    return true;
  }
  Fail();
  return false;
}

int64_t TOsFile::Size() {
  struct stat st;
  if (fstat(fd_, &st) == 0) return st.st_size;
  Fail();
  return -1;
}

OsLockResult TOsFile::LockRange(int64_t offset, int64_t length) {
  if (!LockRangeAllowed(offset, length)) {
    last_error_ = OsFileError::Other;
    return OsLockResult::Failed;
  }
  if (SetLock(fd_, writable_ ? F_WRLCK : F_RDLCK, offset, length) == 0) {
    return OsLockResult::Taken;
  }
  if (LockBusy(errno)) return OsLockResult::Busy;
  Fail();
  return OsLockResult::Failed;
}

bool TOsFile::UnlockRange(int64_t offset, int64_t length) {
  if (!LockRangeAllowed(offset, length)) {
    last_error_ = OsFileError::Other;
    return false;
  }
  if (SetLock(fd_, F_UNLCK, offset, length) == 0) return true;
  Fail();
  return false;
}

bool LockRangeAllowed(int64_t offset, int64_t length) {
  return offset >= 0 && length > 0 && length <= kShareLockOffset - offset;
}

OsFileError OsProbeFileFree(const std::string& path) {
  const int fd = OpenDescriptor(path, O_RDONLY);
  if (fd < 0) return OsFileErrorFromErrno(errno);
  const bool held = OthersHold(fd, kShareLockOffset);
  close(fd);
  return held ? OsFileError::AccessDenied : OsFileError::None;
}

OsFileError OsDeleteFile(const std::string& path) {
  return ChangeWhileHeld(path, [&] { return unlink(path.c_str()); });
}

OsFileError OsRenameFile(const std::string& from, const std::string& to) {
  if (OsFaultFailRename()) return OsFileErrorFromErrno(errno);
  return ChangeWhileHeld(from, [&] {
    return renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
  });
}

OsFileError OsFileReadOnly(const std::string& path, bool& read_only) {
  read_only = false;
  if (OsFaultReadOnly(path)) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return OsFileErrorFromErrno(errno);
    read_only = true;
    return OsFileError::None;
  }
  // The one call answers for a missing file as a look at it would.
  if (access(path.c_str(), W_OK) != 0) {
    if (errno != EACCES && errno != EROFS) return OsFileErrorFromErrno(errno);
    read_only = true;
  }
  return OsFileError::None;
}

}  // namespace jw
