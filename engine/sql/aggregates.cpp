// The aggregate arithmetic of result rows: folding a row into a group's
// accumulator and finishing the group. A column that is NULL in the
// accumulator has no value yet and takes the row's value as it is, so a
// group that starts with NULL aggregates its later values correctly.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "engine/expr/expression_operators.h"
#include "engine/sql/data_query.h"
#include "engine/sql/query_statement.h"
#include "engine/sql/select_execution.h"
#include "engine/support/engine_errors.h"
#include "engine/support/field_types.h"
#include "engine/support/language_settings.h"
#include "engine/support/value_conversions.h"
#include "platform/rtl/numbers.h"

namespace jw {
namespace {

template <typename T>
T Load(const uint8_t* value) {
  T number;
  std::memcpy(&number, value, sizeof number);
  return number;
}

template <typename T>
void Save(T number, uint8_t* value) {
  std::memcpy(value, &number, sizeof number);
}

}  // namespace

double NumberOf(uint8_t type, const uint8_t* value) {
  switch (type) {
    case kFldSmallInt:
      return Load<int16_t>(value);
    case kFldWord:
      return Load<uint16_t>(value);
    case kFldInteger:
    case kFldDate:
    case kFldTime:
      return Load<int32_t>(value);
    case kFldFloat:
    case kFldTimeStamp:
      return Load<double>(value);
    case kFldBoolean:
      return value[0] != 0 ? 1 : 0;
    case kFldBcd:
      return BcdToFloat(Load<int64_t>(value));
    default:
      return 0;
  }
}

int32_t IntegerOf(uint8_t type, const uint8_t* value) {
  switch (type) {
    case kFldSmallInt:
      return Load<int16_t>(value);
    case kFldWord:
      return Load<uint16_t>(value);
    default:
      return Load<int32_t>(value);
  }
}

// Amounts add exactly in the currency form, at the column's scale; a sum
// that the currency form or the column's encoding cannot hold raises the
// engine error of a value above its field's maximum (or below its minimum).
void TSelectExecution::AddAmount(const TResultField& item, int32_t decimals, const uint8_t* value,
                                 uint8_t* total) const {
  const int64_t a = Load<int64_t>(total);
  const int64_t b = Load<int64_t>(value);
  try {
    Save(CurrencyToBcd(decimals, BcdToCurrency(a) + BcdToCurrency(b)), total);
  } catch (const Exception&) {
    RaiseEngineError(BcdToFloat(a) + BcdToFloat(b) > 0 ? kErrAboveMaximum : kErrBelowMinimum,
                     result_->TableName(), item.ResultName);
  }
}

void TSelectExecution::AddValue(const TResultField& item, const TResultSlot& slot,
                                const uint8_t* value, uint8_t* total) const {
  switch (slot.Type) {
    case kFldBcd:
      AddAmount(item, slot.Decimals, value, total);
      break;
    case kFldFloat:
    case kFldTimeStamp:
      Save(Load<double>(total) + Load<double>(value), total);
      break;
    case kFldSmallInt:
    case kFldWord:
      // 16 bits, wrapping as a stored smallint or word keeps the low bits.
      Save(static_cast<uint16_t>(Load<uint16_t>(total) + Load<uint16_t>(value)), total);
      break;
    default:
      // Integers, dates and times add as the expression language's + does.
      Save(WrapAdd(Load<int32_t>(total), Load<int32_t>(value)), total);
      break;
  }
}

void TSelectExecution::FoldValue(const TResultField& item, const TResultSlot& slot,
                                 const uint8_t* value, uint8_t* total) const {
  const uint8_t type = slot.Type;
  switch (item.Aggregate) {
    case kAggregateSum:
    case kAggregateCount:
    case kAggregateAvg:
      AddValue(item, slot, value, total);
      break;
    case kAggregateMin:
    case kAggregateMax: {
      int32_t order = 0;
      if (type == kFldString) {
        order = CompareLocaleStrings(query_.Options.LanguageId, query_.Options.SortId,
                                     reinterpret_cast<const char*>(value), false, 0,
                                     reinterpret_cast<const char*>(total));
      } else if (type == kFldBcd) {
        const Currency a = BcdToCurrency(Load<int64_t>(value));
        const Currency b = BcdToCurrency(Load<int64_t>(total));
        order = a < b ? -1 : (a > b ? 1 : 0);
      } else {
        const double a = NumberOf(type, value);
        const double b = NumberOf(type, total);
        order = a < b ? -1 : (a > b ? 1 : 0);
      }
      if ((item.Aggregate == kAggregateMin && order < 0) ||
          (item.Aggregate == kAggregateMax && order > 0)) {
        std::memcpy(total, value, slot.Length);
      }
      break;
    }
    default:
      break;
  }
}

void TSelectExecution::Fold(const uint8_t* row, uint8_t* accumulator) {
  TDataCursor& cursor = *result_;
  // A plain column is stored as its value's bytes behind its null byte,
  // exactly as the cursor would store them: it folds in place. Other
  // columns are read into these and written back through the cursor.
  uint8_t value[kMaxFieldSize + 8] = {};
  uint8_t total[kMaxFieldSize + 8] = {};
  const auto copy = [&](int32_t field) {
    const TResultSlot& slot = result_slots_[static_cast<size_t>(field - 1)];
    if (slot.Plain) {
      if (row[slot.Offset] != 0) {
        std::memcpy(accumulator + slot.Offset, row + slot.Offset, slot.Length + 1);
      }
      return;
    }
    bool null = false;
    cursor.GetTableFieldData(field, row, null, value);
    if (null) return;
    cursor.SetTableFieldData(field, accumulator, value);
    // A BLOB reference names its chain and the chain's stamp: the group
    // takes over the BLOB of the row it folds in, whose record the sort
    // drops.
    if (slot.Type == kFldBlob) {
      cursor.SetBlobStamp(field, accumulator, true, cursor.GetBlobStamp(field, row, true));
    }
  };
  for (size_t i = 0; i < query_.ResultFields.size(); ++i) {
    const TResultField& item = *query_.ResultFields[i];
    const auto field = static_cast<int32_t>(i + 1);
    const TResultSlot& slot = result_slots_[i];
    bool total_null = false;
    if (slot.Plain) {
      if (row[slot.Offset] == 0) continue;
      total_null = accumulator[slot.Offset] == 0;
    } else {
      bool value_null = false;
      cursor.GetTableFieldData(field, row, value_null, value);
      if (value_null) continue;
      cursor.GetTableFieldData(field, accumulator, total_null, total);
    }
    if (item.Aggregate == kAggregateNone || total_null) {
      copy(field);
      if (average_counts_[i] != 0) copy(average_counts_[i]);
      continue;
    }
    if (slot.Plain) {
      FoldValue(item, slot, row + slot.Offset + 1, accumulator + slot.Offset + 1);
    } else {
      FoldValue(item, slot, value, total);
      cursor.SetTableFieldData(field, accumulator, total);
    }
    if (average_counts_[i] != 0) {
      // The hidden count columns are plain integers.
      const TResultSlot& counts = result_slots_[static_cast<size_t>(average_counts_[i] - 1)];
      int32_t count = 0;
      int32_t more = 0;
      if (accumulator[counts.Offset] != 0) {
        std::memcpy(&count, accumulator + counts.Offset + 1, sizeof count);
      }
      if (row[counts.Offset] != 0) std::memcpy(&more, row + counts.Offset + 1, sizeof more);
      count += more;
      accumulator[counts.Offset] = 1;
      std::memcpy(accumulator + counts.Offset + 1, &count, sizeof count);
    }
  }
}

bool TSelectExecution::FoldsGroupsInMemory() const {
  if (!query_.HasGroupBy || query_.AggregateOnly || query_.Distinct) return false;
  // A result table on disk may hold more groups than memory would.
  if (!query_.IntoMemory && !query_.ResultTableName.empty()) return false;
  for (int32_t field = 1; field <= result_->GetFieldCount(); ++field) {
    if (result_->GetTableFieldDesc(field).Type == kFldBlob) return false;
  }
  for (const std::unique_ptr<TGroupByField>& item : query_.GroupBy) {
    const int32_t field = ResultFieldNumber(*item);
    if (field < 1 || field > result_->GetFieldCount()) return false;
    switch (result_->GetTableFieldDesc(field).Type) {
      case kFldSmallInt:
      case kFldInteger:
      case kFldWord:
      case kFldDate:
      case kFldTime:
        break;
      default:
        return false;
    }
  }
  return true;
}

std::string TSelectExecution::GroupKey(const uint8_t* row) const {
  std::string key;
  for (const std::unique_ptr<TGroupByField>& item : query_.GroupBy) {
    const FieldDescriptor& field = result_->GetTableFieldDesc(ResultFieldNumber(*item));
    const uint8_t* slot = row + field.Offset;
    // A NULL is one value whatever its slot holds.
    key.push_back(static_cast<char>(slot[0]));
    if (slot[0] != 0) key.append(reinterpret_cast<const char*>(slot + 1), field.PhysicalLength);
  }
  return key;
}

void TSelectExecution::FinishGroup(uint8_t* image) {
  TDataCursor& cursor = *result_;
  for (size_t i = 0; i < query_.ResultFields.size(); ++i) {
    const TResultField& item = *query_.ResultFields[i];
    const auto field = static_cast<int32_t>(i + 1);
    bool null = false;
    if (item.Aggregate == kAggregateCount) {
      int32_t count = 0;
      cursor.GetTableFieldData(field, image, null, &count);
      if (null) cursor.SetTableFieldData(field, image, &count);
    } else if (item.Aggregate == kAggregateAvg) {
      int32_t count = 0;
      double sum = 0;
      cursor.GetTableFieldData(average_counts_[i], image, null, &count);
      cursor.GetTableFieldData(field, image, null, &sum);
      const double average = count == 0 ? 0 : sum / count;
      cursor.SetTableFieldData(field, image, &average);
    }
  }
}

}  // namespace jw
