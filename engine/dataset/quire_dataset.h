// TQuireDataSet: the dataset framework over one engine cursor. The framework
// owns the ring of record buffers, the states and the events; this class
// lays out a record buffer, fetches records into it, posts and deletes,
// keeps bookmarks, reads and writes field values in the engine's record
// image, builds the field definitions from the engine's descriptors, and
// (quire_dataset_keys.cpp) offers key buffers, ranges, filters, Locate and
// Lookup. It makes no cursor itself: its descendants do.
//
// A record buffer, from the engine heap:
//   [record image: record size][calculated fields][record info: 8]
//   [bookmark: bookmark size]
// record info: int32 record number (-1 for a new record), one bookmark-flag
// byte, 3 bytes nothing reads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/data_set.h"

namespace jw {

class TDataCursor;
class TFilter;

// The key buffers: values entered as field values, for key search and the
// bounds of ranges. Only these six exist.
enum class TKeyIndex : uint8_t {
  Lookup,
  RangeStart,
  RangeEnd,
  AppliedRangeStart,
  AppliedRangeEnd,
  Saved,
};
constexpr int kKeyBufferCount = 6;

// Lets go of a dataset's cursor: a cursor the dataset opened is freed (its
// close comes first, in DestroyCursorHandle); an SQL result cursor belongs to
// its statement, which runs it again or frees it, and is only let go.
struct TCursorRelease {
  bool Owned = true;
  TCursorRelease() = default;
  explicit TCursorRelease(bool owned) : Owned(owned) {}
  // The cursors that descendants open and own convert to a handle.
  TCursorRelease(std::default_delete<TDataCursor>) {}
  void operator()(TDataCursor* cursor) const;
};
using TCursorHandle = std::unique_ptr<TDataCursor, TCursorRelease>;

// A handle on a cursor that its statement keeps.
inline TCursorHandle LentCursor(TDataCursor* cursor) {
  return TCursorHandle(cursor, TCursorRelease(false));
}

// A key buffer's 8-byte head, then a record image holding the key values.
struct TKeyBufferHead {
  uint8_t Modified;
  uint8_t Unused[3];
  int32_t FieldCount;
};
static_assert(sizeof(TKeyBufferHead) == 8);

class TQuireDataSet : public TDataSet {
 public:
  explicit TQuireDataSet(TComponent* owner);
  ~TQuireDataSet() override;

  // The engine cursor while open.
  TDataCursor* Cursor() const { return cursor_.get(); }

  bool AutoDisplayLabels() const { return auto_display_labels_; }
  void SetAutoDisplayLabels(bool value);
  bool CopyOnAppend() const { return copy_on_append_; }
  void SetCopyOnAppend(bool value) { copy_on_append_ = value; }

  void Post() override;
  void Cancel() override;
  bool BookmarkValid(const TBookmark& bookmark) override;
  // A missing bookmark sorts after every given one.
  int CompareBookmarks(const TBookmark& a, const TBookmark& b) override;
  void SetRecNo(int value) override;
  // Record numbers hold only while no filter hides records.
  bool IsSequenced() const override { return !Filtered(); }
  bool Locate(const std::string& key_fields, const Variant& key_values,
              TLocateOptions options) override;
  // Does not move the dataset; Null when nothing matches.
  Variant Lookup(const std::string& key_fields, const Variant& key_values,
                 const std::string& result_fields) override;
  std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode) override;
  void CloseBlob(TField* field) override;
  bool GetFieldData(TField* field, void* buffer) override;
  void SetFieldData(TField* field, const void* buffer) override;
  // BCD fields: Currency to the engine's 8-byte BCD with the field's
  // decimals and back.
  void DataConvert(TField* field, const void* source, void* dest, bool to_native) override;

  void SetFilterText(const std::string& text) override;
  void SetFiltered(bool filtered) override;
  void SetFilterOptions(TFilterOptions options) override;
  void SetOnFilterRecord(const TFilterRecordEvent& handler) override;

  // The buffer that field values are read from and written to in the
  // current state; nullptr when there is none.
  TRecordBuffer GetActiveRecordBuffer();
  // The record as stored before the edit (cleared in the insert state).
  TRecordBuffer ReadOldValues();
  // The active index: its segments' engine field numbers and its case flag.
  int IndexFieldCount() const { return index_field_count_; }
  // The field of the active index's i-th segment.
  TField* GetIndexField(int index) const;
  // Whether the active index begins with exactly these fields and has the
  // case option.
  bool IndexFits(const std::vector<TField*>& fields, bool case_insensitive) const;

 protected:
  // The descendants' cursor: made for opening, and let go at close.
  virtual TCursorHandle CreateCursorHandle();
  virtual void DestroyCursorHandle();
  // A second cursor whose index fits the fields, for Locate and Lookup.
  virtual TDataCursor* GetLookupCursor(const std::string& field_names, bool case_insensitive);
  virtual void ReleaseLookupCursor() {}
  // The cursor is open and stands before its first record.
  virtual void AfterCursorOpened() {}

  // Framework slots.
  TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(TRecordBuffer& buffer) override;
  uint16_t GetRecordSize() override { return record_size_; }
  TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool check) override;
  void InternalInitRecord(TRecordBuffer buffer) override;
  void InitRecord(TRecordBuffer buffer) override;
  void ClearCalcFields(TRecordBuffer buffer) override;
  bool IsCursorOpen() const override { return cursor_ != nullptr; }
  void OpenCursor(bool info_query) override;
  void CloseCursor() override;
  void InternalOpen() override;
  void InternalClose() override;
  void InternalInitFieldDefs() override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalGotoBookmark(const TBookmark& bookmark) override;
  void InternalSetToRecord(TRecordBuffer buffer) override;
  void InternalRefresh() override;
  void InternalEdit() override;
  void InternalPost() override;
  void InternalCancel() override;
  void InternalDelete() override;
  void DoOnNewRecord() override;
  bool GetCanModify() const override { return can_modify_; }
  void GetBookmarkData(TRecordBuffer buffer, void* data) override;
  void SetBookmarkData(TRecordBuffer buffer, const void* data) override;
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) override;
  void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) override;
  int GetRecNo() const override;
  int GetRecordCount() const override;
  bool GetIsIndexField(const TField* field) const override;
  void SetStateFieldValue(TDataSetState state, TField* field, const Variant& value) override;
  bool FindRecord(bool restart, bool go_forward) override;

  // Field definitions from the cursor's engine field descriptors.
  void LoadFieldDefs(TDataCursor& cursor);
  // Rebuilds the buffer offsets from the record and bookmark sizes.
  void ComputeBufferLayout();
  // Raises a non-zero engine result with the name of the cursor's table.
  void CheckResult(int32_t code) const;

  // Key buffers, ranges and index switching (quire_dataset_keys.cpp).
  uint8_t* GetKeyBuffer(TKeyIndex index) const;
  uint8_t* ClearKeyBuffer(TKeyIndex index);
  TKeyBufferHead& KeyHead(TKeyIndex index) const;
  // Enters the set-key state on a cleared key buffer, assigns the values to
  // the index fields and leaves it again.
  void SetKeyFields(TKeyIndex index, const std::vector<Variant>& values);
  // Leaves the set-key state, keeping the key or restoring the saved one.
  void EndKeyEdit(bool keep);
  // Fills the range start and end buffers with the values (a master link).
  void SetLinkRange(const std::vector<TField*>& master_fields);
  // Hands the range buffers to the cursor; false when they did not change.
  bool ApplyKeyRange();
  // False when no range was applied.
  bool CancelKeyRange();
  bool RangeApplied() const;
  void SwitchToIndex(const std::string& index_name);
  void ReadIndexInfo();
  // Positions the cursor on the lookup key; true when found.
  bool SeekLookupKey();

 private:
  // Runs body in a temporary state, restoring the state on every path.
  template <class Body>
  void InTempState(TDataSetState state, Body body) {
    const TDataSetState old = SetTempState(state);
    try {
      body();
    } catch (...) {
      RestoreState(old);
      throw;
    }
    RestoreState(old);
  }
  // The same in the filter state, reading the record image.
  template <class Body>
  void InFilterState(TRecordBuffer record, Body body) {
    const TRecordBuffer saved = filter_record_;
    filter_record_ = record;
    try {
      InTempState(dsFilter, body);
    } catch (...) {
      filter_record_ = saved;
      throw;
    }
    filter_record_ = saved;
  }
  int32_t RecordNumberOf(const uint8_t* buffer) const;
  void SetRecordNumberOf(TRecordBuffer buffer, int32_t number) const;
  uint8_t& BookmarkFlagOf(TRecordBuffer buffer) const;
  void ApplyDisplayLabels();
  // The bytes the engine writes for each cursor field's value.
  void ReadValueSizes();
  void CreateFilters();
  void DropFilters();
  void ActivateFilters();
  void DeactivateFilters();
  void ReplaceFilter(TFilter*& slot, TFilter* filter);
  TFilter* AddExpressionFilter(const std::string& text, TFilterOptions options);
  TFilter* AddCallbackFilter();
  static bool FilterCallback(void* user_data, const uint8_t* image, int32_t record_number);
  // Finds the record by its field values through an index or a temporary
  // filter; with move_to the dataset's cursor stands on it.
  bool FindByFieldValues(const std::string& key_fields, const Variant& key_values, bool move_to,
                         TLocateOptions options);
  // Through a temporary filter on the fields' values, read into the
  // temporary buffer.
  bool FindByFilter(const std::vector<TField*>& fields, const std::vector<Variant>& values,
                    TLocateOptions options);
  void AllocKeyBuffers();
  void FreeKeyBuffers();

  TCursorHandle cursor_;
  TFilter* expression_filter_ = nullptr;
  TFilter* callback_filter_ = nullptr;
  TRecordBuffer filter_record_ = nullptr;
  std::vector<int16_t> index_fields_;
  bool index_case_insensitive_ = false;
  bool can_modify_ = false;
  int32_t key_length_ = 0;
  TRecordBuffer old_values_ = nullptr;
  std::vector<uint8_t*> key_buffers_;
  // By engine field number: the bytes the engine writes for a value (the
  // largest int32 for a BLOB reference). A field whose data size holds them
  // is read straight into the caller's buffer.
  std::vector<int32_t> value_sizes_;
  uint8_t* current_key_ = nullptr;
  int index_field_count_ = 0;
  uint16_t record_size_ = 0;
  uint16_t bookmark_offset_ = 0;
  uint16_t record_info_offset_ = 0;
  uint16_t buffer_size_ = 0;
  bool auto_display_labels_ = false;
  bool copy_on_append_ = false;
};

}  // namespace jw
