#include "engine/core/filter_program.h"

#include <cstring>

#include "engine/expr/expression_operators.h"
#include "engine/support/field_types.h"
#include "engine/support/key_images.h"
#include "engine/support/language_settings.h"
#include "engine/support/value_conversions.h"
#include "platform/rtl/date_time.h"

namespace jw {
namespace {

// Step kinds.
constexpr uint8_t kStepNullTest = 1;
constexpr uint8_t kStepIntegers = 2;  // both values as 32-bit integers
constexpr uint8_t kStepFloats = 3;    // both values as doubles in float order
constexpr uint8_t kStepTexts = 4;     // strings under the table's collation
constexpr uint8_t kStepNot = 5;
constexpr uint8_t kStepAnd = 6;
constexpr uint8_t kStepOr = 7;

bool IsComparison(uint8_t op) {
  return op >= kOpEqual && op <= kOpLessOrEqual;
}

template <typename T>
int32_t Sign(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

bool IsDateOrStamp(uint8_t type) {
  return type == kFldDate || type == kFldTimeStamp;
}

// A value of one of the integer types, a date or a time, as the evaluator
// reads it: a smallint sign-extended, a word zero-extended.
int32_t IntegerAt(uint8_t type, const uint8_t* value) {
  if (type == kFldSmallInt) return LoadValue<int16_t>(value);
  if (type == kFldWord) return LoadValue<uint16_t>(value);
  return LoadValue<int32_t>(value);
}

// A value as the evaluator turns it into a double for a float comparison:
// a date in milliseconds (it only meets a timestamp so), a float or
// timestamp as it is, an integer type by its value.
double FloatAt(uint8_t type, const uint8_t* value) {
  if (type == kFldDate) return static_cast<double>(LoadValue<int32_t>(value)) * kMSecsPerDay;
  if (type == kFldFloat || type == kFldTimeStamp) return LoadValue<double>(value);
  return IntegerAt(type, value);
}

// How the evaluator compares a column of type column with a constant of
// type constant: 0 for the pairs left to it.
uint8_t PairKind(uint8_t column, uint8_t constant) {
  if ((IsIntegerType(column) && IsIntegerType(constant)) ||
      (column == kFldDate && constant == kFldDate) ||
      (column == kFldTime && constant == kFldTime)) {
    return kStepIntegers;
  }
  if (IsDateOrStamp(column) && IsDateOrStamp(constant)) return kStepFloats;
  const auto numeric = [](uint8_t type) {
    return IsIntegerType(type) || type == kFldFloat || type == kFldTimeStamp;
  };
  if (numeric(column) && numeric(constant)) return kStepFloats;
  if (column == kFldString && constant == kFldString) return kStepTexts;
  return 0;
}

}  // namespace

TFilterProgram::TStep TFilterProgram::Operator(uint8_t kind) {
  TStep step;
  step.Kind = kind;
  return step;
}

bool TFilterProgram::Compile(const TDataCursor& cursor, const TExpToken& tree) {
  steps_.clear();
  sort_id_ = cursor.SortId();
  language_id_ = cursor.LanguageId();
  // Post-order on a stack of its own: a chain of conditions is as deep as
  // it is long.
  struct TPending {
    const TExpToken* Node;
    bool ChildrenDone;
  };
  std::vector<TPending> pending{{&tree, false}};
  size_t depth = 0;
  size_t most = 0;
  while (!pending.empty()) {
    const TExpToken& node = *pending.back().Node;
    const uint8_t op = node.Code & 0x7F;
    const bool is_not = node.Kind == kTokenUnary && op == kOpNot && node.Left != nullptr;
    const bool is_logical = node.Kind == kTokenBinary && (op == kOpAnd || op == kOpOr) &&
                            node.Left != nullptr && node.Right != nullptr;
    if ((is_not || is_logical) && !pending.back().ChildrenDone) {
      pending.back().ChildrenDone = true;
      pending.push_back({node.Left, false});
      if (is_logical) pending.push_back({node.Right, false});
      continue;
    }
    pending.pop_back();
    if (is_not) {
      steps_.push_back(Operator(kStepNot));
      continue;
    }
    if (is_logical) {
      steps_.push_back(Operator(op == kOpAnd ? kStepAnd : kStepOr));
      --depth;
      continue;
    }
    if (!CompileCondition(cursor, node)) {
      steps_.clear();
      return false;
    }
    most = std::max(most, ++depth);
  }
  truths_.assign(most, 0);
  return true;
}

bool TFilterProgram::CompileCondition(const TDataCursor& cursor, const TExpToken& node) {
  const uint8_t op = node.Code & 0x7F;
  const TExpToken* column = node.Left;
  if (column == nullptr || column->Kind != kTokenColumn || column->ConstantColumn) return false;
  if (column->FieldNumber < 1 || column->FieldNumber > cursor.GetFieldCount()) return false;
  const FieldDescriptor& field = cursor.GetTableFieldDesc(column->FieldNumber);
  if (field.Type != column->Type || field.Type == kFldBlob || field.Derived != 0) return false;
  TStep step;
  step.Op = op;
  step.FieldType = field.Type;
  step.AutoInc = field.IsAutoInc();
  step.Offset = field.Offset;
  step.Length = field.PhysicalLength;
  if (node.Kind == kTokenUnary && (op == kOpIsNull || op == kOpIsNotNull)) {
    step.Kind = kStepNullTest;
    steps_.push_back(std::move(step));
    return true;
  }
  const bool compare = node.Kind == kTokenBinary && IsComparison(op);
  const bool string_compare = node.Kind == kTokenStringCompare && field.Type == kFldString;
  const TExpToken* constant = node.Right;
  if (!(compare || string_compare) || constant == nullptr || constant->Kind != kTokenConstant ||
      constant->IsNull) {
    return false;
  }
  const uint8_t* value = constant->Value();
  step.Kind = PairKind(field.Type, constant->Type);
  if (string_compare && step.Kind != kStepTexts) return false;
  switch (step.Kind) {
    case kStepIntegers:
      step.Integer = IntegerAt(constant->Type, value);
      break;
    case kStepFloats:
      step.Float = FloatAt(constant->Type, value);
      break;
    case kStepTexts: {
      // The evaluator's string buffers hold a zero past the longest stored
      // text; a constant without one, or a longer field, is left to it.
      const auto capacity = static_cast<size_t>(constant->ValueCapacity());
      const void* end = std::memchr(value, 0, capacity);
      if (end == nullptr || field.PhysicalLength >= kTokenValueInitial) return false;
      step.Text.assign(reinterpret_cast<const char*>(value),
                       static_cast<const uint8_t*>(end) - value);
      if (string_compare) {
        step.CaseInsensitive = node.CaseInsensitive;
        step.PartialLength = std::max(node.PartialLength, 0);
        // Only the two outcomes of a string comparison: equal or not.
        step.Op = op == kOpEqual ? kOpEqual : kOpNotEqual;
      }
      break;
    }
    default:
      return false;
  }
  steps_.push_back(std::move(step));
  return true;
}

bool TFilterProgram::Passes(const uint8_t* image) {
  size_t top = 0;
  for (const TStep& step : steps_) {
    switch (step.Kind) {
      case kStepNot:
        truths_[top - 1] = truths_[top - 1] == 0 ? 1 : 0;
        break;
      case kStepAnd:
        --top;
        truths_[top - 1] = (truths_[top - 1] != 0 && truths_[top] != 0) ? 1 : 0;
        break;
      case kStepOr:
        --top;
        truths_[top - 1] = (truths_[top - 1] != 0 || truths_[top] != 0) ? 1 : 0;
        break;
      default:
        truths_[top++] = Condition(step, image) ? 1 : 0;
        break;
    }
  }
  return truths_[0] != 0;
}

bool TFilterProgram::Condition(const TStep& step, const uint8_t* image) {
  // An auto-increment field lives in the record id and is never NULL.
  const uint8_t* slot = image + step.Offset;
  const uint8_t* value = step.AutoInc ? image + kRecId : slot + 1;
  const bool null = !step.AutoInc && slot[0] == 0;
  if (step.Kind == kStepNullTest) return null == (step.Op == kOpIsNull);
  if (null && (step.Kind != kStepTexts || step.Op == kOpEqual || step.Op == kOpNotEqual)) {
    // Against a value that is not NULL: only <> holds.
    return step.Op == kOpNotEqual;
  }
  switch (step.Kind) {
    case kStepIntegers:
      return ApplyComparison(step.Op, Sign(IntegerAt(step.FieldType, value), step.Integer));
    case kStepFloats:
      return ApplyComparison(step.Op, CompareFloatOrder(FloatAt(step.FieldType, value), step.Float));
    default:
      // An ordering of a NULL string compares it as ''.
      return ApplyComparison(step.Op, CompareLocaleStrings(
                                   language_id_, sort_id_, null ? "" : StoredText(step, slot),
                                   step.CaseInsensitive, step.PartialLength, step.Text.c_str()));
  }
}

const char* TFilterProgram::StoredText(const TStep& step, const uint8_t* slot) {
  const auto* text = reinterpret_cast<const char*>(slot + 1);
  const auto length = static_cast<size_t>(step.Length);
  if (std::memchr(text, 0, length) != nullptr) return text;
  text_.assign(text, length);
  return text_.c_str();
}

}  // namespace jw
