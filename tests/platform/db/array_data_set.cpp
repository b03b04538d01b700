#include "array_data_set.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/db/db_errors.h"
#include "platform/db/field.h"
#include "platform/db/field_factory.h"

namespace jw {

TArrayDataSet::TArrayDataSet(TComponent* owner, std::vector<ArrayFieldSpec> specs)
    : TDataSet(owner), specs_(std::move(specs)) {
  for (const ArrayFieldSpec& spec : specs_) {
    const std::unique_ptr<TField> probe(CreateFieldOfType(spec.type, nullptr));
    probe->SetSize(spec.size);
    offsets_.push_back(image_size_);
    image_size_ += 1 + probe->DataSize();
  }
}

TArrayDataSet::~TArrayDataSet() {
  Close();
}

int32_t TArrayDataSet::AddRecord() {
  records_.push_back({next_id_, std::vector<uint8_t>(image_size_, 0)});
  for (int offset : offsets_) records_.back().image[offset] = 1;
  return next_id_++;
}

std::vector<uint8_t> TArrayDataSet::RecordField(int index, int field) const {
  const int offset = offsets_[field];
  const int end = field + 1 < static_cast<int>(offsets_.size()) ? offsets_[field + 1] : image_size_;
  const std::vector<uint8_t>& image = records_[index].image;
  if (image[offset] != 0) return {};
  return std::vector<uint8_t>(image.begin() + offset + 1, image.begin() + end);
}

void TArrayDataSet::SetRecordField(int index, int field, const std::vector<uint8_t>& value) {
  std::vector<uint8_t>& image = records_[index].image;
  image[offsets_[field]] = 0;
  std::copy(value.begin(), value.end(), image.begin() + offsets_[field] + 1);
}

std::vector<int32_t> TArrayDataSet::WindowIds() const {
  std::vector<int32_t> ids;
  for (int i = 0; i < RecordCountInBuffers(); ++i) {
    int32_t id = 0;
    std::memcpy(&id, Buffer(i) + InfoOffset() + 5, 4);
    ids.push_back(id);
  }
  return ids;
}

TBookmark TArrayDataSet::BookmarkOf(int32_t id) {
  TBookmark bookmark(4);
  std::memcpy(bookmark.data(), &id, 4);
  return bookmark;
}

int32_t TArrayDataSet::IdOf(const TBookmark& bookmark) {
  int32_t id = 0;
  if (bookmark.size() == 4) std::memcpy(&id, bookmark.data(), 4);
  return id;
}

TRecordBuffer TArrayDataSet::AllocRecordBuffer() {
  return new uint8_t[BufferSize()]();
}

void TArrayDataSet::FreeRecordBuffer(TRecordBuffer& buffer) {
  delete[] buffer;
  buffer = nullptr;
}

TGetResult TArrayDataSet::GetRecord(TRecordBuffer buffer, TGetMode mode, bool check) {
  (void)check;
  switch (mode) {
    case gmNext:
      if (position_ < StoredCount()) ++position_;
      if (position_ == StoredCount()) return grEOF;
      break;
    case gmPrior:
      if (position_ >= 0) --position_;
      if (position_ < 0) return grBOF;
      break;
    case gmCurrent:
      if (position_ < 0 || position_ >= StoredCount()) return grError;
      break;
  }
  const Record& record = records_[position_];
  std::copy(record.image.begin(), record.image.end(), buffer);
  const int32_t recno = position_ + 1;
  std::memcpy(buffer + InfoOffset(), &recno, 4);
  buffer[InfoOffset() + 4] = bfCurrent;
  std::memcpy(buffer + InfoOffset() + 5, &record.id, 4);
  GetCalcFields(buffer);
  return grOK;
}

void TArrayDataSet::InternalInitRecord(TRecordBuffer buffer) {
  std::fill(buffer, buffer + image_size_, 0);
  for (int offset : offsets_) buffer[offset] = 1;
  const int32_t recno = -1;
  std::memcpy(buffer + InfoOffset(), &recno, 4);
}

void TArrayDataSet::ClearCalcFields(TRecordBuffer buffer) {
  std::fill(buffer + image_size_, buffer + InfoOffset(), 0);
}

void TArrayDataSet::OpenCursor(bool info_query) {
  cursor_open_ = true;
  TDataSet::OpenCursor(info_query);
}

void TArrayDataSet::CloseCursor() {
  ++close_cursor_calls;
  TDataSet::CloseCursor();
  cursor_open_ = false;
}

void TArrayDataSet::InternalOpen() {
  log.push_back("InternalOpen");
  if (fail_open) DatabaseError("The array cannot be opened");
  FieldDefs().SetUpdated(false);
  FieldDefs().Update();
  if (DefaultFields()) CreateFields();
  BindFields(true);
  SetBookmarkSize(4);
  position_ = -1;
}

void TArrayDataSet::InternalClose() {
  log.push_back("InternalClose");
  BindFields(false);
  if (DefaultFields()) DestroyFields();
}

void TArrayDataSet::InternalInitFieldDefs() {
  FieldDefs().Clear();
  for (const ArrayFieldSpec& spec : specs_) FieldDefs().Add(spec.name, spec.type, spec.size);
}

void TArrayDataSet::InternalGotoBookmark(const TBookmark& bookmark) {
  const int32_t id = IdOf(bookmark);
  auto found = std::find_if(records_.begin(), records_.end(),
                            [id](const Record& record) { return record.id == id; });
  position_ = found == records_.end() ? -1 : static_cast<int>(found - records_.begin());
}

void TArrayDataSet::InternalSetToRecord(TRecordBuffer buffer) {
  TBookmark bookmark(4);
  GetBookmarkData(buffer, bookmark.data());
  InternalGotoBookmark(bookmark);
}

void TArrayDataSet::InternalPost() {
  log.push_back("InternalPost");
  if (post_failures > 0) {
    --post_failures;
    DatabaseError("The array refuses the record");
  }
  const TRecordBuffer buffer = ActiveBuffer();
  if (State() == dsEdit) {
    std::copy(buffer, buffer + image_size_, records_[position_].image.begin());
    return;
  }
  // The framework has put the cursor where the new record belongs: on the
  // record it was inserted before, or past the end for an appended one.
  const int index = std::max(position_, 0);
  records_.insert(records_.begin() + index,
                  {next_id_++, std::vector<uint8_t>(buffer, buffer + image_size_)});
  position_ = index;
}

void TArrayDataSet::InternalDelete() {
  log.push_back("InternalDelete");
  records_.erase(records_.begin() + position_);
}

void TArrayDataSet::GetBookmarkData(TRecordBuffer buffer, void* data) {
  std::memcpy(data, buffer + InfoOffset() + 5, 4);
}

void TArrayDataSet::SetBookmarkData(TRecordBuffer buffer, const void* data) {
  std::memcpy(buffer + InfoOffset() + 5, data, 4);
}

TBookmarkFlag TArrayDataSet::GetBookmarkFlag(TRecordBuffer buffer) {
  return static_cast<TBookmarkFlag>(buffer[InfoOffset() + 4]);
}

void TArrayDataSet::SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) {
  buffer[InfoOffset() + 4] = flag;
}

int TArrayDataSet::GetRecNo() const {
  const TRecordBuffer buffer = StateBuffer();
  if (buffer == nullptr) return -1;
  int32_t recno = 0;
  std::memcpy(&recno, buffer + InfoOffset(), 4);
  return recno;
}

TRecordBuffer TArrayDataSet::StateBuffer() const {
  switch (State()) {
    case dsBrowse:
      return IsEmpty() ? nullptr : ActiveBuffer();
    case dsEdit:
    case dsInsert:
      return ActiveBuffer();
    case dsCalcFields:
      return CalcBuffer();
    default:
      return nullptr;
  }
}

bool TArrayDataSet::GetFieldData(TField* field, void* buffer) {
  const TRecordBuffer record = StateBuffer();
  if (record == nullptr) return false;
  const uint8_t* place = field->FieldNo() > 0 ? record + FieldOffset(field->FieldNo())
                                              : record + image_size_ + field->Offset();
  // Data fields keep a null byte, calculated ones a has-value byte.
  const bool has_value = field->FieldNo() > 0 ? place[0] == 0 : place[0] != 0;
  if (has_value && buffer != nullptr) std::memcpy(buffer, place + 1, field->DataSize());
  return has_value;
}

void TArrayDataSet::SetFieldData(TField* field, const void* buffer) {
  if (!IsWriteState(State())) DatabaseError(db_text::kNotEditing, this);
  const TRecordBuffer record = StateBuffer();
  if (field->FieldNo() > 0) {
    if (field->ReadOnly()) DatabaseErrorFmt(db_text::kFieldReadOnly, field->DisplayName());
    field->Validate(buffer);
  }
  uint8_t* place = field->FieldNo() > 0 ? record + FieldOffset(field->FieldNo())
                                        : record + image_size_ + field->Offset();
  const bool has_value = buffer != nullptr;
  place[0] = field->FieldNo() > 0 ? !has_value : has_value;
  std::fill(place + 1, place + 1 + field->DataSize(), 0);
  if (has_value) std::memcpy(place + 1, buffer, field->DataSize());
  if (State() != dsCalcFields) DataEvent(deFieldChange, reinterpret_cast<intptr_t>(field));
}

}  // namespace jw
