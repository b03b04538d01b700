// libFuzzer target: the input is one table's three files, which the verify
// routine reads, from disk and as bytes with the same result; the table then
// opens, and a cursor opens it (repairing a write that was cut off), reads
// it in natural order and in each index's order with its BLOBs, and seeks
// the keys of the records it met. Only engine errors may come out. Input:
// byte 0 flags (bit 0 no index file, bit 1 no BLOB file), int32 data
// length, int32 index length, then the data file, the index file and the
// BLOB file.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/core/data_cursor.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
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

// Walks stop here: a fuzzed file may claim millions of records.
constexpr int32_t kMaxSteps = 2000;
constexpr int32_t kMaxBlobBytes = 1 << 16;

// An encrypted table is opened with its own password.
bool GivePassword(void* user_data, jw::TDataCursor& cursor) {
  auto* session = static_cast<jw::TDataSession*>(user_data);
  const std::string password = cursor.Table()->DataFile().Password();
  if (session->HasPassword(password)) return false;
  session->AddPassword(password);
  return true;
}

void ReadBlobs(jw::TDataCursor& cursor, uint8_t* image) {
  static std::vector<uint8_t> buffer(kMaxBlobBytes);
  for (int32_t field = 1; field <= cursor.GetFieldCount(); ++field) {
    if (cursor.GetFieldDesc(field).Type != jw::kFldBlob) continue;
    if (cursor.OpenBlob(field, image, 1, false, 1) != 0) continue;
    int32_t size = 0;
    int32_t read = 0;
    if (cursor.GetBlobSize(field, image, false, size) == 0) {
      cursor.ReadBlob(field, image, false, read, std::min(size, kMaxBlobBytes), buffer.data(), 0);
    }
    cursor.CloseBlob(field, image, 1, false);
  }
}

// The records in the cursor's current order, forwards with their BLOBs and
// a few steps back; the images of the first and last met.
void Walk(jw::TDataCursor& cursor, std::vector<std::vector<uint8_t>>& met) {
  std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
  cursor.GetRecordCount();
  cursor.First();
  for (int32_t step = 0; step < kMaxSteps && cursor.GetNextRecord(image.data()) == 0; ++step) {
    if (step == 0) met.push_back(image);
    ReadBlobs(cursor, image.data());
  }
  cursor.Last();
  for (int32_t step = 0; step < 4 && cursor.GetPriorRecord(image.data()) == 0; ++step) {
    if (step == 0) met.push_back(image);
  }
}

void ScanAndSeek(const std::string& table_name) {
  jw::TDataSession session;
  jw::TDataDirectory* directory = session.OpenDirectory("FUZZ", "/tmp/");
  try {
    jw::TDataCursor cursor(directory);
    cursor.SetTableName(table_name);
    cursor.SetExclusive(true);
    cursor.SetPasswordHandler(GivePassword, &session);
    cursor.Open();
    std::vector<std::vector<uint8_t>> met;
    cursor.SetIndexByNumber(jw::kNaturalOrder);
    Walk(cursor, met);
    for (uint8_t index = 0; index <= cursor.GetIndexCount(); ++index) {
      cursor.SetIndexByNumber(index);
      Walk(cursor, met);
      std::vector<uint8_t> found(static_cast<size_t>(cursor.GetRecordSize()));
      for (const std::vector<uint8_t>& image : met) {
        cursor.SeekKey(false, image.data(), found.data(), 0, true, 0);
      }
      cursor.SetRecNo(2);
    }
  } catch (const jw::EQuireEngineError&) {
  }
  session.CloseDirectory(directory);
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
  ScanAndSeek(name.substr(name.rfind('/') + 1));
  return 0;
}
