// libFuzzer target: the input is one table's three files, which the verify
// routine reads, from disk and as bytes with the same result, and the table
// then opens. Only engine errors may come out. Input: byte 0 flags (bit 0 no
// index file, bit 1 no BLOB file), int32 data length, int32 index length,
// then the data file, the index file and the BLOB file.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/core/data_table.h"
#include "engine/core/table_verify.h"
#include "engine/support/engine_errors.h"
#include "tests/engine/core/fuzz/fuzz_table.h"

namespace {

constexpr size_t kPrefixSize = 9;

class FuzzDirectory : public jw::TTableDirectory {
 public:
  std::string Path() const override { return "/tmp"; }
  bool ForceBufferFlush() const override { return false; }
  bool StrictChangeDetection() const override { return false; }
  int32_t LockRetryCount() const override { return 0; }
  int32_t LockWaitTimeMs() const override { return 1; }
};

// The file's bytes, or nothing when it is absent.
std::vector<uint8_t> Lay(const jw::FuzzFile& file, const uint8_t* data, size_t size, bool present) {
  std::remove(file.Path().c_str());
  if (!present) return {};
  file.Write(data, size);
  return std::vector<uint8_t>(data, data + size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const jw::FuzzFile data_file(".DAT");
  static const jw::FuzzFile index_file(".IDX");
  static const jw::FuzzFile blob_file(".BLB");
  if (size < kPrefixSize) return 0;
  const uint8_t flags = data[0];
  const size_t data_size =
      std::min<size_t>(static_cast<uint32_t>(jw::GetInt32(data + 1)), size - kPrefixSize);
  const uint8_t* index_bytes = data + kPrefixSize + data_size;
  const size_t index_size = std::min<size_t>(static_cast<uint32_t>(jw::GetInt32(data + 5)),
                                             size - kPrefixSize - data_size);
  const uint8_t* blob_bytes = index_bytes + index_size;
  const size_t blob_size = size - kPrefixSize - data_size - index_size;
  jw::TTableFileBytes files;
  files.Data = Lay(data_file, data + kPrefixSize, data_size, true);
  files.HasIndex = (flags & 1) == 0;
  files.Index = Lay(index_file, index_bytes, index_size, files.HasIndex);
  files.HasBlob = (flags & 2) == 0;
  files.Blob = Lay(blob_file, blob_bytes, blob_size, files.HasBlob);

  const jw::TVerifyReport report = jw::VerifyTableFiles(data_file.Path());
  // The routine over the files and over their bytes must agree.
  const std::string name = data_file.Path();
  if (jw::VerifyTableFileBytes(files, name).size() != report.size()) std::abort();

  FuzzDirectory directory;
  try {
    jw::TDataTable table(&directory);
    table.SetName(name.substr(name.rfind('/') + 1));
    table.SetExclusive(true);
    table.Open();
    table.Close(true);
  } catch (const jw::EQuireEngineError&) {
  }
  return 0;
}
