// Test tools for the BLOB file: a fake cursor, and a small table (a data
// file with one BLOB field and its BLOB file) whose records' values are
// stored, loaded and deleted as the cursor does it at post time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/blob_buffer.h"
#include "engine/core/blob_file.h"
#include "tests/engine/core/test_table.h"

namespace jw::test {

class FakeBlobCursor : public TBlobFileCursor {
 public:
  bool TableFilesChanged() override {
    ++change_checks;
    if (changes_to_report == 0) return false;
    --changes_to_report;
    return true;
  }
  bool VerifyRepair() const override { return verify_repair; }
  void ReportStatus(const std::string& text) override { messages.push_back(text); }

  int32_t change_checks = 0;
  int32_t changes_to_report = 0;
  bool verify_repair = false;
  std::vector<std::string> messages;
};

using TestBlobFile = Instrumented<TBlobFile>;
using Bytes = std::vector<uint8_t>;

// Bytes of the given size, different for each seed.
Bytes Pattern(int64_t size, uint32_t seed);

// Fields: an auto-increment id and the BLOB field "MEMO".
class BlobTable {
 public:
  BlobTable(const ScratchDir& dir, int32_t block_size, bool encrypted = false);

  std::string DataPath() const { return data_path_; }
  std::string BlobPath() const { return blob_path_; }

  // A new record with an empty BLOB; its number.
  int32_t AddRecord();
  // The record's BLOB reference: first block and stamp.
  void Reference(int32_t record, int32_t& first, int32_t& stamp);
  void SetReference(int32_t record, int32_t first, int32_t stamp);
  // Opens the record's BLOB, replaces its value and posts it: a new stamp,
  // then the chain stored (or freed for an empty value) and the reference
  // written back into the record.
  void Store(int32_t record, const Bytes& value);
  Bytes Load(int32_t record);

  // Writes back blocks, records, the blocks the records no longer name as
  // free, the BLOB header and the data header, in that order.
  void WriteBack();
  // Writes back, closes both files and opens them again.
  void Reopen();
  // Drops every cached change and closes, as a process that dies does.
  void Abandon();
  void Open();
  std::vector<std::string> Verify() const;

  FakeTable owner;
  FakeBlobCursor cursor;
  std::unique_ptr<TestDataFile> data;
  std::unique_ptr<TestBlobFile> blob;

 private:
  uint8_t* Slot(TRecord* record);

  std::string data_path_;
  std::string blob_path_;
};

}  // namespace jw::test
