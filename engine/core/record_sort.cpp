#include "engine/core/record_sort.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "engine/core/data_file.h"
#include "engine/core/data_table.h"
#include "engine/core/key_compare.h"
#include "engine/core/record_keys.h"
#include "engine/support/field_keys.h"
#include "engine/support/file_list.h"
#include "engine/support/key_images.h"
#include "engine/support/scrambler.h"
#include "engine/support/support_startup.h"

namespace jw {
namespace {

int32_t run_limit_for_tests = 0;

// Every sort key ends with the record id, so equal sort fields keep the
// records in record-id order.
constexpr int32_t kRecordIdKeyLength = 4;
// Room for the zero image of the longest field value (a null sorts as one
// value whatever its slot holds).
constexpr int32_t kZeroValueBytes = 256;

// Gathers records as they go to disk, scrambled when the table is
// encrypted, and hands each full buffer to the sink in one piece.
class TRecordWriter {
 public:
  using Sink = std::function<void(const uint8_t* bytes, int32_t length)>;

  TRecordWriter(const TDataFile& data, int32_t capacity, Sink sink)
      : size_(data.RecordSize()),
        encrypted_(data.Encrypted()),
        capacity_(std::max(capacity, 1)),
        sink_(std::move(sink)) {}

  // The record's bytes; a number above 0 replaces the record number in the copy.
  void Add(const uint8_t* bytes, int32_t number) {
    // The buffer is made by the first record: output written another way needs none.
    if (buffer_.empty()) buffer_.resize(static_cast<size_t>(capacity_) * size_);
    if (count_ == capacity_) Flush();
    uint8_t* out = buffer_.data() + static_cast<size_t>(count_) * size_;
    std::memcpy(out, bytes, size_);
    if (number > 0) PutInt32(out + kRecNumber, number);
    if (encrypted_) ScrambleBuffer(out, size_, kRecordSeed.K1, kRecordSeed.K2);
    ++count_;
  }

  void Flush() {
    if (count_ == 0) return;
    sink_(buffer_.data(), count_ * size_);
    count_ = 0;
  }

 private:
  int32_t size_;
  bool encrypted_;
  int32_t capacity_;
  int32_t count_ = 0;
  std::vector<uint8_t> buffer_;
  Sink sink_;
};

// One sorted run in a temporary file of its own, which goes when the run
// is freed, on every way out of the sort. Read back in order through a
// buffer of whole records.
class TSortRun {
 public:
  TSortRun(TDataFile& data, const std::string& folder) : head_(&data), size_(data.RecordSize()) {
    const bool in_memory = data.InMemory();
    const std::string name =
        MakeTempFileName(in_memory ? std::string() : folder, kSortRunExtension, in_memory);
    file_.SetName(name);
    file_.SetInMemory(in_memory);
    file_.SetExclusive(true);
    // The file layer deletes a temporary file when its last handle closes.
    file_.SetTemporary(true);
    try {
      file_.Open();
    } catch (...) {
      FileList().DeleteFile(name, in_memory);
      throw;
    }
  }

  void Append(const uint8_t* bytes, int32_t length) {
    const FileLockGuard guard(file_);
    file_.Seek(static_cast<int64_t>(count_) * size_, 0);
    file_.Write(bytes, length);
    count_ += length / size_;
  }

  // Loads the next record into Head(); false when every record was read.
  bool Next() {
    if (read_ == count_) return false;
    if (buffer_position_ == buffered_) Refill();
    head_.LoadFrom(buffer_.data() + static_cast<size_t>(buffer_position_) * size_);
    ++buffer_position_;
    ++read_;
    return true;
  }

  TRecord& Head() { return head_; }
  // The run's place among the runs being merged: equal keys come out in it.
  int32_t Place() const { return place_; }
  void SetPlace(int32_t place) { place_ = place; }

 private:
  void Refill() {
    const int32_t window = std::max(1, kIoWindowBytes / size_);
    const int32_t count = std::min(window, count_ - read_);
    buffer_.resize(static_cast<size_t>(count) * size_);
    const FileLockGuard guard(file_);
    file_.Seek(static_cast<int64_t>(read_) * size_, 0);
    file_.Read(buffer_.data(), count * size_, false);
    buffered_ = count;
    buffer_position_ = 0;
  }

  TFileHandler file_;
  TRecord head_;
  int32_t size_;
  int32_t count_ = 0;
  int32_t read_ = 0;
  std::vector<uint8_t> buffer_;
  int32_t buffered_ = 0;
  int32_t buffer_position_ = 0;
  int32_t place_ = 0;
};

}  // namespace

class TRecordSort {
 public:
  // The output is written at most a run's length of records at a time,
  // fewer when no more than output_records are to come.
  TRecordSort(TDataFile& data, const TSortRequest& request, int32_t output_records = INT32_MAX)
      : data_(data),
        request_(request),
        grouping_(request.StartOrAdd || request.Finish || request.Keep),
        run_length_(RunLength(data.RecordSize())),
        output_(data, std::min(run_length_, output_records),
                [this](const uint8_t* bytes, int32_t length) { WriteOutput(bytes, length); }),
        pending_(&data),
        zeros_(kZeroValueBytes, 0) {
    std::vector<TKeySegment> segments;
    int64_t key_length = kRecordIdKeyLength;
    for (const FieldDescriptor& wanted : request.Fields) {
      const FieldDescriptor* field = data.FieldDescByNumber(wanted.Number);
      if (field == nullptr || field->Derived != 0) {
        RaiseEngineError(kErrInvalidField, data.Name(), wanted.Name);
      }
      fields_.push_back({*field, wanted.Descending != 0});
      segments.push_back({field->Type, field->PhysicalLength, wanted.Descending != 0});
      key_length += field->PhysicalLength + 1;
    }
    if (key_length > UINT16_MAX) RaiseEngineError(kErrInvalidKeySize, data.Name());
    // The order compares whole keys as bytes under language 0 (descending
    // images come inverted), and elsewhere when no segment is a string or
    // descending.
    bytewise_ = data.LanguageId() == 0 ||
                std::none_of(fields_.begin(), fields_.end(), [](const TSortField& f) {
                  return f.Descending || f.Field.Type == kFldString;
                });
    key_length_ = static_cast<int32_t>(key_length);
    order_ = TIndexKeyOrder(0, false, std::move(segments), static_cast<uint16_t>(data.LanguageId()),
                            static_cast<uint16_t>(data.SortId()));
    pending_.ReserveKey(key_length_);
    pending_.SetKeyLength(static_cast<uint16_t>(key_length_));
  }

  // The records written.
  int32_t Run() {
    if (request_.StatusKeys != nullptr) request_.StatusKeys->reserve(data_.RecordCount());
    const bool all_cached = data_.cache_.Count() == data_.RecordCount();
    const int32_t written = all_cached ? SortCached() : SortExternal();
    data_.DropRecordCache();
    return written;
  }

  // The rows replace the records of the empty table: numbered and given
  // record ids in their order, sorted by their keys in one buffer, and
  // written by the output rule.
  int32_t RunGiven(std::vector<uint8_t>& rows) {
    const int32_t size = data_.RecordSize();
    if (data_.RecordCount() != 0) RaiseEngineError(kErrTableInUse, data_.Name());
    if (size <= 0 || rows.size() % static_cast<size_t>(size) != 0) {
      RaiseEngineError(kErrInvalidMemoryLength, data_.Name());
    }
    const size_t count = rows.size() / static_cast<size_t>(size);
    const int32_t first_id = data_.LastAutoInc() + 1;
    if (count > static_cast<size_t>(kMaxRecordCount) ||
        static_cast<int64_t>(first_id) + static_cast<int64_t>(count) > INT32_MAX) {
      RaiseEngineError(kErrTableFull, data_.Name());
    }
    if (request_.StatusKeys != nullptr) {
      given_first_id_ = first_id;
      given_numbers_.assign(count, 0);
    }
    for (size_t i = 0; i < count; ++i) {
      uint8_t* row = rows.data() + i * static_cast<size_t>(size);
      row[kRecStatus] = kRecordLive;
      PutInt32(row + kRecNumber, static_cast<int32_t>(i) + 1);
      PutInt32(row + kRecId, first_id + static_cast<int32_t>(i));
    }
    if (fields_.empty() && !grouping_ && !request_.Distinct) {
      OutputInOrder(rows, count);
    } else {
      EmitGiven(rows, count);
    }
    if (count > 0) data_.SetLastAutoInc(first_id + static_cast<int32_t>(count) - 1);
    const int32_t written = Finish();
    // The status keys in the order of the ids, which is the status index's.
    if (request_.StatusKeys != nullptr) {
      request_.StatusKeys->reserve(static_cast<size_t>(written));
      for (size_t i = 0; i < count; ++i) {
        if (given_numbers_[i] == 0) continue;
        uint8_t head[kRecordHeadSize] = {kRecordLive};
        PutInt32(head + kRecId, first_id + static_cast<int32_t>(i));
        TStatusKey& status = request_.StatusKeys->emplace_back();
        BuildStatusKey(head, status.Key.data());
        status.Number = given_numbers_[i];
      }
    }
    return written;
  }

  // Rows that keep their order need no keys: they go out as they stand,
  // already numbered in their order, and unless records are scrambled
  // straight from the rows instead of through the output's buffer.
  void OutputInOrder(const std::vector<uint8_t>& rows, size_t count) {
    const auto size = static_cast<size_t>(data_.RecordSize());
    if (data_.Encrypted()) {
      for (size_t i = 0; i < count; ++i) Output(rows.data() + i * size);
      return;
    }
    const size_t piece = std::max<size_t>(1, static_cast<size_t>(kWritePieceBytes) / size);
    for (size_t first = 0; first < count; first += piece) {
      const size_t records = std::min(piece, count - first);
      WriteOutput(rows.data() + first * size, static_cast<int32_t>(records * size));
      for (size_t i = first; i < first + records; ++i) {
        ++written_;
        if (!given_numbers_.empty()) given_numbers_[i] = written_;
      }
    }
  }

  // Hands the rows to the output rule in the order of their keys.
  void EmitGiven(const std::vector<uint8_t>& rows, size_t count) {
    const auto size = static_cast<size_t>(data_.RecordSize());
    const auto length = static_cast<size_t>(key_length_);
    std::vector<uint8_t> keys(count * length);
    std::vector<int32_t> order(count);
    for (size_t i = 0; i < count; ++i) {
      BuildKey(rows.data() + i * size, keys.data() + i * length);
      order[i] = static_cast<int32_t>(i);
    }
    if (!fields_.empty()) SortGiven(keys, order);
    TRecord record(&data_);
    record.ReserveKey(key_length_);
    record.SetKeyLength(static_cast<uint16_t>(key_length_));
    for (const int32_t i : order) {
      std::memcpy(record.Bytes(), rows.data() + static_cast<size_t>(i) * size, size);
      std::memcpy(record.Key(), keys.data() + static_cast<size_t>(i) * length, length);
      Emit(record);
    }
  }

  // Puts the rows' numbers in the order of their keys. The keys end with
  // the ascending record ids: no two are equal. Keys that compare as bytes
  // sort by their first eight bytes as one number, held beside the row's
  // number, and by the rest only where those are equal.
  void SortGiven(const std::vector<uint8_t>& keys, std::vector<int32_t>& order) const {
    const auto length = static_cast<size_t>(key_length_);
    const auto key = [&](int32_t row) { return keys.data() + static_cast<size_t>(row) * length; };
    if (!bytewise_) {
      std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
        return order_.Compare(key(a), key(b), key_length_) < 0;
      });
      return;
    }
    struct TLead {
      uint64_t Prefix;
      int32_t Row;
    };
    const size_t lead = std::min<size_t>(length, sizeof(uint64_t));
    std::vector<TLead> leads(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
      uint64_t prefix = 0;
      const uint8_t* bytes = key(order[i]);
      for (size_t k = 0; k < sizeof(uint64_t); ++k)
        prefix = prefix << 8 | (k < lead ? bytes[k] : 0);
      leads[i] = {prefix, order[i]};
    }
    std::sort(leads.begin(), leads.end(), [&](const TLead& a, const TLead& b) {
      if (a.Prefix != b.Prefix) return a.Prefix < b.Prefix;
      return std::memcmp(key(a.Row) + lead, key(b.Row) + lead, length - lead) < 0;
    });
    for (size_t i = 0; i < order.size(); ++i) order[i] = leads[i].Row;
  }

  // -1, 0 or 1 as a's key sorts before, with or after b's; without the
  // record id, records that differ only in it are equal.
  int CompareSortKeys(TRecord& a, TRecord& b, bool with_record_id) const {
    const int32_t length = with_record_id ? key_length_ : key_length_ - kRecordIdKeyLength;
    return order_.Compare(a.Key(), b.Key(), length);
  }

 private:
  struct TSortField {
    FieldDescriptor Field;
    bool Descending;
  };
  using TRuns = std::vector<std::unique_ptr<TSortRun>>;

  static int32_t RunLength(int32_t record_size) {
    int32_t length = std::min(kMaxSortRunRecords, kSortRunBytes / std::max(record_size, 1));
    if (run_limit_for_tests > 0) length = std::min(length, run_limit_for_tests);
    return std::max(length, 1);
  }

  void BuildKey(TRecord& record) const {
    record.ReserveKey(key_length_);
    record.SetKeyLength(static_cast<uint16_t>(key_length_));
    BuildKey(record.Bytes(), record.Key());
  }

  // Per sort field its null byte and its sortable image, then the record id.
  void BuildKey(const uint8_t* image, uint8_t* key) const {
    const auto language_id = static_cast<uint16_t>(data_.LanguageId());
    const auto sort_id = static_cast<uint16_t>(data_.SortId());
    int32_t offset = 0;
    for (const TSortField& sort_field : fields_) {
      const FieldDescriptor& field = sort_field.Field;
      // An auto-increment field is the record id, never null.
      const bool auto_inc = field.IsAutoInc();
      const bool has_value = auto_inc || image[field.Offset] != 0;
      const uint8_t* value = auto_inc    ? image + kRecId
                             : has_value ? image + field.Offset + 1
                                         : zeros_.data();
      key[offset] = has_value ? 1 : 0;
      BuildFieldKey(field.Type, field.PhysicalLength, value, key + offset, sort_id, language_id,
                    sort_field.Descending, request_.CaseInsensitive);
      offset += field.PhysicalLength + 1;
    }
    EncodeIntKey(GetInt32(image + kRecId), key + offset);
  }

  void Sort(std::vector<TRecord*>& records) const {
    std::stable_sort(records.begin(), records.end(),
                     [this](TRecord* a, TRecord* b) { return CompareSortKeys(*a, *b, true) < 0; });
  }

  int32_t SortCached() {
    std::vector<TRecord*> records;
    for (const auto& [number, record] : data_.cache_.ByNumber()) {
      if (record->Status() != kRecordLive) continue;
      BuildKey(*record);
      records.push_back(record);
    }
    Sort(records);
    for (TRecord* record : records) Emit(*record);
    return Finish();
  }

  int32_t SortExternal() {
    data_.FlushRecords(false);
    data_.DropRecordCache();
    const int32_t total = data_.RecordCount();
    const int32_t size = data_.RecordSize();
    std::vector<std::unique_ptr<TRecord>> chunk;
    std::vector<uint8_t> raw;
    std::vector<TRuns> levels;
    for (int32_t first = 1; first <= total; first += run_length_) {
      const int32_t count = std::min(run_length_, total - first + 1);
      raw.resize(static_cast<size_t>(count) * size);
      data_.ReadAt(data_.RecordOffset(first), raw.data(), count * size, false);
      while (static_cast<int32_t>(chunk.size()) < count) {
        chunk.push_back(std::make_unique<TRecord>(&data_));
      }
      std::vector<TRecord*> records;
      for (int32_t i = 0; i < count; ++i) {
        TRecord& record = *chunk[i];
        record.SetRecordNumber(first + i);
        record.LoadFrom(raw.data() + static_cast<size_t>(i) * size);
        if (record.Status() != kRecordLive) continue;
        BuildKey(record);
        records.push_back(&record);
      }
      Sort(records);
      // A table that fits one run needs no run file.
      if (count == total) {
        for (TRecord* record : records) Emit(*record);
        return Finish();
      }
      auto run = std::make_unique<TSortRun>(data_, request_.RunFolder);
      TRecordWriter writer = WriterInto(*run, count);
      for (TRecord* record : records) writer.Add(record->Bytes(), 0);
      writer.Flush();
      AddRun(levels, 0, std::move(run));
    }
    // The higher a level, the earlier its records: equal keys come out in
    // the order of the table.
    TRuns runs;
    for (auto level = levels.rbegin(); level != levels.rend(); ++level) {
      for (std::unique_ptr<TSortRun>& run : *level) runs.push_back(std::move(run));
    }
    while (static_cast<int32_t>(runs.size()) > kSortMergeFanIn) runs = MergePass(std::move(runs));
    Merge(runs.begin(), runs.end(), [this](TRecord& record) { Emit(record); });
    return Finish();
  }

  // Files the run on its level. A level that fills up is merged at once
  // into one run of the next, so that a huge table never holds more than
  // kSortMergeFanIn waiting runs per level: few descriptors, and few names
  // for each new run file to pass over.
  void AddRun(std::vector<TRuns>& levels, size_t level, std::unique_ptr<TSortRun> run) {
    if (levels.size() == level) levels.emplace_back();
    levels[level].push_back(std::move(run));
    if (static_cast<int32_t>(levels[level].size()) < kSortMergeFanIn) return;
    std::unique_ptr<TSortRun> merged = MergeIntoRun(levels[level].begin(), levels[level].end());
    levels[level].clear();
    AddRun(levels, level + 1, std::move(merged));
  }

  // Merges each group of kSortMergeFanIn runs into one new run.
  TRuns MergePass(TRuns runs) {
    TRuns merged;
    for (size_t begin = 0; begin < runs.size(); begin += kSortMergeFanIn) {
      const auto first = runs.begin() + static_cast<std::ptrdiff_t>(begin);
      const auto last = runs.begin() +
                        static_cast<std::ptrdiff_t>(std::min(runs.size(), begin + kSortMergeFanIn));
      merged.push_back(last - first == 1 ? std::move(*first) : MergeIntoRun(first, last));
    }
    return merged;
  }

  // One new run with the records of the runs, which are freed (their files
  // deleted) once it holds them all.
  std::unique_ptr<TSortRun> MergeIntoRun(TRuns::iterator begin, TRuns::iterator end) {
    auto merged = std::make_unique<TSortRun>(data_, request_.RunFolder);
    TRecordWriter writer = WriterInto(*merged, run_length_);
    Merge(begin, end, [&writer](TRecord& record) { writer.Add(record.Bytes(), 0); });
    writer.Flush();
    for (auto it = begin; it != end; ++it) it->reset();
    return merged;
  }

  // Appends to the run, capacity records per write.
  TRecordWriter WriterInto(TSortRun& run, int32_t capacity) const {
    return TRecordWriter(data_, capacity, [&run](const uint8_t* bytes, int32_t length) {
      run.Append(bytes, length);
    });
  }

  // Hands the records of the runs to emit in key order, through a heap of
  // the runs' first unread records.
  template <typename Emit>
  void Merge(TRuns::iterator begin, TRuns::iterator end, Emit emit) {
    std::vector<TSortRun*> heap;
    int32_t place = 0;
    for (auto it = begin; it != end; ++it) {
      TSortRun* run = it->get();
      run->SetPlace(place++);
      if (Advance(*run)) heap.push_back(run);
    }
    const auto later = [this](TSortRun* a, TSortRun* b) {
      const int result = CompareSortKeys(a->Head(), b->Head(), true);
      return result != 0 ? result > 0 : a->Place() > b->Place();
    };
    std::make_heap(heap.begin(), heap.end(), later);
    while (!heap.empty()) {
      std::pop_heap(heap.begin(), heap.end(), later);
      TSortRun* run = heap.back();
      emit(run->Head());
      if (Advance(*run)) {
        std::push_heap(heap.begin(), heap.end(), later);
      } else {
        heap.pop_back();
      }
    }
  }

  bool Advance(TSortRun& run) const {
    if (!run.Next()) return false;
    BuildKey(run.Head());
    return true;
  }

  // The output rule: records arrive in key order. A group stays open in
  // pending_ until a record of another key (or the end) completes it.
  void Emit(TRecord& record) {
    if (grouping_) {
      if (has_pending_ && CompareSortKeys(record, pending_, false) == 0) {
        if (request_.StartOrAdd) request_.StartOrAdd(false, record, pending_);
        return;
      }
      CompleteGroup();
      pending_.Assign(record);
      KeepKey(record);
      if (request_.StartOrAdd) request_.StartOrAdd(true, record, pending_);
      return;
    }
    if (request_.Distinct) {
      if (has_pending_ && CompareSortKeys(record, pending_, false) == 0) return;
      KeepKey(record);
    }
    Output(record.Bytes());
  }

  // Writes the record as the next one of the output.
  void Output(const uint8_t* bytes) {
    output_.Add(bytes, ++written_);
    if (request_.StatusKeys == nullptr) return;
    if (!given_numbers_.empty()) {
      given_numbers_[GetInt32(bytes + kRecId) - given_first_id_] = written_;
      return;
    }
    TStatusKey& status = request_.StatusKeys->emplace_back();
    BuildStatusKey(bytes, status.Key.data());
    status.Number = written_;
  }

  void KeepKey(TRecord& record) {
    std::memcpy(pending_.Key(), record.Key(), static_cast<size_t>(key_length_));
    has_pending_ = true;
  }

  void CompleteGroup() {
    if (!has_pending_) return;
    has_pending_ = false;
    if (request_.Finish) request_.Finish(pending_);
    if (!request_.Keep || request_.Keep(pending_)) Output(pending_.Bytes());
  }

  void WriteOutput(const uint8_t* bytes, int32_t length) {
    data_.BodyWriting();
    data_.WriteAt(data_.RecordOffset(flushed_ + 1), bytes, length);
    flushed_ += length / data_.RecordSize();
  }

  // Writes what is left and makes the header count the records written.
  int32_t Finish() {
    if (grouping_) CompleteGroup();
    output_.Flush();
    const int64_t end = data_.RecordOffset(written_ + 1);
    if (data_.GetSize() > end) data_.CutAt(end);
    data_.FlushIfForced(false);
    data_.header_.NextRecord = written_ + 1;
    data_.header_.FreeHead = 0;
    data_.header_dirty_ = true;
    data_.Owner()->MarkWritten();
    return written_;
  }

  TDataFile& data_;
  const TSortRequest& request_;
  bool grouping_;
  int32_t run_length_;
  std::vector<TSortField> fields_;
  int32_t key_length_ = 0;
  bool bytewise_ = false;
  TIndexKeyOrder order_;
  TRecordWriter output_;
  // Records numbered for the output, and those of them on disk.
  int32_t written_ = 0;
  int32_t flushed_ = 0;
  // The open group's record, or for DISTINCT the last key written.
  TRecord pending_;
  bool has_pending_ = false;
  std::vector<uint8_t> zeros_;
  // For rows given in memory, whose ids run from given_first_id_: the
  // number each one was written under, 0 for a row not written.
  int32_t given_first_id_ = 0;
  std::vector<int32_t> given_numbers_;
};

int32_t TDataFile::SortRecords(const TSortRequest& request) {
  TRecordSort sort(*this, request);
  return sort.Run();
}

int32_t SortTableRecords(TDataTable& table, const TSortRequest& request) {
  const int32_t written = table.DataFile().SortRecords(request);
  table.IndexFile().SetLiveCount(written);
  return written;
}

int32_t LoadRecords(TDataFile& data, const TSortRequest& request, std::vector<uint8_t>& rows) {
  const int32_t size = std::max(data.RecordSize(), 1);
  const auto count =
      static_cast<int32_t>(std::min<size_t>(rows.size() / static_cast<size_t>(size), INT32_MAX));
  TRecordSort sort(data, request, count);
  return sort.RunGiven(rows);
}

int32_t LoadTableRecords(TDataTable& table, const TSortRequest& request,
                         std::vector<uint8_t>& rows) {
  const int32_t written = LoadRecords(table.DataFile(), request, rows);
  table.IndexFile().SetLiveCount(written);
  return written;
}

TScopedSortRunLimit::TScopedSortRunLimit(int32_t max_records) : previous_(run_limit_for_tests) {
  run_limit_for_tests = max_records;
}

TScopedSortRunLimit::~TScopedSortRunLimit() {
  run_limit_for_tests = previous_;
}

}  // namespace jw
