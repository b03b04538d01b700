// The BLOB file's behaviour: values of every size across close and open,
// chains tied to their records, free-block reuse, encryption, the block
// cache, the header and its check, locks, and what a failed write leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <tuple>

#include "engine/core/blob_buffer.h"
#include "engine/core/blob_file.h"
#include "engine/support/scrambler.h"
#include "platform/os/os_file_faults.h"
#include "platform/rtl/random.h"
#include "tests/engine/core/blob_file_verifier.h"
#include "tests/engine/core/blob_test_table.h"

namespace jw::test {
namespace {

TBlobBlockHead ReadBlockHead(const std::string& path, int32_t position, bool encrypted = false) {
  const Bytes bytes = ReadWholeFile(path);
  uint8_t head[kBlockHeadSize];
  std::copy_n(&bytes.at(position), kBlockHeadSize, head);
  if (encrypted) UnscrambleBuffer(head, kBlockHeadSize, kRecordSeed.K1, kRecordSeed.K2);
  TBlobBlockHead h;
  h.DecodeFrom(head);
  return h;
}

void EditBlockHead(const std::string& path, int32_t position,
                   const std::function<void(TBlobBlockHead&)>& edit) {
  Bytes bytes = ReadWholeFile(path);
  TBlobBlockHead h;
  h.DecodeFrom(&bytes.at(position));
  edit(h);
  h.EncodeTo(&bytes.at(position));
  WriteWholeFile(path, bytes);
}

void EditHeader(const std::string& path, const std::function<void(TBlobFileHeader&)>& edit) {
  Bytes bytes = ReadWholeFile(path);
  TBlobFileHeader h;
  h.DecodeFrom(bytes.data());
  edit(h);
  h.EncodeTo(bytes.data());
  WriteWholeFile(path, bytes);
}

class BlobFileTest : public ::testing::Test {
 protected:
  BlobTable& Make(int32_t block_size, bool encrypted = false) {
    table_ = std::make_unique<BlobTable>(dir_, block_size, encrypted);
    return *table_;
  }
  void ExpectSound() {
    const auto problems = table_->Verify();
    EXPECT_TRUE(problems.empty()) << problems.front();
  }
  // Writes back and closes, lets edit change the file, and opens again.
  void Damage(const std::function<void()>& edit) {
    table_->WriteBack();
    table_->blob->Close();
    table_->data->Close();
    edit();
    table_->Open();
  }
  int LoadCode(int32_t record) {
    return ErrorCodeOf([&] { table_->Load(record); });
  }

  ScratchDir dir_;
  std::unique_ptr<BlobTable> table_;
};

// ---- values and chains ----

TEST_F(BlobFileTest, NewFileIsExactlyTheHeader) {
  BlobTable& t = Make(512);
  t.blob->Close();
  const Bytes bytes = ReadWholeFile(t.BlobPath());
  ASSERT_EQ(bytes.size(), 512u);
  Bytes expected(512, 0);
  expected[0] = 1;   // the change counter moved with the first write
  expected[8] = 4;   // version
  expected[14] = 2;  // end position 512
  expected[17] = 1;  // the header was dirty when written
  EXPECT_EQ(bytes, expected);
  t.Open();
  EXPECT_EQ(t.blob->EndPosition(), 512);
  EXPECT_EQ(t.blob->FreeHead(), 0);
  EXPECT_EQ(0, ErrorCodeOf([&] { t.blob->Check(); }));
}

class BlobSizeTest : public BlobFileTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(BlobSizeTest, ValuesOfEverySizeSurviveCloseAndOpen) {
  const int32_t b = GetParam();
  BlobTable& t = Make(b);
  const int64_t sizes[] = {0, 1, b - 18, b - 17, 3 * (b - 18), 1 << 20};
  std::vector<int32_t> records;
  int64_t blocks = 0;
  for (size_t i = 0; i < std::size(sizes); ++i) {
    records.push_back(t.AddRecord());
    t.Store(records.back(), Pattern(sizes[i], static_cast<uint32_t>(i)));
    blocks += BlocksForSize(sizes[i], b);
  }
  t.Reopen();
  ExpectSound();
  EXPECT_EQ(t.blob->EndPosition(), 512 + blocks * b) << "no block more than the values need";
  for (size_t i = 0; i < std::size(sizes); ++i) {
    EXPECT_EQ(t.Load(records[i]), Pattern(sizes[i], static_cast<uint32_t>(i))) << sizes[i];
  }
  int32_t first = -1;
  int32_t stamp = 0;
  t.Reference(records[0], first, stamp);
  EXPECT_EQ(first, 0) << "an empty value has no block";
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, BlobSizeTest, ::testing::Values(64, 512, 32768));

TEST_F(BlobFileTest, ValueFillingOneBlockEndsTheChainThere) {
  BlobTable& t = Make(512);
  const int32_t one = t.AddRecord();
  t.Store(one, Pattern(494, 1));
  const int32_t two = t.AddRecord();
  t.Store(two, Pattern(495, 2));
  t.WriteBack();
  int32_t first = 0;
  int32_t stamp = 0;
  t.Reference(one, first, stamp);
  ASSERT_EQ(first, 512);
  TBlobBlockHead h = ReadBlockHead(t.BlobPath(), 512);
  EXPECT_EQ(h.Next, 0);
  EXPECT_EQ(h.Previous, 0);
  EXPECT_EQ(h.Used, 494);
  EXPECT_EQ(h.TotalSize, 494);
  EXPECT_EQ(h.Stamp, stamp);

  t.Reference(two, first, stamp);
  ASSERT_EQ(first, 1024);
  h = ReadBlockHead(t.BlobPath(), 1024);
  EXPECT_EQ(h.Next, 1536);
  EXPECT_EQ(h.TotalSize, 495);
  const TBlobBlockHead second = ReadBlockHead(t.BlobPath(), 1536);
  EXPECT_EQ(second.Previous, 1024);
  EXPECT_EQ(second.Next, 0);
  EXPECT_EQ(second.Used, 1);
  EXPECT_EQ(second.TotalSize, 0);
  EXPECT_EQ(second.Stamp, stamp);
  ExpectSound();
}

TEST_F(BlobFileTest, RewriteGoesToNewBlocksAndFreesTheOldOnesOnceTheRecordIsWritten) {
  BlobTable& t = Make(64);
  const int32_t r = t.AddRecord();
  const int32_t other = t.AddRecord();
  t.Store(r, Pattern(3 * 46, 1));
  t.Store(other, Pattern(100, 2));
  t.WriteBack();
  ASSERT_EQ(t.blob->EndPosition(), 704 + 3 * 64);
  int32_t first_before = 0;
  int32_t stamp_before = 0;
  t.Reference(r, first_before, stamp_before);
  t.Store(r, Pattern(10, 3));
  int32_t first = 0;
  int32_t stamp = 0;
  t.Reference(r, first, stamp);
  EXPECT_EQ(first, 896) << "a new block, not one of the old chain";
  EXPECT_NE(stamp, stamp_before) << "every write takes a new stamp";
  EXPECT_EQ(t.blob->FreeHead(), 0) << "the old chain is not free before the write-back";
  // What the records on disk name stays whole until they are written.
  t.blob->FlushBlocks(false);
  EXPECT_EQ(ReadBlockHead(t.BlobPath(), 512).Stamp, stamp_before);
  EXPECT_EQ(ReadBlockHead(t.BlobPath(), 512).Next, 576);
  t.WriteBack();
  ExpectSound();
  EXPECT_EQ(t.blob->FreeHead(), 640) << "the old chain freed in chain order";
  EXPECT_EQ(ReadBlockHead(t.BlobPath(), 640).Next, 576);
  EXPECT_EQ(ReadBlockHead(t.BlobPath(), 576).Next, 512);
  EXPECT_EQ(ReadBlockHead(t.BlobPath(), 512).Next, 0);

  t.Store(r, Pattern(3 * 46, 4));
  EXPECT_EQ(t.blob->EndPosition(), 960) << "regrowth takes the freed blocks";
  EXPECT_EQ(t.blob->FreeHead(), 0);
  t.Reopen();
  ExpectSound();
  EXPECT_EQ(t.Load(r), Pattern(3 * 46, 4));
  EXPECT_EQ(t.Load(other), Pattern(100, 2));
}

TEST_F(BlobFileTest, RewriteCutOffBeforeItsRecordIsWrittenLeavesTheOldValueWhole) {
  BlobTable& t = Make(64);
  const int32_t r = t.AddRecord();
  t.Store(r, Pattern(200, 1));
  t.WriteBack();
  t.Store(r, Pattern(300, 2));
  // The blocks reach the disk, the record does not: a process dying there.
  t.blob->FlushBlocks(false);
  t.Abandon();
  t.Open();
  EXPECT_EQ(t.Load(r), Pattern(200, 1));
}

TEST_F(BlobFileTest, DeletedValueGivesItsBlocksToTheNextValue) {
  BlobTable& t = Make(64);
  const int32_t a = t.AddRecord();
  const int32_t b = t.AddRecord();
  t.Store(a, Pattern(4 * 46, 1));
  const int32_t end = t.blob->EndPosition();
  t.Store(a, {});
  int32_t first = -1;
  int32_t stamp = 0;
  t.Reference(a, first, stamp);
  EXPECT_EQ(first, 0);
  t.WriteBack();
  ExpectSound();
  t.Store(b, Pattern(4 * 46, 2));
  EXPECT_EQ(t.blob->EndPosition(), end);
  t.Reopen();
  ExpectSound();
  EXPECT_EQ(t.Load(b), Pattern(4 * 46, 2));
  EXPECT_TRUE(t.Load(a).empty());
}

TEST_F(BlobFileTest, EncryptedBlobsScrambleHeaderBlockHeadsAndDataSeparately) {
  BlobTable& t = Make(64, true);
  const int32_t r = t.AddRecord();
  const Bytes value = Pattern(100, 7);
  t.Store(r, value);
  t.Reopen();
  EXPECT_EQ(t.Load(r), value);
  ExpectSound();
  int32_t first = 0;
  int32_t stamp = 0;
  t.Reference(r, first, stamp);

  Bytes bytes = ReadWholeFile(t.BlobPath());
  ASSERT_EQ(bytes.size(), 512u + 3 * 64);
  Bytes header(bytes.begin(), bytes.begin() + 512);
  EXPECT_NE(header[8], 4) << "the header is scrambled";
  UnscrambleBuffer(header.data(), 512, kRecordSeed.K1, kRecordSeed.K2);
  TBlobFileHeader h;
  h.DecodeFrom(header.data());
  EXPECT_EQ(h.Version, 4);
  EXPECT_EQ(h.EndPosition, 704);

  const TBlobBlockHead head = ReadBlockHead(t.BlobPath(), 512, true);
  EXPECT_EQ(head.Next, 576);
  EXPECT_EQ(head.Used, 46);
  EXPECT_EQ(head.TotalSize, 100);
  EXPECT_EQ(head.Stamp, stamp);
  Bytes data(bytes.begin() + 512 + 18, bytes.begin() + 576);
  EXPECT_NE(data, Bytes(value.begin(), value.begin() + 46));
  // The data part starts its own scrambling stream.
  UnscrambleBuffer(data.data(), 46, kRecordSeed.K1, kRecordSeed.K2);
  EXPECT_EQ(data, Bytes(value.begin(), value.begin() + 46));
}

TEST_F(BlobFileTest, EmptyingTheFileCutsEveryBlock) {
  BlobTable& t = Make(64);
  t.Store(t.AddRecord(), Pattern(500, 1));
  t.WriteBack();
  t.blob->EmptyBlobFile();
  EXPECT_EQ(t.blob->EndPosition(), 512);
  EXPECT_EQ(t.blob->FreeHead(), 0);
  EXPECT_EQ(t.blob->CachedBlockCount(), 0);
  t.blob->WriteHeader(false, false);
  EXPECT_EQ(ReadWholeFile(t.BlobPath()).size(), 512u);
  TBlock* block = t.blob->NewBlock();
  EXPECT_EQ(block->Position(), 512);
  t.blob->ReleaseBlock(block);
}

// Loads copy the blocks out of a mapping of the file once a few loads read
// it. A process outside the locks that cuts the file under the mapping
// leaves a load an engine error instead of a fault; where no mapping can be
// made, loads read the file and find the same values, scrambled or not.
TEST_F(BlobFileTest, LoadsSurviveAFileCutUnderTheMappingAndRefusedMappings) {
  ForEachMappingCase([&](const MappingCase& mapping, OsFileFaults& faults) {
    SCOPED_TRACE(mapping.Name());
    const auto [refuse_maps, encrypted] = mapping;
    table_.reset();
    BlobTable& t = Make(512, encrypted);
    std::vector<int32_t> records;
    for (uint32_t i = 0; i < 12; ++i) {
      records.push_back(t.AddRecord());
      t.Store(records.back(), Pattern(20 * 494, i));
    }
    t.Reopen();
    for (uint32_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(t.Load(records[i]), Pattern(20 * 494, i));
    }
    const int64_t before = faults.reads;
    EXPECT_EQ(t.Load(records.back()), Pattern(20 * 494, 11));
    EXPECT_EQ(faults.reads - before, refuse_maps ? 1 : 0) << "system reads of one load";
    std::filesystem::resize_file(t.BlobPath(), 1024);
    EXPECT_EQ(LoadCode(records.back()), 8963);
    EXPECT_EQ(LoadCode(records[5]), 8963);
  });
}

// ---- damage ----

// Record 1 holds a chain 512 -> 576 -> 640 of 138 bytes, record 2 one of 704 -> 768.
class BlobDamageTest : public BlobFileTest {
 protected:
  void SetUp() override {
    BlobTable& t = Make(64);
    t.Store(t.AddRecord(), Pattern(138, 1));
    t.Store(t.AddRecord(), Pattern(60, 2));
    t.Reference(1, first_, stamp_);
    ASSERT_EQ(first_, 512);
    t.WriteBack();
  }
  void EditBlock(int32_t position, const std::function<void(TBlobBlockHead&)>& edit) {
    Damage([&] { EditBlockHead(table_->BlobPath(), position, edit); });
  }

  int32_t first_ = 0;
  int32_t stamp_ = 0;
};

TEST_F(BlobDamageTest, EachDamagedChainGivesItsCode) {
  const struct {
    const char* what;
    int32_t position;
    std::function<void(TBlobBlockHead&)> edit;
    int code;
  } cases[] = {
      {"first block of another write", 512, [](TBlobBlockHead& h) { ++h.Stamp; }, 8708},
      {"later block of another write", 640, [](TBlobBlockHead& h) { ++h.Stamp; }, 8708},
      {"block pointing to itself", 576, [](TBlobBlockHead& h) { h.Next = 576; }, 8963},
      {"two-block cycle", 576, [](TBlobBlockHead& h) { h.Next = 512; }, 8963},
      {"total size -1", 512, [](TBlobBlockHead& h) { h.TotalSize = -1; }, 8963},
      {"total size 2^31-1", 512, [](TBlobBlockHead& h) { h.TotalSize = 2147483647; }, 8963},
      {"total size past the chain", 512, [](TBlobBlockHead& h) { h.TotalSize = 139; }, 8711},
      {"chain cut short", 576, [](TBlobBlockHead& h) { h.Next = 0; }, 8711},
      {"block giving fewer bytes", 576, [](TBlobBlockHead& h) { h.Used = 10; }, 8711},
      {"used count beyond the block", 576, [](TBlobBlockHead& h) { h.Used = 47; }, 8963},
      {"negative used count", 576, [](TBlobBlockHead& h) { h.Used = -1; }, 8963},
      {"link inside a block", 512, [](TBlobBlockHead& h) { h.Next = 577; }, 8963},
      {"link into the header", 512, [](TBlobBlockHead& h) { h.Next = 100; }, 8963},
      {"link to the end position", 512, [](TBlobBlockHead& h) { h.Next = 832; }, 8963},
      {"link past the end", 512, [](TBlobBlockHead& h) { h.Next = 64 * 1000 + 512; }, 8963},
      {"negative link", 512, [](TBlobBlockHead& h) { h.Next = -64; }, 8963},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes good = ReadWholeFile(table_->BlobPath());
    EditBlock(c.position, c.edit);
    EXPECT_EQ(LoadCode(1), c.code);
    EXPECT_EQ(table_->Load(2), Pattern(60, 2)) << "the other chain stays readable";
    table_->blob->Close();
    WriteWholeFile(table_->BlobPath(), good);
    table_->blob->Open();
    EXPECT_EQ(table_->Load(1), Pattern(138, 1));
  }
}

// Links lead up the file, down it, or turn back between the blocks passed
// (a chain rewritten from the free list mixes both): only a block met
// twice is damage.
TEST_F(BlobDamageTest, ChainMayTurnBackButNeverMeetABlockTwice) {
  const Bytes value = Pattern(138, 1);
  EditBlock(512, [](TBlobBlockHead& h) { h.Next = 640; });
  EditBlock(640, [](TBlobBlockHead& h) { h.Next = 576; });
  EditBlock(576, [](TBlobBlockHead& h) { h.Next = 0; });
  Bytes expected(value.begin(), value.begin() + 46);
  expected.insert(expected.end(), value.begin() + 92, value.end());
  expected.insert(expected.end(), value.begin() + 46, value.begin() + 92);
  EXPECT_EQ(table_->Load(1), expected);
  // A fourth block's worth of size leads the turned chain back to 640.
  EditBlock(512, [](TBlobBlockHead& h) { h.TotalSize = 184; });
  EditBlock(576, [](TBlobBlockHead& h) { h.Next = 640; });
  EXPECT_EQ(LoadCode(1), 8963);
  EXPECT_EQ(table_->Load(2), Pattern(60, 2));
}

TEST_F(BlobDamageTest, ReferenceThatNamesNoBlockIsCorruption) {
  for (int32_t first : {513, 832, 100, -512}) {
    table_->SetReference(1, first, stamp_);
    EXPECT_EQ(LoadCode(1), 8963) << first;
  }
}

TEST_F(BlobDamageTest, FreeingADamagedChainOutsideACheckIsRefused) {
  EditBlock(640, [](TBlobBlockHead& h) { h.Next = 576; });
  TBlobBuffer buffer(*table_->blob, &table_->cursor);
  buffer.SetRecordNumber(1);
  EXPECT_EQ(8708, ErrorCodeOf([&] { buffer.LoadBlob(first_, stamp_ + 1); }));
  int32_t first = first_;
  EXPECT_EQ(8963, ErrorCodeOf([&] {
              table_->blob->FreeBlobChain(&table_->cursor, false, false, 1, stamp_, first);
            }));
  first = first_;
  EXPECT_EQ(8963, ErrorCodeOf([&] {
              table_->blob->FreeBlobChain(nullptr, false, false, 1, stamp_ + 1, first);
            }));
  EXPECT_TRUE(table_->cursor.messages.empty());
}

TEST_F(BlobDamageTest, CheckReportsEachDamageAndCutsItAwayUnlessOnlyReporting) {
  const struct {
    const char* what;
    int32_t position;
    std::function<void(TBlobBlockHead&)> edit;
    int32_t stamp_delta;
    const char* message;
    int32_t freed;
  } cases[] = {
      {"stamp of another write", 512, [](TBlobBlockHead&) {}, 1,
       "Invalid BLOB offset in BLOB file for physical record # 1, ", 0},
      {"later block of another write", 640, [](TBlobBlockHead& h) { ++h.Stamp; }, 0,
       "Invalid BLOB offset in BLOB file for physical record # 1, ", 2},
      {"block pointing to itself", 576, [](TBlobBlockHead& h) { h.Next = 576; }, 0,
       "Recursive intra-block pointer in BLOB file for physical record # 1, ", 2},
      {"two-block cycle", 640, [](TBlobBlockHead& h) { h.Next = 576; }, 0,
       "Recursive intra-block pointer in BLOB file for physical record # 1, ", 3},
      {"link outside the blocks", 576, [](TBlobBlockHead& h) { h.Next = 100000; }, 0,
       "Invalid intra-block pointer in BLOB file for physical record # 1, ", 2},
  };
  for (const auto& c : cases) {
    for (bool report_only : {true, false}) {
      SCOPED_TRACE(std::string(c.what) + (report_only ? ", report only" : ", repair"));
      const Bytes good = ReadWholeFile(table_->BlobPath());
      EditBlock(c.position, c.edit);
      FakeBlobCursor& cursor = table_->cursor;
      cursor.verify_repair = true;
      cursor.messages.clear();
      const int32_t free_head = table_->blob->FreeHead();
      int32_t first = first_;
      table_->blob->FreeBlobChain(&cursor, report_only, false, 1, stamp_ + c.stamp_delta, first);
      ASSERT_EQ(cursor.messages.size(), 1u);
      EXPECT_EQ(cursor.messages[0],
                std::string(c.message) + (report_only ? "error not fixed" : "error fixed"));
      table_->blob->ReleaseFreedBlocks();
      if (report_only) {
        EXPECT_EQ(first, first_);
        EXPECT_EQ(table_->blob->FreeHead(), free_head);
      } else {
        EXPECT_EQ(first, 0);
        // The blocks walked went to the free list; count them there.
        int32_t freed = 0;
        for (int32_t p = table_->blob->FreeHead(); p != 0 && freed < 10; ++freed) {
          TBlock* block = nullptr;
          table_->blob->FetchBlock(nullptr, p, 1, false, block);
          p = block->Next();
          table_->blob->ReleaseBlock(block);
        }
        EXPECT_EQ(freed, c.freed);
        EXPECT_EQ(table_->Load(2), Pattern(60, 2));
      }
      cursor.verify_repair = false;
      table_->blob->DropBlockCache();
      table_->blob->Close();
      WriteWholeFile(table_->BlobPath(), good);
      table_->blob->Open();
    }
  }
}

TEST_F(BlobDamageTest, RewriteNeverWritesIntoAnotherRecordsChain) {
  TBlobBuffer buffer(*table_->blob, &table_->cursor);
  buffer.SetRecordNumber(1);
  buffer.LoadBlob(first_, stamp_);
  // After the load, record 1's chain comes to run on into record 2's first block.
  TBlock* block = nullptr;
  table_->blob->FetchBlock(nullptr, 576, 1, false, block);
  block->SetNext(704);
  table_->blob->ReleaseBlock(block);
  buffer.SetSize(300);
  buffer.SetStamp(table_->data->NextBlobStamp());
  EXPECT_EQ(8963, ErrorCodeOf([&] { buffer.StoreBlob(); }));
  EXPECT_EQ(table_->Load(2), Pattern(60, 2));
}

TEST_F(BlobDamageTest, RewriteOfAChainChangedSinceItWasLoadedIsRefused) {
  TBlobBuffer stale(*table_->blob, &table_->cursor);
  stale.SetRecordNumber(1);
  stale.LoadBlob(first_, stamp_);
  table_->Store(1, Pattern(138, 3));
  stale.SetStamp(table_->data->NextBlobStamp());
  EXPECT_EQ(8708, ErrorCodeOf([&] { stale.StoreBlob(); }));
  EXPECT_EQ(table_->Load(1), Pattern(138, 3));
}

TEST_F(BlobDamageTest, CheckReportsAReferenceThatNamesNoBlock) {
  table_->cursor.verify_repair = true;
  int32_t first = 520;
  table_->blob->FreeBlobChain(&table_->cursor, false, false, 7, stamp_, first);
  EXPECT_EQ(first, 0);
  ASSERT_EQ(table_->cursor.messages.size(), 1u);
  EXPECT_EQ(table_->cursor.messages[0],
            "Invalid BLOB offset in BLOB file for physical record # 7, error fixed");
}

TEST_F(BlobDamageTest, AdoptingTheStampFreesTheWholeChainSilently) {
  EditBlock(640, [](TBlobBlockHead& h) { h.Stamp = 99; });
  table_->cursor.verify_repair = true;
  int32_t first = first_;
  table_->blob->FreeBlobChain(&table_->cursor, false, true, 1, 12345, first);
  EXPECT_EQ(first, 0);
  EXPECT_TRUE(table_->cursor.messages.empty());
  table_->blob->ReleaseFreedBlocks();
  EXPECT_EQ(table_->blob->FreeHead(), 640);
}

TEST_F(BlobDamageTest, FreeListThatLeadsToItselfIsNeverHandedOutTwice) {
  table_->Store(1, {});
  table_->blob->ReleaseFreedBlocks();
  ASSERT_EQ(table_->blob->FreeHead(), 640);
  EditBlock(640, [](TBlobBlockHead& h) { h.Next = 640; });
  EXPECT_EQ(8963, ErrorCodeOf([&] { table_->blob->ReleaseBlock(table_->blob->NewBlock()); }));
  EXPECT_EQ(table_->blob->FreeHead(), 640);
}

TEST_F(BlobDamageTest, FetchRefusesPositionsThatNameNoBlock) {
  TBlock* block = nullptr;
  for (int32_t p : {0, 511, 513, 832, 896, -64}) {
    EXPECT_EQ(8963, ErrorCodeOf([&] { table_->blob->FetchBlock(nullptr, p, 1, false, block); }))
        << p;
  }
  EXPECT_EQ(table_->blob->EndPosition(), 832) << "a fetch never appends";
}

TEST_F(BlobFileTest, HeaderDamageGivesItsCode) {
  BlobTable& t = Make(64);
  t.Store(t.AddRecord(), Pattern(100, 1));
  t.WriteBack();
  const struct {
    const char* what;
    std::function<void(TBlobFileHeader&)> edit;
    int open_code;
    int check_code;
  } cases[] = {
      {"version 5", [](TBlobFileHeader& h) { h.Version = 5; }, 0, 12035},
      {"free head inside a block", [](TBlobFileHeader& h) { h.FreeHead = 520; }, 8961, 0},
      {"free head at the end", [](TBlobFileHeader& h) { h.FreeHead = 704; }, 8961, 0},
      {"end off the boundaries", [](TBlobFileHeader& h) { h.EndPosition = 600; }, 8961, 0},
      {"end inside the header", [](TBlobFileHeader& h) { h.EndPosition = 448; }, 8961, 0},
      {"end at the limit", [](TBlobFileHeader& h) { h.EndPosition = 2000000064; }, 8961, 0},
      {"free head without blocks",
       [](TBlobFileHeader& h) {
         h.EndPosition = 512;
         h.FreeHead = 512;
       },
       8961, 0},
      {"end past the file", [](TBlobFileHeader& h) { h.EndPosition = 512 + 64 * 10; }, 0, 8961},
  };
  const Bytes good = ReadWholeFile(t.BlobPath());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    t.blob->Close();
    WriteWholeFile(t.BlobPath(), good);
    EditHeader(t.BlobPath(), c.edit);
    EXPECT_EQ(ErrorCodeOf([&] { t.blob->Open(); }), c.open_code);
    if (c.open_code == 0) {
      EXPECT_EQ(ErrorCodeOf([&] { t.blob->Check(); }), c.check_code);
    }
  }
  t.blob->Close();
  WriteWholeFile(t.BlobPath(), Bytes(good.begin(), good.begin() + 100));
  EXPECT_EQ(ErrorCodeOf([&] { t.blob->Open(); }), 8961) << "a file shorter than its header";
  EXPECT_FALSE(t.blob->IsOpen());
}

TEST_F(BlobFileTest, FileFullAtTheLastBlockBelowTwoBillion) {
  BlobTable& t = Make(512);
  t.blob->Close();
  // The last block that fits ends at 2000000000.
  EditHeader(t.BlobPath(), [](TBlobFileHeader& h) { h.EndPosition = 2000000000 - 512; });
  std::filesystem::resize_file(t.BlobPath(), 2000000000 - 512);
  t.blob->Open();
  TBlock* last = t.blob->NewBlock();
  EXPECT_EQ(last->Position(), 2000000000 - 512);
  t.blob->ReleaseBlock(last);
  EXPECT_EQ(9479, ErrorCodeOf([&] { t.blob->NewBlock(); }));
  EXPECT_EQ(t.blob->EndPosition(), 2000000000);
  t.blob->DropBlockCache();
}

// ---- blocks ----

TEST_F(BlobFileTest, BlockDataOutsideTheBlockIsAnInvalidLength) {
  BlobTable& t = Make(64);
  TBlock* block = t.blob->NewBlock();
  const Bytes data = Pattern(47, 1);
  Bytes out(47);
  EXPECT_EQ(10029, ErrorCodeOf([&] { block->WriteData(0, 47, data.data()); }));
  EXPECT_EQ(10029, ErrorCodeOf([&] { block->WriteData(40, 7, data.data()); }));
  EXPECT_EQ(10029, ErrorCodeOf([&] { block->ReadData(0, 47, out.data()); }));
  EXPECT_EQ(10029, ErrorCodeOf([&] { block->ReadData(-1, 2, out.data()); }));
  block->WriteData(0, 20, data.data());
  EXPECT_EQ(block->Used(), 20);
  EXPECT_EQ(block->ReadData(0, 46, out.data()), 20) << "only the bytes in use";
  EXPECT_EQ(block->ReadData(15, 10, out.data()), 5);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), Bytes(data.begin() + 15, data.begin() + 20));
  t.blob->ReleaseBlock(block);
}

// Blocks keep their data in their own allocation, sized for one block size:
// those pooled before the size changed are not handed out for the new one.
TEST_F(BlobFileTest, BlocksPooledForOneBlockSizeServeNoOther) {
  BlobTable& t = Make(64);
  for (uint32_t seed = 1; seed <= 3; ++seed) t.Store(t.AddRecord(), Pattern(200, seed));
  t.WriteBack();
  t.blob->Close();
  t.blob->SetBlockSize(128);
  t.blob->CreateFile();
  const Bytes data = Pattern(110, 9);
  TBlock* block = t.blob->NewBlock();
  ASSERT_EQ(block->Capacity(), 110);
  block->WriteData(0, 110, data.data());
  t.blob->ReleaseBlock(block);
  t.blob->FlushBlocks(false);
  t.blob->DropBlockCache();
  t.blob->FetchBlock(nullptr, 512, 1, false, block);
  Bytes out(110);
  EXPECT_EQ(block->ReadData(0, 110, out.data()), 110);
  EXPECT_EQ(out, data);
  t.blob->ReleaseBlock(block);
}

TEST_F(BlobFileTest, BlockSizeOutsideTheFormatIsRefused) {
  BlobTable& t = Make(512);
  t.blob->Close();
  EXPECT_EQ(9498, ErrorCodeOf([&] { t.blob->SetBlockSize(63); }));
  EXPECT_EQ(9498, ErrorCodeOf([&] { t.blob->SetBlockSize(32769); }));
  t.blob->SetBlockSize(0);
  EXPECT_EQ(t.blob->BlockSize(), 512);
  t.blob->SetBlockSize(64);
  EXPECT_EQ(t.blob->CacheCapacity(), 2047);
  EXPECT_EQ(t.blob->ReadAheadCount(), 1023);
  t.blob->SetBlockSize(32768);
  EXPECT_EQ(t.blob->CacheCapacity(), 3);
  EXPECT_EQ(t.blob->ReadAheadCount(), 1);
}

TEST_F(BlobFileTest, ReadAheadLoadsAChainOfConsecutiveBlocksInOneRead) {
  BlobTable& t = Make(512);
  const int32_t r = t.AddRecord();
  t.Store(r, Pattern(20 * 494, 1));
  t.Reopen();
  t.blob->ResetCounts();
  EXPECT_EQ(t.Load(r), Pattern(20 * 494, 1));
  EXPECT_EQ(t.blob->reads, 1);
}

TEST_F(BlobFileTest, FirstReadOfAChainTakesAsManyBlocksAsTheLastChainLoaded) {
  BlobTable& t = Make(512);
  const int32_t small = t.AddRecord();
  const int32_t other = t.AddRecord();
  const int32_t large = t.AddRecord();
  auto value_of = [&](int32_t record) {
    return Pattern(record == large ? 20 * 494 : 3 * 494, static_cast<uint32_t>(record));
  };
  for (const int32_t record : {small, other, large}) t.Store(record, value_of(record));
  t.Reopen();
  // {record, reads of its load}: a load reads what it needs from the file
  // each time, since the blocks it reads take no cache slot.
  const std::vector<std::pair<int32_t, int32_t>> loads{
      {small, 1}, {other, 1}, {large, 2}, {large, 1}, {small, 1}};
  for (const auto& [record, reads] : loads) {
    t.blob->ResetCounts();
    EXPECT_EQ(t.Load(record), value_of(record));
    EXPECT_EQ(t.blob->reads, reads) << "record " << record;
  }
  EXPECT_EQ(t.blob->CachedBlockCount(), 0);
}

TEST_F(BlobFileTest, RewritingOrFreeingAChainCachesOnlyItsOwnBlocks) {
  BlobTable& t = Make(512);
  const int32_t small = t.AddRecord();
  const int32_t large = t.AddRecord();
  t.Store(small, Pattern(3 * 494, 1));
  t.Store(large, Pattern(200 * 494, 2));
  t.Reopen();
  t.blob->ResetCounts();
  t.Store(small, Pattern(3 * 494, 3));
  EXPECT_EQ(t.blob->reads, 2) << "the load, then the old chain at once";
  EXPECT_EQ(t.blob->CachedBlockCount(), 3 + 3) << "the old chain and the new one";
  t.Reopen();
  t.Store(small, Bytes());
  EXPECT_EQ(t.blob->CachedBlockCount(), 3);
  t.WriteBack();
  EXPECT_EQ(t.Load(large), Pattern(200 * 494, 2));
  ExpectSound();
}

TEST_F(BlobFileTest, LoadTakesUnwrittenChangesFromTheCacheAndTheRestFromTheFile) {
  for (const bool encrypted : {false, true}) {
    table_.reset();
    BlobTable& t = Make(512, encrypted);
    const int32_t r = t.AddRecord();
    Bytes value = Pattern(20 * 494, 1);
    t.Store(r, value);
    t.Reopen();
    int32_t position = 0;
    int32_t stamp = 0;
    t.Reference(r, position, stamp);
    for (int i = 0; i < 5; ++i) {
      TBlock* block = nullptr;
      ASSERT_TRUE(t.blob->FetchBlock(nullptr, position, 1, false, block));
      position = block->Next();
      t.blob->ReleaseBlock(block);
    }
    TBlock* sixth = nullptr;
    ASSERT_TRUE(t.blob->FetchBlock(nullptr, position, 1, false, sixth));
    const Bytes changed = Pattern(494, 9);
    sixth->WriteData(0, 494, changed.data());
    t.blob->ReleaseBlock(sixth);
    std::copy(changed.begin(), changed.end(), value.begin() + 5 * 494);
    EXPECT_EQ(t.Load(r), value) << "encrypted " << encrypted;
    t.Reopen();
    EXPECT_EQ(t.Load(r), value) << "the change was kept for the write-back";
  }
}

TEST_F(BlobFileTest, BlockChangedWhilePinnedThroughAWriteBackIsWrittenByTheNext) {
  BlobTable& t = Make(512);
  t.WriteBack();
  EXPECT_FALSE(t.blob->FlushBlocks(false));
  TBlock* block = t.blob->NewBlock();
  EXPECT_FALSE(t.blob->FlushBlocks(false)) << "a pinned block waits";
  const Bytes data = Pattern(100, 4);
  block->WriteData(0, 100, data.data());
  t.blob->ReleaseBlock(block);
  t.blob->ResetCounts();
  EXPECT_TRUE(t.blob->FlushBlocks(false));
  EXPECT_EQ(t.blob->write_lengths, std::vector<int32_t>{512});
  EXPECT_FALSE(t.blob->FlushBlocks(false));
}

TEST_F(BlobFileTest, DirtyRunsAreWrittenOneWriteEach) {
  BlobTable& t = Make(512);
  t.Store(t.AddRecord(), Pattern(20 * 494, 1));
  t.blob->ResetCounts();
  EXPECT_TRUE(t.blob->FlushBlocks(false));
  EXPECT_EQ(t.blob->write_lengths, std::vector<int32_t>{20 * 512});
  EXPECT_FALSE(t.blob->FlushBlocks(false)) << "everything is clean now";
}

// A run longer than a write piece goes out in pieces, so that the write
// buffer stays bounded; a failed piece leaves the whole run dirty, and the
// next write-back writes it whole.
TEST_F(BlobFileTest, LongRunIsWrittenInPiecesAndAFailedPieceIsWrittenAgain) {
  BlobTable& t = Make(32768);
  const int32_t blocks = kWritePieceBytes / 32768 + 8;
  const Bytes value = Pattern(static_cast<int64_t>(blocks) * (32768 - 18), 3);
  const int32_t r = t.AddRecord();
  // A transaction's cache holds every block of the value.
  t.owner.in_transaction = true;
  t.Store(r, value);
  t.owner.in_transaction = false;
  t.blob->ResetCounts();
  t.blob->fail_write_at = 2;
  EXPECT_EQ(9218, ErrorCodeOf([&] { t.blob->FlushBlocks(false); }));
  EXPECT_EQ(t.blob->write_lengths, std::vector<int32_t>{kWritePieceBytes});
  t.blob->fail_write_at = 0;
  t.blob->ResetCounts();
  EXPECT_TRUE(t.blob->FlushBlocks(false));
  EXPECT_EQ(t.blob->write_lengths, (std::vector<int32_t>{kWritePieceBytes, 8 * 32768}));
  t.Reopen();
  ExpectSound();
  EXPECT_EQ(t.Load(r), value);
}

TEST_F(BlobFileTest, CursorReportingChangedFilesRestartsTheLoad) {
  BlobTable& t = Make(512);
  const int32_t r = t.AddRecord();
  t.Store(r, Pattern(1000, 1));
  t.Reopen();
  t.cursor.changes_to_report = 1;
  t.cursor.change_checks = 0;
  EXPECT_EQ(t.Load(r), Pattern(1000, 1));
  EXPECT_EQ(t.cursor.change_checks, 2);

  t.blob->DropBlockCache();
  t.cursor.changes_to_report = 1000;
  EXPECT_EQ(8708, LoadCode(r)) << "a record that never stops changing";

  t.blob->DropBlockCache();
  t.owner.strict_change_detection = true;
  t.cursor.change_checks = 0;
  EXPECT_EQ(t.Load(r), Pattern(1000, 1));
  EXPECT_EQ(t.cursor.change_checks, 0);
}

TEST_F(BlobFileTest, FullCacheOfPinnedBlocksIsCorruptionOutsideTransaction) {
  BlobTable& t = Make(32768);
  std::vector<TBlock*> pinned;
  for (int i = 0; i < 3; ++i) pinned.push_back(t.blob->NewBlock());
  EXPECT_EQ(8963, ErrorCodeOf([&] { t.blob->NewBlock(); }));
  t.owner.in_transaction = true;
  pinned.push_back(t.blob->NewBlock());
  EXPECT_EQ(t.blob->CacheCapacity(), 3 + 255) << "a transaction's cache grows instead";
  for (TBlock* b : pinned) t.blob->ReleaseBlock(b);
  t.owner.in_transaction = false;
}

TEST_F(BlobFileTest, FullCacheOfDirtyBlocksWritesBackForASlot) {
  BlobTable& t = Make(32768);
  t.blob->ResetCounts();
  for (int i = 0; i < 4; ++i) t.blob->ReleaseBlock(t.blob->NewBlock());
  EXPECT_EQ(t.blob->writes, 1) << "the three dirty blocks in one run";
  EXPECT_EQ(t.blob->CachedBlockCount(), 3);
}

TEST_F(BlobFileTest, ReadAheadTakesNoSlotTheCacheCannotSpare) {
  BlobTable& t = Make(8192);
  const int32_t r = t.AddRecord();
  t.Store(r, Pattern(10 * 8174, 1));
  t.Reopen();
  ASSERT_EQ(t.blob->CacheCapacity(), 15);
  std::vector<TBlock*> pinned;
  for (int i = 0; i < 14; ++i) pinned.push_back(t.blob->NewBlock());
  int32_t first = 0;
  int32_t stamp = 0;
  t.Reference(r, first, stamp);
  TBlock* block = nullptr;
  ASSERT_TRUE(t.blob->FetchBlock(nullptr, first, 7, true, block));
  EXPECT_EQ(block->Position(), first);
  EXPECT_EQ(block->UseCount(), 1);
  EXPECT_EQ(t.blob->CachedBlockCount(), 15);
  t.blob->ReleaseBlock(block);
  for (TBlock* b : pinned) t.blob->ReleaseBlock(b);
}

TEST_F(BlobFileTest, TrimmingKeepsPinnedBlocks) {
  BlobTable& t = Make(32768);
  t.owner.in_transaction = true;
  std::vector<TBlock*> blocks;
  for (int i = 0; i < 6; ++i) blocks.push_back(t.blob->NewBlock());
  for (int i = 0; i < 5; ++i) t.blob->ReleaseBlock(blocks[i]);
  t.owner.in_transaction = false;
  t.blob->FlushBlocks(false);
  t.blob->TrimBlockCache();
  EXPECT_EQ(t.blob->CacheCapacity(), 3);
  EXPECT_EQ(t.blob->CachedBlockCount(), 3);
  TBlock* again = nullptr;
  t.blob->FetchBlock(nullptr, blocks[5]->Position(), 1, false, again);
  EXPECT_EQ(again, blocks[5]) << "the pinned block is still the cached one";
  t.blob->ReleaseBlock(again);
  t.blob->ReleaseBlock(blocks[5]);
}

// ---- header, other handles, locks ----

TEST_F(BlobFileTest, AnotherHandleSeesTheChangeCounterMove) {
  BlobTable& t = Make(512);
  t.Reopen();
  FakeTable other_owner;
  TBlobFile other(&other_owner, t.data.get());
  other.SetName(t.BlobPath());
  other.SetBlockSize(512);
  other.Open();
  EXPECT_FALSE(other.HeaderChanged());
  t.Store(t.AddRecord(), Pattern(600, 1));
  t.WriteBack();
  EXPECT_TRUE(other.HeaderChanged());
  EXPECT_EQ(other.EndPosition(), 512 + 2 * 512);
  EXPECT_FALSE(other.HeaderChanged());
  t.blob->TouchHeader();
  t.blob->WriteHeader(false, false);
  EXPECT_TRUE(other.HeaderChanged());
}

TEST_F(BlobFileTest, DirtyFlagIsWrittenAsHeldAndResetOnRead) {
  BlobTable& t = Make(512);
  t.blob->WriteHeader(true, false);
  EXPECT_EQ(ReadWholeFile(t.BlobPath())[17], 0) << "a forced write of a clean header";
  t.Store(t.AddRecord(), Pattern(10, 1));
  t.WriteBack();
  EXPECT_EQ(ReadWholeFile(t.BlobPath())[17], 1);
  t.Reopen();
  EXPECT_FALSE(t.blob->HeaderDirty());
}

TEST_F(BlobFileTest, ForcedFlushFollowsEveryWrite) {
  BlobTable& t = Make(512);
  t.owner.force_buffer_flush = true;
  t.Store(t.AddRecord(), Pattern(10, 1));
  t.blob->ResetCounts();
  t.blob->FlushBlocks(false);
  t.blob->WriteHeader(false, false);
  EXPECT_EQ(t.blob->writes, 2);
  EXPECT_EQ(t.blob->flushes, 2);
}

class FixedRandom : public TRandomSource {
 public:
  explicit FixedRandom(int32_t value) : value_(value) {}
  int32_t Random(int32_t) override { return value_; }
  double RandomFloat() override { return 0; }
  void Randomize() override {}

 private:
  int32_t value_;
};

TEST_F(BlobFileTest, LockBytesLieWhereOtherProcessesLookForThem) {
  BlobTable& t = Make(512);
  t.blob->ResetCounts();
  ASSERT_TRUE(t.blob->LockBlobWrite());
  ASSERT_TRUE(t.blob->UnlockBlobWrite());
  uint16_t low = 0;
  uint16_t high = 0;
  {
    FixedRandom draw(0);
    TScopedRandomSource scope(draw);
    ASSERT_TRUE(t.blob->LockBlobRead(low));
  }
  {
    FixedRandom draw(65533);
    TScopedRandomSource scope(draw);
    ASSERT_TRUE(t.blob->LockBlobRead(high));
  }
  EXPECT_EQ(low, 1);
  EXPECT_EQ(high, 65534);
  ASSERT_TRUE(t.blob->UnlockBlobRead(low));
  ASSERT_TRUE(t.blob->UnlockBlobRead(high));
  EXPECT_FALSE(t.blob->UnlockBlobRead(0));
  const std::vector<std::tuple<int64_t, int64_t, bool>> expected = {
      {0x7FFF0000, 65535, true}, {0x7FFF0000, 65535, false}, {0x7FFFFFFE, 1, true},
      {0x7FFF0001, 1, true},     {0x7FFFFFFE, 1, false},     {0x7FFF0001, 1, false}};
  std::vector<std::tuple<int64_t, int64_t, bool>> calls;
  for (const LockCall& c : t.blob->lock_calls) calls.emplace_back(c.offset, c.length, c.lock);
  EXPECT_EQ(calls, expected);
}

// ---- failed writes ----

// Values written back and closed stay readable, whatever write of a later
// session's new values fails before that process dies.
TEST_F(BlobFileTest, FailedWriteBackOfNewValuesLosesNoValueWrittenBefore) {
  for (int32_t k = 1;; ++k) {
    SCOPED_TRACE("write " + std::to_string(k));
    ScratchDir dir;
    BlobTable t(dir, 64);
    for (uint32_t i = 0; i < 4; ++i) t.Store(t.AddRecord(), Pattern(100 + 50 * i, i));
    t.Reopen();
    for (uint32_t i = 4; i < 8; ++i) t.Store(t.AddRecord(), Pattern(100 + 50 * i, i));
    t.blob->fail_write_at = k;
    const int code = ErrorCodeOf([&] {
      t.blob->FlushBlocks(false);
      t.blob->WriteHeader(false, false);
    });
    if (code == 0) break;
    EXPECT_EQ(code, 9218);
    t.Abandon();
    t.Open();
    const auto problems = t.Verify();
    EXPECT_TRUE(problems.empty()) << problems.front();
    for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(t.Load(i + 1), Pattern(100 + 50 * i, i));
    ASSERT_LT(k, 20);
  }
}

// A write-back that failed leaves its blocks dirty: the next one writes
// them and nothing is lost.
TEST_F(BlobFileTest, FailedWriteOrFlushIsMadeGoodByTheNextWriteBack) {
  for (bool fail_flush : {false, true}) {
    int32_t failures = 0;
    for (int32_t k = 1;; ++k) {
      SCOPED_TRACE((fail_flush ? "flush " : "write ") + std::to_string(k));
      ScratchDir dir;
      BlobTable t(dir, 64);
      t.owner.force_buffer_flush = true;
      std::vector<int32_t> records;
      for (uint32_t i = 0; i < 5; ++i) {
        records.push_back(t.AddRecord());
        t.Store(records.back(), Pattern(30 + 200 * i, i));
      }
      t.WriteBack();
      // Clean chains between the changed ones make several runs.
      t.Store(records[1], {});
      t.Store(records[3], Pattern(5, 9));
      t.Store(records[4], Pattern(2000, 8));
      t.blob->ResetCounts();
      (fail_flush ? t.blob->fail_flush_at : t.blob->fail_write_at) = k;
      const int code = ErrorCodeOf([&] { t.WriteBack(); });
      if (code == 0) break;
      ++failures;
      EXPECT_EQ(code, 9218);
      t.blob->fail_write_at = 0;
      t.blob->fail_flush_at = 0;
      t.Reopen();
      const auto problems = t.Verify();
      EXPECT_TRUE(problems.empty()) << problems.front();
      EXPECT_EQ(t.Load(records[0]), Pattern(30, 0));
      EXPECT_TRUE(t.Load(records[1]).empty());
      EXPECT_EQ(t.Load(records[2]), Pattern(430, 2));
      EXPECT_EQ(t.Load(records[3]), Pattern(5, 9));
      EXPECT_EQ(t.Load(records[4]), Pattern(2000, 8));
      ASSERT_LT(k, 50);
    }
    EXPECT_EQ(failures, 4) << "two runs of new blocks, the freed blocks and the header";
  }
}

}  // namespace
}  // namespace jw::test
