#include "engine/dataset/quire_query.h"

#include <cstring>

#include "engine/core/data_cursor.h"
#include "engine/core/data_file_format.h"
#include "engine/dataset/dataset_texts.h"
#include "engine/dataset/field_type_map.h"
#include "engine/dataset/quire_database.h"
#include "engine/dataset/quire_session.h"
#include "engine/sql/query_statement.h"
#include "engine/support/field_types.h"
#include "platform/db/data_source.h"
#include "platform/db/db_errors.h"
#include "platform/db/field.h"
#include "platform/rtl/filer.h"

namespace jw {
namespace {

constexpr std::string_view kNoSqlStatement = "No SQL statement available";
constexpr std::string_view kNoParamValue = "No value for parameter '%s'";
constexpr std::string_view kTooManyValues = "Parameter values too large to bind";

// The longest parameter name a field descriptor holds.
constexpr size_t kParamNameRoom = 30;
// A string parameter longer than this is bound as a text BLOB: an engine
// string holds at most 250 characters and its descriptor's length byte
// cannot count more.
constexpr size_t kMaxInPlaceString = 250;
constexpr uint8_t kBcdParamDecimals = 4;
// A descriptor locates its value by a 16-bit offset.
constexpr size_t kMaxBindBuffer = 0xFFFF;

// A BLOB value in the bind buffer: its length, then a pointer to its bytes.
constexpr int32_t kBlobSlotSize = static_cast<int32_t>(sizeof(int32_t) + sizeof(const uint8_t*));

bool AskSessionPassword(void* user_data, TDataCursor& cursor) {
  (void)cursor;
  return static_cast<TQuireSession*>(user_data)->PasswordCallback();
}

bool BindsAsBlob(const TQuireParam& param) {
  switch (param.DataType()) {
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
      return true;
    case ftString:
      return param.AsString().size() > kMaxInPlaceString;
    default:
      return false;
  }
}

// A field of an unknown or unsupported type fails with its message first.
int32_t SlotSize(const TQuireParam& param) {
  const int32_t size = param.GetDataSize();
  return BindsAsBlob(param) ? kBlobSlotSize : size;
}

}  // namespace

// The data link.

void TQuireQueryDataLink::ActiveChanged() {
  Rerun();
}

void TQuireQueryDataLink::RecordChanged(TField* field) {
  if (field == nullptr) Rerun();
}

void TQuireQueryDataLink::CheckBrowseMode() {
  if (query_.Active()) query_.CheckBrowseMode();
}

void TQuireQueryDataLink::Rerun() {
  if (!query_.Active()) return;
  query_.DisableControls();
  try {
    if (DataSet() != nullptr && DataSet()->Active() && DataSet()->State() != dsSetKey) {
      query_.Close();
      query_.Open();
    }
  } catch (...) {
    query_.EnableControls();
    throw;
  }
  query_.EnableControls();
}

// The query.

TQuireQuery::TQuireQuery(TComponent* owner) : TQuireDBDataSet(owner), data_link_(*this) {
  sql_.OnChange = [this](TPersistent*) { SQLChanged(); };
}

TQuireQuery::~TQuireQuery() {
  Destroying();
  CloseForDatabase();
  data_link_.SetDataSource(nullptr);
}

std::string TQuireQuery::EngineVersion() const {
  return std::string(kQuireEngineVersion);
}

void TQuireQuery::SetSQL(const TStrings& lines) {
  if (sql_.Text() == lines.Text()) return;
  CloseForDatabase();
  sql_.BeginUpdate();
  try {
    sql_.Assign(lines);
  } catch (...) {
    sql_.EndUpdate();
    throw;
  }
  sql_.EndUpdate();
}

void TQuireQuery::SetSQLScript(const TStrings& lines) {
  if (sql_script_.Text() != lines.Text()) sql_script_.Assign(lines);
}

void TQuireQuery::SetMaxRowCount(int32_t count) {
  if (count == max_row_count_) return;
  max_row_count_ = count;
  if (statement_ != nullptr) statement_->SetMaxRowCount(count);
}

void TQuireQuery::SetDataSource(TDataSource* source) {
  if (source != nullptr && IsLinkedTo(source)) DatabaseError(db_text::kCircularDataLink, this);
  data_link_.SetDataSource(source);
}

void TQuireQuery::SQLChanged() {
  text_ = sql_.Text();
  if (ComponentState().Contains(csLoading)) {
    ParseParams(nullptr, text_);
    return;
  }
  CloseForDatabase();
  kept_data_.clear();
  if (param_check_ || ComponentState().Contains(csDesigning)) {
    // Built aside, so that a failure leaves the old list as it was.
    TQuireParams fresh;
    ParseParams(&fresh, text_);
    fresh.AssignValues(params_);
    params_.Assign(&fresh);
  }
  DataEvent(dePropertyChange, 0);
}

void TQuireQuery::SetPrepared(bool prepared) {
  if (Cursor() != nullptr) DatabaseError(db_text::kDataSetOpen, this);
  if (prepared == prepared_) return;
  if (prepared) {
    if (text_.size() < 2) DatabaseError(kNoSqlStatement, this);
    // The statement lives on the database's directory: the database stays
    // open while the statement does. Opening prepares under the cursor's
    // reason, so that the close, dropping it, unprepares, and the next open
    // prepares with the settings and the database of that time. Only a
    // query prepared while closed holds its database for the statement.
    const bool hold = InUseReasons() == 0;
    if (hold) SetDatabaseInUse(kUsePrepared, true);
    try {
      PrepareQuery(text_);
    } catch (...) {
      if (hold) SetDatabaseInUse(kUsePrepared, false);
      throw;
    }
    prepared_ = true;
    return;
  }
  statement_.reset();
  prepared_ = false;
  SetDatabaseInUse(kUsePrepared, false);
}

void TQuireQuery::SetDatabaseName(const std::string& name) {
  if (!ComponentState().Contains(csLoading) && name != database_name_) {
    CheckInactive();
    SetPrepared(false);
  }
  TQuireDBDataSet::SetDatabaseName(name);
}

void TQuireQuery::SetSessionName(const std::string& name) {
  // A statement prepared in the old session would go on reading its
  // database.
  if (!ComponentState().Contains(csLoading) && name != SessionName()) {
    CheckInactive();
    SetPrepared(false);
  }
  TQuireDBDataSet::SetSessionName(name);
}

void TQuireQuery::CloseForDatabase() {
  Close();
  SetPrepared(false);
  SetDatabaseInUse(kUsePrepared, false);
}

void TQuireQuery::SetDatabaseInUse(uint8_t reason, bool in_use) {
  const uint16_t bit = reason < 16 ? static_cast<uint16_t>(1u << reason) : 0;
  if (!in_use && (InUseReasons() & ~bit) == 0 && (InUseReasons() & bit) != 0) {
    statement_.reset();
    prepared_ = false;
  }
  TQuireDBDataSet::SetDatabaseInUse(reason, in_use);
}

void TQuireQuery::PrepareQuery(const std::string& text) {
  TQuireDatabase& database = *Database();
  auto statement = std::make_unique<TQueryStatement>(*database.Session()->EngineSession(),
                                                     *database.EngineDirectory());
  statement->SetRequestLive(request_live_);
  statement->SetMaxRowCount(max_row_count_);
  statement->SetPasswordHandler(&AskSessionPassword, database.Session());
  int32_t consumed = 0;
  statement->Prepare(text.c_str(), consumed);
  statement_ = std::move(statement);
}

void TQuireQuery::PrepareToRun() {
  if (sql_.Count() == 0) DatabaseError(kNoSqlStatement, this);
  SetPrepared(true);
  TDataSet* master = data_link_.DataSet();
  if (master == nullptr) return;
  master->FieldDefs().Update();
  for (int32_t i = 0; i < params_.Count(); ++i) {
    TQuireParam& param = *params_.Items(i);
    if (param.Bound()) continue;
    param.Assign(master->FieldByName(param.Name()));
    param.SetBound(false);
  }
}

void TQuireQuery::OpenCursor(bool info_query) {
  if (!info_query) {
    // A failed open closes, which drops the reason again.
    SetDatabaseInUse(kUseCursor, true);
    PrepareToRun();
    // A statement without a result runs here, once, and the query stays
    // closed: there is no cursor to show, and no close to drop the reason.
    if (statement_->MainQuery()->Kind != kSqlSelect) {
      ExecuteQuery();
      SetDatabaseInUse(kUseCursor, false);
      return;
    }
  }
  TQuireDBDataSet::OpenCursor(info_query);
}

TCursorHandle TQuireQuery::CreateCursorHandle() {
  ExecuteQuery();
  return LentCursor(statement_->ResultCursor());
}

void TQuireQuery::ExecuteQuery() {
  if (params_.Count() > 0) BindParamValues();
  // Without a handler no row of the statement needs its progress worked out.
  statement_->Execute(OnQueryProgress ? &TQuireQuery::Progress : nullptr, this);
  rows_affected_ = statement_->GetRowsAffected();
  execution_time_ = statement_->GetExecutionTime();
}

void TQuireQuery::Progress(void* user_data, int32_t count, int32_t percent, bool& abort) {
  auto* query = static_cast<TQuireQuery*>(user_data);
  if (query->OnQueryProgress) {
    query->OnQueryProgress(query, count, static_cast<uint16_t>(percent), abort);
  }
}

// Per parameter, a field descriptor and a flag byte (1 with a value) with
// the value after it: a BLOB, and a string too long to be held in place, as
// its length and a pointer to its bytes; any other value in its layout.
void TQuireQuery::BindParamValues() {
  const int32_t count = params_.Count();
  std::vector<int32_t> slots(static_cast<size_t>(count));
  size_t buffer_size = 0;
  for (int32_t i = 0; i < count; ++i) {
    slots[i] = SlotSize(*params_.Items(i));
    buffer_size += static_cast<size_t>(slots[i]) + kParamFlagSize;
  }
  if (buffer_size > kMaxBindBuffer) DatabaseError(kTooManyValues, this);
  std::vector<uint8_t> values(buffer_size);
  std::vector<uint8_t> descriptors(static_cast<size_t>(count) * kFieldDescriptorSize);
  // The BLOB values' bytes, alive until the statement has copied them.
  std::vector<std::string> blobs;
  blobs.reserve(static_cast<size_t>(count));
  int32_t offset = 0;
  for (int32_t i = 0; i < count; ++i) {
    const TQuireParam& param = *params_.Items(i);
    const bool as_blob = BindsAsBlob(param);
    const TEngineFieldType engine = as_blob && param.DataType() == ftString
                                        ? EngineTypeOf(ftMemo)
                                        : EngineTypeOf(param.DataType());
    if (engine.Type == 0) DatabaseErrorFmt(kNoParamValue, param.Name());
    FieldDescriptor field;
    field.Number = static_cast<int16_t>(i + 1);
    field.Name = param.Name().substr(0, kParamNameRoom);
    field.Type = engine.Type;
    field.SubType = engine.Type == kFldBlob ? engine.SubType : 0;
    field.PhysicalLength = static_cast<uint8_t>(as_blob ? 0 : slots[i]);
    field.PhysicalDecimals = engine.Type == kFldBcd ? kBcdParamDecimals : 0;
    field.Offset = static_cast<uint16_t>(offset);
    field.EncodeTo(descriptors.data() + static_cast<size_t>(i) * kFieldDescriptorSize);
    uint8_t* slot = values.data() + offset;
    slot[0] = param.IsNull() ? 0 : 1;
    if (as_blob) {
      blobs.push_back(param.AsString());
      const auto length = static_cast<int32_t>(blobs.back().size());
      const auto* bytes = reinterpret_cast<const uint8_t*>(blobs.back().data());
      std::memcpy(slot + kParamFlagSize, &length, sizeof length);
      std::memcpy(slot + kParamFlagSize + sizeof length, &bytes, sizeof bytes);
    } else {
      param.GetData(slot + kParamFlagSize);
    }
    offset += slots[i] + kParamFlagSize;
  }
  statement_->BindParams(count, descriptors.data(), values.data());
}

void TQuireQuery::DefineProperties(TFiler& filer) {
  TQuireDBDataSet::DefineProperties(filer);
  filer.DefineBinaryProperty(
      "Data",
      [this](TStream& stream) {
        kept_data_.resize(static_cast<size_t>(stream.Size() - stream.Position()));
        stream.ReadBuffer(kept_data_.data(), static_cast<int64_t>(kept_data_.size()));
      },
      [this](TStream& stream) {
        stream.WriteBuffer(kept_data_.data(), static_cast<int64_t>(kept_data_.size()));
      },
      !kept_data_.empty());
}

}  // namespace jw
