// TQuireDataSet: the active index, key buffers and ranges, the Filter and
// OnFilterRecord filters, the Find searches through them, Locate and
// Lookup.
#include <algorithm>
#include <cstring>

#include "engine/core/data_cursor.h"
#include "engine/core/index_file.h"
#include "engine/dataset/dataset_texts.h"
#include "engine/dataset/locate_filter.h"
#include "engine/dataset/quire_dataset.h"
#include "engine/support/engine_errors.h"
#include "engine/support/engine_heap.h"
#include "engine/support/field_types.h"
#include "platform/db/db_errors.h"
#include "platform/db/field.h"

namespace jw {
namespace {

std::vector<Variant> ValuesOf(const Variant& values, size_t count) {
  if (count == 1 && !VarIsArray(values)) return {values};
  std::vector<Variant> list;
  for (size_t i = 0; i < count; ++i) list.push_back(values[static_cast<int>(i)]);
  return list;
}

}  // namespace

// The active index.

void TQuireDataSet::ReadIndexInfo() {
  index_fields_.clear();
  index_case_insensitive_ = false;
  key_length_ = 0;
  if (!cursor_->NaturalOrderInForce()) {
    const IndexDescriptor& desc = cursor_->Table()->IndexFile().IndexDesc(cursor_->IndexSlot());
    index_fields_.assign(desc.FieldNumbers.begin(), desc.FieldNumbers.begin() + desc.SegmentCount);
    index_case_insensitive_ = desc.CaseInsensitive != 0;
    key_length_ = desc.KeyLength;
  }
  index_field_count_ = static_cast<int>(index_fields_.size());
}

TField* TQuireDataSet::GetIndexField(int index) const {
  if (index < 0 || index >= index_field_count_) DatabaseError(db_text::kFieldIndexError, this);
  const int16_t number = index_fields_[static_cast<size_t>(index)];
  for (int i = 0; i < FieldCount(); ++i) {
    if (Fields(i)->FieldNo() == number) return Fields(i);
  }
  std::string name;
  for (int i = 0; i < const_cast<TQuireDataSet*>(this)->FieldDefs().Count(); ++i) {
    const TFieldDef* def = const_cast<TQuireDataSet*>(this)->FieldDefs().Items(i);
    if (def->FieldNo() == number) name = def->Name();
  }
  DatabaseErrorFmt(quire_text::kIndexFieldMissing, name);
}

bool TQuireDataSet::GetIsIndexField(const TField* field) const {
  if (field->FieldNo() <= 0) return false;
  return std::find(index_fields_.begin(), index_fields_.end(), field->FieldNo()) !=
         index_fields_.end();
}

bool TQuireDataSet::IndexFits(const std::vector<TField*>& fields, bool case_insensitive) const {
  if (case_insensitive != index_case_insensitive_) return false;
  if (static_cast<int>(fields.size()) > index_field_count_) return false;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i]->FieldNo() != index_fields_[i]) return false;
  }
  return true;
}

void TQuireDataSet::SwitchToIndex(const std::string& index_name) {
  CancelKeyRange();
  UpdateCursorPos();
  // The empty name is the primary index, or natural order without one.
  if (index_name.empty()) {
    cursor_->SetIndexByNumber(0);
  } else {
    cursor_->SetIndexByName(index_name.substr(0, 255));
  }
  index_fields_.clear();
  index_field_count_ = 0;
  // The bookmark size follows the index, and with it every buffer's layout.
  SetBufListSize(0);
  SetBookmarkSize(static_cast<uint16_t>(cursor_->GetBookmarkSize()));
  ComputeBufferLayout();
  try {
    SetBufListSize(BufferCount() + 1);
  } catch (...) {
    SetState(dsInactive);
    CloseCursor();
    throw;
  }
  ReadIndexInfo();
}

// Key buffers.

void TQuireDataSet::AllocKeyBuffers() {
  for (int i = 0; i < kKeyBufferCount; ++i) {
    key_buffers_.push_back(static_cast<uint8_t*>(
        EngineAlloc(record_size_ + static_cast<int32_t>(sizeof(TKeyBufferHead)))));
    ClearKeyBuffer(static_cast<TKeyIndex>(i));
  }
  current_key_ = key_buffers_[0];
}

void TQuireDataSet::FreeKeyBuffers() {
  for (uint8_t*& buffer : key_buffers_) EngineFree(buffer);
  key_buffers_.clear();
  current_key_ = nullptr;
}

uint8_t* TQuireDataSet::GetKeyBuffer(TKeyIndex index) const {
  return key_buffers_.at(static_cast<size_t>(index));
}

TKeyBufferHead& TQuireDataSet::KeyHead(TKeyIndex index) const {
  return *reinterpret_cast<TKeyBufferHead*>(GetKeyBuffer(index));
}

uint8_t* TQuireDataSet::ClearKeyBuffer(TKeyIndex index) {
  uint8_t* buffer = GetKeyBuffer(index);
  std::memset(buffer, 0, sizeof(TKeyBufferHead) + record_size_);
  cursor_->ClearRecord(buffer + sizeof(TKeyBufferHead));
  return buffer;
}

void TQuireDataSet::SetKeyFields(TKeyIndex index, const std::vector<Variant>& values) {
  if (index_field_count_ == 0) DatabaseError(quire_text::kNoIndexActive, this);
  InTempState(dsSetKey, [&] {
    current_key_ = ClearKeyBuffer(index);
    for (size_t i = 0; i < values.size(); ++i) {
      GetIndexField(static_cast<int>(i))->SetValue(values[i]);
    }
    KeyHead(index).FieldCount = static_cast<int32_t>(values.size());
    KeyHead(index).Modified = Modified() ? 1 : 0;
  });
}

void TQuireDataSet::EndKeyEdit(bool keep) {
  DataEvent(deCheckBrowseMode, 0);
  if (keep) {
    current_key_[0] = Modified() ? 1 : 0;
  } else {
    std::memcpy(current_key_, GetKeyBuffer(TKeyIndex::Saved),
                sizeof(TKeyBufferHead) + record_size_);
  }
  SetState(dsBrowse);
  DataEvent(deDataSetChange, 0);
}

bool TQuireDataSet::SeekLookupKey() {
  std::vector<uint8_t> key(static_cast<size_t>(std::max(key_length_, 1)));
  const uint8_t* buffer = GetKeyBuffer(TKeyIndex::Lookup);
  cursor_->BuildKey(buffer + sizeof(TKeyBufferHead), key.data());
  return cursor_->SeekKey(true, key.data(), nullptr, 0, false,
                          KeyHead(TKeyIndex::Lookup).FieldCount);
}

// Ranges.

void TQuireDataSet::SetLinkRange(const std::vector<TField*>& master_fields) {
  InTempState(dsSetKey, [&] {
    current_key_ = ClearKeyBuffer(TKeyIndex::RangeStart);
    KeyHead(TKeyIndex::RangeStart).Modified = 1;
    for (size_t i = 0; i < master_fields.size(); ++i) {
      GetIndexField(static_cast<int>(i))->Assign(master_fields[i]);
    }
    KeyHead(TKeyIndex::RangeStart).FieldCount = static_cast<int32_t>(master_fields.size());
  });
  std::memcpy(GetKeyBuffer(TKeyIndex::RangeEnd), GetKeyBuffer(TKeyIndex::RangeStart),
              sizeof(TKeyBufferHead) + record_size_);
}

bool TQuireDataSet::ApplyKeyRange() {
  const size_t size = sizeof(TKeyBufferHead) + record_size_;
  if (std::memcmp(GetKeyBuffer(TKeyIndex::RangeStart), GetKeyBuffer(TKeyIndex::AppliedRangeStart),
                  size) == 0 &&
      std::memcmp(GetKeyBuffer(TKeyIndex::RangeEnd), GetKeyBuffer(TKeyIndex::AppliedRangeEnd),
                  size) == 0) {
    return false;
  }
  const auto build = [&](TKeyIndex index, std::vector<uint8_t>& key) -> const uint8_t* {
    if (KeyHead(index).Modified == 0) return nullptr;
    key.resize(static_cast<size_t>(std::max(key_length_, 1)));
    cursor_->BuildKey(GetKeyBuffer(index) + sizeof(TKeyBufferHead), key.data());
    return key.data();
  };
  std::vector<uint8_t> start;
  std::vector<uint8_t> end;
  const uint8_t* start_key = build(TKeyIndex::RangeStart, start);
  const uint8_t* end_key = build(TKeyIndex::RangeEnd, end);
  cursor_->SetRange(true, start_key, KeyHead(TKeyIndex::RangeStart).FieldCount, end_key,
                    KeyHead(TKeyIndex::RangeEnd).FieldCount);
  std::memcpy(GetKeyBuffer(TKeyIndex::AppliedRangeStart), GetKeyBuffer(TKeyIndex::RangeStart),
              size);
  std::memcpy(GetKeyBuffer(TKeyIndex::AppliedRangeEnd), GetKeyBuffer(TKeyIndex::RangeEnd), size);
  ReleaseLookupCursor();
  return true;
}

bool TQuireDataSet::RangeApplied() const {
  return !key_buffers_.empty() && (KeyHead(TKeyIndex::AppliedRangeStart).Modified != 0 ||
                                   KeyHead(TKeyIndex::AppliedRangeEnd).Modified != 0);
}

bool TQuireDataSet::CancelKeyRange() {
  if (!RangeApplied()) return false;
  cursor_->CancelRange();
  ClearKeyBuffer(TKeyIndex::AppliedRangeStart);
  ClearKeyBuffer(TKeyIndex::AppliedRangeEnd);
  ReleaseLookupCursor();
  return true;
}

// Filters.

TFilter* TQuireDataSet::AddExpressionFilter(const std::string& text, TFilterOptions options) {
  TCursorFilterOptions engine_options;
  engine_options.PartialMatchingOff = options.Contains(foNoPartialCompare);
  engine_options.CaseInsensitive = options.Contains(foCaseInsensitive);
  return cursor_->AddFilter(text.c_str(), nullptr, nullptr, nullptr, engine_options);
}

TFilter* TQuireDataSet::AddCallbackFilter() {
  return cursor_->AddFilter(nullptr, nullptr, &TQuireDataSet::FilterCallback, this,
                            TCursorFilterOptions());
}

bool TQuireDataSet::FilterCallback(void* user_data, const uint8_t* image, int32_t record_number) {
  (void)record_number;
  auto* dataset = static_cast<TQuireDataSet*>(user_data);
  // The handler reads a copy: the engine's image is not the dataset's. The
  // copy has a cleared calculated-field area after the image, as every
  // record buffer has, for the handler may write calculated fields.
  std::vector<uint8_t> record(dataset->record_size_ +
                              static_cast<size_t>(dataset->CalcFieldsSize()));
  std::memcpy(record.data(), image, dataset->record_size_);
  bool accept = true;
  dataset->InFilterState(record.data(), [&] {
    try {
      if (dataset->OnFilterRecord()) dataset->OnFilterRecord()(dataset, accept);
    } catch (...) {
      ApplicationHandleException(dataset);
    }
  });
  return accept;
}

void TQuireDataSet::CreateFilters() {
  if (!Filter().empty()) expression_filter_ = AddExpressionFilter(Filter(), FilterOptions());
  if (OnFilterRecord()) callback_filter_ = AddCallbackFilter();
  if (Filtered()) ActivateFilters();
}

void TQuireDataSet::ActivateFilters() {
  if (expression_filter_ != nullptr) cursor_->ActivateFilter(expression_filter_);
  if (callback_filter_ != nullptr) cursor_->ActivateFilter(callback_filter_);
}

void TQuireDataSet::DeactivateFilters() {
  if (callback_filter_ != nullptr) cursor_->DeactivateFilter(callback_filter_);
  if (expression_filter_ != nullptr) cursor_->DeactivateFilter(expression_filter_);
}

void TQuireDataSet::ReplaceFilter(TFilter*& slot, TFilter* filter) {
  if (Filtered()) {
    CursorPosChanged();
    ReleaseLookupCursor();
  }
  if (slot != nullptr) cursor_->DropFilter(slot);
  slot = filter;
  if (Filtered() && filter != nullptr) cursor_->ActivateFilter(filter);
}

void TQuireDataSet::SetFilterText(const std::string& text) {
  if (Active()) {
    CheckBrowseMode();
    if (text != Filter()) {
      ReplaceFilter(expression_filter_,
                    text.empty() ? nullptr : AddExpressionFilter(text, FilterOptions()));
    }
  }
  TDataSet::SetFilterText(text);
  if (Active() && Filtered()) First();
}

void TQuireDataSet::SetFilterOptions(TFilterOptions options) {
  if (Active()) {
    CheckBrowseMode();
    if (!(options == FilterOptions())) {
      ReplaceFilter(expression_filter_,
                    Filter().empty() ? nullptr : AddExpressionFilter(Filter(), options));
    }
  }
  TDataSet::SetFilterOptions(options);
  if (Active() && Filtered()) First();
}

void TQuireDataSet::SetFiltered(bool filtered) {
  if (!Active()) {
    TDataSet::SetFiltered(filtered);
    return;
  }
  CheckBrowseMode();
  if (filtered != Filtered()) {
    ReleaseLookupCursor();
    if (filtered) {
      ActivateFilters();
    } else {
      DeactivateFilters();
    }
    TDataSet::SetFiltered(filtered);
  }
  First();
}

void TQuireDataSet::SetOnFilterRecord(const TFilterRecordEvent& handler) {
  if (!Active()) {
    TDataSet::SetOnFilterRecord(handler);
    return;
  }
  CheckBrowseMode();
  TDataSet::SetOnFilterRecord(handler);
  ReplaceFilter(callback_filter_, handler ? AddCallbackFilter() : nullptr);
  if (Filtered()) First();
}

bool TQuireDataSet::FindRecord(bool restart, bool go_forward) {
  CheckBrowseMode();
  DoBeforeScroll();
  SetFound(false);
  UpdateCursorPos();
  CursorPosChanged();
  const bool temporary = !Filtered();
  if (temporary) ActivateFilters();
  int32_t result = 0;
  try {
    if (go_forward) {
      if (restart) cursor_->First();
      result = cursor_->GetNextRecord(nullptr);
    } else {
      if (restart) cursor_->Last();
      result = cursor_->GetPriorRecord(nullptr);
    }
  } catch (...) {
    if (temporary) DeactivateFilters();
    throw;
  }
  if (temporary) DeactivateFilters();
  if (result == 0) {
    Resync({rmExact, rmCenter});
    SetFound(true);
    DoAfterScroll();
  }
  return result == 0;
}

// Locate and Lookup.

bool TQuireDataSet::FindByFieldValues(const std::string& key_fields, const Variant& key_values,
                                      bool move_to, TLocateOptions options) {
  CheckBrowseMode();
  CursorPosChanged();
  const std::vector<TField*> fields = GetFieldList(key_fields);
  const std::vector<Variant> values = ValuesOf(key_values, fields.size());
  const bool case_insensitive = options.Contains(loCaseInsensitive);
  // A prefix is read as the filter search reads it: without a trailing
  // '*'; a null value is no prefix. An empty prefix, which every text
  // begins with, is left to the filter search.
  int32_t partial_length = 0;
  const bool partial = options.Contains(loPartialKey) && fields.back()->DataType() == ftString &&
                       !VarIsNull(values.back()) && !VarIsEmpty(values.back());
  if (partial) {
    const std::string prefix = values.back().AsString();
    partial_length = static_cast<int32_t>(prefix.size());
    if (partial_length > 0 && prefix.back() == '*') --partial_length;
  }
  TDataCursor* search = nullptr;
  if (!partial || partial_length > 0) {
    search = IndexFits(fields, case_insensitive) ? cursor_.get()
                                                 : GetLookupCursor(key_fields, case_insensitive);
  }
  if (search == nullptr) return FindByFilter(fields, values, options);
  const TRecordBuffer buffer = TempBuffer();
  const int32_t field_count = static_cast<int32_t>(fields.size()) - (partial ? 1 : 0);
  InFilterState(buffer, [&] {
    cursor_->ClearRecord(buffer);
    for (size_t i = 0; i < fields.size(); ++i) fields[i]->SetValue(values[i]);
  });
  const bool found =
      search->SeekKey(false, buffer, buffer, partial_length, partial_length > 0, field_count);
  if (found && move_to && search != cursor_.get()) CheckResult(cursor_->GotoCursorRecord(*search));
  return found;
}

bool TQuireDataSet::FindByFilter(const std::vector<TField*>& fields,
                                 const std::vector<Variant>& values, TLocateOptions options) {
  const TRecordBuffer buffer = TempBuffer();
  std::vector<TLocateTerm> terms(fields.size());
  InFilterState(buffer, [&] {
    cursor_->ClearRecord(buffer);
    for (size_t i = 0; i < fields.size(); ++i) {
      TField* field = fields[i];
      if (field->FieldNo() < 1) DatabaseErrorFmt(db_text::kFieldNotFound, field->FieldName());
      TLocateTerm& term = terms[i];
      term.Field = &cursor_->GetFieldDesc(field->FieldNo());
      if (VarIsNull(values[i]) || VarIsEmpty(values[i])) {
        term.IsNull = true;
      } else if (term.Field->Type == kFldString || term.Field->Type == kFldBlob) {
        term.Text = values[i].AsString();
        term.IsNull = term.Text.empty();
      } else {
        // The field converts the value as it would store it, so the filter
        // compares the very bytes a record holds.
        field->SetValue(values[i]);
        term.Value.resize(std::max<size_t>(term.Field->PhysicalLength, sizeof(double)));
        cursor_->GetFieldData(field->FieldNo(), buffer, term.IsNull, term.Value.data());
      }
    }
  });
  // The temporary filter goes again whatever happens.
  const TTokenTree tree =
      LocateFilterTree(terms, options.Contains(loCaseInsensitive), options.Contains(loPartialKey));
  TFilter* filter = cursor_->AddFilter(nullptr, tree.get(), nullptr, nullptr, {});
  int32_t result = 0;
  try {
    cursor_->ActivateFilter(filter);
    cursor_->First();
    result = cursor_->GetNextRecord(buffer);
  } catch (...) {
    cursor_->DropFilter(filter);
    throw;
  }
  cursor_->DropFilter(filter);
  return result == 0;
}

bool TQuireDataSet::Locate(const std::string& key_fields, const Variant& key_values,
                           TLocateOptions options) {
  DoBeforeScroll();
  const bool found = FindByFieldValues(key_fields, key_values, true, options);
  if (found) {
    Resync({rmExact, rmCenter});
    DoAfterScroll();
  }
  return found;
}

Variant TQuireDataSet::Lookup(const std::string& key_fields, const Variant& key_values,
                              const std::string& result_fields) {
  Variant result = Null();
  if (!FindByFieldValues(key_fields, key_values, false, {})) return result;
  InTempState(dsCalcFields, [&] {
    CalculateFields(TempBuffer());
    result = FieldValues(result_fields);
  });
  return result;
}

}  // namespace jw
