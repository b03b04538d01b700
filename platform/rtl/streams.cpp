#include "platform/rtl/streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <system_error>

#include "platform/rtl/exceptions.h"

namespace jw {

namespace {

// The host's buffer size for CopyFrom.
constexpr int64_t kCopyBufferSize = 0xF000;

std::string OsErrorText(int error) {
  return std::system_category().message(error);
}

[[noreturn]] void RaiseInvalidPosition() {
  throw EStreamError("Invalid stream position");
}

}  // namespace

int64_t TStream::Size() {
  const int64_t position = Seek(0, soFromCurrent);
  const int64_t size = Seek(0, soFromEnd);
  Seek(position, soFromBeginning);
  return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  if (count < 0) return 0;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min(count, kCopyBufferSize)));
  for (int64_t left = count; left > 0;) {
    const int64_t n = std::min(left, kCopyBufferSize);
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    left -= n;
  }
  return count;
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  const int64_t available = Size() - position_;
  if (count <= 0 || available <= 0) return 0;
  const int64_t n = std::min(count, available);
  std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (count > std::numeric_limits<int64_t>::max() - position_) return 0;
  const int64_t end = position_ + count;
  if (end > Size()) data_.resize(static_cast<size_t>(end));
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int64_t base = origin == soFromBeginning ? 0 : origin == soFromCurrent ? position_ : Size();
  if (offset < -base) RaiseInvalidPosition();
  if (offset > std::numeric_limits<int64_t>::max() - base) RaiseInvalidPosition();
  position_ = base + offset;
  return position_;
}

void TMemoryStream::SetSize(int64_t size) {
  if (size < 0) RaiseInvalidPosition();
  data_.resize(static_cast<size_t>(size));
  position_ = std::min(position_, size);
}

void TMemoryStream::Clear() {
  data_.clear();
  data_.shrink_to_fit();
  position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  const int64_t size = source.Size();
  SetSize(size);
  position_ = 0;
  source.ReadBuffer(data_.data(), size);
}

void TMemoryStream::LoadFromFile(const std::string& path) {
  TFileStream file(path, fmOpenRead);
  LoadFromStream(file);
}

void TMemoryStream::SaveToStream(TStream& dest) {
  dest.WriteBuffer(data_.data(), Size());
}

void TMemoryStream::SaveToFile(const std::string& path) {
  TFileStream file(path, fmCreate);
  SaveToStream(file);
}

TFileStream::TFileStream(const std::string& path, TFileMode mode) : path_(path) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case fmOpenRead:
      flags |= O_RDONLY;
      break;
    case fmOpenReadWrite:
      flags |= O_RDWR;
      break;
    case fmCreate:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
  }
  do {
    fd_ = ::open(path.c_str(), flags, 0666);
  } while (fd_ < 0 && errno == EINTR);
  // A folder opens for reading on Linux but is no file to stream.
  struct stat st;
  if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    errno = EISDIR;
  }
  if (fd_ < 0) {
    const std::string os_text = OsErrorText(errno);
    if (mode == fmCreate) throw EFCreateError("Cannot create file \"" + path + "\". " + os_text);
    throw EFOpenError("Cannot open file \"" + path + "\". " + os_text);
  }
}

TFileStream::~TFileStream() {
  ::close(fd_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  int64_t done = 0;
  auto* bytes = static_cast<uint8_t*>(buffer);
  while (done < count) {
    const ssize_t n = ::read(fd_, bytes + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  int64_t done = 0;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  while (done < count) {
    const ssize_t n = ::write(fd_, bytes + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int whence = origin == soFromBeginning ? SEEK_SET
                     : origin == soFromCurrent ? SEEK_CUR
                                               : SEEK_END;
  const off_t position = ::lseek(fd_, static_cast<off_t>(offset), whence);
  if (position < 0) RaiseInvalidPosition();
  return position;
}

void TFileStream::SetSize(int64_t size) {
  if (size < 0) RaiseInvalidPosition();
  const int64_t position = Position();
  int result;
  do {
    result = ::ftruncate(fd_, static_cast<off_t>(size));
  } while (result < 0 && errno == EINTR);
  if (result < 0) {
    throw EStreamError("Cannot change the size of file \"" + path_ + "\". " + OsErrorText(errno));
  }
  if (position > size) SetPosition(size);
}

int64_t TFileStream::Size() {
  struct stat st;
  if (::fstat(fd_, &st) < 0) return TStream::Size();
  return st.st_size;
}

}  // namespace jw
