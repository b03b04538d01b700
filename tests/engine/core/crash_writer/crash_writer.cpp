// The writer of the crash test, a process the test kills with SIGKILL. It
// reads one line "<folder/> <seed>", opens the table "CRASH" in that folder
// through a cursor (exclusive or shared, buffer flush on or off, as the seed
// decides) and writes random rows until it is killed: inserts, changes that
// move the primary and the group key and rewrite the memo BLOB, deletes,
// alone or in transactions committed or rolled back. Every row is reported
// on stdout before the engine is asked, and "durable" once the engine has
// written it (crash_rows.h has the lines). It starts with "ready <exclusive>
// <flush>", each 0 or 1.
#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <map>
#include <random>
#include <string>

#include "engine/core/data_cursor.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "tests/engine/core/crash_rows.h"

namespace jw::test {
namespace {

class Writer {
 public:
  Writer(const std::string& folder, uint32_t seed)
      : rng_(seed), directory_(session_.OpenDirectory("DB", folder)) {
    exclusive_ = rng_() % 2 == 0;
    flush_ = rng_() % 2 == 0;
    session_.SetForceBufferFlush(flush_);
    transaction_percent_ = static_cast<int>(rng_() % 60);
    OpenCursor();
    image_.resize(static_cast<size_t>(cursor_->GetRecordSize()));
    LoadRows();
  }
  ~Writer() {
    cursor_.reset();
    session_.CloseDirectory(directory_);
  }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  void Run(int32_t rounds);
  // What the writer was doing when it failed.
  const std::string& Doing() const { return doing_; }

 private:
  void OpenCursor();
  void LoadRows();
  void Round();
  void RandomChange();
  void Insert();
  void Modify(CrashRow row);
  void Delete(CrashRow row);
  // Stands on the row's record, read into the image; with lock, the
  // record lock is taken for a change.
  void Seek(const CrashRow& row, bool lock);
  void Fill(const CrashRow& row, bool write_memo);
  CrashRow Read();
  int32_t NewKey() { return ++last_key_; }
  int32_t NewSeed() { return static_cast<int32_t>(rng_() % 1000000); }

  std::mt19937 rng_;
  TDataSession session_;
  TDataDirectory* directory_;
  std::unique_ptr<TDataCursor> cursor_;
  std::vector<uint8_t> image_;
  bool exclusive_ = false;
  bool flush_ = false;
  int transaction_percent_ = 0;
  // The rows as this process believes them, by key.
  std::map<int32_t, CrashRow> rows_;
  int32_t last_key_ = 0;
  std::string doing_ = "opening";
};

void Writer::OpenCursor() {
  cursor_ = std::make_unique<TDataCursor>(directory_);
  cursor_->SetTableName("CRASH");
  cursor_->SetExclusive(exclusive_);
  cursor_->Open();
}

CrashRow Writer::Read() {
  uint8_t* image = image_.data();
  CrashRow row;
  bool null = false;
  row.id = TDataCursor::GetRecordId(image);
  cursor_->GetFieldData(kCrashKey, image, null, &row.key);
  cursor_->GetFieldData(kCrashGroup, image, null, &row.group);
  cursor_->GetFieldData(kCrashMemoSeed, image, null, &row.memo_seed);
  if (cursor_->OpenBlob(kCrashMemo, image, 1, false, 1) != 0 ||
      cursor_->GetBlobSize(kCrashMemo, image, false, row.memo_length) != 0 ||
      cursor_->CloseBlob(kCrashMemo, image, 1, false) != 0) {
    throw std::runtime_error("memo unreadable");
  }
  return row;
}

void Writer::LoadRows() {
  cursor_->First();
  while (cursor_->GetNextRecord(image_.data()) == 0) {
    const CrashRow row = Read();
    last_key_ = std::max(last_key_, row.key);
    rows_[row.key] = row;
  }
  // Keys an unfinished write of a killed writer gave may be on disk; new
  // keys stay clear of them.
  last_key_ += 1000;
}

void Writer::Fill(const CrashRow& row, bool write_memo) {
  uint8_t* image = image_.data();
  const std::string name = CrashName(row.key);
  cursor_->SetFieldData(kCrashKey, image, false, &row.key);
  cursor_->SetFieldData(kCrashGroup, image, false, &row.group);
  cursor_->SetFieldData(kCrashName, image, false, name.c_str());
  cursor_->SetFieldData(kCrashMemoSeed, image, false, &row.memo_seed);
  if (!write_memo) return;
  const std::string memo = CrashMemo(row.memo_seed, row.memo_length);
  if (cursor_->OpenBlob(kCrashMemo, image, 1, false, 2) != 0 ||
      cursor_->TruncateBlob(kCrashMemo, image, false, 0) != 0 ||
      (!memo.empty() &&
       cursor_->WriteBlob(kCrashMemo, image, false, static_cast<int32_t>(memo.size()), memo.data(),
                          0) != 0)) {
    throw std::runtime_error("memo not written");
  }
}

void Writer::Seek(const CrashRow& row, bool lock) {
  std::vector<uint8_t> probe(image_.size());
  cursor_->InitRecord(probe.data());
  cursor_->SetFieldData(kCrashKey, probe.data(), false, &row.key);
  if (!cursor_->SeekKey(false, probe.data(), image_.data(), 0, false, 0) ||
      cursor_->GetCurrentRecord(image_.data(), lock) != 0) {
    throw std::runtime_error("row " + std::to_string(row.key) + " not found");
  }
}

void Writer::Insert() {
  doing_ = "insert";
  CrashRow row;
  row.key = NewKey();
  row.group = static_cast<int16_t>(rng_() % 8);
  row.memo_seed = NewSeed();
  row.memo_length = rng_() % 3 == 0 ? 0 : static_cast<int32_t>(rng_() % 3000);
  std::cout << InsertLine(row) << std::endl;
  cursor_->InitRecord(image_.data());
  Fill(row, true);
  cursor_->InsertRecord(image_.data(), false);
  row.id = TDataCursor::GetRecordId(image_.data());
  rows_[row.key] = row;
  std::cout << PutLine(row) << std::endl;
}

void Writer::Modify(CrashRow row) {
  doing_ = "modify " + PutLine(row);
  Seek(row, true);
  rows_.erase(row.key);
  if (rng_() % 2 == 0) row.key = NewKey();
  row.group = static_cast<int16_t>(rng_() % 8);
  const bool write_memo = rng_() % 2 == 0;
  if (write_memo) {
    row.memo_seed = NewSeed();
    row.memo_length = static_cast<int32_t>(rng_() % 3000);
  }
  std::cout << PutLine(row) << std::endl;
  Fill(row, write_memo);
  cursor_->ModifyRecord(image_.data(), true, false);
  rows_[row.key] = row;
}

void Writer::Delete(CrashRow row) {
  doing_ = "delete " + PutLine(row);
  Seek(row, false);
  std::cout << "del " << row.id << std::endl;
  cursor_->DeleteRecord(image_.data(), false);
  rows_.erase(row.key);
}

void Writer::RandomChange() {
  // The table stays between a few dozen and a few hundred rows.
  const uint32_t pick = rng_() % 100;
  const uint32_t insert_percent = rows_.size() < 40 ? 80 : rows_.size() > 300 ? 10 : 40;
  if (rows_.empty() || pick < insert_percent) {
    Insert();
    return;
  }
  auto it = rows_.begin();
  std::advance(it, static_cast<long>(rng_() % rows_.size()));
  if (pick % 2 == 0) {
    Modify(it->second);
  } else {
    Delete(it->second);
  }
}

void Writer::Round() {
  if (static_cast<int>(rng_() % 100) < transaction_percent_) {
    const std::map<int32_t, CrashRow> before = rows_;
    const int32_t last_key = last_key_;
    doing_ = "start";
    directory_->StartTransaction();
    std::cout << "begin" << std::endl;
    const int changes = static_cast<int>(rng_() % 6) + 1;
    for (int i = 0; i < changes; ++i) RandomChange();
    if (rng_() % 4 == 0) {
      doing_ = "rollback";
      directory_->Rollback();
      rows_ = before;
      last_key_ = last_key;
      std::cout << "rollback" << std::endl;
      return;
    }
    doing_ = "commit";
    directory_->Commit(true);
    std::cout << "durable" << std::endl;
    return;
  }
  RandomChange();
  if (!exclusive_) {
    std::cout << "durable" << std::endl;
  } else if (rng_() % 20 == 0) {
    // An exclusive table writes its changes back when it closes.
    doing_ = "reopen";
    cursor_->Close(false);
    std::cout << "durable" << std::endl;
    OpenCursor();
  }
}

void Writer::Run(int32_t rounds) {
  std::cout << "ready " << exclusive_ << " " << flush_ << std::endl;
  for (int32_t i = 0; i < rounds; ++i) Round();
  cursor_->Close(false);
  std::cout << "durable" << std::endl;
}

}  // namespace
}  // namespace jw::test

int main() {
  std::string folder;
  uint32_t seed = 0;
  std::cin >> folder >> seed;
  std::unique_ptr<jw::test::Writer> writer;
  try {
    writer = std::make_unique<jw::test::Writer>(folder, seed);
    writer->Run(100000);
  } catch (const std::exception& e) {
    std::cout << "fail " << (writer ? writer->Doing() : "opening") << ": " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
