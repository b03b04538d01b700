// The lowest level of the expression grammar: functions, aggregates,
// constants, column references, parameters, parenthesised expressions, and
// the data-type clause of CAST and the SQL table definitions.
#include <cstring>
#include <utility>

#include "engine/expr/expression_parser.h"
#include "engine/expr/subselect_hooks.h"
#include "engine/support/engine_strings.h"
#include "engine/support/field_types.h"
#include "engine/support/value_conversions.h"
#include "platform/rtl/date_time.h"
#include "platform/rtl/numbers.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

struct NamedCode {
  const char* name;
  uint8_t code;
};

constexpr NamedCode kAggregates[] = {{"SUM", kFuncSum},
                                     {"AVG", kFuncAvg},
                                     {"MIN", kFuncMin},
                                     {"MAX", kFuncMax},
                                     {"COUNT", kFuncCount}};

constexpr NamedCode kExtractParts[] = {{"YEAR", 53},      {"MONTH", 54}, {"DAY", 55},
                                       {"DAYOFWEEK", 56}, {"HOUR", 57},  {"MINUTE", 58},
                                       {"SECOND", 59}};

constexpr NamedCode kTrimKinds[] = {
    {"LEADING", kFuncTrimLeading}, {"TRAILING", kFuncTrimTrailing}, {"BOTH", kFuncTrimBoth}};

// How a data-type keyword takes its arguments.
enum class TypeArgs { kNone, kOptionalPair, kLength, kOptionalLength, kPair };

struct DataTypeKeyword {
  const char* keyword;
  uint8_t type;
  uint8_t subtype;
  TypeArgs args;
  const char* name;  // as the messages name it
};

constexpr DataTypeKeyword kDataTypes[] = {
    {"SMALLINT", kFldSmallInt, 0, TypeArgs::kNone, ""},
    {"WORD", kFldWord, 0, TypeArgs::kNone, ""},
    {"INTEGER", kFldInteger, 0, TypeArgs::kNone, ""},
    {"INT", kFldInteger, 0, TypeArgs::kNone, ""},
    {"AUTOINC", kFldInteger, kSubTypeAutoInc, TypeArgs::kNone, ""},
    {"DECIMAL", kFldBcd, 0, TypeArgs::kOptionalPair, "DECIMAL"},
    {"NUMERIC", kFldFloat, 0, TypeArgs::kOptionalPair, "NUMERIC"},
    {"FLOAT", kFldFloat, 0, TypeArgs::kOptionalPair, "FLOAT"},
    {"MONEY", kFldFloat, kSubTypeMoney, TypeArgs::kNone, ""},
    {"CHARACTER", kFldString, 0, TypeArgs::kLength, "CHARACTER or CHAR"},
    {"CHAR", kFldString, 0, TypeArgs::kLength, "CHARACTER or CHAR"},
    {"VARCHAR", kFldString, 0, TypeArgs::kLength, "VARCHAR"},
    {"DATE", kFldDate, 0, TypeArgs::kNone, ""},
    {"TIME", kFldTime, 0, TypeArgs::kNone, ""},
    {"TIMESTAMP", kFldTimeStamp, 0, TypeArgs::kNone, ""},
    {"BOOLEAN", kFldBoolean, 0, TypeArgs::kNone, ""},
    {"BYTES", kFldBytes, 0, TypeArgs::kOptionalLength, "BYTES"},
    {"BLOB", kFldBlob, 0, TypeArgs::kPair, "BLOB"},
};

template <typename T>
void StoreValue(TExpToken& node, T value) {
  node.SetValueSize(sizeof(T));
  std::memcpy(node.Value(), &value, sizeof(T));
}

}  // namespace

TExpressionParser::Nesting::Nesting(TExpressionParser& parser) : parser_(parser) {
  if (parser_.nesting_ >= kMaxExpressionNesting) {
    parser_.RaiseIn("Expression nested more than " + IntToStr(kMaxExpressionNesting) +
                    " levels deep");
  }
  ++parser_.nesting_;
}

TExpressionParser::Tree TExpressionParser::Primary(uint8_t flags) {
  const Nesting level(*this);
  switch (token_class_) {
    case kClassIdentifier:
      return IdentifierPrimary(flags);
    case kClassBracketed:
    case kClassString: {
      const uint8_t token_class = token_class_;
      std::string text = GetTokenText();
      NextToken();
      if (IsSymbol('.')) return ColumnReference(text, flags);
      if (token_class == kClassBracketed) {
        Tree column = NewNode(kTokenColumn, 0, text);
        column->ColumnName = ShortString(text);
        return column;
      }
      Tree constant = NewNode(kTokenConstant, 0, text);
      if (text.empty()) {
        constant->IsNull = true;  // '' is the NULL constant
        return constant;
      }
      constant->Type = kFldString;
      constant->SetValueSize(static_cast<int32_t>(text.size()) + 1);
      std::memcpy(constant->Value(), text.c_str(), text.size() + 1);
      return constant;
    }
    case kClassCharCode:
    case kClassInteger:
    case kClassFloat:
      return Constant(token_class_);
    case '(': {
      NextToken();
      Tree inner = Expression(flags);
      Expect(')', "Right parentheses expected, instead found '");
      return inner;
    }
    case '*': {
      if ((flags & kParseAllColumns) == 0) RaiseIn("* (all columns) symbol is not allowed");
      NextToken();
      Tree column = NewNode(kTokenColumn, 0, "*");
      column->ColumnName = "*";
      return column;
    }
    case '?': {
      if ((flags & kParseParameters) == 0) RaiseIn("Parameters are not allowed");
      Tree parameter = NewNode(kTokenConstant, 0, "?");
      parameter->IsParameter = true;
      if (TSubSelectHooks* hooks = SubSelectHooks()) hooks->AddParameter(owner_, parameter.get());
      NextToken();
      return parameter;
    }
    default:
      RaiseFoundIn("Unknown or unexpected symbol '");
  }
}

TExpressionParser::Tree TExpressionParser::Constant(uint8_t token_class) {
  const std::string text = GetTokenText();
  Tree constant = NewNode(kTokenConstant, 0, text);
  if (token_class == kClassCharCode) {
    if (text.empty() || text[0] != '#') RaiseIn("Internal character constant parse error");
    int32_t code = -1;
    if (!TryStrToInt(text.substr(1), code) || code < 0 || code > 255) {
      RaiseIn("Character constants (#) must be within the range of " + std::string("0") + " to " +
              "255");
    }
    constant->Type = kFldString;
    constant->SetValueSize(2);
    constant->Value()[0] = static_cast<uint8_t>(code);
    constant->Value()[1] = 0;
    NextToken();
    return constant;
  }
  if (token_class == kClassInteger && IsValidIntegerText(text)) {
    constant->Type = kFldInteger;
    StoreValue(*constant, StrToInt(text));
  } else if (IsValidFloatText(text)) {
    constant->Type = kFldFloat;
    StoreValue(*constant, StrToFloat(text));
  } else {
    RaiseIn("Constant '" + QuotedText(text) + "'" + " is not a valid number ");
  }
  NextToken();
  return constant;
}

TExpressionParser::Tree TExpressionParser::ColumnReference(const std::string& first,
                                                           uint8_t flags) {
  NextToken();  // the '.'
  std::string second;
  if (IsSymbol(kClassIdentifier) || IsSymbol(kClassBracketed) || IsSymbol(kClassString)) {
    second = GetTokenText();
  } else if (IsSymbol('*')) {
    if ((flags & kParseAllColumns) == 0) RaiseIn("* (all columns) symbol is not allowed");
    second = "*";
  } else {
    RaiseFound(
        "Symbol or string expression expected after table correlation name separator '.', "
        "instead found '");
  }
  NextToken();
  Tree column = NewNode(kTokenColumn, 0, first + "." + second);
  column->ColumnName = ShortString(second);
  column->TableName = ShortString(BaseFileName(first));
  return column;
}

TExpressionParser::Tree TExpressionParser::IdentifierPrimary(uint8_t flags) {
  const std::string name = GetTokenText();
  const std::string upper = UpperCase(name);

  for (const NamedCode& aggregate : kAggregates) {
    if (upper != aggregate.name) continue;
    if ((flags & kParseAggregates) == 0) RaiseIn("Aggregate functions are not allowed");
    NextToken();
    Expect('(', "Left parentheses expectedafter aggregate function '" + name + "'" +
                    ", instead found " + "'");
    Tree node = NewNode(kTokenFunction, aggregate.code, name);
    node->Left = Additive(flags).release();
    Expect(')', "Right parentheses expected after aggregate " + name +
                    " function argument, instead found " + "'");
    return node;
  }

  if (upper == "LOWER" || upper == "UPPER") {
    const std::string& word = upper;
    NextToken();
    Expect('(', "Left parentheses expectedafter " + word + " keyword, instead found '");
    Tree node =
        NewNode(kTokenFunction, upper == "UPPER" ? kFuncUpper : kFuncLower, name, kFldString);
    node->Left = Additive(flags).release();
    Expect(')', "Right parentheses expected after " + word + " function argument, instead found '");
    return node;
  }

  if (upper == "SUBSTRING") {
    NextToken();
    Expect('(', "Left parentheses expected after SUBSTRING keyword, instead found '");
    Tree node = NewNode(kTokenFunction, kFuncSubstring, name, kFldString);
    node->Left = Additive(flags).release();
    ExpectKeyword("FROM",
                  "FROM keyword expected after first SUBSTRING function argument, "
                  "instead found '");
    Tree start = Primary(flags);
    if (IsKeyword("FOR")) {
      NextToken();
      Tree length = Primary(flags);
      Chain(*start, std::move(length),
            "FROM argument of SUBSTRING function must be an integer "
            "constant");
    }
    node->Right = start.release();
    Expect(')', "Right parentheses expected after SUBSTRING function arguments, instead found '");
    return node;
  }

  if (upper == "REPLACE") {
    NextToken();
    Expect('(', "Left parentheses expected after REPLACE keyword, instead found '");
    Tree node = NewNode(kTokenFunction, kFuncReplace, name, kFldString);
    Tree search = Additive(flags);
    ExpectKeyword("WITH",
                  "WITH keyword expected after first REPLACE function argument, instead "
                  "found '");
    Tree replacement = Additive(flags);
    Chain(*search, std::move(replacement),
          "Search argument of REPLACE function must be a string constant");
    node->Right = search.release();
    ExpectKeyword("IN",
                  "IN keyword expected after second REPLACE function argument, instead "
                  "found '");
    node->Left = Primary(flags).release();
    Expect(')', "Right parentheses expected after REPLACE function arguments, instead found '");
    return node;
  }

  if (upper == "POS" || upper == "OCCURS") {
    const std::string& word = upper;
    NextToken();
    Expect('(', "Left parentheses expected after " + word + " keyword, instead found '");
    Tree node = NewNode(kTokenFunction, upper == "POS" ? kFuncPos : kFuncOccurs, name, kFldInteger);
    node->Right = Additive(flags).release();
    ExpectKeyword(
        "IN", "IN keyword expected after first " + word + " function argument, instead found '");
    node->Left = Primary(flags).release();
    Expect(')',
           "Right parentheses expected after " + word + " function arguments, instead found '");
    return node;
  }

  if (upper == "CAST") {
    NextToken();
    Expect('(', "Left parentheses expected after CAST keyword, instead found '");
    Tree node = NewNode(kTokenFunction, kFuncCast, name);
    node->Left = Expression(flags).release();
    ExpectKeyword("AS", "AS keyword expected after first CAST function argument, instead found '");
    DataType(*node, flags, false);
    Expect(')', "Right parentheses expected after CAST function arguments, instead found '");
    return node;
  }

  if (upper == "TRIM") {
    NextToken();
    Expect('(', "Left parentheses expected after TRIM keyword, instead found '");
    uint8_t code = 0;
    for (const NamedCode& kind : kTrimKinds) {
      if (IsKeyword(kind.name)) code = kind.code;
    }
    if (code == 0) {
      RaiseFound("LEADING, TRAILING, or BOTH keyword expected after TRIM keyword, instead found '");
    }
    NextToken();
    Tree node = NewNode(kTokenFunction, code, name, kFldString);
    node->Right = Primary(flags).release();
    ExpectKeyword("FROM",
                  "FROM keyword expected after second TRIM function argument, instead "
                  "found '");
    node->Left = Additive(flags).release();
    Expect(')', "Right parentheses expected after TRIM function arguments, instead found '");
    return node;
  }

  if (upper == "EXTRACT") {
    NextToken();
    Expect('(', "Left parentheses expected after EXTRACT keyword, instead found '");
    uint8_t code = 0;
    for (const NamedCode& part : kExtractParts) {
      if (IsKeyword(part.name)) code = part.code;
    }
    if (code == 0) {
      RaiseFound(
          "YEAR, MONTH, DAY, DAYOFWEEK, HOUR, MINUTE, or SECOND keyword expected after EXTRACT "
          "keyword, instead found '");
    }
    NextToken();
    Tree node = NewNode(kTokenFunction, code, name, kFldInteger);
    ExpectKeyword("FROM",
                  "FROM keyword expected after second EXTRACT function argument, "
                  "instead found '");
    node->Left = Primary(flags).release();
    Expect(')', "Right parentheses expected after EXTRACT function arguments, instead found '");
    return node;
  }

  if (upper == "ABS") {
    NextToken();
    Expect('(', "Left parentheses expectedafter ABS keyword, instead found '");
    Tree node = NewNode(kTokenFunction, kFuncAbs, name);
    node->Left = Additive(flags).release();
    node->Type = node->Left->Type;
    node->Subtype = node->Left->Subtype;
    node->SetValueSize(node->Left->Size());
    node->Scale = node->Left->Scale;
    Expect(')', "Right parentheses expected after ABS function argument, instead found '");
    return node;
  }

  if (upper == "ROUND") {
    NextToken();
    Expect('(', "Left parentheses expectedafter ROUND keyword, instead found '");
    Tree node = NewNode(kTokenFunction, kFuncRound, name, kFldFloat);
    node->Left = Additive(flags).release();
    if (IsKeyword("TO")) {
      NextToken();
      node->Right = Additive(flags).release();
    }
    Expect(')', "Right parentheses expected after ROUND function arguments, instead found '");
    return node;
  }

  if (upper == "IF") {
    NextToken();
    Expect('(', "Left parentheses expectedafter IF keyword, instead found '");
    Tree node = NewNode(kTokenFunction, kFuncIf, name);
    node->Left = Expression(flags).release();
    ExpectKeyword("THEN",
                  "THEN keyword expected after first IF function argument, instead "
                  "found '");
    node->Right = Additive(flags).release();
    ExpectKeyword("ELSE",
                  "ELSE keyword expected after second IF function argument, instead "
                  "found '");
    node->Third = Additive(flags).release();
    Expect(')', "Right parentheses expected after IF function arguments, instead found '");
    return node;
  }

  if (upper == "TRUE" || upper == "FALSE") {
    Tree constant = NewNode(kTokenConstant, 0, name, kFldBoolean);
    StoreValue(*constant, static_cast<int16_t>(upper == "TRUE" ? 1 : 0));
    NextToken();
    return constant;
  }
  if (upper == "NULL") {
    Tree constant = NewNode(kTokenConstant, 0, name);
    constant->IsNull = true;
    NextToken();
    return constant;
  }
  if (upper == "CURRENT_DATE" || upper == "CURRENT_TIME" || upper == "CURRENT_TIMESTAMP") {
    const TTimeStamp now = DateTimeToTimeStamp(Now());
    Tree constant = NewNode(kTokenConstant, 0, name);
    if (upper == "CURRENT_DATE") {
      constant->Type = kFldDate;
      StoreValue(*constant, now.Date);
    } else if (upper == "CURRENT_TIME") {
      constant->Type = kFldTime;
      StoreValue(*constant, now.Time);
    } else {
      constant->Type = kFldTimeStamp;
      StoreValue(*constant, TimeStampToMSecs(now));
    }
    NextToken();
    return constant;
  }

  NextToken();
  if (IsSymbol('(')) {
    RaiseIn("Unknown or unexpected function '" + QuotedText(name) + "'" + " found");
  }
  if (IsSymbol('.')) return ColumnReference(name, flags);
  Tree column = NewNode(kTokenColumn, 0, name);
  column->ColumnName = ShortString(name);
  return column;
}

void TExpressionParser::DataType(TExpToken& node, uint8_t flags, bool optional) {
  const DataTypeKeyword* found = nullptr;
  for (const DataTypeKeyword& entry : kDataTypes) {
    if (IsKeyword(entry.keyword)) {
      found = &entry;
      break;
    }
  }
  if (found == nullptr) {
    if (optional) return;
    RaiseFound("SQL data type keyword expected, instead found '");
  }
  NextToken();
  const std::string name = found->name;
  // The arguments are held here until the clause is complete, so a fault
  // leaves the node as it was.
  Tree first;
  Tree second;
  switch (found->args) {
    case TypeArgs::kNone:
      break;
    case TypeArgs::kOptionalPair:
      if (!IsSymbol('(')) break;
      NextToken();
      first = Primary(flags);
      if (IsSymbol(',')) {
        NextToken();
        second = Primary(flags);
        Expect(')', "Right parentheses expected after " + name +
                        " data type arguments, instead found '");
      } else if (IsSymbol(')')) {
        NextToken();  // a precision alone: scale 0
      } else {
        RaiseFound("Comma expected after first " + name + " argument, instead found '");
      }
      break;
    case TypeArgs::kLength:
      Expect('(', "Left parentheses expected after " + name + " data type, instead found '");
      first = Primary(flags);
      Expect(')',
             "Right parentheses expected after " + name + " data type arguments, instead found '");
      break;
    case TypeArgs::kOptionalLength:
      if (!IsSymbol('(')) break;
      NextToken();
      first = Primary(flags);
      Expect(')',
             "Right parentheses expected after " + name + " data type arguments, instead found '");
      break;
    case TypeArgs::kPair:
      Expect('(', "Left parentheses expected after " + name + " data type, instead found '");
      first = Primary(flags);
      Expect(',', "Comma expected after first " + name + " argument, instead found '");
      second = Primary(flags);
      Expect(')',
             "Right parentheses expected after " + name + " data type arguments, instead found '");
      break;
  }
  if (second.get() != nullptr) {
    Chain(*first, std::move(second),
          found->type == kFldBlob
              ? "First BLOB type argument must be an integer with the value of 0"
              : "Precision argument must be an integer");
  }
  if (first.get() != nullptr) node.Right = first.release();
  node.Type = found->type;
  node.Subtype = found->subtype;
}

}  // namespace jw
