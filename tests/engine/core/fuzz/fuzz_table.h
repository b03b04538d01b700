// What the engine's fuzz targets share: a table that owns the file under test
// and asks nothing of it, and the scratch files that carry the input bytes.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/core/table_file.h"

namespace jw {

class FuzzTable : public TDataFileOwner {
 public:
  explicit FuzzTable(bool has_primary_index = true) : has_primary_index_(has_primary_index) {}
  bool InTransaction() const override { return false; }
  bool Written() const override { return false; }
  void MarkWritten() override {}
  bool ForceBufferFlush() const override { return false; }
  bool StrictChangeDetection() const override { return true; }
  bool HasPrimaryIndex() const override { return has_primary_index_; }
  void BodyWriteStarting() override {}

 private:
  bool has_primary_index_;
};

// The process's own scratch file with this extension, so that targets run
// side by side do not meet; it goes when the process ends.
class FuzzFile {
 public:
  explicit FuzzFile(const char* extension)
      : path_("/tmp/jw-fuzz-" + std::to_string(getpid()) + extension) {}
  ~FuzzFile() { std::remove(path_.c_str()); }
  FuzzFile(const FuzzFile&) = delete;
  FuzzFile& operator=(const FuzzFile&) = delete;

  const std::string& Path() const { return path_; }

  // False when the file cannot be created.
  bool Write(const uint8_t* data, size_t size) const {
    FILE* out = std::fopen(path_.c_str(), "wb");
    if (out == nullptr) return false;
    std::fwrite(data, 1, size, out);
    std::fclose(out);
    return true;
  }
  bool Write(const std::vector<uint8_t>& bytes) const { return Write(bytes.data(), bytes.size()); }

 private:
  std::string path_;
};

}  // namespace jw
