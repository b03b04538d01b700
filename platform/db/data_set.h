// TDataSet: the record-oriented view over a cursor that every concrete
// dataset derives from. The framework owns the ring of record buffers (the
// window of BufferCount records around the active one plus one spare), the
// dataset state, navigation, editing, calculated fields, bookmarks, field
// objects and definitions, and the events to handlers and data links. A
// concrete dataset fills the protected virtual slots: buffers, fetching,
// cursor moves, posting and deleting, bookmarks and field data.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/db_types.h"
#include "platform/db/field_defs.h"
#include "platform/db/index_defs.h"
#include "platform/rtl/component.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/variant.h"

namespace jw {

class TDataLink;
class TDataSource;
class TField;

using TDataSetNotifyEvent = std::function<void(TDataSet* dataset)>;
using TDataSetErrorEvent =
    std::function<void(TDataSet* dataset, EDatabaseError& error, TDataAction& action)>;
using TFilterRecordEvent = std::function<void(TDataSet* dataset, bool& accept)>;

// The names of a ';'-separated field list, trimmed, empty entries left out.
std::vector<std::string> SplitFieldNames(const std::string& field_names);

class TDataSet : public TComponent {
 public:
  explicit TDataSet(TComponent* owner);
  // Frees the fields the dataset owns and detaches the rest and the data
  // sources. The slots of a derived class are gone by then, so a derived
  // dataset closes itself (Close()) in its own destructor.
  ~TDataSet() override;

  // Opening and closing.
  bool Active() const { return state_ != dsInactive && state_ != dsOpening; }
  // While the component is loading, the value waits for Loaded.
  void SetActive(bool active);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  TDataSetState State() const { return state_; }
  void CheckActive() const;
  void CheckInactive() const;

  // Navigation.
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Moves the active record by distance records; returns the distance moved.
  int MoveBy(int distance);
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const { return bof_ && eof_; }
  // Re-reads the records around the cursor's record: exact fails with
  // "Record not found" when the cursor's record is gone; centre puts the
  // record in the middle of the window instead of at the active position.
  void Resync(TResyncMode mode);
  // Brings the cursor to the active record.
  void UpdateCursorPos();
  // Forgets where the cursor stands; the next buffer access repositions it.
  void CursorPosChanged() { current_record_ = -1; }
  void Refresh();

  // Editing.
  void Edit();
  void Insert();
  void Append();
  virtual void Post();
  virtual void Cancel();
  void Delete();
  // Posts a modified edit and cancels an unmodified one.
  void CheckBrowseMode();
  // Asks the data links to write their controls' values into the fields.
  void UpdateRecord();
  bool Modified() const { return modified_; }
  bool CanModify() const { return GetCanModify(); }
  // The bytes of one record as the dataset stores it.
  uint16_t RecordSize() { return GetRecordSize(); }

  // Bookmarks.
  TBookmark GetBookmark();
  void GotoBookmark(const TBookmark& bookmark);
  virtual bool BookmarkValid(const TBookmark& bookmark);
  // Negative, 0 or positive as a sorts before, with or after b.
  virtual int CompareBookmarks(const TBookmark& a, const TBookmark& b);

  // Record numbers and counts; -1 where the dataset has none.
  int RecNo() const { return GetRecNo(); }
  virtual void SetRecNo(int value) { (void)value; }
  int RecordCount() const { return GetRecordCount(); }
  // Whether record numbers are meaningful.
  virtual bool IsSequenced() const { return true; }

  // Searching.
  virtual bool Locate(const std::string& key_fields, const Variant& key_values,
                      TLocateOptions options);
  virtual Variant Lookup(const std::string& key_fields, const Variant& key_values,
                         const std::string& result_fields);
  bool FindFirst() { return FindRecord(true, true); }
  bool FindLast() { return FindRecord(true, false); }
  bool FindNext() { return FindRecord(false, true); }
  bool FindPrior() { return FindRecord(false, false); }
  bool Found() const { return found_; }

  // Fields and definitions.
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TField* Fields(int index) const;
  TField* FindField(const std::string& name) const;
  // "Field '<name>' not found" when there is none.
  TField* FieldByName(const std::string& name) const;
  // The fields named in a ';'-separated list, in that order.
  std::vector<TField*> GetFieldList(const std::string& field_names) const;
  // One field's value, or an array of the values of several.
  Variant FieldValues(const std::string& field_names) const;
  TFieldDefs& FieldDefs() { return field_defs_; }
  TIndexDefs& IndexDefs() { return index_defs_; }
  // True while the fields were made from the definitions at open.
  bool DefaultFields() const { return default_fields_; }

  virtual std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode);
  // Releases what the dataset holds for a BLOB field of the active record.
  virtual void CloseBlob(TField* field);

  // Field data in the dataset's native value forms: strings zero-terminated,
  // integers and booleans as their C types, dates as int32 day numbers (day 1
  // = 1 January of year 1), times as int32 milliseconds of the day,
  // date-times as double milliseconds (day number x 86400000 + time). A
  // BCD field's own form is Currency; the native form is the dataset's,
  // reached through DataConvert.
  virtual bool GetFieldData(TField* field, void* buffer) = 0;
  virtual void SetFieldData(TField* field, const void* buffer) = 0;
  // Converts a field value between the field's form and the native one; the
  // base copies the bytes, as the forms are the same.
  virtual void DataConvert(TField* field, const void* source, void* dest, bool to_native);

  // Data links and controls.
  void DisableControls();
  // Sends one state change (when the state changed meanwhile) and one
  // dataset change to the links once the last DisableControls is undone.
  void EnableControls();
  bool ControlsDisabled() const { return disable_count_ != 0; }
  // Whether this dataset reaches the data source through its own master
  // source, directly or through other datasets.
  bool IsLinkedTo(TDataSource* source) const;
  // The master source of a detail dataset; none in the base.
  virtual TDataSource* GetDataSource() const { return nullptr; }

  // Filter properties; a concrete dataset applies them in its setters.
  const std::string& Filter() const { return filter_text_; }
  virtual void SetFilterText(const std::string& text) { filter_text_ = text; }
  bool Filtered() const { return filtered_; }
  virtual void SetFiltered(bool filtered) { filtered_ = filtered; }
  TFilterOptions FilterOptions() const { return filter_options_; }
  virtual void SetFilterOptions(TFilterOptions options) { filter_options_ = options; }
  const TFilterRecordEvent& OnFilterRecord() const { return on_filter_record_; }
  virtual void SetOnFilterRecord(const TFilterRecordEvent& handler) { on_filter_record_ = handler; }

  bool AutoCalcFields() const { return auto_calc_fields_; }
  void SetAutoCalcFields(bool value) { auto_calc_fields_ = value; }
  int BufferCount() const { return buffer_count_; }

  // Opens a dataset whose Active was set while it was loading.
  void Loaded() override;

  // Sends a data event to the dataset's own handling and its data sources.
  virtual void DataEvent(TDataEvent event, intptr_t info);
  // A definition list changed by a hand other than the dataset's filling.
  virtual void DefChanged(TPersistent* sender) { (void)sender; }
  // Fills the field definitions: from the open cursor, or by opening one for
  // the purpose (OpenCursor(true)) and closing it again.
  virtual void InitFieldDefs();
  // Fills the index definitions; the base has none.
  virtual void UpdateIndexDefs() {}

  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent OnNewRecord, OnCalcFields;
  TDataSetErrorEvent OnPostError, OnEditError, OnDeleteError;

 protected:
  // Record buffers: the dataset decides their size and layout.
  virtual TRecordBuffer AllocRecordBuffer() = 0;
  virtual void FreeRecordBuffer(TRecordBuffer& buffer) = 0;
  virtual uint16_t GetRecordSize() { return 0; }
  // Fetches the current, next or prior record into the buffer and moves the
  // cursor there; check asks for errors to be raised rather than answered.
  virtual TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool check) = 0;
  // Blanks a new record (the dataset's own defaults).
  virtual void InternalInitRecord(TRecordBuffer buffer) = 0;
  // Blanks a buffer for a new record: InternalInitRecord, calculated area
  // cleared, bookmark flag bfInserted.
  virtual void InitRecord(TRecordBuffer buffer);
  virtual void ClearCalcFields(TRecordBuffer buffer) { (void)buffer; }

  // Cursor.
  virtual bool IsCursorOpen() const = 0;
  // Opens the cursor; with info_query only to read the field definitions.
  virtual void OpenCursor(bool info_query);
  // Closes what OpenCursor opened; also after a failed open.
  virtual void CloseCursor();
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual void InternalInitFieldDefs() = 0;
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalGotoBookmark(const TBookmark& bookmark) = 0;
  // Brings the cursor to the record held in the buffer.
  virtual void InternalSetToRecord(TRecordBuffer buffer) = 0;
  virtual void InternalRefresh() {}
  virtual void InternalHandleException();

  // Editing. InternalPost writes the active buffer (a new record in the
  // insert state) and leaves the cursor on the written record;
  // InternalDelete leaves it on the record after the deleted one.
  virtual void InternalEdit() {}
  virtual void InternalPost() = 0;
  virtual void InternalCancel() {}
  virtual void InternalDelete() = 0;
  virtual void DoOnNewRecord();
  virtual bool GetCanModify() const { return true; }

  // Bookmarks in buffers.
  virtual void GetBookmarkData(TRecordBuffer buffer, void* data) = 0;
  virtual void SetBookmarkData(TRecordBuffer buffer, const void* data) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) = 0;
  virtual void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) = 0;
  uint16_t BookmarkSize() const { return bookmark_size_; }
  void SetBookmarkSize(uint16_t size) { bookmark_size_ = size; }

  virtual int GetRecNo() const { return -1; }
  virtual int GetRecordCount() const { return -1; }
  virtual bool GetIsIndexField(const TField* field) const {
    (void)field;
    return false;
  }
  virtual Variant GetStateFieldValue(TDataSetState state, TField* field);
  virtual void SetStateFieldValue(TDataSetState state, TField* field, const Variant& value);
  virtual bool FindRecord(bool restart, bool go_forward);

  // Buffers and state for descendants.
  TRecordBuffer ActiveBuffer() const {
    return buffers_.empty() ? nullptr : buffers_[active_record_];
  }
  TRecordBuffer CalcBuffer() const { return calc_buffer_; }
  // A buffer the dataset may use for searches; it holds no record.
  TRecordBuffer TempBuffer() const;
  int ActiveRecord() const { return active_record_; }
  int RecordCountInBuffers() const { return record_count_; }
  TRecordBuffer Buffer(int index) const { return buffers_[index]; }
  int CalcFieldsSize() const { return calc_fields_size_; }
  // Resizes the ring (held buffers plus the spare); a failure while it grows
  // passes on with the buffers made so far kept.
  void SetBufListSize(int size);
  void SetBufferCount(int count);
  void UpdateBufferCount();
  void ClearBuffers();
  // Enters a temporary state with the controls held; RestoreState leaves it.
  TDataSetState SetTempState(TDataSetState state);
  void RestoreState(TDataSetState state);
  void SetState(TDataSetState state);
  void SetModified(bool modified) { modified_ = modified; }
  void SetFound(bool found) { found_ = found; }
  void CheckCanModify() const;
  void CheckWriteMode() const;
  // Runs the operation with the cursor on the active record; an
  // EDatabaseError goes to the error event, whose answer fails, aborts or
  // retries.
  void CheckOperation(const std::function<void()>& operation, const TDataSetErrorEvent& on_error);
  void DoBeforeScroll();
  void DoAfterScroll();
  // Computes the calculated fields into the buffer in the calculated-fields
  // state; GetCalcFields does so only when the dataset has such fields.
  void CalculateFields(TRecordBuffer buffer);
  void GetCalcFields(TRecordBuffer buffer);
  // Makes one field object per definition, owned by the dataset.
  void CreateFields();
  // Attaches the fields to the definitions (field numbers, calculated
  // offsets) or detaches them.
  void BindFields(bool binding);
  // Frees the fields the dataset owns.
  void DestroyFields();

 private:
  friend class TField;
  friend class TDataSource;
  friend class TDataLink;

  // The field's value in its own form, converted from the native one into
  // the buffer; the native form is GetFieldData's.
  bool GetConvertedFieldData(TField* field, void* buffer);
  // The field's value from its own form (native false) or the native one.
  void SetFieldBytes(TField* field, const void* buffer, bool native);
  void AddField(TField* field);
  void RemoveField(TField* field);
  void AddDataSource(TDataSource* source);
  void RemoveDataSource(TDataSource* source);
  // Points the cursor at the record of buffer index (by its bookmark flag).
  void SetCurrentRecord(int index);
  bool GetNextRecord();
  bool GetPriorRecord();
  void GetNextRecords();
  void GetPriorRecords();
  // The spare buffer at index from goes to index to; those between shift.
  void MoveBuffer(int from, int to);
  // One record in the window, active and under the cursor.
  void ActivateBuffers();
  // First (true) or Last (false).
  void MoveToEnd(bool first);
  void BeginInsertAppend();
  void EndInsertAppend();
  void Notify(const TDataSetNotifyEvent& event) {
    if (event) event(this);
  }
  void NotifySources(TDataEvent event, intptr_t info);
  void FreeFieldBuffers();

  TDataSetState state_ = dsInactive;
  bool streamed_active_ = false;
  bool bof_ = true;
  bool eof_ = true;
  bool modified_ = false;
  bool found_ = false;
  bool default_fields_ = false;
  bool auto_calc_fields_ = true;
  bool filtered_ = false;
  TFilterOptions filter_options_;
  std::string filter_text_;
  TFilterRecordEvent on_filter_record_;

  std::vector<TRecordBuffer> buffers_;  // the window, then the spare
  int buffer_count_ = 0;                // records the window holds at most
  int record_count_ = 0;                // records the window holds now
  int active_record_ = 0;
  int current_record_ = -1;  // the buffer the cursor stands on; -1 unknown
  TRecordBuffer temp_buffer_ = nullptr;
  TRecordBuffer calc_buffer_ = nullptr;
  uint16_t bookmark_size_ = 0;
  int calc_fields_size_ = 0;

  std::vector<TField*> fields_;
  TFieldDefs field_defs_{this};
  TIndexDefs index_defs_{this};
  std::vector<TDataSource*> data_sources_;
  int disable_count_ = 0;
  TDataSetState disable_state_ = dsInactive;
  TDataEvent enable_event_ = deDataSetChange;
};

}  // namespace jw
