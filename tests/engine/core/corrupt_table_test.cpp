// Corrupt table files: one wrong value in one field of a header, descriptor,
// record, index page or BLOB block makes the open or the verify routine give
// that spot's engine code, and verify leaves every byte as it found it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "engine/core/blob_buffer.h"
#include "engine/core/data_table.h"
#include "engine/core/table_verify.h"
#include "tests/engine/core/blob_test_table.h"
#include "tests/engine/core/table_ops.h"

namespace jw::test {
namespace {

constexpr int32_t kRecords = 800;
// Four 64-byte blocks, the last one partly used.
constexpr int32_t kBlobSize = 150;

enum class FileKind { Data, Index, Blob };

// Where a row's offset counts from, found in the sound table's bytes.
enum class Base { FileStart, Descriptor2, Record1, Root, FirstLeaf, ChainFirst, FreeBlock };

struct Mutation {
  const char* what;
  FileKind file;
  Base base;
  int32_t offset;
  std::vector<uint8_t> bytes;
  EngineErrorCode code;
};

std::vector<uint8_t> Int32(int32_t value) {
  std::vector<uint8_t> bytes(4);
  PutInt32(bytes.data(), value);
  return bytes;
}

// A table of the small definition with a BLOB field: kRecords records under
// a primary tree of two levels, record 1 with a BLOB chain, record 2's chain
// freed, so the BLOB free list is not empty.
struct SoundTable {
  std::vector<uint8_t> data, index, blob;
  int32_t key_length = 0;
  std::map<Base, int64_t> bases;
};

const SoundTable& Sound() {
  static const SoundTable sound = [] {
    ScratchDir dir;
    TestDirectory directory(dir.Path(""));
    {
      TDataTable table(&directory);
      table.SetName("T");
      table.SetExclusive(true);
      table.CreateFiles(SmallTableDefinition(true));
      for (int32_t i = 1; i <= kRecords; ++i) AddSmallRecord(table, i);
      TDataFile& data = table.DataFile();
      const int32_t memo = data.FieldDescByName("MEMO")->Offset;
      FakeBlobCursor cursor;
      for (int32_t record = 1; record <= 2; ++record) {
        TBlobBuffer buffer(table.BlobFile(), &cursor);
        buffer.SetRecordNumber(record);
        buffer.LoadBlob(0, 0);
        buffer.SetSize(kBlobSize);
        std::memcpy(buffer.GetData(), Pattern(kBlobSize, record).data(), kBlobSize);
        buffer.SetStamp(data.NextBlobStamp());
        buffer.StoreBlob();
        if (record == 2) buffer.FreeChain();
        TRecord* r = nullptr;
        data.FetchRecord(nullptr, record, 1, false, false, r);
        uint8_t* slot = r->Bytes() + memo;
        slot[0] = record == 1 ? 1 : 0;
        PutInt32(slot + 1, record == 1 ? buffer.FirstBlock() : 0);
        PutInt32(slot + 5, buffer.Stamp());
        r->SetModified(true);
        data.ReleaseRecord(r);
      }
      table.Close(false);
    }
    SoundTable s;
    s.data = ReadWholeFile(dir.Path("T.DAT"));
    s.index = ReadWholeFile(dir.Path("T.IDX"));
    s.blob = ReadWholeFile(dir.Path("T.BLB"));
    TDataFileImage image;
    VerifyDataFileBytes(s.data, image);
    TIndexFileHeader header;
    header.DecodeFrom(s.index.data());
    s.key_length = header.Slots[kPrimarySlot].KeyLength;
    const int32_t root = header.Slots[kPrimarySlot].Root;
    TBlobFileHeader blob_header;
    blob_header.DecodeFrom(s.blob.data());
    s.bases = {{Base::FileStart, 0},
               {Base::Descriptor2, kHeaderSize + kFieldDescriptorSize},
               {Base::Record1, static_cast<int64_t>(image.DataStart)},
               {Base::Root, root},
               {Base::FirstLeaf, GetInt32(&s.index[root + kPgEntries + s.key_length])},
               {Base::ChainFirst, BlobChainsOf(image).at(0).First},
               {Base::FreeBlock, blob_header.FreeHead}};
    return s;
  }();
  return sound;
}

void WriteTable(const ScratchDir& dir, const SoundTable& files) {
  WriteWholeFile(dir.Path("T.DAT"), files.data);
  WriteWholeFile(dir.Path("T.IDX"), files.index);
  WriteWholeFile(dir.Path("T.BLB"), files.blob);
}

// Verify's report on the files, which must stay as they were.
TVerifyReport VerifyUnchanged(const ScratchDir& dir, const SoundTable& files) {
  TVerifyReport report = VerifyTableFiles(dir.Path("T.DAT"));
  EXPECT_EQ(ReadWholeFile(dir.Path("T.DAT")), files.data);
  EXPECT_EQ(ReadWholeFile(dir.Path("T.IDX")), files.index);
  EXPECT_EQ(ReadWholeFile(dir.Path("T.BLB")), files.blob);
  return report;
}

// The code the open raises, else the first problem of the report, else 0.
EngineErrorCode CodeFor(const ScratchDir& dir, const TVerifyReport& report) {
  TestDirectory directory(dir.Path(""));
  try {
    TDataTable table(&directory);
    table.SetName("T");
    table.Open();
    table.Close(true);
  } catch (const EQuireEngineError& e) {
    return e.Code();
  }
  return report.empty() ? 0 : report.front().Code;
}

TEST(CorruptTableTest, SoundTableOpensAndVerifies) {
  ScratchDir dir;
  WriteTable(dir, Sound());
  const TVerifyReport report = VerifyUnchanged(dir, Sound());
  EXPECT_EQ(CodeFor(dir, report), 0);
  EXPECT_TRUE(report.empty()) << report.front().Text;
  EXPECT_NE(Sound().bases.at(Base::Root), Sound().bases.at(Base::FirstLeaf));
  EXPECT_NE(Sound().bases.at(Base::FreeBlock), 0);
}

TEST(CorruptTableTest, EachFieldGivesItsCode) {
  const int32_t l = Sound().key_length;
  const std::vector<Mutation> rows = {
      // Data file header.
      {"data format version",
       FileKind::Data,
       Base::FileStart,
       kHdrFormatVersion,
       {3},
       kErrWrongVersion},
      {"data free head beyond the records", FileKind::Data, Base::FileStart, kHdrFreeHead,
       Int32(kRecords + 9), kErrHeaderCorrupt},
      {"data next record beyond the file", FileKind::Data, Base::FileStart, kHdrNextRecord,
       Int32(kRecords + 9), kErrHeaderCorrupt},
      {"data record size",
       FileKind::Data,
       Base::FileStart,
       kHdrRecordSize,
       {1, 0},
       kErrHeaderCorrupt},
      {"data field count",
       FileKind::Data,
       Base::FileStart,
       kHdrFieldCount,
       {0x01, 0x04},
       kErrHeaderCorrupt},
      {"data description length",
       FileKind::Data,
       Base::FileStart,
       kHdrDescription,
       {51},
       kErrHeaderCorrupt},
      {"data language",
       FileKind::Data,
       Base::FileStart,
       kHdrLanguageId,
       {0x0F, 0x27},
       kErrLanguageDriver},
      {"data write-in-progress mark",
       FileKind::Data,
       Base::FileStart,
       kHdrDirtyFlag,
       {1},
       kErrHeaderCorrupt},
      {"data engine version",
       FileKind::Data,
       Base::FileStart,
       kHdrEngineVersion,
       {0, 0},
       kErrHeaderCorrupt},
      // Field descriptor of field 2.
      {"descriptor number",
       FileKind::Data,
       Base::Descriptor2,
       kFdNumber,
       {7, 0},
       kErrHeaderCorrupt},
      {"descriptor name length",
       FileKind::Data,
       Base::Descriptor2,
       kFdName,
       {31},
       kErrHeaderCorrupt},
      {"descriptor type", FileKind::Data, Base::Descriptor2, kFdType, {99}, kErrHeaderCorrupt},
      {"descriptor physical length",
       FileKind::Data,
       Base::Descriptor2,
       kFdPhysicalLength,
       {200},
       kErrHeaderCorrupt},
      {"descriptor offset",
       FileKind::Data,
       Base::Descriptor2,
       kFdOffset,
       {3, 0},
       kErrHeaderCorrupt},
      // Record 1.
      {"record status", FileKind::Data, Base::Record1, kRecStatus, {7}, kErrRecordBuffersCorrupt},
      {"record number", FileKind::Data, Base::Record1, kRecNumber, Int32(5),
       kErrRecordBuffersCorrupt},
      {"record id", FileKind::Data, Base::Record1, kRecId, Int32(2), kErrRecordBuffersCorrupt},
      {"record null byte",
       FileKind::Data,
       Base::Record1,
       kRecordHeadSize,
       {9},
       kErrRecordBuffersCorrupt},
      {"record freed under its keys",
       FileKind::Data,
       Base::Record1,
       kRecStatus,
       {kRecordFree},
       kErrIndexPagesCorrupt},
      // Index file header and the primary descriptor.
      {"index format version", FileKind::Index, Base::FileStart, kIhVersion, {3}, kErrWrongVersion},
      {"index end position", FileKind::Index, Base::FileStart, kIhEndPosition, Int32(4097),
       kErrHeaderCorrupt},
      {"index secondary count",
       FileKind::Index,
       Base::FileStart,
       kIhSecondaryCount,
       {31},
       kErrIndexLimits},
      {"index live count", FileKind::Index, Base::FileStart, kIhLiveCount, Int32(kRecords + 1),
       kErrIndexPagesCorrupt},
      {"index name length",
       FileKind::Index,
       Base::FileStart,
       kIhDescriptors + kIdName,
       {31},
       kErrHeaderCorrupt},
      {"index root off a page", FileKind::Index, Base::FileStart, kIhDescriptors + kIdRoot,
       Int32(4097), kErrIndexPagesCorrupt},
      {"index free head beyond the end", FileKind::Index, Base::FileStart,
       kIhDescriptors + kIdFreeHead, Int32(4096 * 1000), kErrIndexPagesCorrupt},
      // Root page and first leaf of the primary tree.
      {"root page type", FileKind::Index, Base::Root, kPgType, {kPageLeaf}, kErrIndexPagesCorrupt},
      {"root key count",
       FileKind::Index,
       Base::Root,
       kPgKeyCount,
       {0xFF, 0x7F},
       kErrIndexPagesCorrupt},
      {"root child position", FileKind::Index, Base::Root, kPgEntries + l, Int32(4095),
       kErrIndexPagesCorrupt},
      {"root entry counts one key too many", FileKind::Index, Base::Root, kPgEntries + l + 4,
       Int32(1000), kErrIndexPagesCorrupt},
      {"leaf previous link", FileKind::Index, Base::FirstLeaf, kPgPrevious, Int32(4096),
       kErrIndexPagesCorrupt},
      {"leaf next link", FileKind::Index, Base::FirstLeaf, kPgNext, Int32(0),
       kErrIndexPagesCorrupt},
      {"leaf key order",
       FileKind::Index,
       Base::FirstLeaf,
       kPgEntries + 1,
       {0x7F},
       kErrIndexPagesCorrupt},
      {"leaf record number", FileKind::Index, Base::FirstLeaf, kPgEntries + l, Int32(kRecords + 5),
       kErrIndexPagesCorrupt},
      // BLOB file header, a chain's first block and the free block.
      {"blob format version", FileKind::Blob, Base::FileStart, kBhVersion, {3}, kErrWrongVersion},
      {"blob reserved header bytes",
       FileKind::Blob,
       Base::FileStart,
       kBhChangeCounter + 4,
       {1},
       kErrHeaderCorrupt},
      {"blob free head off a block", FileKind::Blob, Base::FileStart, kBhFreeHead, Int32(513),
       kErrHeaderCorrupt},
      {"blob end position", FileKind::Blob, Base::FileStart, kBhEndPosition, Int32(513),
       kErrHeaderCorrupt},
      {"chain previous link", FileKind::Blob, Base::ChainFirst, kBkPrevious, Int32(512),
       kErrBlobBuffersCorrupt},
      {"chain next link", FileKind::Blob, Base::ChainFirst, kBkNext, Int32(0),
       kErrBlobBuffersCorrupt},
      {"chain used bytes",
       FileKind::Blob,
       Base::ChainFirst,
       kBkUsed,
       {0xFF, 0x00},
       kErrBlobBuffersCorrupt},
      {"chain stamp", FileKind::Blob, Base::ChainFirst, kBkStamp, Int32(77),
       kErrBlobBuffersCorrupt},
      {"chain total size", FileKind::Blob, Base::ChainFirst, kBkTotalSize, Int32(kBlobSize + 1),
       kErrBlobBuffersCorrupt},
      {"free list cut short", FileKind::Blob, Base::FreeBlock, kBkNext, Int32(0),
       kErrBlobBuffersCorrupt},
  };
  for (const Mutation& row : rows) {
    SCOPED_TRACE(row.what);
    SoundTable files = Sound();
    std::vector<uint8_t>& bytes = row.file == FileKind::Data    ? files.data
                                  : row.file == FileKind::Index ? files.index
                                                                : files.blob;
    const size_t at = static_cast<size_t>(files.bases.at(row.base) + row.offset);
    ASSERT_LE(at + row.bytes.size(), bytes.size());
    std::copy(row.bytes.begin(), row.bytes.end(), bytes.begin() + at);
    ScratchDir dir;
    WriteTable(dir, files);
    const TVerifyReport report = VerifyUnchanged(dir, files);
    EXPECT_EQ(CodeFor(dir, report), row.code)
        << (report.empty() ? "verify found nothing" : report.front().Text);
    EXPECT_FALSE(report.empty());
  }
}

}  // namespace
}  // namespace jw::test
