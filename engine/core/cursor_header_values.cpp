// TDataCursor's header values, read with the table open or closed, their
// setters, and the index descriptors of the open table.
#include "engine/core/blob_file_format.h"
#include "engine/core/data_cursor.h"
#include "engine/core/data_directory.h"
#include "engine/support/scrambler.h"

namespace jw {
namespace {

// The header keeps an encrypted table's description and password scrambled.
std::string Unscrambled(std::string text) {
  UnscrambleBuffer(text.data(), static_cast<int32_t>(text.size()), kPasswordSeed.K1,
                   kPasswordSeed.K2);
  return text;
}

}  // namespace

TDataFileHeader TDataCursor::ReadHeaderValues() {
  uint8_t bytes[kHeaderSize] = {};
  if (open_) {
    table_->DataFile().CopyHeader(bytes);
  } else {
    TFileHandler file;
    file.SetName(in_memory_ ? table_name_ : directory_->Path() + table_name_);
    file.SetInMemory(in_memory_);
    file.Open();
    {
      const FileLockGuard guard(file);
      file.Seek(0, 0);
      file.Read(bytes, kHeaderSize, false);
    }
    file.Close();
  }
  TDataFileHeader header;
  if (!header.DecodeFrom(bytes)) Raise(kErrHeaderCorrupt);
  if (header.Encrypted != 0) {
    header.Description = Unscrambled(header.Description);
    header.Password = Unscrambled(header.Password);
    if (!open_) AskPassword(header.Password);
  } else {
    header.Password.clear();
  }
  return header;
}

int32_t TDataCursor::GetBlobBlockSize() {
  const int32_t size = ReadHeaderValues().BlobBlockSize;
  return size == 0 ? kDefaultBlobBlockSize : size;
}

int32_t TDataCursor::GetBlobDataSize() {
  return GetBlobBlockSize() - kBlockHeadSize;
}

uint16_t TDataCursor::GetLanguageID() {
  return static_cast<uint16_t>(ReadHeaderValues().LanguageId);
}

uint16_t TDataCursor::GetSortID() {
  return static_cast<uint16_t>(ReadHeaderValues().SortId);
}

int16_t TDataCursor::GetUserMajorVersion() {
  return ReadHeaderValues().UserMajor;
}

int16_t TDataCursor::GetUserMinorVersion() {
  return ReadHeaderValues().UserMinor;
}

std::string TDataCursor::GetDescription() {
  return ReadHeaderValues().Description;
}

bool TDataCursor::GetEncrypted() {
  return ReadHeaderValues().Encrypted != 0;
}

std::string TDataCursor::GetPassword() {
  return ReadHeaderValues().Password;
}

int32_t TDataCursor::GetLastAutoInc() {
  return ReadHeaderValues().LastAutoInc;
}

void TDataCursor::WriteHeaderChange(bool index_header) {
  try {
    WriteChange(index_header, false);
  } catch (...) {
    EndWrite();
    throw;
  }
  EndWrite();
  SaveChangeCounters();
}

void TDataCursor::SetLastAutoInc(int32_t value) {
  CheckOpen();
  CheckWritable();
  BeginWrite();
  table_->DataFile().SetLastAutoInc(value);
  WriteHeaderChange(false);
}

void TDataCursor::SetHeaderValues(const std::string& password, const std::string& description,
                                  int16_t user_major, int16_t user_minor, int32_t last_auto_inc) {
  CheckOpen();
  CheckWritable();
  BeginWrite();
  table_->DataFile().SetTableOptions(password, description, user_minor, user_major, last_auto_inc);
  WriteHeaderChange(false);
}

IndexDescriptor TDataCursor::GetIndexDesc(uint8_t number) const {
  CheckOpen();
  if (number == kNaturalOrder) return IndexDescriptor();
  return table_->IndexFile().IndexDesc(number);
}

void TDataCursor::SetIndexDesc(uint8_t number, const IndexDescriptor& index) {
  CheckOpen();
  CheckWritable();
  if (number > kMaxSecondaryIndexes) Raise(kErrIndexLimits);
  TIndexFile& file = table_->IndexFile();
  file.ReplaceIndexDesc(number, index);
  file.SetRoot(number, index.Root);
  if (number == index_number_ && !NaturalOrderInForce()) CopyIndexFields();
}

void TDataCursor::WriteIndexDesc() {
  CheckOpen();
  CheckWritable();
  BeginWrite();
  WriteHeaderChange(true);
}

bool TDataCursor::HasNoPrimaryIndex() const {
  CheckOpen();
  return table_->IndexFile().NoPrimaryIndex();
}

void TDataCursor::SetNoPrimaryIndex(bool value) {
  CheckOpen();
  CheckWritable();
  table_->IndexFile().SetNoPrimaryIndex(value);
}

void TDataCursor::SetIndexCount(uint8_t count) {
  CheckOpen();
  CheckWritable();
  table_->IndexFile().SetSecondaryCount(count);
}

}  // namespace jw
