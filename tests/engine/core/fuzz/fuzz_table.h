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
// side by side do not meet.
inline std::string FuzzFilePath(const char* extension) {
  return "/tmp/jw-fuzz-" + std::to_string(getpid()) + extension;
}

// False when the file cannot be created.
inline bool WriteFuzzFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  std::fwrite(data, 1, size, out);
  std::fclose(out);
  return true;
}

inline bool WriteFuzzFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  return WriteFuzzFile(path, bytes.data(), bytes.size());
}

}  // namespace jw
