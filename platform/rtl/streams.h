// Byte streams in the host library's shape: the abstract TStream with
// position, size, exact-count transfers and copying; TMemoryStream over a
// growable buffer; TFileStream over a POSIX file descriptor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jw {

enum TSeekOrigin { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

class TStream {
 public:
  virtual ~TStream() = default;

  // Transfer up to `count` bytes at the position and advance it; return the
  // number transferred (0 at the end, on an error, or for count <= 0).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Moves the position and returns the new one. A target before the start
  // raises EStreamError "Invalid stream position"; a target past the end is
  // allowed (a later write fills the gap with zeros).
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  // Cuts or extends (with zeros) the stream; a position past the new end
  // moves to the new end.
  virtual void SetSize(int64_t size) = 0;
  virtual int64_t Size();

  int64_t Position() { return Seek(0, soFromCurrent); }
  void SetPosition(int64_t position) { Seek(position, soFromBeginning); }

  // Exactly `count` bytes or EReadError "Stream read error" /
  // EWriteError "Stream write error".
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);

  // Copies `count` bytes from the source's position; a count of 0 copies the
  // whole source from its start, a negative count nothing. Returns the count
  // copied; a source that ends early raises EReadError.
  int64_t CopyFrom(TStream& source, int64_t count);
};

class TMemoryStream : public TStream {
 public:
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t size) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }

  // The stream's bytes; valid until the next change of size.
  void* Memory() { return data_.data(); }
  const void* Memory() const { return data_.data(); }
  // Empties the stream and moves to position 0.
  void Clear();

  // Replace the content with the whole source (from its start) and move to 0.
  void LoadFromStream(TStream& source);
  void LoadFromFile(const std::string& path);
  // Write the whole content, regardless of the position.
  void SaveToStream(TStream& dest);
  void SaveToFile(const std::string& path);

 private:
  std::vector<uint8_t> data_;
  int64_t position_ = 0;
};

// How TFileStream opens its file. Sharing between processes is the business
// of the engine's file layer, not of this class.
enum TFileMode : uint16_t {
  fmOpenRead = 0x0000,       // existing file, reading only
  fmOpenReadWrite = 0x0002,  // existing file, reading and writing
  fmCreate = 0xFFFF,         // new or emptied file, reading and writing
};

class TFileStream : public TStream {
 public:
  // Raises EFOpenError "Cannot open file "<path>". <OS error text>" or, for
  // fmCreate, EFCreateError "Cannot create file "<path>". <OS error text>".
  TFileStream(const std::string& path, TFileMode mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  // Raises EStreamError with the OS error text when the file cannot change size.
  void SetSize(int64_t size) override;
  int64_t Size() override;

  const std::string& FileName() const { return path_; }
  int Handle() const { return fd_; }

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace jw
