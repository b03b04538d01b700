#include "platform/os/os_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

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
  int fd;
  do {
    fd = open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Whether an open file description other than fd's holds the share byte.
// OFD lock tests work on any descriptor, whatever its access mode.
bool ShareByteHeld(int fd) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = kShareLockOffset;
  lock.l_len = 1;
  if (fcntl(fd, F_OFD_GETLK, &lock) < 0) return false;
  return lock.l_type != F_UNLCK;
}

}  // namespace

TOsFile::~TOsFile() {
  Close();
}

OsFileError TOsFile::Fail() {
  last_error_ = OsFileErrorFromErrno(errno);
  return last_error_;
}

OsFileError TOsFile::Open(const std::string& path, bool write, bool exclusive) {
  Close();
  const int fd = OpenDescriptor(path, write ? O_RDWR : O_RDONLY);
  if (fd < 0) return Fail();
  // A read-only descriptor cannot take a write lock; an exclusive opener of
  // a file it may only read refuses any current opener and read-locks.
  const bool write_lock = exclusive && write;
  OsFileError error = OsFileError::None;
  if (exclusive && !write && ShareByteHeld(fd)) {
    error = OsFileError::AccessDenied;
  } else if (SetLock(fd, write_lock ? F_WRLCK : F_RDLCK, kShareLockOffset, 1) < 0) {
    error = LockBusy(errno) ? OsFileError::AccessDenied : OsFileErrorFromErrno(errno);
  }
  if (error != OsFileError::None) {
    close(fd);
    last_error_ = error;
    return error;
  }
  fd_ = fd;
  writable_ = write;
  return OsFileError::None;
}

OsFileError TOsFile::Create(const std::string& path, bool must_be_new) {
  Close();
  const int fd = OpenDescriptor(path, O_RDWR | O_CREAT | (must_be_new ? O_EXCL : 0), 0666);
  if (fd < 0) return Fail();
  // Empty the file only once no other opener holds it.
  if (SetLock(fd, F_WRLCK, kShareLockOffset, 1) < 0) {
    const int error_number = errno;
    close(fd);
    last_error_ =
        LockBusy(error_number) ? OsFileError::AccessDenied : OsFileErrorFromErrno(error_number);
    return last_error_;
  }
  if (ftruncate(fd, 0) < 0) {
    const int error_number = errno;
    close(fd);
    last_error_ = OsFileErrorFromErrno(error_number);
    return last_error_;
  }
  fd_ = fd;
  writable_ = true;
  return OsFileError::None;
}

void TOsFile::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  writable_ = false;
}

int64_t TOsFile::ReadAt(int64_t offset, void* buffer, int64_t length) {
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
  return done;
}

bool TOsFile::Truncate(int64_t size) {
  if (ftruncate(fd_, size) == 0) return true;
  Fail();
  return false;
}

bool TOsFile::Sync() {
  if (fsync(fd_) == 0) return true;
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
  if (SetLock(fd_, writable_ ? F_WRLCK : F_RDLCK, offset, length) == 0) {
    return OsLockResult::Granted;
  }
  if (LockBusy(errno)) return OsLockResult::Busy;
  Fail();
  return OsLockResult::Failed;
}

bool TOsFile::UnlockRange(int64_t offset, int64_t length) {
  if (SetLock(fd_, F_UNLCK, offset, length) == 0) return true;
  Fail();
  return false;
}

OsFileError OsProbeFileFree(const std::string& path) {
  const int fd = OpenDescriptor(path, O_RDONLY);
  if (fd < 0) return OsFileErrorFromErrno(errno);
  const bool held = ShareByteHeld(fd);
  close(fd);
  return held ? OsFileError::AccessDenied : OsFileError::None;
}

OsFileError OsDeleteFile(const std::string& path) {
  const OsFileError probe = OsProbeFileFree(path);
  if (probe != OsFileError::None) return probe;
  if (unlink(path.c_str()) == 0) return OsFileError::None;
  return OsFileErrorFromErrno(errno);
}

OsFileError OsRenameFile(const std::string& from, const std::string& to) {
  const OsFileError probe = OsProbeFileFree(from);
  if (probe != OsFileError::None) return probe;
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return OsFileError::None;
  }
  return OsFileErrorFromErrno(errno);
}

OsFileError OsFileReadOnly(const std::string& path, bool& read_only) {
  read_only = false;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return OsFileErrorFromErrno(errno);
  if (access(path.c_str(), W_OK) != 0) {
    if (errno != EACCES && errno != EROFS) return OsFileErrorFromErrno(errno);
    read_only = true;
  }
  return OsFileError::None;
}

}  // namespace jw
