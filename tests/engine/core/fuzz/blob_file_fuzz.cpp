// libFuzzer target: a BLOB file made of random header and block bytes is
// opened and checked, chains are loaded from its first blocks, checked,
// freed and regrown; only engine errors may come out, and no loop may run
// away.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/blob_buffer.h"
#include "engine/core/blob_file.h"
#include "engine/core/data_file_format.h"
#include "engine/support/engine_errors.h"
#include "tests/engine/core/fuzz/fuzz_table.h"

namespace {

class Cursor : public jw::TBlobFileCursor {
 public:
  bool TableFilesChanged() override { return false; }
  bool VerifyRepair() const override { return true; }
  void ReportStatus(const std::string&) override {}
};

constexpr int32_t kBlockSizes[] = {64, 128, 512, 4096};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t options = data[0];
  const int32_t block_size = kBlockSizes[options % 4];
  std::vector<uint8_t> bytes(data + 1, data + size);
  // Most inputs get a header whose end and free head name blocks, so that
  // the chains behind it are reached; the rest test the header's check.
  if ((options & 0x10) == 0 && bytes.size() >= static_cast<size_t>(jw::kBlobHeaderSize)) {
    const int32_t blocks = static_cast<int32_t>((bytes.size() - jw::kBlobHeaderSize) /
                                                static_cast<size_t>(block_size));
    jw::PutInt32(&bytes[jw::kBhEndPosition], jw::kFirstBlockPosition + blocks * block_size);
    const uint32_t free = static_cast<uint32_t>(jw::GetInt32(&bytes[jw::kBhFreeHead]));
    jw::PutInt32(&bytes[jw::kBhFreeHead],
                 blocks == 0 || free % 2 == 0
                     ? 0
                     : jw::kFirstBlockPosition + static_cast<int32_t>(free % blocks) * block_size);
  }
  static const jw::FuzzFile scratch(".BLB");
  if (!scratch.Write(bytes)) return 0;
  jw::FuzzTable table;
  Cursor cursor;
  jw::TBlobFile file(&table, nullptr);
  file.SetName(scratch.Path());
  file.SetBlockSize(block_size);
  try {
    file.Open();
  } catch (const jw::EQuireEngineError&) {
    return 0;
  }
  try {
    file.Check();
  } catch (const jw::EQuireEngineError&) {
  }
  for (int32_t i = 0; i < 8; ++i) {
    const int32_t first = jw::kFirstBlockPosition + i * block_size;
    if (!file.IsBlock(first)) break;
    try {
      jw::TBlock* block = nullptr;
      file.FetchBlock(nullptr, first, 1, false, block);
      const int32_t stamp = block->Stamp();
      file.ReleaseBlock(block);
      jw::TBlobBuffer buffer(file, &cursor);
      buffer.LoadBlob(first, stamp);
    } catch (const jw::EQuireEngineError&) {
    }
    try {
      int32_t reference = first;
      file.FreeBlobChain(&cursor, (options & 4) != 0, (options & 8) != 0, i + 1, i, reference);
      jw::TBlobBuffer buffer(file, nullptr);
      buffer.SetSize(3 * block_size);
      buffer.SetStamp(i);
      buffer.StoreBlob();
    } catch (const jw::EQuireEngineError&) {
    }
  }
  try {
    file.FlushBlocks(false);
    file.WriteHeader(false, false);
  } catch (const jw::EQuireEngineError&) {
  }
  return 0;
}
