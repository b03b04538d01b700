// The physical record sort of a data file: rewrites the records in the
// order of a list of sort fields, optionally keeping one record of each run
// of equal keys (DISTINCT) or folding each run into one record through the
// caller's grouping callbacks. A table whose records are all cached is
// sorted in memory; a larger one is cut into sorted runs in ".TMP" files
// that are merged, at most kSortMergeFanIn at a time.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/core/data_file_format.h"
#include "engine/core/index_file_format.h"

namespace jw {

class TDataFile;
class TDataTable;
class TRecord;

// A status-index key and the number of the record it names.
struct TStatusKey {
  std::array<uint8_t, kStatusKeyLength> Key;
  int32_t Number;
};

// Grouping callbacks. StartOrAdd with start true begins a group in target
// from source (target already holds source's bytes); with start false it
// adds source into target. Finish completes a group's record; Keep decides
// whether the completed record stays in the output.
using TSortStartOrAdd = std::function<void(bool start, TRecord& source, TRecord& target)>;
using TSortFinish = std::function<void(TRecord& record)>;
using TSortKeep = std::function<bool(TRecord& record)>;

struct TSortRequest {
  // The fields to sort by, most significant first: each names a field of
  // the table by its Number and sorts descending when Descending is set.
  std::vector<FieldDescriptor> Fields;
  // String fields compare upper-cased for the table's locale.
  bool CaseInsensitive = false;
  // Keeps only the first record of each run of equal keys.
  bool Distinct = false;
  // Grouping is on when any of the three is given.
  TSortStartOrAdd StartOrAdd;
  TSortFinish Finish;
  TSortKeep Keep;
  // Where the run files go: the session's private directory (ignored for
  // an in-memory table, whose runs live in memory too).
  std::string RunFolder;
  // When set, receives the status-index key of every record written, with
  // the record's new number, in the order of the output.
  std::vector<TStatusKey>* StatusKeys = nullptr;
};

// Runs hold at most this many records, and about kSortRunBytes of them.
constexpr int32_t kMaxSortRunRecords = 8191;
constexpr int32_t kSortRunBytes = 2097120;
// Runs merged at once: more passes over the runs instead of one descriptor
// and one read buffer for every run of a huge table.
constexpr int32_t kSortMergeFanIn = 64;
constexpr const char* kSortRunExtension = ".TMP";

// Sorts the table's records (TDataFile::SortRecords) and sets the index
// file's live count to the records written. The indexes still name the
// records by their old numbers: the caller rebuilds them.
int32_t SortTableRecords(TDataTable& table, const TSortRequest& request);

// Writes rows, full record images of the file's record size one after
// the other, as the records of the data file, which must hold none (10031
// otherwise; 11017 for rows of another length): sorted, made distinct or
// grouped as SortRecords would sort the same rows once appended. Each row
// takes the next record id in its order; the rows' heads are overwritten.
// Nothing goes through the record cache or a run file. The records written.
int32_t LoadRecords(TDataFile& data, const TSortRequest& request, std::vector<uint8_t>& rows);
// LoadRecords into the table's data file; the index file's live count
// becomes the records written, whose indexes the caller builds.
int32_t LoadTableRecords(TDataTable& table, const TSortRequest& request,
                         std::vector<uint8_t>& rows);

// For tests: while it lives, a run holds at most max_records records, so
// that a small table takes the way through several run files.
class TScopedSortRunLimit {
 public:
  explicit TScopedSortRunLimit(int32_t max_records);
  ~TScopedSortRunLimit();
  TScopedSortRunLimit(const TScopedSortRunLimit&) = delete;
  TScopedSortRunLimit& operator=(const TScopedSortRunLimit&) = delete;

 private:
  int32_t previous_;
};

}  // namespace jw
