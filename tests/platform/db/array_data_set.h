// TArrayDataSet: a dataset over records held in memory, the test double of a
// cursor for the framework's tests. Each record image holds, per field
// definition, a null byte and the value in its native form; the record's
// bookmark is an id given when it is posted. Its calls into the slots are
// written to a log, so tests can check the order of events.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/db/data_set.h"

namespace jw {

struct ArrayFieldSpec {
  std::string name;
  TFieldType type;
  int32_t size = 0;
};

class TArrayDataSet : public TDataSet {
 public:
  TArrayDataSet(TComponent* owner, std::vector<ArrayFieldSpec> specs);
  ~TArrayDataSet() override;

  // A record appended while closed, with its fields null; returns its id.
  int32_t AddRecord();
  // The stored bytes of field `field` (0-based) of the record at `index`;
  // empty while the value is null. Setting stores a non-null value.
  std::vector<uint8_t> RecordField(int index, int field) const;
  void SetRecordField(int index, int field, const std::vector<uint8_t>& value);
  int StoredCount() const { return static_cast<int>(records_.size()); }
  int32_t StoredId(int index) const { return records_[index].id; }
  // The bookmark ids the window holds, in order, and the active position.
  std::vector<int32_t> WindowIds() const;
  int WindowActive() const { return ActiveRecord(); }
  static TBookmark BookmarkOf(int32_t id);
  static int32_t IdOf(const TBookmark& bookmark);

  std::vector<std::string> log;
  bool fail_open = false;
  int close_cursor_calls = 0;
  // Fails this many InternalPost calls with an EDatabaseError first.
  int post_failures = 0;

 protected:
  TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(TRecordBuffer& buffer) override;
  uint16_t GetRecordSize() override { return static_cast<uint16_t>(image_size_); }
  TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool check) override;
  void InternalInitRecord(TRecordBuffer buffer) override;
  void ClearCalcFields(TRecordBuffer buffer) override;
  bool IsCursorOpen() const override { return cursor_open_; }
  void OpenCursor(bool info_query) override;
  void CloseCursor() override;
  void InternalOpen() override;
  void InternalClose() override;
  void InternalInitFieldDefs() override;
  void InternalFirst() override { position_ = -1; }
  void InternalLast() override { position_ = StoredCount(); }
  void InternalGotoBookmark(const TBookmark& bookmark) override;
  void InternalSetToRecord(TRecordBuffer buffer) override;
  void InternalEdit() override { log.push_back("InternalEdit"); }
  void InternalPost() override;
  void InternalCancel() override { log.push_back("InternalCancel"); }
  void InternalDelete() override;
  void GetBookmarkData(TRecordBuffer buffer, void* data) override;
  void SetBookmarkData(TRecordBuffer buffer, const void* data) override;
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) override;
  void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) override;
  int GetRecNo() const override;
  int GetRecordCount() const override { return StoredCount(); }
  bool GetFieldData(TField* field, void* buffer) override;
  void SetFieldData(TField* field, const void* buffer) override;

 private:
  struct Record {
    int32_t id;
    std::vector<uint8_t> image;
  };
  // Buffer layout: record image, calculated area, record number, bookmark
  // flag, bookmark id.
  int InfoOffset() const { return image_size_ + CalcFieldsSize(); }
  int BufferSize() const { return InfoOffset() + 9; }
  // The buffer the fields read and write in the current state; null when
  // there is none.
  TRecordBuffer StateBuffer() const;
  int FieldOffset(int field_no) const { return offsets_[field_no - 1]; }

  std::vector<ArrayFieldSpec> specs_;
  std::vector<int> offsets_;
  int image_size_ = 0;
  std::vector<Record> records_;
  int32_t next_id_ = 1;
  int position_ = -1;  // -1 before the first record, StoredCount() after the last
  bool cursor_open_ = false;
};

}  // namespace jw
