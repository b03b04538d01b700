#include "engine/expr/expression_binder.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "engine/expr/expression_rewrite.h"
#include "engine/expr/expression_types.h"
#include "engine/expr/subselect_hooks.h"
#include "engine/support/field_types.h"
#include "engine/support/value_conversions.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

constexpr int32_t kMaxCastLength = 250;

bool IsStringType(const TExpToken& node) {
  return node.Type == kFldString || (node.Type == kFldBlob && node.Subtype == kSubTypeTextBlob);
}

bool IsTemporal(uint8_t type) {
  return type == kFldDate || type == kFldTime || type == kFldTimeStamp;
}

bool IsNullConstant(const TExpToken* node) {
  return node->Kind == kTokenConstant && node->IsNull && node->Type == 0;
}

bool IsIntegerConstant(const TExpToken* node) {
  return node != nullptr && node->Kind == kTokenConstant && node->Type == kFldInteger &&
         !node->IsNull && !node->IsParameter;
}

bool IsStringConstant(const TExpToken* node) {
  return node != nullptr && node->Kind == kTokenConstant && node->Type == kFldString &&
         !node->IsNull;
}

int32_t IntegerValue(const TExpToken* node) {
  int32_t value = 0;
  std::memcpy(&value, node->Value(), sizeof value);
  return value;
}

// The word a type-mismatch message uses for a node.
const char* KindWord(const TExpToken* node) {
  switch (node->Kind) {
    case kTokenColumn:
    case kTokenSubSelect:
      return "column";
    case kTokenConstant:
      return "constant";
    case kTokenFunction:
      return "function";
    default:
      return "expression";
  }
}

const char* PredicateName(uint8_t code) {
  switch (code) {
    case kOpLike:
      return "LIKE";
    case kOpNotLike:
      return "NOT LIKE";
    case kOpInList:
    case kOpInSubSelect:
      return "IN";
    case kOpNotInList:
    case kOpNotInSubSelect:
      return "NOT IN";
    case kOpBetween:
      return "BETWEEN";
    default:
      return "NOT BETWEEN";
  }
}

const char* FunctionName(uint8_t code) {
  switch (code) {
    case kFuncSum:
      return "SUM";
    case kFuncMin:
      return "MIN";
    case kFuncMax:
      return "MAX";
    case kFuncAvg:
      return "AVG";
    case kFuncUpper:
      return "UPPER";
    case kFuncLower:
      return "LOWER";
    case kFuncPos:
      return "POS";
    default:
      return "OCCURS";
  }
}

// The value size of a binary node's result by its type.
int32_t BinaryValueSize(uint8_t op, const TExpToken& left, const TExpToken& right, uint8_t type) {
  switch (type) {
    case kFldString:
      if ((op & 0x7F) == kOpAdd && IsStringType(left) && IsStringType(right)) {
        // Cut to the longest string, so that a chain of n operands takes
        // memory in n, not in its square.
        return static_cast<int32_t>(
            std::min<int64_t>(int64_t{left.Size()} + right.Size() - 1, kValueBufferSize));
      }
      return std::max(left.Size(), right.Size());
    default: {
      // A type without a fixed size, other than a string, gets four bytes.
      const int32_t fixed = FixedValueSize(type);
      return fixed != 0 ? fixed : 4;
    }
  }
}

class Binder {
 public:
  Binder(EngineErrorCode error_code, const std::string& table_name, const std::string& context,
         TColumnResolver resolver, void* resolver_context)
      : error_code_(error_code),
        table_name_(table_name),
        context_(context),
        resolver_(resolver),
        resolver_context_(resolver_context) {}

  void Bind(bool condition, TExpToken* parent, TExpToken* node, int32_t depth) {
    if (depth > kMaxBoundDepth) {
      Raise("Expression nested more than " + IntToStr(kMaxBoundDepth) + " levels deep in " +
            context_);
    }
    node->Parent = parent;
    switch (node->Kind) {
      case kTokenConstant:
        OfferConstantAsColumn(node);
        break;
      case kTokenUnary:
        Unary(condition, node, depth);
        break;
      case kTokenBinary:
      case kTokenStringCompare:
        Binary(condition, node, depth);
        break;
      case kTokenColumn:
        Column(node);
        break;
      case kTokenSubSelect:
        SubSelect(node);
        break;
      case kTokenFunction:
        Function(node, depth);
        break;
      case kTokenPredicate:
        Predicate(node, depth);
        break;
      default:
        break;
    }
    if (condition && node->Type == kFldBoolean && IsWrappable(node) && IsConditionParent(parent)) {
      CompareWithTrue(node);
    }
  }

  [[noreturn]] void Raise(const std::string& message) const {
    RaiseEngineError(error_code_, table_name_, std::string(), std::string(), message);
  }
  // prefix + " in " + context.
  [[noreturn]] void RaiseIn(const std::string& prefix) const { Raise(prefix + " in " + context_); }

 private:
  static bool IsWrappable(const TExpToken* node) {
    return node->Kind == kTokenColumn ||
           (node->Kind == kTokenFunction && (node->Code == kFuncCast || node->Code == kFuncIf));
  }

  static bool IsConditionParent(const TExpToken* parent) {
    if (parent == nullptr) return true;
    if (parent->Kind == kTokenUnary) return parent->Code == kOpNot;
    return parent->Kind == kTokenBinary && (parent->Code == kOpAnd || parent->Code == kOpOr);
  }

  // A string constant may name a column ('Order Date'); it keeps its
  // constant form for when it turns out to be meant as text.
  void OfferConstantAsColumn(TExpToken* node) {
    if (node->Type != kFldString || node->IsParameter || node->IsNull || node->SourceText.empty() ||
        resolver_ == nullptr) {
      return;
    }
    const Form saved_form = SavedForm(*node);
    node->Kind = kTokenColumn;
    node->ColumnName = ShortString(node->SourceText);
    if (resolver_(resolver_context_, node)) {
      node->ConstantColumn = true;
      node->SavedType = saved_form.Type;
      node->SavedSubtype = saved_form.Subtype;
      node->SavedSize = saved_form.Size;
      node->SavedScale = saved_form.Scale;
      return;
    }
    RestoreConstant(node, saved_form);
  }

  struct Form {
    uint8_t Type, Subtype, Scale;
    int32_t Size;
  };
  static Form SavedForm(const TExpToken& node) {
    return Form{node.Type, node.Subtype, node.Scale, node.Size()};
  }

  static void RestoreConstant(TExpToken* node, const Form& form) {
    node->Kind = kTokenConstant;
    node->ColumnName.clear();
    node->FieldNumber = 0;
    node->FieldRef = nullptr;
    node->ConstantColumn = false;
    node->Type = form.Type;
    node->Subtype = form.Subtype;
    node->Scale = form.Scale;
    node->SetValueSize(form.Size);
  }

  // A column that was written as a string constant becomes that constant
  // again.
  static void RevertToConstant(TExpToken* node) {
    RestoreConstant(node,
                    Form{node->SavedType, node->SavedSubtype, node->SavedScale, node->SavedSize});
    node->SavedType = node->SavedSubtype = node->SavedScale = 0;
    node->SavedSize = 0;
  }

  void Unary(bool condition, TExpToken* node, int32_t depth) {
    TExpToken* operand = node->Left;
    Bind(condition && node->Code == kOpNot, node, operand, depth + 1);
    operand = node->Left;
    if (!IsValidUnaryOperandType(node->Code, operand->Type)) {
      RaiseIn("Type mismatch between '" + QuotedText(node->SourceText) + "'" + " operator and " +
              "'" + QuotedText(operand->SourceText) + "'");
    }
    node->Type = UnaryResultType(node->Code, operand->Type);
    node->Subtype = UnaryResultSubtype(node->Code, operand->Subtype);
    node->SetValueSize(operand->Size());
    node->Scale = operand->Scale;
  }

  // A string constant facing a date, time or timestamp takes that type, its
  // text read in the current locale's formats.
  void ConvertDateText(TExpToken* text_side, const TExpToken* other) {
    if (!TextToDateTimeValue(text_side->Value(), other->Type)) {
      RaiseIn("Date, time, or timestamp expression expected, instead found '" +
              QuotedText(text_side->SourceText) + "'");
    }
    text_side->Type = other->Type;
    text_side->SetValueSize(other->Size());
    text_side->Scale = other->Scale;
  }

  static bool IsDateTextPair(const TExpToken* text_side, const TExpToken* other) {
    return text_side->Kind == kTokenConstant && text_side->Type == kFldString &&
           !text_side->IsNull && IsTemporal(other->Type);
  }

  static bool IsBinaryKind(const TExpToken* node) {
    return node->Kind == kTokenBinary || node->Kind == kTokenStringCompare;
  }

  static bool IsLogical(const TExpToken* node) {
    return node->Code == kOpAnd || node->Code == kOpOr;
  }

  // A chain of binary operators down the left operands (a + b + c ..., a
  // long OR) is flat in the text: it is walked without recursion, and its
  // length does not count as nesting depth. Operands bind left before right,
  // from the bottom of the chain up.
  void Binary(bool condition, TExpToken* node, int32_t depth) {
    std::vector<std::pair<TExpToken*, bool>> chain;  // a node and its condition flag
    for (TExpToken* link = node;; link = link->Left) {
      chain.emplace_back(link, condition);
      condition = condition && IsLogical(link);
      if (!IsBinaryKind(link->Left)) {
        Bind(condition, link, link->Left, depth + 1);
        break;
      }
      link->Left->Parent = link;
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      TExpToken* link = it->first;
      Bind(it->second && IsLogical(link), link, link->Right, depth + 1);
      CheckBinary(link);
    }
  }

  void CheckBinary(TExpToken* node) {
    TExpToken* left = node->Left;
    TExpToken* right = node->Right;
    if (left->Kind == kTokenColumn && right->Kind == kTokenColumn) {
      if (right->ConstantColumn) {
        RevertToConstant(right);
      } else if (left->ConstantColumn) {
        RevertToConstant(left);
      }
    }
    TypeParameter(left, *right);
    TypeParameter(right, *left);
    if (IsDateTextPair(left, right)) {
      ConvertDateText(left, right);
    } else if (IsDateTextPair(right, left)) {
      ConvertDateText(right, left);
    }
    const uint8_t type =
        IsValidOperandTypes(node->Code, left->Type, left->Subtype, right->Subtype, right->Type)
            ? BinaryResultType(node->Code, left->Type, right->Type)
            : 0;
    if (type == 0) {
      RaiseIn("Type mismatch between " + std::string(KindWord(left)) + " " + "'" +
              QuotedText(left->SourceText) + "'" + " and " + KindWord(right) + " " + "'" +
              QuotedText(right->SourceText) + "'");
    }
    node->Type = type;
    node->Subtype =
        BinaryResultSubtype(node->Code, left->Type, left->Subtype, right->Subtype, right->Type);
    node->SetValueSize(BinaryValueSize(node->Code, *left, *right, type));
    node->Scale = type == kFldBcd ? std::max(left->Scale, right->Scale) : 0;
  }

  // A parameter not yet bound has no type; beside a typed operand it takes
  // that operand's form, and its value is converted to that form (or
  // refused) when it is bound.
  static void TypeParameter(TExpToken* node, const TExpToken& other) {
    if (node->Kind != kTokenConstant || !node->IsParameter || node->Type != 0 || node->IsNull ||
        other.Type == 0) {
      return;
    }
    node->Type = other.Type;
    node->Subtype = other.Subtype;
    node->SetValueSize(other.Size());
    node->Scale = other.Scale;
  }

  void RaiseInvalidColumn(const TExpToken* node) const {
    RaiseIn("Invalid column name '" + QuotedText(node->ColumnName) + "'" +
            " or table correlation name " + "'" + QuotedText(node->TableName) + "'" + " specified");
  }

  void Column(TExpToken* node) {
    if (node->ColumnName.empty()) return;
    if (resolver_ == nullptr || !resolver_(resolver_context_, node)) RaiseInvalidColumn(node);
  }

  void SubSelect(TExpToken* node) {
    TSubSelectHooks* hooks = SubSelectHooks();
    if (hooks == nullptr) RaiseInvalidColumn(node);
    if (hooks->SubSelectColumnCount(node->QueryRef) != 1) {
      Raise("More than 1 column for sub-select  specified in " + context_);
    }
    if (!hooks->BindSubSelectColumn(node->QueryRef, *node)) RaiseInvalidColumn(node);
  }

  // Arguments that must be constants are checked, not bound: a string
  // constant there is text, never a column name.
  static void Adopt(TExpToken* node, TExpToken* argument) {
    if (argument != nullptr) argument->Parent = node;
  }

  void Function(TExpToken* node, int32_t depth) {
    TExpToken* argument = node->Left;
    switch (node->Code) {
      case kFuncSum:
      case kFuncMin:
      case kFuncMax:
      case kFuncAvg: {
        Bind(false, node, argument, depth + 1);
        argument = node->Left;
        const uint8_t t = argument->Type;
        if (!(t == kFldDate || (t >= kFldSmallInt && t <= kFldBcd) ||
              (t >= kFldTime && t <= kFldWord))) {
          RaiseIn(std::string(FunctionName(node->Code)) + " aggregate function " +
                  "must contain a numeric, date, time, or timestamp expression");
        }
        TakeForm(node, argument);
        return;
      }
      case kFuncCount:
        if (argument != nullptr &&
            !(argument->Kind == kTokenColumn && argument->ColumnName == "*")) {
          Bind(false, node, argument, depth + 1);
        } else {
          Adopt(node, argument);
        }
        node->Type = kFldInteger;
        node->SetValueSize(4);
        return;
      case kFuncUpper:
      case kFuncLower:
        Bind(false, node, argument, depth + 1);
        argument = node->Left;
        if (!IsStringType(*argument)) {
          RaiseIn("Type mismatch between " + std::string(FunctionName(node->Code)) +
                  " function and function argument");
        }
        if (argument->Type == kFldBlob) {
          node->Type = kFldBlob;
          node->Subtype = kSubTypeTextBlob;
        }
        node->SetValueSize(argument->Size());
        return;
      case kFuncSubstring:
        Substring(node, depth);
        return;
      case kFuncReplace:
        Bind(false, node, argument, depth + 1);
        if (!IsStringType(*node->Left))
          RaiseIn("IN argument of REPLACE function must be a string or memo");
        Adopt(node, node->Right);
        if (!IsStringConstant(node->Right)) {
          RaiseIn("Search argument of REPLACE function must be a string constant");
        }
        Adopt(node, node->Right->Right);
        if (!IsStringConstant(node->Right->Right)) {
          RaiseIn("WITH argument of REPLACE function must be a string constant");
        }
        node->SetValueSize(node->Left->Size());
        return;
      case kFuncPos:
      case kFuncOccurs: {
        const std::string name = FunctionName(node->Code);
        Bind(false, node, argument, depth + 1);
        if (!IsStringType(*node->Left))
          RaiseIn("Type mismatch between " + name + " function and IN argument");
        Adopt(node, node->Right);
        if (!IsStringConstant(node->Right)) {
          RaiseIn("Search string argument of " + name + " function must be a string constant");
        }
        node->Type = kFldInteger;
        node->SetValueSize(4);
        return;
      }
      case kFuncTrimLeading:
      case kFuncTrimTrailing:
      case kFuncTrimBoth:
        Bind(false, node, argument, depth + 1);
        if (!IsStringType(*node->Left))
          RaiseIn("FROM argument of TRIM function must be a string or memo");
        Adopt(node, node->Right);
        if (!IsStringConstant(node->Right) ||
            std::strlen(reinterpret_cast<const char*>(node->Right->Value())) != 1) {
          RaiseIn("Trim character argument of TRIM function must be a single character constant");
        }
        node->SetValueSize(node->Left->Size());
        return;
      case kFuncCast:
        Bind(false, node, argument, depth + 1);
        argument = node->Left;
        if (!IsCastAllowed(node->Type, argument->Type)) {
          RaiseIn("Type mismatch between " + std::string(KindWord(argument)) + " " + "'" +
                  QuotedText(argument->SourceText) + "'" + " and AS argument");
        }
        CheckCastArguments(error_code_, table_name_, context_, node);
        return;
      case kFuncIf:
        If(node, depth);
        return;
      case kFuncAbs: {
        Bind(false, node, argument, depth + 1);
        argument = node->Left;
        const uint8_t t = argument->Type;
        if (!((t >= kFldSmallInt && t <= kFldBcd) || t == kFldWord)) {
          RaiseIn("Expression argument of ABS function must be an integer or floating-point type");
        }
        TakeForm(node, argument);
        return;
      }
      case kFuncRound:
        Bind(false, node, argument, depth + 1);
        if (node->Left->Type != kFldFloat && node->Left->Type != kFldBcd) {
          RaiseIn("Expression argument of ROUND function must be a floating-point type");
        }
        if (node->Right != nullptr) {
          Adopt(node, node->Right);
          if (!IsIntegerConstant(node->Right)) {
            RaiseIn("Decimal places argument of ROUND function must be an integer constant");
          }
          const int32_t places = IntegerValue(node->Right);
          if (places < 0 || places > 32) {
            RaiseIn(
                "Decimal places argument of ROUND function must be an integer constant "
                "between 0 and 32");
          }
        }
        node->Type = kFldFloat;
        node->SetValueSize(8);
        return;
      default:
        if (node->Code >= kFuncExtractYear && node->Code <= kFuncExtractSecond) {
          Bind(false, node, argument, depth + 1);
          if (!IsTemporal(node->Left->Type)) {
            RaiseIn("FROM argument of EXTRACT function must be a date, time, or timestamp");
          }
          node->Type = kFldInteger;
          node->SetValueSize(4);
        }
        return;
    }
  }

  static void TakeForm(TExpToken* node, const TExpToken* from) {
    node->Type = from->Type;
    node->Subtype = from->Subtype;
    node->SetValueSize(from->Size());
    node->Scale = from->Scale;
  }

  void Substring(TExpToken* node, int32_t depth) {
    Bind(false, node, node->Left, depth + 1);
    if (!IsStringType(*node->Left)) {
      RaiseIn("Expression argument of SUBSTRING function must be a string or memo");
    }
    TExpToken* from = node->Right;
    Adopt(node, from);
    if (!IsIntegerConstant(from))
      RaiseIn("FROM argument of SUBSTRING function must be an integer constant");
    if (IntegerValue(from) <= 0) {
      RaiseIn("FROM argument of SUBSTRING function must be an integer constant greater than 0");
    }
    TExpToken* count = from->Right;
    if (count != nullptr) {
      Adopt(node, count);
      if (!IsIntegerConstant(count))
        RaiseIn("FOR argument of SUBSTRING function must be an integer constant");
      if (IntegerValue(count) <= 0) {
        RaiseIn("FOR argument of SUBSTRING function must be an integer constant greater than 0");
      }
      // No substring is longer than its argument; the cap also keeps a
      // length near the integer limit from overflowing the size.
      node->SetValueSize(std::min(IntegerValue(count), std::max(node->Left->Size(), 0)) + 1);
    } else {
      // A start past the end leaves room for the terminating zero only.
      node->SetValueSize(std::max(node->Left->Size() - IntegerValue(from) + 1, 1));
    }
    node->Type = kFldString;
  }

  void If(TExpToken* node, int32_t depth) {
    Bind(true, node, node->Left, depth + 1);
    if (node->Left->Type != kFldBoolean) {
      RaiseIn("First expression argument of IF function must be a boolean type");
    }
    Bind(false, node, node->Right, depth + 1);
    Bind(false, node, node->Third, depth + 1);
    TExpToken* then_part = node->Right;
    TExpToken* else_part = node->Third;
    const bool then_null = IsNullConstant(then_part);
    const bool else_null = IsNullConstant(else_part);
    if (then_null && else_null) {
      Raise("At least one of the second and third IF expression arguments in " + context_ +
            " must be a non-NULL value");
    }
    if (then_null) TakeForm(then_part, else_part);
    if (else_null) TakeForm(else_part, then_part);
    if (then_part->Type != else_part->Type || then_part->Subtype != else_part->Subtype) {
      RaiseIn("Type mismatch between second and third IF expression arguments");
    }
    node->Type = then_part->Type;
    node->Subtype = then_part->Subtype;
    node->SetValueSize(std::max(then_part->Size(), else_part->Size()));
    node->Scale = std::max(then_part->Scale, else_part->Scale);
  }

  void Predicate(TExpToken* node, int32_t depth) {
    const std::string name = PredicateName(node->Code);
    Bind(false, node, node->Left, depth + 1);
    TExpToken* operand = node->Left;
    auto mismatch = [&](const TExpToken* with) {
      RaiseIn("Type mismatch between " + name + " operator and expression " + "'" +
              QuotedText(with->SourceText) + "'");
    };
    switch (node->Code) {
      case kOpLike:
      case kOpNotLike: {
        if (!IsStringType(*operand)) mismatch(operand);
        TExpToken* pattern = node->Right;
        Adopt(node, pattern);
        if (pattern->Kind != kTokenConstant) RaiseConstantExpected(name, pattern);
        if (pattern->Type != kFldString) mismatch(pattern);
        break;
      }
      case kOpInSubSelect:
      case kOpNotInSubSelect: {
        Bind(false, node, node->Right, depth + 1);
        const TExpToken* sub_select = node->Right;
        if (!IsValidOperandTypes(kOpEqual, operand->Type, operand->Subtype, sub_select->Subtype,
                                 sub_select->Type)) {
          mismatch(sub_select);
        }
        break;
      }
      default:
        // IN lists and BETWEEN bounds: constants chained through their
        // right links.
        for (TExpToken* item = node->Right; item != nullptr; item = item->Right) {
          Adopt(node, item);
          ListItem(name, operand, item, mismatch);
        }
        break;
    }
    node->Type = kFldBoolean;
    node->Subtype = 0;
    node->SetValueSize(2);
    node->Scale = 0;
  }

  [[noreturn]] void RaiseConstantExpected(const std::string& name, const TExpToken* found) const {
    RaiseIn("Constant expression expected after " + name + " operator, " + "instead found " + "'" +
            QuotedText(found->SourceText) + "'");
  }

  template <typename Mismatch>
  void ListItem(const std::string& name, const TExpToken* operand, TExpToken* item,
                Mismatch mismatch) {
    if (item->Kind == kTokenUnary && (item->Code == kOpNegate || item->Code == kOpPlusSign) &&
        item->Left != nullptr && item->Left->Kind == kTokenConstant) {
      TExpToken* constant = item->Left;
      constant->Parent = item;
      if (!IsValidUnaryOperandType(item->Code, constant->Type)) mismatch(item);
      item->Type = UnaryResultType(item->Code, constant->Type);
      item->Subtype = UnaryResultSubtype(item->Code, constant->Subtype);
      item->SetValueSize(constant->Size());
      item->Scale = constant->Scale;
    } else if (item->Kind != kTokenConstant) {
      RaiseConstantExpected(name, item);
    } else if (IsDateTextPair(item, operand)) {
      ConvertDateText(item, operand);
    }
    if (!IsValidOperandTypes(kOpEqual, operand->Type, operand->Subtype, item->Subtype,
                             item->Type)) {
      mismatch(item);
    }
  }

  EngineErrorCode error_code_;
  const std::string& table_name_;
  const std::string& context_;
  TColumnResolver resolver_;
  void* resolver_context_;
};

}  // namespace

void BindExpression(EngineErrorCode error_code, const std::string& table_name,
                    const std::string& context_text, bool condition, TColumnResolver resolver,
                    void* resolver_context, TExpToken* parent, TExpToken* node) {
  if (node == nullptr) return;
  Binder(error_code, table_name, context_text, resolver, resolver_context)
      .Bind(condition, parent, node, 0);
}

void CheckCastArguments(EngineErrorCode error_code, const std::string& table_name,
                        const std::string& context_text, TExpToken* node) {
  auto raise = [&](const std::string& message) {
    RaiseEngineError(error_code, table_name, std::string(), std::string(), message);
  };
  TExpToken* first = node->Right;
  TExpToken* second = first != nullptr ? first->Right : nullptr;
  if (first != nullptr) first->Parent = node;
  if (second != nullptr) second->Parent = node;
  const TExpToken* argument = node->Left;
  auto length_or_default = [&](int32_t extra) {
    if (first == nullptr)
      return argument != nullptr && argument->Size() > 0 ? argument->Size() : 10;
    if (!IsIntegerConstant(first)) raise("Length argument must be an integer in " + context_text);
    const int32_t length = IntegerValue(first);
    if (length < 1 || length > kMaxCastLength) {
      raise("Length argument must be an integer greater than 0 and less than or equal to " +
            IntToStr(kMaxCastLength) + " in " + context_text);
    }
    return length + extra;
  };
  node->Scale = 0;
  switch (node->Type) {
    case kFldString:
      node->SetValueSize(length_or_default(1));
      return;
    case kFldDate:
    case kFldInteger:
    case kFldTime:
      node->SetValueSize(4);
      return;
    case kFldBoolean:
    case kFldSmallInt:
    case kFldWord:
      node->SetValueSize(2);
      return;
    case kFldTimeStamp:
      node->SetValueSize(8);
      return;
    case kFldFloat:
    case kFldBcd:
      node->SetValueSize(8);
      if (second != nullptr) {
        if (!IsIntegerConstant(second) || IntegerValue(second) < 0 || IntegerValue(second) > 255) {
          raise("Scale argument must be an integer in " + context_text);
        }
        if (node->Type == kFldBcd && IntegerValue(second) > 4) {
          raise("Scale argument must be an integer less than or equal to 4 for the BCD data type " +
                context_text);
        }
        node->Scale = static_cast<uint8_t>(IntegerValue(second));
      }
      return;
    case kFldBytes:
    case kFldType15:
      node->SetValueSize(length_or_default(0));
      return;
    case kFldBlob: {
      node->SetValueSize(argument != nullptr ? argument->Size() : 0);
      if (!IsIntegerConstant(first)) {
        raise("First BLOB type argument must be an integer with the value of 0 in " + context_text);
      }
      if (!IsIntegerConstant(second))
        raise("BLOB type argument must be an integer in " + context_text);
      const int32_t kind = IntegerValue(second);
      if (kind != 1 && kind != 2 && kind != 3 && kind != 5 && kind != 7) {
        raise("BLOB type argument must be an integer equal to 1,2,3,5, or 7 in " + context_text);
      }
      node->Subtype = static_cast<uint8_t>(kind + 21);
      return;
    }
    default:
      return;
  }
}

}  // namespace jw
