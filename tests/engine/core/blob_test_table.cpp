#include "tests/engine/core/blob_test_table.h"

#include <cstring>

#include "tests/engine/core/blob_file_verifier.h"

namespace jw::test {

Bytes Pattern(int64_t size, uint32_t seed) {
  Bytes bytes(static_cast<size_t>(size));
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return bytes;
}

BlobTable::BlobTable(const ScratchDir& dir, int32_t block_size, bool encrypted)
    : data_path_(dir.Path("T.DAT")), blob_path_(dir.Path("T.BLB")) {
  data = std::make_unique<TestDataFile>(&owner);
  data->SetName(data_path_);
  data->InitHeader(0, 0, {Field("ID", kFldInteger, 0, kSubTypeAutoInc), Field("MEMO", kFldBlob)},
                   block_size, "blobs", "secret", encrypted, 0, 0);
  data->WriteHeader(true, false);
  data->WriteFieldDescs();
  blob = std::make_unique<TestBlobFile>(&owner, data.get());
  blob->SetName(blob_path_);
  blob->SetBlockSize(data->BlobBlockSize());
  blob->CreateFile();
  blob->WriteHeader(true, false);
}

uint8_t* BlobTable::Slot(TRecord* record) {
  return record->Bytes() + data->FieldDesc(2).Offset;
}

int32_t BlobTable::AddRecord() {
  TRecord* record = data->AllocRecord();
  record->InitNew(true);
  record->SetModified(true);
  const int32_t n = record->RecordNumber();
  data->ReleaseRecord(record);
  return n;
}

void BlobTable::Reference(int32_t record, int32_t& first, int32_t& stamp) {
  TRecord* r = nullptr;
  data->FetchRecord(nullptr, record, 1, false, false, r);
  first = GetInt32(Slot(r) + 1);
  stamp = GetInt32(Slot(r) + 5);
  data->ReleaseRecord(r);
}

void BlobTable::SetReference(int32_t record, int32_t first, int32_t stamp) {
  TRecord* r = nullptr;
  data->FetchRecord(nullptr, record, 1, false, false, r);
  Slot(r)[0] = first != 0 ? 1 : 0;
  PutInt32(Slot(r) + 1, first);
  PutInt32(Slot(r) + 5, stamp);
  r->SetModified(true);
  data->ReleaseRecord(r);
}

void BlobTable::Store(int32_t record, const Bytes& value) {
  int32_t first = 0;
  int32_t stamp = 0;
  Reference(record, first, stamp);
  TBlobBuffer buffer(*blob, &cursor);
  buffer.SetRecordNumber(record);
  buffer.SetFieldNumber(2);
  buffer.LoadBlob(first, stamp);
  buffer.SetSize(static_cast<int32_t>(value.size()));
  if (!value.empty()) std::memcpy(buffer.GetData(), value.data(), value.size());
  buffer.SetStamp(data->NextBlobStamp());
  if (value.empty()) {
    buffer.FreeChain();
  } else {
    buffer.StoreBlob();
  }
  SetReference(record, buffer.FirstBlock(), buffer.Stamp());
}

Bytes BlobTable::Load(int32_t record) {
  int32_t first = 0;
  int32_t stamp = 0;
  Reference(record, first, stamp);
  TBlobBuffer buffer(*blob, &cursor);
  buffer.SetRecordNumber(record);
  buffer.LoadBlob(first, stamp);
  return Bytes(buffer.GetData(), buffer.GetData() + buffer.Size());
}

void BlobTable::WriteBack() {
  blob->FlushBlocks(false);
  data->FlushRecords(false);
  blob->ReleaseFreedBlocks();
  blob->FlushBlocks(false);
  blob->WriteHeader(false, false);
  data->WriteHeader(false, false);
}

void BlobTable::Reopen() {
  WriteBack();
  blob->Close();
  data->Close();
  Open();
}

void BlobTable::Abandon() {
  blob->DropBlockCache();
  data->DropRecordCache();
  blob->Close();
  data->Close();
}

void BlobTable::Open() {
  data = std::make_unique<TestDataFile>(&owner);
  data->SetName(data_path_);
  data->Open();
  blob = std::make_unique<TestBlobFile>(&owner, data.get());
  blob->SetName(blob_path_);
  blob->SetBlockSize(data->BlobBlockSize());
  blob->Open();
}

std::vector<std::string> BlobTable::Verify() const {
  return VerifyTableBlobs(data_path_, blob_path_);
}

}  // namespace jw::test
