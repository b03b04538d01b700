// TDataSet: opening and closing, fields and definitions, states, events and
// data sources. Navigation is in data_set_navigation.cpp, editing in
// data_set_editing.cpp.
#include "platform/db/data_set.h"

#include <algorithm>

#include "platform/db/binary_fields.h"
#include "platform/db/data_source.h"
#include "platform/db/db_errors.h"
#include "platform/db/field.h"
#include "platform/rtl/strings.h"

namespace jw {

TDataSet::TDataSet(TComponent* owner) : TComponent(owner) {}

TDataSet::~TDataSet() {
  Destroying();
  // Copies: the lists shrink as fields leave.
  for (TField* field : std::vector<TField*>(fields_)) {
    if (field->Owner() == this) {
      delete field;
    } else {
      field->dataset_ = nullptr;
    }
  }
  fields_.clear();
  // The sources forget the dataset without asking it for anything more: its
  // slots are gone with the derived class.
  for (TDataSource* source : data_sources_) {
    source->dataset_ = nullptr;
    source->UpdateState();
  }
}

void TDataSet::SetActive(bool active) {
  if (ComponentState().Contains(csLoading)) {
    streamed_active_ = active;
    return;
  }
  if (active == Active()) return;
  if (active) {
    Notify(BeforeOpen);
    SetState(dsOpening);
    try {
      OpenCursor(false);
    } catch (...) {
      SetState(dsInactive);
      CloseCursor();
      throw;
    }
    // A dataset whose opening did its work without a cursor to show (an SQL
    // statement that returns no rows) stays closed.
    if (!IsCursorOpen()) {
      SetState(dsInactive);
      return;
    }
    SetState(dsBrowse);
    Notify(AfterOpen);
    if (!IsEmpty()) Notify(AfterScroll);
    return;
  }
  if (!ComponentState().Contains(csDestroying)) Notify(BeforeClose);
  SetState(dsInactive);
  CloseCursor();
  if (!ComponentState().Contains(csDestroying)) Notify(AfterClose);
}

void TDataSet::Loaded() {
  TComponent::Loaded();
  if (!streamed_active_) return;
  try {
    SetActive(true);
  } catch (...) {
    if (!ComponentState().Contains(csDesigning)) throw;
    InternalHandleException();
  }
}

void TDataSet::OpenCursor(bool info_query) {
  if (info_query) {
    InternalInitFieldDefs();
    return;
  }
  default_fields_ = fields_.empty();
  InternalOpen();
  buffer_count_ = 0;  // makes the ring anew
  UpdateBufferCount();
  bof_ = true;
  eof_ = record_count_ == 0;
}

void TDataSet::CloseCursor() {
  FreeFieldBuffers();
  ClearBuffers();
  SetBufListSize(0);
  if (IsCursorOpen()) InternalClose();
  // Fields added while closed are the user's, whatever the last open made.
  default_fields_ = false;
}

void TDataSet::CheckActive() const {
  if (!Active()) DatabaseError(db_text::kDataSetClosed, this);
}

void TDataSet::CheckInactive() const {
  if (Active()) DatabaseError(db_text::kDataSetOpen, this);
}

void TDataSet::InitFieldDefs() {
  if (IsCursorOpen()) {
    InternalInitFieldDefs();
    return;
  }
  try {
    OpenCursor(true);
  } catch (...) {
    CloseCursor();
    throw;
  }
  CloseCursor();
}

void TDataSet::SetState(TDataSetState state) {
  if (state_ == state) return;
  state_ = state;
  modified_ = false;
  DataEvent(deUpdateState, 0);
}

TDataSetState TDataSet::SetTempState(TDataSetState state) {
  const TDataSetState old = state_;
  state_ = state;
  ++disable_count_;
  modified_ = false;
  return old;
}

void TDataSet::RestoreState(TDataSetState state) {
  state_ = state;
  --disable_count_;
  modified_ = false;
}

void TDataSet::InternalHandleException() {
  ApplicationHandleException(this);
}

// Fields and definitions.

TField* TDataSet::Fields(int index) const {
  if (index < 0 || index >= FieldCount()) DatabaseError(db_text::kFieldIndexError, this);
  return fields_[index];
}

TField* TDataSet::FindField(const std::string& name) const {
  for (TField* field : fields_) {
    if (SameText(field->FieldName(), name)) return field;
  }
  return nullptr;
}

TField* TDataSet::FieldByName(const std::string& name) const {
  TField* field = FindField(name);
  if (field == nullptr) DatabaseError(Format(db_text::kFieldNotFound, name), this);
  return field;
}

std::vector<std::string> SplitFieldNames(const std::string& field_names) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= field_names.size()) {
    size_t end = field_names.find(';', start);
    if (end == std::string::npos) end = field_names.size();
    std::string name = Trim(field_names.substr(start, end - start));
    if (!name.empty()) names.push_back(std::move(name));
    start = end + 1;
  }
  return names;
}

std::vector<TField*> TDataSet::GetFieldList(const std::string& field_names) const {
  std::vector<TField*> list;
  for (const std::string& name : SplitFieldNames(field_names)) list.push_back(FieldByName(name));
  return list;
}

Variant TDataSet::FieldValues(const std::string& field_names) const {
  const std::vector<TField*> list = GetFieldList(field_names);
  if (list.size() == 1) return list[0]->Value();
  std::vector<Variant> values;
  for (TField* field : list) values.push_back(field->Value());
  return Variant::ArrayOf(std::move(values));
}

void TDataSet::AddField(TField* field) {
  if (FindField(field->FieldName()) != nullptr && !field->FieldName().empty()) {
    DatabaseError(Format(db_text::kDuplicateFieldName, field->FieldName()), this);
  }
  fields_.push_back(field);
}

void TDataSet::RemoveField(TField* field) {
  fields_.erase(std::remove(fields_.begin(), fields_.end(), field), fields_.end());
}

void TDataSet::CreateFields() {
  for (int i = 0; i < field_defs_.Count(); ++i) field_defs_.Items(i)->CreateField(this, this);
}

void TDataSet::BindFields(bool binding) {
  calc_fields_size_ = 0;
  for (TField* field : fields_) {
    if (!binding) {
      field->Bind(0, 0);
    } else if (field->FieldKind() == fkCalculated || field->FieldKind() == fkLookup) {
      field->Bind(-1, calc_fields_size_);
      calc_fields_size_ += field->DataSize() + 1;
    } else {
      field->Bind(field_defs_.Find(field->FieldName()).FieldNo(), 0);
    }
  }
}

void TDataSet::DestroyFields() {
  for (TField* field : std::vector<TField*>(fields_)) {
    if (field->Owner() == this) delete field;
  }
}

void TDataSet::FreeFieldBuffers() {
  for (TField* field : fields_) {
    auto* blob = dynamic_cast<TBlobField*>(field);
    if (blob != nullptr && blob->Modified()) {
      CloseBlob(blob);
      blob->SetModified(false);
    }
  }
}

std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField* field, TBlobStreamMode mode) {
  (void)field;
  (void)mode;
  return nullptr;
}

void TDataSet::CloseBlob(TField* field) {
  (void)field;
}

// Field values.

bool TDataSet::GetConvertedFieldData(TField* field, void* buffer) {
  std::vector<uint8_t> data(std::max(field->DataSize(), 1));
  if (!GetFieldData(field, data.data())) return false;
  DataConvert(field, data.data(), buffer, false);
  return true;
}

void TDataSet::SetFieldBytes(TField* field, const void* buffer, bool native) {
  if (native || buffer == nullptr) {
    SetFieldData(field, buffer);
    return;
  }
  std::vector<uint8_t> data(std::max(field->DataSize(), 1));
  DataConvert(field, buffer, data.data(), true);
  SetFieldData(field, data.data());
}

void TDataSet::DataConvert(TField* field, const void* source, void* dest, bool to_native) {
  (void)to_native;
  std::copy_n(static_cast<const uint8_t*>(source), field->DataSize(), static_cast<uint8_t*>(dest));
}

Variant TDataSet::GetStateFieldValue(TDataSetState state, TField* field) {
  const TDataSetState old = SetTempState(state);
  try {
    Variant value = field->Value();
    RestoreState(old);
    return value;
  } catch (...) {
    RestoreState(old);
    throw;
  }
}

void TDataSet::SetStateFieldValue(TDataSetState state, TField* field, const Variant& value) {
  const TDataSetState old = SetTempState(state);
  try {
    field->SetValue(value);
  } catch (...) {
    RestoreState(old);
    throw;
  }
  RestoreState(old);
}

void TDataSet::CalculateFields(TRecordBuffer buffer) {
  calc_buffer_ = buffer;
  if (state_ != dsInternalCalc) ClearCalcFields(buffer);
  Notify(OnCalcFields);
}

void TDataSet::GetCalcFields(TRecordBuffer buffer) {
  if (calc_fields_size_ == 0) return;
  const TDataSetState old = state_;
  state_ = dsCalcFields;
  try {
    CalculateFields(buffer);
  } catch (...) {
    state_ = old;
    throw;
  }
  state_ = old;
}

// Searching: a concrete dataset supplies these.

bool TDataSet::Locate(const std::string& key_fields, const Variant& key_values,
                      TLocateOptions options) {
  (void)key_fields;
  (void)key_values;
  (void)options;
  return false;
}

Variant TDataSet::Lookup(const std::string& key_fields, const Variant& key_values,
                         const std::string& result_fields) {
  (void)key_fields;
  (void)key_values;
  (void)result_fields;
  return Null();
}

bool TDataSet::FindRecord(bool restart, bool go_forward) {
  (void)restart;
  (void)go_forward;
  return false;
}

// Events to data sources and links.

void TDataSet::DataEvent(TDataEvent event, intptr_t info) {
  if (event == deFieldChange) {
    auto* field = reinterpret_cast<TField*>(info);
    if (field->FieldKind() == fkData || field->FieldKind() == fkInternalCalc) modified_ = true;
    if (state_ != dsSetKey && auto_calc_fields_ && calc_fields_size_ > 0 &&
        (state_ == dsEdit || state_ == dsInsert)) {
      GetCalcFields(ActiveBuffer());
    }
    field->Change();
  }
  if (disable_count_ == 0) {
    if (!data_sources_.empty()) NotifySources(event, info);
    return;
  }
  if (event == deLayoutChange || event == deFieldListChange) enable_event_ = deLayoutChange;
}

void TDataSet::NotifySources(TDataEvent event, intptr_t info) {
  // Every move sends events: a single source (the usual case) is called
  // without a copy of the list, which a source leaving during its event
  // may change.
  if (data_sources_.size() == 1) {
    data_sources_.front()->DataEvent(event, info);
    return;
  }
  for (TDataSource* source : std::vector<TDataSource*>(data_sources_)) {
    source->DataEvent(event, info);
  }
}

void TDataSet::DisableControls() {
  if (disable_count_ == 0) {
    disable_state_ = state_;
    enable_event_ = deDataSetChange;
  }
  ++disable_count_;
}

void TDataSet::EnableControls() {
  if (disable_count_ == 0) return;
  if (--disable_count_ != 0) return;
  if (disable_state_ != state_) NotifySources(deUpdateState, 0);
  if (disable_state_ != dsInactive && state_ != dsInactive) NotifySources(enable_event_, 0);
}

bool TDataSet::IsLinkedTo(TDataSource* source) const {
  // Climbs from the source through the masters; a dataset met twice closes a
  // loop that does not pass through this one.
  std::vector<const TDataSet*> seen;
  while (source != nullptr && source->DataSet() != nullptr) {
    const TDataSet* dataset = source->DataSet();
    if (dataset == this) return true;
    if (std::find(seen.begin(), seen.end(), dataset) != seen.end()) return false;
    seen.push_back(dataset);
    source = dataset->GetDataSource();
  }
  return false;
}

void TDataSet::AddDataSource(TDataSource* source) {
  data_sources_.push_back(source);
  UpdateBufferCount();
}

void TDataSet::RemoveDataSource(TDataSource* source) {
  data_sources_.erase(std::remove(data_sources_.begin(), data_sources_.end(), source),
                      data_sources_.end());
  UpdateBufferCount();
}

}  // namespace jw
