// The physical record sort against a model (std::stable_sort of the same
// rows over their values): in memory, through run files and of rows handed
// over in memory, DISTINCT, grouping, encrypted, in-memory and locale
// tables, descending fields; the index file's live count; rows handed to a
// table that holds records refused; and a failing write at every step
// leaving no run file behind.
#include "engine/core/record_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/core/data_table.h"
#include "engine/support/engine_errors.h"
#include "engine/support/file_list.h"
#include "engine/support/language_settings.h"
#include "engine/support/support_startup.h"
#include "platform/os/os_file_faults.h"
#include "tests/engine/core/data_file_verifier.h"
#include "tests/engine/core/index_test_table.h"
#include "tests/engine/core/table_ops.h"
#include "tests/engine/core/table_verifier.h"
#include "tests/engine/core/test_table.h"

namespace jw::test {
namespace {

// Field numbers of the sort table: ID (auto-increment), NAME string of 8,
// VALUE integer, AMOUNT float.
constexpr int16_t kName = 2;
constexpr int16_t kValue = 3;
constexpr int16_t kAmount = 4;
constexpr uint8_t kNameSize = 8;
constexpr uint16_t kGerman = 0x0407;

std::vector<FieldDescriptor> SortDefinition() {
  return {Field("ID", kFldInteger, 0, kSubTypeAutoInc), Field("NAME", kFldString, kNameSize),
          Field("VALUE", kFldInteger), Field("AMOUNT", kFldFloat)};
}

struct Row {
  int32_t Id = 0;
  std::optional<std::string> Name;
  std::optional<int32_t> Value;
  std::optional<double> Amount;
  bool operator==(const Row&) const = default;
};

struct SortField {
  int16_t Number;
  bool Descending;
};

TSortRequest Request(const std::vector<SortField>& fields, const std::string& run_folder) {
  TSortRequest request;
  for (const SortField& f : fields) {
    FieldDescriptor d;
    d.Number = f.Number;
    d.Descending = f.Descending ? 1 : 0;
    request.Fields.push_back(d);
  }
  request.RunFolder = run_folder;
  return request;
}

// The row's values into a record image whose fields are all null.
void FillRow(const TDataFile& file, const Row& row, uint8_t* bytes) {
  if (row.Name) {
    const FieldDescriptor& f = file.FieldDesc(kName);
    bytes[f.Offset] = 1;
    std::memcpy(bytes + f.Offset + 1, row.Name->data(), row.Name->size());
  }
  if (row.Value) {
    const FieldDescriptor& f = file.FieldDesc(kValue);
    bytes[f.Offset] = 1;
    PutInt32(bytes + f.Offset + 1, *row.Value);
  }
  if (row.Amount) {
    const FieldDescriptor& f = file.FieldDesc(kAmount);
    bytes[f.Offset] = 1;
    PutFloat64(bytes + f.Offset + 1, *row.Amount);
  }
}

void AppendRow(TDataFile& file, const Row& row) {
  TRecord* record = file.AllocRecord();
  record->InitNew(true);
  FillRow(file, row, record->Bytes());
  record->SetModified(true);
  file.ReleaseRecord(record);
}

// The rows as the record images LoadRecords takes, heads left zero.
std::vector<uint8_t> RowImages(const TDataFile& file, const std::vector<Row>& rows) {
  const auto size = static_cast<size_t>(file.RecordSize());
  std::vector<uint8_t> images(rows.size() * size, 0);
  for (size_t i = 0; i < rows.size(); ++i) FillRow(file, rows[i], images.data() + i * size);
  return images;
}

Row RowOf(const TDataFile& file, TRecord& record) {
  const uint8_t* bytes = record.Bytes();
  Row row;
  row.Id = record.RecordId();
  const FieldDescriptor& name = file.FieldDesc(kName);
  if (bytes[name.Offset] != 0) row.Name = reinterpret_cast<const char*>(bytes + name.Offset + 1);
  const FieldDescriptor& value = file.FieldDesc(kValue);
  if (bytes[value.Offset] != 0) row.Value = GetInt32(bytes + value.Offset + 1);
  const FieldDescriptor& amount = file.FieldDesc(kAmount);
  if (bytes[amount.Offset] != 0) row.Amount = GetFloat64(bytes + amount.Offset + 1);
  return row;
}

void SetValue(const TDataFile& file, TRecord& record, int32_t value) {
  PutInt32(record.Bytes() + file.FieldDesc(kValue).Offset + 1, value);
}

int32_t ValueOf(const TDataFile& file, TRecord& record) {
  return GetInt32(record.Bytes() + file.FieldDesc(kValue).Offset + 1);
}

// Every record of the file, in record order; each must carry its own number.
std::vector<Row> ReadRows(TDataFile& file) {
  std::vector<Row> rows;
  for (int32_t n = 1; n <= file.RecordCount(); ++n) {
    TRecord* record = nullptr;
    EXPECT_TRUE(file.FetchRecord(nullptr, n, 1, true, false, record));
    EXPECT_EQ(record->Status(), kRecordLive);
    EXPECT_EQ(GetInt32(record->Bytes() + kRecNumber), n);
    rows.push_back(RowOf(file, *record));
    file.ReleaseRecord(record);
  }
  return rows;
}

template <typename T>
int Order(const T& a, const T& b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// The model's order of two rows over the sort fields, from their values:
// nulls first, numbers by value, strings by their bytes (language 0) or the
// locale, upper-cased when asked; each field reversed when descending.
struct ModelOrder {
  std::vector<SortField> Fields;
  uint16_t Language = 0;
  bool CaseInsensitive = false;

  int Compare(const Row& a, const Row& b) const {
    for (const SortField& f : Fields) {
      int result = 0;
      if (f.Number == kName) result = CompareNames(a.Name, b.Name);
      if (f.Number == kValue) result = CompareOptional(a.Value, b.Value);
      if (f.Number == kAmount) result = CompareOptional(a.Amount, b.Amount);
      if (f.Descending) result = -result;
      if (result != 0) return result;
    }
    return 0;
  }

  template <typename T>
  static int CompareOptional(const std::optional<T>& a, const std::optional<T>& b) {
    if (!a || !b) return Order(a.has_value(), b.has_value());
    return Order(*a, *b);
  }

  int CompareNames(std::optional<std::string> a, std::optional<std::string> b) const {
    if (!a || !b) return Order(a.has_value(), b.has_value());
    if (CaseInsensitive) {
      for (std::string* s : {&*a, &*b}) {
        for (char& c : *s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      }
    }
    if (Language == 0) return Order(*a, *b);
    const int32_t result = CompareLocaleStrings(Language, 0, a->c_str(), false, 0, b->c_str());
    return Order(result, 0);
  }
};

int32_t TmpFileCount(const std::string& folder) {
  int32_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() == kSortRunExtension) ++count;
  }
  return count;
}

class RecordSortTest : public ::testing::Test {
 protected:
  std::string Path() const { return dir_.Path("T.DAT"); }
  std::string Folder() const { return dir_.Path(""); }

  void Create(uint16_t language, bool encrypted, bool in_memory) {
    file_ = std::make_unique<TestDataFile>(&table_);
    file_->SetInMemory(in_memory);
    file_->SetName(in_memory ? "T.DAT" : Path());
    file_->InitHeader(static_cast<int16_t>(language), 0, SortDefinition(), 0, "sort", "pw",
                      encrypted, 0, 0);
    file_->WriteHeader(true, false);
    file_->WriteFieldDescs();
  }

  // What the table holds once its header is written, read by a new opener
  // of the file.
  std::vector<Row> Stored() {
    file_->WriteHeader(false, false);
    const bool in_memory = file_->InMemory();
    const std::string name = file_->Name();
    file_->Close();
    if (!in_memory) {
      const std::vector<std::string> problems = VerifyDataFile(Path());
      EXPECT_TRUE(problems.empty()) << problems.front();
    }
    file_ = std::make_unique<TestDataFile>(&table_);
    file_->SetInMemory(in_memory);
    file_->SetName(name);
    file_->Open();
    return ReadRows(*file_);
  }

  void TearDown() override {
    file_.reset();
    // A memory file outlives its handles until it is deleted.
    if (FileListExists("T.DAT", true)) FileList().DeleteFile("T.DAT", true);
  }

  ScratchDir dir_;
  FakeTable table_;
  std::unique_ptr<TestDataFile> file_;
};

Row RandomRow(std::mt19937& random, bool case_insensitive) {
  // Few distinct values, so equal keys are common. The a-umlaut of code
  // page 1252 equals 'a' in the German order, apart from case-folding.
  const std::string alphabet = case_insensitive ? "aAbBz" : "aAbBz\xE4";
  const auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
  Row row;
  if (pick(8) != 0) {
    row.Name.emplace();
    for (int k = pick(4); k > 0; --k) *row.Name += alphabet[pick(alphabet.size())];
  }
  if (pick(8) != 0) row.Value = pick(7) - 3;
  if (pick(8) != 0) {
    const double amounts[] = {-2.5, -1.0, -0.0, 0.0, 1e-300, 3.0};
    row.Amount = amounts[pick(6)];
  }
  return row;
}

TEST_F(RecordSortTest, SortsLikeAStableSortOfTheRowsValues) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  const auto chance = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
  const std::vector<std::vector<SortField>> field_lists = {
      {{kValue, false}, {kName, true}},
      {{kName, false}, {kAmount, true}},
      {{kAmount, false}, {kValue, true}, {kName, false}},
      {{kName, true}},
  };
  const int rounds = LongTests() ? 400 : 24;
  for (int round = 0; round < rounds; ++round) {
    ModelOrder model{field_lists[chance(4)], chance(2) == 0 ? uint16_t{0} : kGerman,
                     chance(2) == 0};
    const bool encrypted = chance(2) == 0;
    const bool in_memory = chance(4) == 0;
    // The first round takes every way of the merge: runs of one record,
    // more than kSortMergeFanIn of them on one level, and more than that
    // many left for the last merge.
    const bool first = round == 0;
    const bool external = first || chance(3) != 0;
    // Or the rows are handed over in memory, never appended.
    const bool given = !first && chance(3) == 0;
    const bool distinct = chance(3) == 0;
    const int32_t run_limit = first ? 1 : 1 + chance(12);
    const int count = first ? 2 * 64 + 63 : chance(3) == 0 ? chance(3) : chance(400);
    SCOPED_TRACE("round " + std::to_string(round) + " language " + std::to_string(model.Language) +
                 " encrypted " + std::to_string(encrypted) + " memory " +
                 std::to_string(in_memory) + " external " + std::to_string(external) +
                 " distinct " + std::to_string(distinct) + " given " + std::to_string(given) +
                 " run " + std::to_string(run_limit) +
                 " count " + std::to_string(count));
    Create(model.Language, encrypted, in_memory);
    std::vector<Row> rows;
    for (int i = 0; i < count; ++i) {
      rows.push_back(RandomRow(random, model.CaseInsensitive));
      rows.back().Id = i + 1;
      if (!given) AppendRow(*file_, rows.back());
    }
    if (external && !given) {
      file_->FlushRecords(false);
      file_->DropRecordCache();
    }
    std::vector<uint8_t> images = RowImages(*file_, rows);
    const int32_t files_before = FileList().FileCount();
    TSortRequest request = Request(model.Fields, Folder());
    request.CaseInsensitive = model.CaseInsensitive;
    request.Distinct = distinct;
    int32_t written = 0;
    {
      const TScopedSortRunLimit limit(run_limit);
      written = given ? LoadRecords(*file_, request, images) : file_->SortRecords(request);
    }
    EXPECT_EQ(file_->CachedRecordCount(), 0);
    EXPECT_EQ(FileList().FileCount(), files_before);
    EXPECT_EQ(TmpFileCount(Folder()), 0);

    std::stable_sort(rows.begin(), rows.end(),
                     [&](const Row& a, const Row& b) { return model.Compare(a, b) < 0; });
    if (distinct) {
      rows.erase(std::unique(rows.begin(), rows.end(),
                             [&](const Row& a, const Row& b) { return model.Compare(a, b) == 0; }),
                 rows.end());
    }
    EXPECT_EQ(written, static_cast<int32_t>(rows.size()));
    EXPECT_EQ(file_->RecordCount(), written);
    const std::vector<Row> stored = Stored();
    ASSERT_EQ(stored.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) ASSERT_EQ(stored[i], rows[i]) << "record " << i + 1;
    file_->Close();
  }
}

// Groups by NAME: VALUE becomes the group's sum, AMOUNT its record count;
// only groups of an even sum stay. Each group is finished once, before keep.
TEST_F(RecordSortTest, GroupingFoldsEachRunOfEqualKeysIntoItsFirstRecord) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  for (const int way : {0, 1, 2}) {
    const bool external = way == 1;
    const bool given = way == 2;
    SCOPED_TRACE(external ? "external" : given ? "given in memory" : "in memory");
    Create(0, true, false);
    std::vector<Row> rows;
    for (int i = 0; i < 500; ++i) {
      Row row = RandomRow(random, false);
      row.Id = i + 1;
      row.Value = std::uniform_int_distribution<int32_t>(-50, 50)(random);
      rows.push_back(row);
      if (!given) AppendRow(*file_, row);
    }
    std::vector<uint8_t> images = RowImages(*file_, rows);
    if (external) {
      file_->FlushRecords(false);
      file_->DropRecordCache();
    }
    TDataFile& file = *file_;
    TSortRequest request = Request({{kName, false}}, Folder());
    int32_t finished = 0;
    int32_t peak_runs = 0;
    request.StartOrAdd = [&](bool start, TRecord& source, TRecord& target) {
      // The final merge holds one run file for each run.
      peak_runs = std::max(peak_runs, TmpFileCount(Folder()));
      if (start) {
        PutFloat64(target.Bytes() + file.FieldDesc(kAmount).Offset + 1, 1.0);
        target.Bytes()[file.FieldDesc(kAmount).Offset] = 1;
        return;
      }
      SetValue(file, target, ValueOf(file, target) + ValueOf(file, source));
      const int32_t offset = file.FieldDesc(kAmount).Offset + 1;
      PutFloat64(target.Bytes() + offset, GetFloat64(target.Bytes() + offset) + 1);
    };
    request.Finish = [&](TRecord& record) {
      ++finished;
      SetValue(file, record, ValueOf(file, record) * 2 + (finished % 2));
    };
    request.Keep = [&](TRecord& record) { return ValueOf(file, record) % 4 == 0; };
    {
      const TScopedSortRunLimit limit(external ? 60 : 0);
      if (given) {
        LoadRecords(*file_, request, images);
      } else {
        file_->SortRecords(request);
      }
    }
    EXPECT_EQ(TmpFileCount(Folder()), 0);
    EXPECT_EQ(peak_runs, external ? 9 : 0);

    const ModelOrder model{{{kName, false}}};
    std::stable_sort(rows.begin(), rows.end(),
                     [&](const Row& a, const Row& b) { return model.Compare(a, b) < 0; });
    std::vector<Row> expected;
    int32_t groups = 0;
    for (size_t begin = 0; begin < rows.size();) {
      size_t end = begin;
      Row group = rows[begin];
      int32_t sum = 0;
      for (; end < rows.size() && model.Compare(rows[end], group) == 0; ++end)
        sum += *rows[end].Value;
      ++groups;
      group.Value = sum * 2 + (groups % 2);
      group.Amount = static_cast<double>(end - begin);
      if (*group.Value % 4 == 0) expected.push_back(group);
      begin = end;
    }
    EXPECT_EQ(finished, groups);
    EXPECT_EQ(Stored(), expected);
    file_->Close();
  }
}

// A fresh file scratch folder per run of the table below.
class SortTableTest : public ::testing::Test {
 protected:
  std::unique_ptr<TDataTable> CreateTable() {
    auto table = std::make_unique<TDataTable>(&directory_);
    table->SetName("T");
    table->SetExclusive(true);
    TTableDefinition definition;
    definition.Fields = SortDefinition();
    // No primary index: the sort leaves no index keys behind to rebuild.
    definition.Indexes = {Index("", {})};
    table->CreateFiles(definition);
    for (int i = 0; i < 300; ++i) {
      AppendRow(table->DataFile(), {0, std::string(1, static_cast<char>('a' + i % 7)), i, 0.0});
      table->IndexFile().IncLiveCount();
    }
    return table;
  }

  ScratchDir dir_;
  TestDirectory directory_{dir_.Path("")};
};

TEST_F(SortTableTest, LiveCountFollowsTheRecordsWrittenDownToAnEmptyFile) {
  auto table = CreateTable();
  std::vector<uint8_t> rows = RowImages(table->DataFile(), {{0, "x", 1, 1.0}});
  EXPECT_EQ(ErrorCodeOf([&] { LoadTableRecords(*table, TSortRequest(), rows); }), kErrTableInUse);
  EXPECT_EQ(table->DataFile().RecordCount(), 300);
  TSortRequest distinct = Request({{kName, true}}, dir_.Path(""));
  distinct.Distinct = true;
  EXPECT_EQ(SortTableRecords(*table, distinct), 7);
  EXPECT_EQ(table->IndexFile().LiveCount(), 7);

  TSortRequest reject_all = Request({{kValue, false}}, dir_.Path(""));
  reject_all.Keep = [](TRecord&) { return false; };
  EXPECT_EQ(SortTableRecords(*table, reject_all), 0);
  EXPECT_EQ(table->IndexFile().LiveCount(), 0);
  EXPECT_EQ(table->DataFile().NextRecordNumber(), 1);
  rows.pop_back();
  EXPECT_EQ(ErrorCodeOf([&] { LoadTableRecords(*table, TSortRequest(), rows); }),
            kErrInvalidMemoryLength);
  table->Close(false);
  EXPECT_EQ(std::filesystem::file_size(dir_.Path("T.DAT")),
            static_cast<uintmax_t>(kHeaderSize + SortDefinition().size() * kFieldDescriptorSize));
  const std::vector<std::string> problems = VerifyTable(dir_.Path("T.DAT"));
  EXPECT_TRUE(problems.empty()) << problems.front();
}

// Every write of the sort fails in turn, in run files (two merge passes)
// and in the table: the error comes through and no run file stays.
TEST_F(RecordSortTest, AFailedWriteLeavesNoRunFileBehind) {
  const TSortRequest request = Request({{kValue, true}}, Folder());
  // Every write under JW_LONG_TESTS; by default a spread of them.
  const int64_t stride = LongTests() ? 1 : 7;
  int64_t failures = 0;
  for (int64_t k = 1;; k += stride) {
    SCOPED_TRACE("failing write " + std::to_string(k));
    Create(0, false, false);
    for (int i = 0; i < 150; ++i) AppendRow(*file_, {0, "x", i % 13, 1.0});
    file_->FlushRecords(false);
    file_->DropRecordCache();
    OsFileFaults faults;
    faults.fail_write_at = k;
    int code = 0;
    {
      const TScopedOsFileFaults scoped(faults);
      const TScopedSortRunLimit limit(2);
      code = ErrorCodeOf([&] { file_->SortRecords(request); });
    }
    EXPECT_EQ(TmpFileCount(Folder()), 0);
    file_->Close();
    if (code == 0) break;
    ASSERT_EQ(code, kErrWrite);
    ++failures;
  }
  // 75 runs, 64 of them merged into one, and 75 records into the table.
  EXPECT_GE(failures * stride, 75 + 64 + 75);

  Create(0, false, false);
  AppendRow(*file_, {0, "x", 1, 1.0});
  AppendRow(*file_, {0, "y", 2, 1.0});
  file_->FlushRecords(false);
  file_->DropRecordCache();
  const TScopedSortRunLimit limit(1);
  EXPECT_NE(ErrorCodeOf([&] {
              file_->SortRecords(Request({{kValue, true}}, dir_.Path("none/")));
            }),
            0);
  EXPECT_EQ(TmpFileCount(Folder()), 0);
  // Nothing of the table was written before the runs were made.
  EXPECT_EQ(Stored(), (std::vector<Row>{{1, "x", 1, 1.0}, {2, "y", 2, 1.0}}));
}

}  // namespace
}  // namespace jw::test
