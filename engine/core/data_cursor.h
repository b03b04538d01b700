// TDataCursor: the engine's one way to a table. A cursor is one open view of
// one table of a database directory, with its own options, current index,
// position, key range, record bitmaps and BLOB buffers over the shared
// TDataTable. Its pieces live in files of their own: open, close, change
// detection and index choice (data_cursor.cpp), navigation
// (cursor_navigation.cpp), field access and record images
// (cursor_fields.cpp), keys, seek and ranges (cursor_keys.cpp), bookmarks
// and clones (cursor_bookmarks.cpp), the bitmap view with the status
// index rebuild (cursor_bitmaps.cpp), filters (cursor_filters.cpp), record
// editing with record locks (cursor_editing.cpp, cursor_checks.cpp),
// BLOB access (cursor_blobs.cpp), table definition
// (cursor_definition.cpp), header values (cursor_header_values.cpp),
// adding and dropping indexes (cursor_indexes.cpp, with the rebuild of
// index_rebuild.cpp) and restructuring (table_restructure.cpp).
//
// Reads return a result code instead of raising: 0, 8705 (before the
// first record), 8706 (after the last), 8709 (no current record), 8710
// (record not found); a non-zero result zero-fills the caller's buffer.
// Every other failure raises EQuireEngineError with the table's name.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/blob_buffer.h"
#include "engine/core/btree.h"
#include "engine/core/data_table.h"
#include "engine/core/key_compare.h"
#include "engine/core/record_sort.h"
#include "engine/core/table_restructure.h"
#include "engine/support/collation_maps.h"
#include "engine/support/records_bitmap.h"

namespace jw {

class TDataDirectory;
class TExpToken;
class TExpressionEvaluator;
class TFilter;

// A record callback filter: true when the record passes.
using TFilterCallback = bool (*)(void* user_data, const uint8_t* image, int32_t record_number);

// How AddFilter prepares and runs a filter.
struct TCursorFilterOptions {
  // A trailing '*' in an = or <> string constant is taken literally.
  bool PartialMatchingOff = false;
  // = and <> against string constants ignore case.
  bool CaseInsensitive = false;
  // Evaluated only on the records that the active filters before it pass.
  bool Restricting = false;
  // A key range holding most of the table is collected through the keys
  // outside it.
  bool Complement = false;
  // Conditions are rated with estimates (GetOptimizeLevel).
  bool Estimate = false;
};

// The index number of natural (physical) order.
constexpr uint8_t kNaturalOrder = 255;
// The bookmark of natural order: the physical record number.
constexpr int16_t kNaturalBookmarkSize = 4;
// A walk readies each record it will read in three stages (the place of its
// number in the record cache, the record object, its bytes), this many
// steps apart, so that each read finds its memory in the processor's cache.
constexpr int32_t kRecordPrefetchDistance = 4;

class TDataCursor final : public TIndexCursor, public TDataFileCursor, public TBlobFileCursor {
 public:
  // Asked for a missing table password (added to the session by the
  // handler); true to try again.
  using TPasswordHandler = bool (*)(void* user_data, TDataCursor& cursor);

  explicit TDataCursor(TDataDirectory* directory);
  // Closes with discard.
  ~TDataCursor() override;
  TDataCursor(const TDataCursor&) = delete;
  TDataCursor& operator=(const TDataCursor&) = delete;

  // ---- options: set while closed, else 10031 ----
  void SetTableName(const std::string& name);
  void SetExclusive(bool value);
  // An exclusive cursor that still watches other cursors' changes.
  void SetSharedExclusive(bool value);
  void SetReadOnly(bool value);
  void SetInMemory(bool value);
  void SetNaturalOrder(bool value);
  void SetTemporaryTable(bool value);
  void SetResultSet(bool value) { result_set_ = value; }
  // Kept only for a table with an auto-increment field.
  void SetKeepAutoInc(bool value);
  void SetPasswordHandler(TPasswordHandler handler, void* user_data);
  const std::string& TableName() const { return table_name_; }
  bool Exclusive() const { return exclusive_; }
  bool ReadOnly() const { return read_only_; }
  bool InMemory() const { return in_memory_; }
  bool KeepAutoInc() const { return keep_auto_inc_; }
  TDataDirectory* Directory() const { return directory_; }
  TDataTable* Table() const { return table_; }

  // ---- open and close ----
  // Opens the table through the directory, asks for a missing password,
  // takes the field list, and stands before the first record of index 0
  // (or of natural order). A failure leaves the cursor closed.
  void Open();
  // Nothing when closed; discard drops what a temporary exclusive table
  // has not written. The handlers set on the cursor are forgotten.
  void Close(bool discard);
  bool IsOpen() const { return open_; }
  // Takes the table's read lock whatever the session's setting and
  // recomputes range and bitmaps around the current record.
  void Refresh();

  // ---- the read bracket and change detection ----
  // Every public read runs inside BeginRead / EndRead; a change by another
  // writer seen there brings the cursor back to its record by bookmark.
  // True when such a change was seen.
  bool BeginRead();
  void EndRead();
  void SaveChangeCounters();

  // ---- index choice ----
  // Case-insensitive; 10022 for an index the table lacks.
  void SetIndexByName(const std::string& name);
  // kNaturalOrder for natural order; 0 on a table without a primary index
  // is natural order too.
  void SetIndexByNumber(uint8_t number);
  // Secondary indexes; indexes are numbered 0 .. count.
  uint8_t GetIndexCount() const;
  uint8_t IndexNumber() const { return index_number_; }
  const std::string& IndexName() const { return index_name_; }
  bool NaturalOrderInForce() const;

  // ---- navigation (cursor_navigation.cpp) ----
  // Before the first / after the last record of the range.
  void First();
  void Last();
  // 0 or 8706 / 8705; the record image is copied into image (may be nullptr).
  int32_t GetNextRecord(uint8_t* image);
  // Hands visit every visible record in natural order (each image valid for
  // the call only, fetched as a move onto it fetches it), in one read
  // bracket, leaving the cursor where it stood: one read of many records,
  // as a filter reads them, instead of a move and a bracket for each. The
  // walk goes on over the view as it stands at each step, and ends where
  // visit answers false.
  // False, visiting nothing, unless the cursor is in natural order over
  // the records as stored (no derived fields) and reads without taking the
  // table's read lock (strict change detection takes it for each move, and
  // one walk must not keep other processes' writers out for longer).
  using TRecordVisit = bool (*)(void* context, int32_t number, const uint8_t* image);
  bool VisitVisibleRecords(TRecordVisit visit, void* context);
  int32_t GetPriorRecord(uint8_t* image);
  // 0, 8705, 8706 or 8709.
  int32_t GetCurrentRecord(uint8_t* image);
  void SetRecNo(int32_t number);
  // 1-based among the range (index order) or the visible records
  // (natural order); 0 off the records. Before the first (after the last)
  // record it is that record's number: 1 after First.
  int32_t GetRecNo();
  // GetRecNo as the last move left it, without a read bracket: the number
  // of the record a move just handed out, whatever changed since.
  int32_t RecNoOfLastMove();
  int32_t GetRecordCount();
  // The table's live records.
  int32_t GetTotalRecordCount();
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  // The physical number of the current record; 0 off the records.
  int32_t CurrentRecordNumber() const { return OnRecord() ? record_number_ : 0; }

  // ---- field access and record images (cursor_fields.cpp) ----
  // Fields are numbered 1 .. field count of the cursor's list (Get/Set
  // FieldData) or of the table's stored fields (the Table variants). A
  // null field reads as null set and a zeroed value.
  void GetFieldData(int32_t field, const uint8_t* image, bool& null, void* value);
  void GetTableFieldData(int32_t field, const uint8_t* image, bool& null, void* value);
  // value nullptr stores null. A derived field is written only with
  // allow_derived; writing a stored field recomputes the derived ones.
  void SetFieldData(int32_t field, uint8_t* image, bool allow_derived, const void* value);
  void SetTableFieldData(int32_t field, uint8_t* image, const void* value);
  void ClearRecord(uint8_t* image) const;
  // Zero-fills, then stores each field's default.
  void InitRecord(uint8_t* image);
  // 0, or 8709 off the records.
  int32_t CopyCurrentRecord(uint8_t* image);
  const FieldDescriptor& GetFieldDesc(int32_t field) const;
  const FieldDescriptor& GetTableFieldDesc(int32_t field) const;
  // 9985 for a position outside 1 .. field count.
  const FieldDescriptor& GetCursorFieldDesc(int32_t position) const;
  // The table's field of the name (any case); number 0 when none.
  const FieldDescriptor* FindFieldDesc(const std::string& name, int32_t& number) const;
  // Replaces the cursor's field list, checked as a new table's fields are
  // (10038, 10000, 10006) but kept as given. Fields beyond the table's stored
  // ones and derived fields get room at the end of the record image;
  // expressions[k] (owned by the caller, may be shorter) computes field k+1.
  void SetFieldDescs(const std::vector<FieldDescriptor>& fields,
                     const std::vector<const TExpToken*>& expressions = {});
  int32_t GetFieldCount() const;
  int32_t GetCursorFieldCount() const { return static_cast<int32_t>(fields_.size()); }
  // Bytes of a record image, derived fields included.
  int32_t GetRecordSize() const { return record_size_; }
  int32_t GetBlobFieldCount() const;
  static int32_t GetRecordId(const uint8_t* image);
  static void SetRecordId(uint8_t* image, int32_t id);
  static int32_t GetRecordNumber(const uint8_t* image);
  int32_t GetBlobStamp(int32_t field, const uint8_t* image, bool table_list) const;
  void SetBlobStamp(int32_t field, uint8_t* image, bool table_list, int32_t stamp) const;
  // The handle a record image holds for the cursor's BLOB buffer in slot.
  static int32_t BlobBufferHandle(int32_t slot) { return -(slot + 1); }
  // The cursor's buffer of a negative handle; nullptr for another value.
  TBlobBuffer* BlobBufferOf(int32_t handle) const;
  uint16_t LanguageId() const { return language_id_; }
  uint16_t SortId() const { return sort_id_; }

  // ---- keys, seek and ranges (cursor_keys.cpp) ----
  int32_t KeyLength() const { return key_length_; }
  // The key image of the record in the current index.
  void BuildKey(const uint8_t* image, uint8_t* key) const;
  // -1, 0 or 1 in the current index's order over length bytes.
  int CompareKeys(const uint8_t* a, const uint8_t* b, int32_t length) const override;
  // From byte position on, the lowest / highest values of the current index.
  void FillKeyLow(uint8_t* key, int32_t position) const;
  void FillKeyHigh(uint8_t* key, int32_t position) const;
  void KeyLowest(uint8_t* key) const;
  void KeyHighest(uint8_t* key) const;
  // The next / prior key image at that length.
  void IncrementKey(uint8_t* key, int32_t length) const;
  void DecrementKey(uint8_t* key, int32_t length) const;
  // Finds key (an image, or with key_is_image false a record image whose
  // key is built). field_count 1 .. segments-1 or partial_length > 0 (the
  // leading characters of the next string segment) search a prefix; a
  // non-unique index always does. True on a match; without one, nearest
  // stands on the next key, else the cursor stays. The record found is
  // copied into record (may be nullptr). False in natural order.
  bool SeekKey(bool key_is_image, const uint8_t* key, uint8_t* record, int32_t partial_length,
               bool nearest, int32_t field_count);
  // Restricts the current index to keys between start and end (inclusive;
  // nullptr for open). Field counts cut partial keys as SeekKey does.
  // Ignored in natural order.
  void SetRange(bool key_is_image, const uint8_t* start, int32_t start_fields, const uint8_t* end,
                int32_t end_fields);
  void CancelRange();
  bool RangeActive() const { return range_active_; }

  // ---- bookmarks and clones (cursor_bookmarks.cpp) ----
  int16_t GetBookmarkSize() const;
  // All zero when the cursor stands on no record.
  void GetBookmark(uint8_t* bookmark);
  // Goes to the bookmark's record, or the nearest one. Without
  // keep_end_flags, true when the record is the bookmark's own.
  bool GotoBookmark(const uint8_t* bookmark, bool keep_end_flags, bool read_locked);
  int CompareBookmarks(const uint8_t* a, const uint8_t* b) const;
  // 0, or 8710 when this cursor has no such record.
  int32_t GotoCursorRecord(TDataCursor& other);
  // A new open cursor on the same table, index, range, filters and record.
  std::unique_ptr<TDataCursor> Clone();

  // ---- the bitmap view (cursor_bitmaps.cpp) ----
  bool BitmapView() const { return bitmap_view_; }
  // Keys of the current index between lower and upper inclusive, and the
  // records they point at; restart is set when the index changed meanwhile.
  int32_t CountKeysBetween(const uint8_t* lower, const uint8_t* upper, bool& restart);
  void CollectKeysBetween(const uint8_t* lower, const uint8_t* upper, bool& restart,
                          TRecordsBitmap& bitmap);
  // Writes the status index anew from every physical record slot, after
  // the table had to make a fresh index file.
  void RebuildStatusIndex();
  // In natural order: the numbers of the records the view shows, ascending,
  // found in its bitmap without reading a record.
  std::vector<int32_t> VisibleRecordNumbers();
  // Consecutive visible records from the current one, at most limit.
  int32_t CountVisibleRun(int32_t limit, int direction) override;

  // ---- filters (cursor_filters.cpp) ----
  // At most 64 filters (9482). An expression text is parsed and bound to
  // the table's fields (10051 for a fault or a result that is not
  // boolean); a prepared tree is copied, never changed; else the callback
  // with its user data decides. The filter starts inactive; the handle
  // lives until DropFilter or Close.
  TFilter* AddFilter(const char* expression, const TExpToken* prepared, TFilterCallback callback,
                     void* user_data, const TCursorFilterOptions& options);
  // nullptr for every filter; 10050 for a filter the cursor does not hold.
  void ActivateFilter(TFilter* filter);
  void DeactivateFilter(TFilter* filter);
  void DropFilter(TFilter* filter);
  // Replaces an active filter's tree with a copy of tree (10050 otherwise).
  void SetFilterTree(const TExpToken* tree, TFilter* filter);
  // Rates the node and every node below for index use (0 none, 1 partial,
  // 2 full), puts the better-indexed operand of an AND first, and returns
  // the node's level. With estimate, a condition the index would answer
  // for more than 90% of the live records is rated 0: reading the records
  // costs less than collecting nearly every key.
  uint8_t GetOptimizeLevel(TExpToken* node, bool estimate);
  // The index slot whose first segment is the field and can answer a
  // condition on it exactly (ascending; for a string case-sensitive, or
  // case-insensitive for a condition on its upper case); -1 when there is
  // none.
  int32_t SelectIndexForField(int32_t field, bool case_insensitive) const;
  // Reads each record whose bit is set and clears the bits of those that
  // fail the tree or the callback.
  void EvaluateFilterOver(TRecordsBitmap& bitmap, const TExpToken* tree, TFilterCallback callback,
                          void* user_data);
  // Clears the record's bit when it fails the tree or the callback. A walk
  // over many records passes the evaluator it keeps for the walk; nullptr
  // evaluates with one of its own.
  void TestRecord(const uint8_t* image, int32_t number, TFilterCallback callback, void* user_data,
                  const TExpToken* tree, TExpressionEvaluator* evaluator, TRecordsBitmap& bitmap);
  // After an insert or change of record number (image its new record):
  // its range, live and filter bits are set anew and the view combined.
  void FilterRecordChanged(int32_t number, const uint8_t* image);
  // After record number was deleted.
  void FilterRecordDeleted(int32_t number);
  // Records read to answer filters since the cursor was opened.
  int64_t FilterRecordReads() const { return filter_record_reads_; }
  // ---- record editing and record locks (cursor_editing.cpp) ----
  // With lock, the current record is locked; when it no longer equals
  // image (another writer changed it) the lock is let go and 8708 raised.
  int32_t GetCurrentRecord(uint8_t* image, bool lock);
  // Every refusal (11013, 9729 naming the index, 9730-9732 naming the
  // field, 10258) comes before anything is written. A file error undoes the
  // keys already stored; locks taken by the operation are released.
  void InsertRecord(uint8_t* image, bool reposition);
  void ModifyRecord(uint8_t* image, bool unlock, bool reposition);
  // image is the record as last read: 8708 when it changed meanwhile.
  void DeleteRecord(const uint8_t* image, bool reposition);
  // 0 is the current record. 10258 when a cursor of this process holds it.
  void LockRecord(int32_t number);
  // 10242 when no cursor of this process holds it.
  void UnlockRecord(int32_t number);
  // Inside the table's transaction: the records (ascending numbers) are
  // locked together up to its end or next interim commit, as if each had
  // been locked and unlocked (TDataTable::LockRecordsForTransaction); the
  // records an UPDATE or DELETE is about to change. Nothing outside one.
  void LockRecordsForTransaction(const std::vector<int32_t>& numbers);
  // Inside the table's transaction: the changes that follow run under one
  // write lock, kept up to ReleaseKeptWriteLock or the next commit or
  // rollback (TDataTable::KeepWriteLock). Nothing outside one.
  void KeepWriteLock();
  void ReleaseKeptWriteLock();
  // The statement read lock of the SQL engine: true when the cursor had to
  // go back to its record after another writer's change.
  bool LockForRead();
  void UnlockForRead();
  void BeginWrite();
  void EndWrite();
  // The validity checks alone (cursor_checks.cpp).
  void CheckRecord(const uint8_t* image);

  // ---- table definition: indexes and restructuring (cursor_indexes.cpp,
  // table_restructure.cpp) ----
  // Told (record number, whole percent done) while an index is built or a
  // table is restructured.
  using TProgressHandler = void (*)(void* user_data, int32_t record_number, int32_t percent);
  void SetIndexProgressHandler(TProgressHandler handler, void* user_data);
  // Each needs an exclusive (10253), writable (11013) open cursor.
  // Adds a secondary index and builds it from the records, telling the
  // index progress handler. A unique index over equal keys is refused with
  // 9729 naming it, dropped, and no record is touched.
  void AddIndex(const IndexDescriptor& descriptor);
  // The index of the name (any case, blanks trimmed; 10022 when none), or of
  // the number: its pages go to its free list, each child before its page,
  // and with remove its descriptor leaves the header. The cursor then
  // stands before the first record of the primary index.
  void DeleteIndex(const std::string& name, bool remove);
  void DeleteIndexByNumber(int32_t number, bool remove);
  void SetRestructureProgressHandler(TProgressHandler handler, void* user_data);
  void SetDataLossHandler(TDataLossHandler handler, void* user_data);
  // Gives the closed cursor's table (10031 when open) the new definition;
  // needs the exclusive option (10253) and a writable table (11013). Only
  // header values and descriptors changed: written in place. Indexes
  // changed too: rebuilt, the index file backed up to ".IBK" first (kept
  // unless no-backup). Fields changed: every record copied into a new
  // table with per-field conversion. Each loss goes to the data-loss
  // handler; false when it stopped the restructure, the table then as it
  // was. Without a handler the first loss raises, naming the field (10000)
  // or the index (9729), and the table stays as it was.
  bool RestructureTable(const TTableDefinition& definition, const TRestructureOptions& options);
  // Removes the live record: its BLOBs, its keys in every index but those
  // left alone (which hold none of its keys), its status key and its slot.
  // Runs inside the caller's write bracket; the caller writes back.
  void RemoveRecord(int32_t number, const std::vector<int32_t>& leave_alone);

  // ---- BLOB access (cursor_blobs.cpp) ----
  // Each returns 0 or an engine code; the caller raises it.
  int32_t OpenBlob(int32_t field, uint8_t* image, uint8_t owner, bool table_list, uint8_t mode);
  int32_t CloseBlob(int32_t field, uint8_t* image, uint8_t owner, bool table_list);
  // 8711 when offset + count passes the end: what lies before it is copied.
  int32_t ReadBlob(int32_t field, const uint8_t* image, bool table_list, int32_t& bytes_read,
                   int32_t count, void* dest, int32_t offset);
  int32_t WriteBlob(int32_t field, const uint8_t* image, bool table_list, int32_t count,
                    const void* source, int32_t offset);
  int32_t TruncateBlob(int32_t field, const uint8_t* image, bool table_list, int32_t size);
  int32_t GetBlobSize(int32_t field, const uint8_t* image, bool table_list, int32_t& size);
  // From the last to the first: every buffer, or those whose owner byte is not 0.
  void FreeBlobs(bool all);
  void StoreBlobStamps(uint8_t* image, bool table_list);
  // True when a buffer was written; 8963 when changed buffers belong to
  // different records.
  bool WriteBlobBuffers();
  void StoreBlobRefs(uint8_t* image, bool table_list);
  // Opens every BLOB field for writing and truncates it to 0.
  void ClearRecordBlobs(uint8_t* image);
  // The whole value of the table's BLOB field in image, for an expression:
  // Size() bytes and a zero byte after them, from the buffer the image
  // refers to or else its block chain; IsNull as the field reads.
  void BlobColumnValue(int32_t field, const uint8_t* image, TExpToken& node);
  // Gives the target image's field a buffer of the target cursor's, open for
  // writing, that holds a copy of the BLOB field of image: posting the target
  // image stores it as a chain of its own. Errors name the target field.
  void CopyBlob(int32_t field, const uint8_t* image, bool table_list, TDataCursor& target,
                int32_t target_field, uint8_t* target_image);
  // Whether the image holds what the current record stores: a BLOB field
  // open in a buffer counts as the reference the buffer was opened from.
  bool SameAsCurrent(const uint8_t* image) const;

  // ---- table definition (cursor_definition.cpp) ----
  // Checks and completes a definition as a table is made from it: names
  // trimmed, sizes, physical lengths, offsets and key lengths set. Field
  // numbers are left as the caller gave them (they must be distinct); index
  // segments name fields by those numbers. An empty index list stands for a
  // primary index without segments. Raises 10015, 15878, 9492, 9487, 9498,
  // 10038, 10000, 10006, 10022, 10027, 10023, 12292 or 10026.
  void CheckTableDefinition(TTableDefinition& definition, bool primary_optional,
                            int32_t last_auto_inc);
  // Creates the cursor's table (exclusive, writable, closed cursor) from the
  // definition, which is checked and completed in place. The table is
  // stored with its fields numbered by position. A table of the name raises
  // 13060 unless overwrite is set; then it is deleted first. A failure
  // leaves no file this call made.
  void CreateTable(TTableDefinition& definition, bool overwrite, bool primary_optional);
  // The table's files, with the cursor closed (10031): deleted, renamed
  // (13060 when the new name's files exist) or renamed to the backup
  // extensions ".DBK", ".IBK" and ".BBK", replacing older backups. 11013
  // while another opener holds a file.
  void DeleteTable();
  void RenameTable(const std::string& new_name);
  void BackupTable();
  // Exclusive and writable: every record, key and BLOB goes; the cursor
  // stands before the first record.
  void EmptyTable();
  // Exclusive and writable: rewrites the records of a table without primary and
  // secondary indexes in the request's order, numbered from 1, deleted
  // ones dropped; the status index is rebuilt. Any other table is left as
  // it is. Runs go to the session's private directory unless the request
  // names a folder. A failure puts the records back as they were from a
  // copy taken first, closes the cursor and deletes the index file: the
  // next open rebuilds the status index from the records.
  void SortRecords(TSortRequest request);

  // ---- header values and index descriptors (cursor_header_values.cpp) ----
  // Read from the open table or, while the cursor is closed, from the data
  // file's header read directly; a closed encrypted table's values come
  // only after the password loop of Open (10498).
  int32_t GetBlobBlockSize();
  // The data bytes of a BLOB block.
  int32_t GetBlobDataSize();
  uint16_t GetLanguageID();
  uint16_t GetSortID();
  int16_t GetUserMajorVersion();
  int16_t GetUserMinorVersion();
  std::string GetDescription();
  bool GetEncrypted();
  // "" for a table that is not encrypted.
  std::string GetPassword();
  int32_t GetLastAutoInc();
  // The setters need an open (11014), writable (11013) cursor; a shared
  // table's header is written at once, an exclusive one's at close. The
  // password changes only for an encrypted table.
  void SetLastAutoInc(int32_t value);
  void SetHeaderValues(const std::string& password, const std::string& description,
                       int16_t user_major, int16_t user_minor, int32_t last_auto_inc);
  // The descriptor of index 0 .. 30; kNaturalOrder gives an all-zero one.
  IndexDescriptor GetIndexDesc(uint8_t number) const;
  // Replaces the descriptor in memory, its root page included (the free
  // page list stays the file's); for the current index the cursor takes
  // its fields anew. WriteIndexDesc writes
  // the index file's header as the setters write the data header.
  void SetIndexDesc(uint8_t number, const IndexDescriptor& index);
  void WriteIndexDesc();
  bool HasNoPrimaryIndex() const;
  void SetNoPrimaryIndex(bool value);
  // 9487 above 30.
  void SetIndexCount(uint8_t count);

  // ---- what the table's files ask ----
  int32_t IndexSlot() const override { return slot_; }
  bool TableFilesChanged() override;
  bool BytewiseKeys() const override { return order_.Bytewise(); }
  bool VerifyRepair() const override { return false; }
  void ReportStatus(const std::string&) override {}

 private:
  void CheckClosed() const;
  // 10253 unless the cursor is exclusive; 11013 for a read-only cursor.
  void CheckExclusive() const;
  void CheckWritable() const;
  // 11014 for a closed cursor.
  void CheckOpen() const;
  // The data header's bytes, from the open table or read from the file.
  TDataFileHeader ReadHeaderValues();
  // Commits a header change made in memory under the write lock.
  void WriteHeaderChange(bool index_header);
  // After a failed sort: the data file back from the copy (kept when that
  // fails), the cursor closed and the index file deleted.
  void RecoverFailedSort(const std::string& copy);
  // Definition rules (cursor_definition.cpp), under the locale's formats.
  void CheckFieldDefinitions(uint16_t language_id, uint16_t sort_id,
                             std::vector<FieldDescriptor>& fields, bool compute_offsets) const;
  void CheckIndexDefinitions(std::vector<IndexDescriptor>& indexes,
                             const std::vector<FieldDescriptor>& fields,
                             bool primary_optional) const;
  void SetOption(bool& option, bool value);
  [[noreturn]] void Raise(EngineErrorCode code, const std::string& field = "",
                          const std::string& index = "") const;
  bool WatchesChanges() const { return (!exclusive_ || shared_exclusive_) && !file_read_only_; }
  // The table holds a statement or operation read lock: no other process
  // writes until it is released.
  bool HoldsReadLock() const;
  bool CountersMoved() const;
  // Asks the handler until the session knows the password; else 10498.
  void AskPassword(const std::string& password);
  void TakeFieldList();
  void ResetPosition();
  void SelectIndex(uint8_t number);
  // The current index's name, key length, order and key buffers from its
  // descriptor; the range is cancelled.
  void CopyIndexFields();
  // Recomputes range and bitmaps and goes back to the current record by
  // its bookmark, end flags kept.
  void Resynchronise();
  // The range ordinals and the bitmaps for the current index and range,
  // filled again while other processes' changes void the rounds.
  void RecomputeView();
  // Whether another process may change the files while this cursor reads
  // them: changes are watched and this process holds no lock on the table.
  bool OthersMayWrite() const;
  // One round of RecomputeView; false when another process changed the
  // files meanwhile (the view is then left uncombined).
  bool FillView();
  void RecomputeRangeOrdinals();

  // Navigation (cursor_navigation.cpp).
  bool OnRecord() const { return !bof_ && !eof_; }
  void SetOff();
  void SetBof();
  void SetEof();
  // Stands on the record at the ordinal (index order) or number (natural
  // order); false when there is none.
  // walking: the move is a step of a walk through the records.
  bool StandOnOrdinal(int64_t ordinal, bool walking = false);
  // Stands on the key a B-tree search left at the spot (TBTree::Navigate).
  void StandOnSpot(const TLeafSpot& spot, const uint8_t* key);
  void StandOnNumber(int32_t number, int32_t position);
  // The natural-order ordinal of the current record, counted when it was left uncounted.
  int32_t CountedPosition();
  // Stands on the first (direction 1) or last visible record of the range.
  bool PositionEdge(int direction);
  // Stands on the next visible key after the ordinal in the direction,
  // inside the range.
  bool StandOnVisible(int64_t ordinal, int direction, bool walking = false);
  // The ordinal of the visible key nearest after the ordinal in the
  // direction (0: none), found from the keys of the visible records; false
  // when a key does not lead to its record, and only a walk will do.
  bool NearestVisibleByKeys(TBTree& tree, int64_t ordinal, int direction, int64_t& nearest);
  void Step(int32_t count);
  // A walk in index order reads ahead when the record cache holds the whole
  // file; a single move reads the one record.
  void ReadCurrent(bool walking = false) { ReadCurrentAs(walking, NaturalOrderInForce()); }
  // The same for a caller that knows whether natural order is in force.
  void ReadCurrentAs(bool walking, bool natural);
  // The record at number as a move onto it fetches it (a fetch that met
  // another writer's change is tried once more, then taken without asking);
  // the caller releases it.
  TRecord* FetchForMove(TDataFile& data, int32_t number, bool read_ahead, bool natural);
  // Takes a stored record image of size bytes as the current record, the
  // room beyond it (derived fields) zeroed.
  void TakeStoredImage(const uint8_t* bytes, int32_t size);
  // Readies the record cache's memory for records coming: ahead[2] the
  // furthest, in the first stage of its read, ahead[0] the nearest in the
  // last (0: none).
  void PrefetchRecords(const std::array<int32_t, 3>& ahead) const;
  // A result table in natural order is this cursor's alone (exclusive, and
  // no other process writes it): its records are read a window at a time
  // into a buffer of the cursor, past the record cache, which neither takes
  // a slot and a copy for each record nor pushes out the records in use.
  // A record the cache holds is read from the cache, and the window is
  // read again once the file changed. False when the record must come
  // through the cache (a record this process appended is not on disk yet).
  bool ReadFromWindow(TDataFile& data);
  int32_t CopyOut(int32_t result, uint8_t* image);
  bool RangeEmpty() const { return range_start_ < 1 || range_end_ < range_start_; }
  // The bounds of an active range; nullptr for an open end.
  const uint8_t* RangeStartKey() const;
  const uint8_t* RangeEndKey() const;

  // Keys (cursor_keys.cpp).
  const IndexDescriptor& CurrentIndexDesc() const;
  const FieldDescriptor& SegmentField(int32_t segment) const;
  bool InStringSegment(int32_t position) const;
  // The prefix length the first field_count segments (and partial_length
  // characters of the next) take.
  int32_t PrefixLength(int32_t field_count, int32_t partial_length) const;
  void MakeKey(bool key_is_image, const uint8_t* source, uint8_t* key) const;
  // Positions at the key: the result of the search (exact match).
  bool SearchKey(const uint8_t* key, bool nearest, bool keep_end_flags);
  void KeepEndFlags(bool was_bof, bool was_eof);

  // Fields (cursor_fields.cpp).
  void ReadField(const FieldDescriptor& field, const uint8_t* image, bool& null, void* value) const;
  void WriteField(const FieldDescriptor& field, uint8_t* image, const void* value);
  void ComputeDerivedFields(uint8_t* image);
  void StoreDefault(int32_t field, const FieldDescriptor& desc, uint8_t* image);

  // Editing (cursor_editing.cpp).
  // The current record as stored now; 8708 off the records.
  void ReadCurrentForEdit();
  // The slots a record keeps keys in: 0 with a primary index, 1 .. count;
  // none for a result set without natural order.
  std::vector<int32_t> KeyedSlots() const;
  // The number the next insert takes: a deleted slot or count + 1.
  int32_t NextFreeRecord() const;
  // Raises 9729 for a unique slot that holds key already.
  void CheckUniqueKey(int32_t slot, const uint8_t* key);
  // Tells the shared table which files changed and takes its counters. A
  // failed write-back runs undo (which puts the change back in memory) and
  // writes the caches again before the error goes on, so that the files
  // hold the table as it was.
  template <class Undo>
  void CommitChange(bool index_changed, bool blob_changed, Undo undo);
  void WriteChange(bool index_changed, bool blob_changed);
  // After this cursor's own write of record number (image its new record,
  // nullptr when deleted): the view follows, then the cursor goes to bookmark.
  void ReturnTo(const std::vector<uint8_t>& bookmark, int32_t number, const uint8_t* image);
  // Whether the cursor stands, in index order, on the key at bookmark where
  // its spot says, at the pages' version now, in an index among slots: an
  // insert of one key there then moves its ordinal by one at most.
  bool SpotHolds(const uint8_t* bookmark, const std::vector<int32_t>& slots) const;
  // ReturnTo for an insert of record number (image) while SpotHolds: the
  // cursor keeps its record, its ordinal moved past the new key when that
  // sorts before, without a walk of the index.
  void StayAfterInsert(const uint8_t* bookmark, int32_t number, const uint8_t* image);
  std::vector<uint8_t> BookmarkOf(const uint8_t* image, int32_t number) const;
  // The same into bookmark, which holds GetBookmarkSize() bytes.
  void BookmarkOf(const uint8_t* image, int32_t number, uint8_t* bookmark) const;
  const FieldDescriptor& BlobFieldDesc(int32_t field, bool table_list) const;
  // OpenBlob inside a read bracket the caller holds.
  int32_t OpenBlobBuffer(int32_t field, uint8_t* image, uint8_t owner, bool table_list,
                         uint8_t mode);
  // The value of the BLOB field in image: the cursor's buffer the image
  // refers to, else its chain loaded into loaded.
  const TBlobBuffer& BlobContents(const FieldDescriptor& desc, const uint8_t* image,
                                  TBlobBuffer& loaded) const;
  // The image's open buffer of the field, or a code: 10753, 10030.
  int32_t FindBlob(int32_t field, const uint8_t* image, bool table_list, TBlobBuffer*& buffer);
  // A new buffer for a BLOB to open: the buffer last closed when there is
  // one, so that a BLOB read or written per record costs no allocation.
  std::unique_ptr<TBlobBuffer> NewBlobBuffer();
  // Closes the buffer; it stays, emptied, for the next open.
  void DropBlobBuffer(std::unique_ptr<TBlobBuffer>& buffer);

  // Definitions (cursor_indexes.cpp).
  // Runs change under the write lock and writes everything back.
  template <class Change>
  void DefinitionChange(Change change);
  void DropIndexPages();

  // Restructure (table_restructure.cpp).
  // Asks the data-loss handler (or takes the answer given for all); true
  // to go on. Without a handler: false.
  bool ReportDataLoss(TDataLossKind kind, const std::string& text);
  bool NeedsFullCopy(const TTableDefinition& definition) const;
  bool IndexesDiffer(const TTableDefinition& definition) const;
  // The index-only path; false when stopped, the index file restored.
  bool RestructureIndexes(const TTableDefinition& definition, bool no_backup);
  // The full-copy path: false when stopped, the work table deleted and the
  // table as it was.
  bool CopyTable(const TTableDefinition& definition, const TRestructureOptions& options,
                 int32_t last_auto_inc);
  bool CopyRecords(TDataCursor& work, const TTableDefinition& definition);
  // A loss without a handler raises code naming the field.
  bool ReportFieldLoss(TDataLossKind kind, const FieldDescriptor& field);
  // Puts the work table in the table's place; the old files become the
  // backups, or are deleted with no_backup.
  void ReplaceWithWorkTable(const std::string& work_name, bool no_backup);
  void ApplyIndexDefinitions(const TTableDefinition& definition, std::vector<int32_t>& rebuilt);
  void WriteDefinitionInPlace(const TTableDefinition& definition, int32_t last_auto_inc);

  // Bitmaps (cursor_bitmaps.cpp).
  void BuildLiveBitmap();
  void BuildRangeBitmap();
  void CombineBitmaps();
  // The same for one record whose bits alone changed since the last
  // combination: its visible bit and the filtered count follow in
  // O(filters), so a loop of record writes costs no walk of the bitmaps each.
  void CombineRecordBits(int32_t number);
  void UpdateBitmapView();

  // Repair (cursor_repair.cpp). A table whose data header still carries
  // the write-in-progress mark once the write lock is had was cut off in
  // the middle of a write: its records are checked and its free chain and
  // counters derived anew, every index is rebuilt from the records on
  // fresh pages and the BLOB file's free list from the chains the records
  // name; the write-back then clears the mark. A read-only table cannot be
  // repaired and raises 8961.
  void RepairInterruptedWrite();

  // Filters (cursor_filters.cpp).
  bool AnyFilterActive() const;
  std::vector<std::unique_ptr<TFilter>>::iterator FindFilter(TFilter* filter);
  // The filter, or every filter for nullptr.
  void SetFiltersActive(TFilter* filter, bool active);
  // The view after one filter was dropped (added null) or activated, over
  // bitmaps the read bracket found current: only the added filter's bitmap
  // is filled, and the bitmaps are combined again around the current
  // record. False when that fill met another writer's change: the view
  // then needs the whole recompute, whose last round keeps writers out.
  bool RecombineView(TFilter* added);
  // Fills the bitmap of every active filter, in list order.
  void FillFilterBitmaps();
  void FillFilterBitmap(TFilter& filter);

  TDataDirectory* directory_;
  TDataTable* table_ = nullptr;
  std::string table_name_;
  int32_t data_counter_ = 0;
  int32_t index_counter_ = 0;
  int32_t blob_counter_ = 0;
  bool resync_pending_ = false;
  bool read_locked_ = false;
  bool open_ = false;
  bool exclusive_ = false;
  bool shared_exclusive_ = false;
  bool read_only_ = false;
  bool file_read_only_ = false;
  bool in_memory_ = false;
  bool result_set_ = false;
  bool temporary_ = false;
  bool keep_auto_inc_ = false;
  bool natural_order_ = false;
  TPasswordHandler password_handler_ = nullptr;
  void* password_user_data_ = nullptr;
  TProgressHandler index_progress_ = nullptr;
  void* index_progress_user_data_ = nullptr;
  TProgressHandler restructure_progress_ = nullptr;
  void* restructure_progress_user_data_ = nullptr;
  TDataLossHandler data_loss_ = nullptr;
  void* data_loss_user_data_ = nullptr;
  // The data-loss handler answered for every further loss.
  bool loss_answered_ = false;
  bool loss_go_on_ = true;

  // Position: the ordinal among all keys of the index (index order) or
  // among the visible records (natural order), the record's physical
  // number and, in index order, its key. In natural order a cursor sent to
  // a record number leaves the ordinal uncounted until it is asked for:
  // counting it costs a pass over the bitmap, which a run of edits, each
  // returning to its record, would pay once a record.
  static constexpr int32_t kUncountedPosition = -1;
  int32_t position_ = 0;
  int32_t record_number_ = 0;
  std::vector<uint8_t> key_;
  // Where the last key stood on in index order lies among the leaves.
  TLeafSpot spot_;
  // The last key search landed on the leaf the cursor stood on: the next
  // one tries that leaf first (searches in ascending key order), while
  // scattered searches go straight from the root.
  bool search_from_spot_ = false;
  bool bof_ = true;
  bool eof_ = true;
  std::vector<uint8_t> current_;

  std::string index_name_;
  uint8_t index_number_ = 0;
  int32_t slot_ = 0;
  int32_t key_length_ = 0;
  TIndexKeyOrder order_;

  int32_t range_start_ = 0;
  int32_t range_end_ = 0;
  std::vector<uint8_t> range_start_key_;
  std::vector<uint8_t> range_end_key_;
  bool range_active_ = false;
  // A range without a start (end) key reaches the index's first (last)
  // key, whatever the index's order and locale.
  bool range_has_start_ = false;
  bool range_has_end_ = false;

  bool bitmap_view_ = false;
  int32_t filtered_count_ = 0;
  TRecordsBitmap* visible_ = nullptr;
  TRecordsBitmap* range_bitmap_ = nullptr;
  TRecordsBitmap* live_ = nullptr;
  // The index file's pages version the live bitmap was built at: while it
  // and the record count stand, the bitmap still holds the live slots.
  uint64_t live_pages_version_ = 0;
  // The live bitmap's set records; -1 when a change of one bit left it
  // uncounted. A view of the live records alone takes its count from here.
  int32_t live_count_ = -1;

  std::vector<std::unique_ptr<TFilter>> filters_;
  int64_t filter_record_reads_ = 0;
  // Reads from disk that the files announced (TableFilesChanged): a fill
  // of the view that made none saw only what the read bracket found.
  int64_t file_reads_ = 0;

  std::vector<std::unique_ptr<TBlobBuffer>> blob_buffers_;
  std::unique_ptr<TBlobBuffer> spare_blob_;
  std::vector<FieldDescriptor> fields_;
  std::vector<const TExpToken*> derived_;
  bool has_derived_ = false;
  bool has_defaults_ = false;
  bool has_validity_checks_ = false;
  bool has_auto_inc_ = false;
  bool evaluating_derived_ = false;
  uint16_t language_id_ = 0;
  uint16_t sort_id_ = 0;
  TCharOrderMap order_map_{};
  int32_t record_size_ = 0;

  // ReadFromWindow's records: window_count_ records from window_first_, as
  // the data file held them at its content stamp window_stamp_.
  std::vector<uint8_t> window_;
  int32_t window_first_ = 0;
  int32_t window_count_ = 0;
  uint64_t window_stamp_ = 0;
};

}  // namespace jw
