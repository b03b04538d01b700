// TDataLink: the receiving end of a data source. A control or a detail
// dataset derives from it and overrides the notifications it cares about;
// the link turns the dataset's data events into those calls.
#pragma once

#include <cstdint>

#include "platform/db/db_types.h"
#include "platform/rtl/persistent.h"

namespace jw {

class TDataSet;
class TDataSource;
class TField;

class TDataLink : public TPersistent {
 public:
  TDataLink() = default;
  ~TDataLink() override;

  TDataSource* DataSource() const { return data_source_; }
  void SetDataSource(TDataSource* source);
  TDataSet* DataSet() const;
  // The source is enabled and its dataset open.
  bool Active() const { return active_; }
  // The dataset is in the edit or insert state.
  bool Editing() const { return editing_; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool read_only);
  // The records the link wants to see at once; the dataset's window is the
  // largest count of its links.
  int BufferCount() const { return buffer_count_; }
  void SetBufferCount(int count);
  // Asks the source to start editing; true when the dataset then edits.
  bool Edit();
  // Has the link write its control's value into the field now.
  void UpdateRecord();

 protected:
  virtual void ActiveChanged() {}
  virtual void CheckBrowseMode() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int distance) {
    (void)distance;
    DataSetChanged();
  }
  virtual void EditingChanged() {}
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void RecordChanged(TField* field) { (void)field; }
  virtual void UpdateData() {}

 private:
  friend class TDataSource;

  void DataEvent(TDataEvent event, intptr_t info);
  void UpdateState();

  TDataSource* data_source_ = nullptr;
  bool active_ = false;
  bool editing_ = false;
  bool read_only_ = false;
  bool updating_ = false;
  int buffer_count_ = 1;
};

}  // namespace jw
