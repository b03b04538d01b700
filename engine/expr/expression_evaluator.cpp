#include "engine/expr/expression_evaluator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/expr/expression_operators.h"
#include "engine/expr/subselect_hooks.h"
#include "engine/support/engine_errors.h"
#include "engine/support/engine_strings.h"
#include "engine/support/field_types.h"
#include "engine/support/language_settings.h"
#include "engine/support/value_conversions.h"
#include "platform/rtl/date_time.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

// The nodes of one evaluating operation. A node is taken from the pool the
// first time one is needed and goes back to this scratch, not to the pool,
// when its value has been used, so evaluating a tree over many records
// takes no lock and allocates nothing once the first record has been
// through; the scratch returns them all to the pool at once at its end.
class NodeScratch {
 public:
  NodeScratch() = default;
  NodeScratch(const NodeScratch&) = delete;
  NodeScratch& operator=(const NodeScratch&) = delete;
  ~NodeScratch() { ExpTokenStack().ReleaseTokens(free_); }

  // A node in an unknown state; the caller overwrites it (Assign) or
  // clears it.
  TExpToken* Take() {
    if (free_.empty()) {
      // The free list can hold every node owned, so giving one back never
      // allocates (and never throws from a destructor).
      if (free_.capacity() < owned_ + 1) free_.reserve(2 * (owned_ + 1));
      TExpToken* token = GetToken();
      ++owned_;
      return token;
    }
    TExpToken* token = free_.back();
    free_.pop_back();
    // A buffer grown for a long value goes back to the initial size, as the
    // pool's nodes do.
    if (token->ValueCapacity() > kTokenValueStep) token->Clear();
    return token;
  }
  void Give(TExpToken* token) { free_.push_back(token); }
  // The node leaves the scratch for good: its taker returns it to the pool.
  void Disown() { --owned_; }

 private:
  std::vector<TExpToken*> free_;
  size_t owned_ = 0;
};

// Sole owner of a value node of the scratch, which gets it back unless it
// is released; or a constant node of the tree itself, borrowed as its own
// value.
class Pooled {
 public:
  Pooled() = default;
  Pooled(NodeScratch& scratch, TExpToken* token) : scratch_(&scratch), token_(token) {}
  static Pooled Borrowed(const TExpToken& node) {
    Pooled borrowed;
    borrowed.token_ = const_cast<TExpToken*>(&node);
    return borrowed;
  }
  Pooled(Pooled&& other) noexcept : scratch_(other.scratch_), token_(other.release()) {}
  Pooled& operator=(Pooled&& other) noexcept {
    if (this != &other) {
      Return();
      scratch_ = other.scratch_;
      token_ = other.release();
    }
    return *this;
  }
  Pooled(const Pooled&) = delete;
  Pooled& operator=(const Pooled&) = delete;
  ~Pooled() { Return(); }

  bool borrowed() const { return token_ != nullptr && scratch_ == nullptr; }
  explicit operator bool() const { return token_ != nullptr; }
  TExpToken* operator->() const { return token_; }
  TExpToken& operator*() const { return *token_; }
  TExpToken* release() {
    TExpToken* token = token_;
    token_ = nullptr;
    return token;
  }

 private:
  void Return() {
    if (token_ != nullptr && scratch_ != nullptr) scratch_->Give(token_);
    token_ = nullptr;
  }

  NodeScratch* scratch_ = nullptr;
  TExpToken* token_ = nullptr;
};

bool IsBoolean(const TExpToken& node) {
  return node.Type == kFldBoolean;
}

bool IsTrue(const TExpToken& node) {
  return !node.IsNull && LoadValue<int16_t>(node.Value()) != 0;
}

void SetBoolean(TExpToken& result, bool value) {
  result.IsNull = false;
  StoreValue<int16_t>(result.Value(), value ? 1 : 0);
}

// Writes text as the result's string value, growing the buffer when the
// text needs more than the bound size; an empty text is NULL when asked.
void StoreText(TExpToken& result, const char* text, size_t length, bool empty_is_null) {
  const auto needed = static_cast<int32_t>(length + 1);
  if (result.Size() < needed) result.SetValueSize(needed);
  std::memmove(result.Value(), text, length);
  std::memset(result.Value() + length, 0, static_cast<size_t>(result.Size()) - length);
  result.IsNull = false;
  if (empty_is_null && length == 0) SetNullResult(result);
}

// Copies the operand's value bytes and NULL flag into the result, growing
// the result to the operand's size.
void TakeValue(TExpToken& result, const TExpToken& operand) {
  const int32_t size = std::min(std::max(operand.Size(), 0), operand.ValueCapacity());
  if (result.Size() < size) result.SetValueSize(size);
  std::memset(result.Value(), 0, static_cast<size_t>(result.ValueCapacity()));
  std::memcpy(result.Value(), operand.Value(), static_cast<size_t>(size));
  result.IsNull = operand.IsNull;
}

// The text of a constant argument, ending at its zero or its buffer.
std::string ConstantText(const TExpToken& node) {
  const char* text = reinterpret_cast<const char*>(node.Value());
  return std::string(text, strnlen(text, static_cast<size_t>(node.ValueCapacity())));
}

int32_t IntegerConstant(const TExpToken* node) {
  return node == nullptr ? 0 : LoadValue<int32_t>(node->Value());
}

class Evaluator {
 public:
  // Without names, the values computed carry no texts or names (a column
  // callback gets the column's field number and references).
  Evaluator(NodeScratch& scratch, void* context, uint16_t sort_id, uint16_t language_id,
            TColumnValueFn column_value, bool with_names)
      : scratch_(scratch),
        with_names_(with_names),
        context_(context),
        sort_id_(sort_id),
        language_id_(language_id),
        column_value_(column_value) {}

  // The record whose column values the next evaluations read.
  void SetRecord(const void* record) { record_ = record; }

  Pooled Evaluate(const TExpToken& node) {
    if (node.Kind == kTokenBinary) return BinaryChain(node);
    if (node.Kind == kTokenConstant && ServesAsValue(node)) return Pooled::Borrowed(node);
    Pooled result = NewResult(node);
    switch (node.Kind) {
      case kTokenUnary: {
        Pooled operand = Evaluate(*node.Left);
        EvaluateUnary(node.Code, *operand, *result);
        break;
      }
      case kTokenStringCompare: {
        Pooled left = Evaluate(*node.Left);
        Pooled right = Evaluate(*node.Right);
        if (IsStringValue(*left)) {
          EvaluateStringCompare(node.Code, node.PartialLength, node.CaseInsensitive, sort_id_,
                                language_id_, *result, *right, *left);
        } else {
          EvaluateBinary(node.Code, *left, *right, sort_id_, language_id_, *result);
        }
        break;
      }
      case kTokenColumn:
        Column(node, *result);
        break;
      case kTokenFunction:
        Function(node, *result);
        break;
      case kTokenPredicate:
        Predicate(node, *result);
        break;
      default:
        break;
    }
    Normalize(*result);
    return result;
  }

  // The value as a node of the scratch (a borrowed constant is copied).
  Pooled Owned(Pooled value) {
    if (!value.borrowed()) return value;
    Pooled copy = NewResult(*value);
    Normalize(*copy);
    return copy;
  }

 private:
  // A constant of the tree serves as its own value, read in place: the
  // copy would hold the same bytes, and no operator writes to an operand
  // whose buffer holds a terminating zero. A boolean must already be 0 or
  // 1, which the copy would have made it.
  static bool ServesAsValue(const TExpToken& node) {
    if (IsBoolean(node) && !node.IsNull) {
      const int16_t value = LoadValue<int16_t>(node.Value());
      if (NormalizeBoolean(value) != value) return false;
    }
    return std::memchr(node.Value(), 0, static_cast<size_t>(node.ValueCapacity())) != nullptr;
  }

  // A copy of the node without links, turned into a constant (a sub-select
  // column into a column), to take the node's value.
  Pooled NewResult(const TExpToken& node) {
    Pooled result(scratch_, scratch_.Take());
    if (with_names_) {
      result->Assign(node);
    } else {
      result->AssignValue(node);
    }
    result->Left = result->Right = result->Third = result->Parent = nullptr;
    result->Kind = node.Kind == kTokenSubSelect ? kTokenColumn : kTokenConstant;
    result->Code = 0;
    return result;
  }

  // A fresh node, as the pool hands it out.
  Pooled NewCleared() {
    Pooled node(scratch_, scratch_.Take());
    node->Clear();
    return node;
  }

  static void Normalize(TExpToken& result) {
    if (IsBoolean(result) && !result.IsNull) {
      StoreValue<int16_t>(
          result.Value(),
          static_cast<int16_t>(NormalizeBoolean(LoadValue<int16_t>(result.Value()))));
    }
  }

  static bool IsLogical(const TExpToken& node) {
    const uint8_t op = node.Code & 0x7F;
    return op == kOpAnd || op == kOpOr;
  }

  // The levels a binary chain pushed on the evaluator's chain stacks go
  // when it ends, their operand nodes back to the scratch.
  class ChainLevels {
   public:
    explicit ChainLevels(Evaluator& evaluator)
        : evaluator_(evaluator), base_(evaluator.chain_.size()) {}
    ChainLevels(const ChainLevels&) = delete;
    ChainLevels& operator=(const ChainLevels&) = delete;
    ~ChainLevels() {
      evaluator_.chain_.resize(base_);
      evaluator_.rights_.erase(evaluator_.rights_.begin() + static_cast<std::ptrdiff_t>(base_),
                               evaluator_.rights_.end());
    }
    size_t base() const { return base_; }

   private:
    Evaluator& evaluator_;
    size_t base_;
  };

  // A chain of binary operators down the left operands (a + b + c ..., a
  // long OR) without recursion, in the order a recursive walk would take:
  // AND and OR read their right operand first and their left one only when
  // the right one does not decide; every other operator reads left, then
  // right. Going down the chain reads the right operands of AND and OR;
  // coming back up combines each level with its left operand's value. The
  // levels live on stacks the evaluator keeps from record to record; an
  // operand nested in a level pushes its own levels above them, so levels
  // are reached by index only.
  Pooled BinaryChain(const TExpToken& top) {
    if (!IsLogical(top) && top.Left->Kind != kTokenBinary) {
      // One level that reads left, then right (a comparison of a column
      // with a constant): no level stack needed.
      Pooled left = Evaluate(*top.Left);
      Pooled right = Evaluate(*top.Right);
      return Combine(top, left, right);
    }
    const ChainLevels levels(*this);
    const size_t base = levels.base();
    Pooled value;
    for (const TExpToken* link = &top;; link = link->Left) {
      const size_t level = chain_.size();
      chain_.push_back(link);
      rights_.emplace_back();
      if (IsLogical(*link)) {
        Pooled right = Evaluate(*link->Right);
        const bool truth = IsTrue(*right);
        rights_[level] = std::move(right);
        if (truth == ((link->Code & 0x7F) == kOpOr)) {
          // Decided: this level's value is its right operand's truth.
          value = NewResult(*link);
          SetBoolean(*value, truth);
          Normalize(*value);
          break;
        }
      }
      if (link->Left->Kind != kTokenBinary) {
        value = Evaluate(*link->Left);
        value = CombineLevel(*link, value, level);
        break;
      }
    }
    for (size_t level = chain_.size() - 1; level-- > base;) {
      value = CombineLevel(*chain_[level], value, level);
    }
    return value;
  }

  // The value of one level of a chain from its left operand's value and its
  // right operand's (read here unless it already was).
  Pooled CombineLevel(const TExpToken& node, Pooled& left, size_t level) {
    if (!rights_[level]) {
      Pooled right = Evaluate(*node.Right);
      rights_[level] = std::move(right);
    }
    return Combine(node, left, rights_[level]);
  }

  // The value of one binary node from the values of its operands.
  Pooled Combine(const TExpToken& node, Pooled& left, Pooled& right) {
    Pooled result = NewResult(node);
    const uint8_t op = node.Code & 0x7F;
    if (op == kOpAdd && IsStringValue(*left) && IsStringValue(*right)) {
      // A string is cut to the longest string; a text BLOB takes it all.
      const int64_t size = std::max<int64_t>(int64_t{left->Size()} + right->Size() - 1, 1);
      result->SetValueSize(static_cast<int32_t>(
          result->Type == kFldString ? std::min<int64_t>(size, kValueBufferSize) : size));
      result->Scale = 0;
    }
    try {
      EvaluateBinary(op, *left, *right, sort_id_, language_id_, *result);
    } catch (const EArithmeticOverflow& overflow) {
      // The value's field is the expression that overflowed.
      RaiseEngineError(
          overflow.Above ? kErrAboveMaximum : kErrBelowMinimum, std::string(),
          node.Left->SourceText + " " + node.SourceText + " " + node.Right->SourceText);
    }
    Normalize(*result);
    return result;
  }

  void Column(const TExpToken& node, TExpToken& result) {
    if (column_value_ != nullptr) {
      std::memset(result.Value(), 0, static_cast<size_t>(result.ValueCapacity()));
      result.IsNull = false;
      column_value_(context_, record_, &result);
      return;
    }
    if (node.ConstantColumn) {
      // A column written as a string constant keeps its constant value.
      result.Type = node.SavedType;
      result.Subtype = node.SavedSubtype;
      result.SetValueSize(node.SavedSize);
      result.Scale = node.SavedScale;
      return;
    }
    RaiseEngineError(
        kErrSql, std::string(), std::string(), std::string(),
        "Internal error: Column '" + QuotedText(node.ColumnName) + "'" + " specified illegally");
  }

  void Function(const TExpToken& node, TExpToken& result) {
    switch (node.Code) {
      case kFuncSum:
      case kFuncMin:
      case kFuncMax:
      case kFuncAvg: {
        Pooled argument = Evaluate(*node.Left);
        TakeValue(result, *argument);
        return;
      }
      case kFuncCount:
        Count(node, result);
        return;
      case kFuncUpper:
      case kFuncLower: {
        Pooled argument = Evaluate(*node.Left);
        const char* text = argument->IsNull ? "" : ValueText(*argument);
        StoreText(result, text, std::strlen(text), false);
        result.IsNull = argument->IsNull;
        char* value = reinterpret_cast<char*>(result.Value());
        if (node.Code == kFuncUpper) {
          UpperLocale(language_id_, sort_id_, value, value);
        } else {
          LowerLocale(language_id_, sort_id_, value, value);
        }
        return;
      }
      case kFuncSubstring:
        Substring(node, result);
        return;
      case kFuncReplace:
        Replace(node, result);
        return;
      case kFuncPos:
      case kFuncOccurs: {
        Pooled argument = Evaluate(*node.Left);
        const char* text = argument->IsNull ? "" : ValueText(*argument);
        const std::string search = ConstantText(*node.Right);
        result.IsNull = false;
        StoreValue<int32_t>(result.Value(), node.Code == kFuncPos
                                                ? PosOf(search.c_str(), text)
                                                : OccurrenceCount(search.c_str(), text));
        return;
      }
      case kFuncTrimLeading:
      case kFuncTrimTrailing:
      case kFuncTrimBoth:
        Trim(node, result);
        return;
      case kFuncCast:
        Cast(node, result);
        return;
      case kFuncIf: {
        Pooled condition = Evaluate(*node.Left);
        Pooled branch = Evaluate(IsTrue(*condition) ? *node.Right : *node.Third);
        TakeValue(result, *branch);
        return;
      }
      case kFuncAbs:
        Abs(node, result);
        return;
      case kFuncRound: {
        Pooled argument = Evaluate(*node.Left);
        if (argument->IsNull) {
          SetNullResult(result);
          return;
        }
        const double value = argument->Type == kFldBcd
                                 ? BcdToFloat(LoadValue<int64_t>(argument->Value()))
                                 : LoadValue<double>(argument->Value());
        result.IsNull = false;
        StoreValue<double>(result.Value(), RoundFloat(IntegerConstant(node.Right), value));
        return;
      }
      default:
        if (node.Code >= kFuncExtractYear && node.Code <= kFuncExtractSecond) Extract(node, result);
        return;
    }
  }

  // The SQL engine counts the values that are not NULL; "*" counts every
  // row.
  void Count(const TExpToken& node, TExpToken& result) {
    bool counted = true;
    if (node.Left != nullptr &&
        !(node.Left->Kind == kTokenColumn && node.Left->ColumnName == "*")) {
      Pooled argument = Evaluate(*node.Left);
      counted = !argument->IsNull;
    }
    if (!counted) {
      SetNullResult(result);
      return;
    }
    result.IsNull = false;
    StoreValue<int32_t>(result.Value(), 1);
  }

  void Substring(const TExpToken& node, TExpToken& result) {
    Pooled argument = Evaluate(*node.Left);
    const char* text = argument->IsNull ? "" : ValueText(*argument);
    const size_t length = std::strlen(text);
    const TExpToken* from = node.Right;
    const auto start = static_cast<size_t>(std::max(IntegerConstant(from), 1)) - 1;
    size_t count = start < length ? length - start : 0;
    if (from != nullptr && from->Right != nullptr) {
      count = std::min(count, static_cast<size_t>(std::max(IntegerConstant(from->Right), 0)));
    }
    StoreText(result, start < length ? text + start : "", count, true);
  }

  void Replace(const TExpToken& node, TExpToken& result) {
    Pooled argument = Evaluate(*node.Left);
    const char* text = argument->IsNull ? "" : ValueText(*argument);
    const std::string search = ConstantText(*node.Right);
    const std::string replacement = ConstantText(*node.Right->Right);
    const char* old_text = search.c_str();
    const char* new_text = replacement.c_str();
    const int32_t length = ReplacedLength(old_text, new_text, text);
    std::string replaced(static_cast<size_t>(length) + 1, '\0');
    if (*old_text == '\0') {
      std::memcpy(replaced.data(), text, static_cast<size_t>(length));
    } else {
      ReplaceAll(old_text, new_text, text, replaced.data());
    }
    // Replacing in a string gives a string, cut to the longest string as
    // + cuts, so that nested replacements cannot multiply their memory.
    const size_t kept = argument->Type == kFldString
                            ? std::min<size_t>(static_cast<size_t>(length), kMaxStringLength)
                            : static_cast<size_t>(length);
    result.SetValueSize(static_cast<int32_t>(kept) + 1);
    StoreText(result, replaced.data(), kept, true);
  }

  void Trim(const TExpToken& node, TExpToken& result) {
    Pooled argument = Evaluate(*node.Left);
    const char* text = argument->IsNull ? "" : ValueText(*argument);
    StoreText(result, text, std::strlen(text), false);
    const char c = ConstantText(*node.Right)[0];
    char* value = reinterpret_cast<char*>(result.Value());
    if (node.Code == kFuncTrimLeading) {
      TrimLeadingChar(value, c);
    } else if (node.Code == kFuncTrimTrailing) {
      TrimTrailingChar(value, c);
    } else {
      TrimChar(value, c);
    }
    if (*value == '\0') SetNullResult(result);
  }

  void Cast(const TExpToken& node, TExpToken& result) {
    Pooled argument = Evaluate(*node.Left);
    if (argument->IsNull) {
      SetNullResult(result);
      return;
    }
    if (argument->Type == kFldBlob) {
      // A BLOB is copied as it is, whole: the result's own buffer grows to
      // it, so nothing is cut and nothing is written past a buffer.
      TakeValue(result, *argument);
      return;
    }
    uint8_t buffer[kValueBufferSize + 1] = {};
    const int32_t size = std::clamp(argument->Size(), 0, kValueBufferSize);
    std::memcpy(buffer, argument->Value(), static_cast<size_t>(size));
    if (argument->Type == kFldString) buffer[kValueBufferSize - 1] = 0;
    // A failed conversion leaves a zero value of the target type.
    ConvertFieldValue(argument->Type, argument->Size(), argument->Scale, buffer, node.Scale,
                      node.Size(), node.Type);
    const int32_t result_size = std::clamp(node.Size(), 0, kValueBufferSize);
    std::memset(result.Value(), 0, static_cast<size_t>(result.ValueCapacity()));
    std::memcpy(result.Value(), buffer, static_cast<size_t>(result_size));
    if (node.Type == kFldString && result_size > 0) result.Value()[result_size - 1] = 0;
    result.IsNull = false;
  }

  void Abs(const TExpToken& node, TExpToken& result) {
    Pooled argument = Evaluate(*node.Left);
    TakeValue(result, *argument);
    if (argument->IsNull) return;
    switch (argument->Type) {
      case kFldSmallInt: {
        const int16_t v = LoadValue<int16_t>(argument->Value());
        StoreValue<uint16_t>(result.Value(),
                             v < 0 ? static_cast<uint16_t>(0u - static_cast<uint16_t>(v))
                                   : static_cast<uint16_t>(v));
        return;
      }
      case kFldInteger: {
        const int32_t v = LoadValue<int32_t>(argument->Value());
        StoreValue<uint32_t>(result.Value(),
                             v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v));
        return;
      }
      case kFldFloat:
        StoreValue<double>(result.Value(), std::fabs(LoadValue<double>(argument->Value())));
        return;
      case kFldBcd:
        StoreValue<int64_t>(
            result.Value(),
            FloatToBcd(argument->Scale,
                       std::fabs(BcdToFloat(LoadValue<int64_t>(argument->Value())))));
        return;
      default:
        return;  // a word is copied
    }
  }

  void Extract(const TExpToken& node, TExpToken& result) {
    Pooled argument = Evaluate(*node.Left);
    int32_t part = 0;
    if (!argument->IsNull) {
      bool has_date = false;
      bool has_time = false;
      int32_t day = 0;
      int32_t ms = 0;
      if (argument->Type == kFldDate) {
        has_date = true;
        day = LoadValue<int32_t>(argument->Value());
      } else if (argument->Type == kFldTime) {
        has_time = true;
        ms = LoadValue<int32_t>(argument->Value());
      } else if (argument->Type == kFldTimeStamp) {
        has_date = has_time = true;
        const double stamp = LoadValue<double>(argument->Value());
        const double whole_days = std::floor(stamp / kMSecsPerDay);
        day = static_cast<int32_t>(whole_days);
        ms = static_cast<int32_t>(stamp - whole_days * kMSecsPerDay);
      }
      part = DateTimePart(node.Code, has_date, day, has_time, ms);
    }
    result.IsNull = false;
    StoreValue<int32_t>(result.Value(), part);
  }

  // The part of a date (day number) or time of day (milliseconds); 0 for a
  // part the value does not carry and for a day outside the calendar.
  static int32_t DateTimePart(uint8_t code, bool has_date, int32_t day, bool has_time, int32_t ms) {
    const int32_t index = code - kFuncExtractYear;  // year, month, day, day of week, hour ...
    if (index <= 3) {
      if (!has_date || day < 1 || day > kMaxDateDay) return 0;
      const TDateTime value = static_cast<double>(day) - kDateDelta;
      if (index == 3) return DayOfWeek(value);
      int year = 0;
      int month = 0;
      int d = 0;
      DecodeDate(value, year, month, d);
      return index == 0 ? year : (index == 1 ? month : d);
    }
    if (!has_time) return 0;
    if (index == 4) return ms / 3600000;
    if (index == 5) return ms / 60000 % 60;
    return ms / 1000 % 60;
  }

  void Predicate(const TExpToken& node, TExpToken& result) {
    switch (node.Code) {
      case kOpLike:
      case kOpNotLike: {
        Pooled text = Evaluate(*node.Left);
        Pooled pattern = Evaluate(*node.Right);
        bool match = false;
        if (!text->IsNull && !pattern->IsNull) {
          match = LikeMatch(language_id_, sort_id_, ValueText(*text), ValueText(*pattern));
        }
        SetBoolean(result, match == (node.Code == kOpLike));
        return;
      }
      case kOpInList:
      case kOpNotInList: {
        Pooled operand = Evaluate(*node.Left);
        bool found = false;
        for (const TExpToken* item = node.Right; item != nullptr && !found; item = item->Right) {
          found = Equals(*operand, *item);
        }
        SetBoolean(result, found == (node.Code == kOpInList));
        return;
      }
      case kOpInSubSelect:
      case kOpNotInSubSelect:
        SetBoolean(result, SubSelectMatches(node) == (node.Code == kOpInSubSelect));
        return;
      case kOpBetween:
      case kOpNotBetween: {
        Pooled operand = Evaluate(*node.Left);
        const TExpToken* low = node.Right;
        bool inside = Holds(kOpGreaterOrEqual, *operand, *low);
        if (inside) inside = Holds(kOpLessOrEqual, *operand, *low->Right);
        SetBoolean(result, inside == (node.Code == kOpBetween));
        return;
      }
      default:
        return;
    }
  }

  bool Equals(const TExpToken& operand, const TExpToken& item) {
    return Holds(kOpEqual, operand, item);
  }

  // operand <op> bound, the bound evaluated into its own node.
  bool Holds(uint8_t op, const TExpToken& operand, const TExpToken& bound_node) {
    Pooled bound = Evaluate(bound_node);
    Pooled test = NewCleared();
    test->Type = kFldBoolean;
    test->SetValueSize(2);
    EvaluateBinary(op, operand, *bound, sort_id_, language_id_, *test);
    return IsTrue(*test);
  }

  bool SubSelectMatches(const TExpToken& node) {
    TSubSelectHooks* hooks = SubSelectHooks();
    if (hooks == nullptr) {
      RaiseEngineError(kErrSql, std::string(), std::string(), std::string(),
                       "Internal error: Column '" + QuotedText(node.Right->ColumnName) + "'" +
                           " specified illegally");
    }
    // The sub-select's filter gets a node of its own, never a constant of
    // the tree.
    Pooled operand = Owned(Evaluate(*node.Left));
    if (!with_names_) {
      // The sub-select builds its filter from the operand as it would
      // with names: those of the operand's node.
      operand->SourceText = node.Left->SourceText;
      operand->ColumnName = node.Left->ColumnName;
      operand->TableName = node.Left->TableName;
    }
    Pooled sub_select(scratch_, scratch_.Take());
    sub_select->Assign(*node.Right);
    sub_select->Left = sub_select->Right = sub_select->Third = sub_select->Parent = nullptr;
    Pooled comparison = NewCleared();
    comparison->Kind = kTokenBinary;
    comparison->Code = kOpEqual;
    comparison->SourceText.assign(1, '=');
    comparison->Type = kFldBoolean;
    comparison->SetValueSize(2);
    comparison->Left = &*operand;
    comparison->Right = &*sub_select;
    const int32_t count = hooks->SubSelectRecordCount(node.Right->QueryRef, *comparison);
    comparison->Left = comparison->Right = nullptr;
    return count != 0;
  }

  NodeScratch& scratch_;
  bool with_names_;
  const void* record_ = nullptr;
  void* context_;
  uint16_t sort_id_;
  uint16_t language_id_;
  TColumnValueFn column_value_;
  // The binary chains under way: each level's node and right operand.
  std::vector<const TExpToken*> chain_;
  std::vector<Pooled> rights_;
};

}  // namespace

struct TExpressionEvaluator::State {
  State(void* context, uint16_t sort_id, uint16_t language_id, TColumnValueFn column_value)
      : evaluator(scratch, context, sort_id, language_id, column_value, false) {}

  NodeScratch scratch;  // first in, last out: every node below goes back to it
  Evaluator evaluator;
  Pooled result;
};

TExpressionEvaluator::TExpressionEvaluator(void* context, uint16_t sort_id, uint16_t language_id,
                                           TColumnValueFn column_value)
    : state_(std::make_unique<State>(context, sort_id, language_id, column_value)) {}

TExpressionEvaluator::~TExpressionEvaluator() = default;

const TExpToken& TExpressionEvaluator::Evaluate(const TExpToken& tree, const void* record) {
  state_->result = Pooled();
  state_->evaluator.SetRecord(record);
  state_->result = state_->evaluator.Owned(state_->evaluator.Evaluate(tree));
  return *state_->result;
}

TExpToken* EvaluateExpression(const TExpToken* node, const void* record, void* context,
                              uint16_t sort_id, uint16_t language_id, TColumnValueFn column_value) {
  if (node == nullptr) return nullptr;
  NodeScratch scratch;
  Evaluator evaluator(scratch, context, sort_id, language_id, column_value, true);
  evaluator.SetRecord(record);
  Pooled result = evaluator.Owned(evaluator.Evaluate(*node));
  scratch.Disown();
  return result.release();
}

uint8_t AggregateCode(std::string_view name) {
  const std::string upper = UpperCase(name);
  if (upper == "SUM") return kFuncSum;
  if (upper == "AVG") return kFuncAvg;
  if (upper == "MIN") return kFuncMin;
  if (upper == "MAX") return kFuncMax;
  if (upper == "COUNT") return kFuncCount;
  return 0;
}

}  // namespace jw
