#include "engine/expr/expression_parser.h"

#include <utility>

#include "engine/expr/subselect_hooks.h"
#include "engine/support/engine_strings.h"
#include "engine/support/field_types.h"
#include "engine/support/key_images.h"
#include "platform/rtl/format_settings.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

bool IsBlank(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 1 && byte <= 32;
}

bool IsExponent(char c) {
  return c == 'E' || c == 'e';
}

}  // namespace

void TExpressionParser::SetObjectName(const std::string& name) {
  object_name_ = ShortString(name);
}

void TExpressionParser::SetContextName(const std::string& name) {
  context_name_ = ShortString(name);
}

void TExpressionParser::SetText(const char* text) {
  ClearText();
  text_ = text != nullptr ? text : "";
  has_text_ = true;
}

void TExpressionParser::ClearText() {
  has_text_ = false;
  text_.clear();
  position_ = token_start_ = token_end_ = expression_start_ = previous_end_ = 0;
  token_class_ = kClassEnd;
}

uint8_t TExpressionParser::NextToken() {
  previous_end_ = position_;
  size_t pos = position_;
  for (;;) {
    while (IsBlank(CharAt(pos))) ++pos;
    if (CharAt(pos) != '/' || CharAt(pos + 1) != '*') break;
    const size_t close = text_.find("*/", pos + 2);
    if (close == std::string::npos) {
      RaiseIn("Missing ending comment slash and asterisk");
    }
    pos = close + 2;
  }
  token_start_ = pos;
  const char first = CharAt(pos);
  const char separator = FormatSettings().DecimalSeparator;
  uint8_t token_class = kClassEnd;
  if (first == '\0') {
    token_class = kClassEnd;
  } else if (IsIdentStartChar(first)) {
    token_class = kClassIdentifier;
    while (IsIdentChar(CharAt(++pos))) {
    }
  } else if (first == '#') {
    token_class = kClassCharCode;
    while (IsDigitChar(CharAt(++pos))) {
    }
  } else if (first == '\'' || first == '"' || first == '[') {
    token_class = first == '[' ? kClassBracketed : kClassString;
    const char close = first == '[' ? ']' : first;
    size_t i = pos + 1;
    for (;;) {
      if (CharAt(i) == '\0') {
        const char* what = first == '\''  ? "Missing single quote after '"
                           : first == '"' ? "Missing double quote after '"
                                          : "Missing right bracket after '";
        RaiseIn(what + QuotedText(std::string_view(text_).substr(pos + 1)) + "'");
      }
      if (CharAt(i) != close) {
        ++i;
      } else if (close != ']' && CharAt(i + 1) == close) {
        i += 2;  // a doubled delimiter stands for one
      } else {
        break;
      }
    }
    pos = i + 1;
  } else if (IsDigitChar(first) || (first == separator && IsDigitChar(CharAt(pos + 1)))) {
    token_class = kClassInteger;
    if (first == separator) {
      token_class = kClassFloat;
      ++pos;
    }
    while (IsDigitChar(CharAt(pos))) ++pos;
    if (token_class == kClassInteger && (IsExponent(CharAt(pos)) || CharAt(pos) == separator)) {
      token_class = kClassFloat;
    }
    if (token_class == kClassFloat) {
      // A leading separator allows no second one.
      const bool separator_allowed = first != separator;
      for (;;) {
        const char c = CharAt(pos);
        if (IsDigitChar(c) || IsExponent(c) || (separator_allowed && c == separator)) {
          ++pos;
        } else if ((c == '+' || c == '-') && IsExponent(CharAt(pos - 1))) {
          ++pos;
        } else {
          break;
        }
      }
    }
  } else {
    token_class = static_cast<uint8_t>(first);
    ++pos;
  }
  position_ = pos;
  token_end_ = pos;
  token_class_ = token_class;
  return token_class;
}

std::string TExpressionParser::GetTokenText() const {
  if (token_class_ == kClassEnd) return std::string();
  const std::string_view text(text_);
  if (token_class_ == kClassBracketed) {
    return std::string(text.substr(token_start_ + 1, token_end_ - token_start_ - 2));
  }
  if (token_class_ == kClassString) {
    return UndoubleQuote(text.substr(token_start_ + 1, token_end_ - token_start_ - 2),
                         text_[token_start_]);
  }
  return std::string(text.substr(token_start_, position_ - token_start_));
}

bool TExpressionParser::IsKeyword(const char* word) const {
  return token_class_ == kClassIdentifier && SameText(GetTokenText(), word);
}

std::string TExpressionParser::GetExpressionText() const {
  if (previous_end_ <= expression_start_) return std::string();
  return StripLineBreaks(
      std::string_view(text_).substr(expression_start_, previous_end_ - expression_start_));
}

void TExpressionParser::RaiseParseError(const std::string& message) const {
  RaiseEngineError(error_code_, object_name_, std::string(), std::string(), message);
}

void TExpressionParser::RaiseFound(const std::string& prefix) const {
  RaiseParseError(prefix + QuotedText(GetTokenText()) + "'" + " in " + context_name_);
}

void TExpressionParser::RaiseFoundIn(const std::string& prefix) const {
  RaiseParseError(prefix + QuotedText(GetTokenText()) + "'" + " found in " + context_name_);
}

void TExpressionParser::RaiseIn(const std::string& prefix) const {
  RaiseParseError(prefix + " in " + context_name_);
}

void TExpressionParser::Expect(uint8_t token_class, const std::string& prefix) {
  if (token_class_ != token_class) RaiseFound(prefix);
  NextToken();
}

void TExpressionParser::ExpectKeyword(const char* word, const std::string& prefix) {
  if (!IsKeyword(word)) RaiseFound(prefix);
  NextToken();
}

void TExpressionParser::Chain(TExpToken& prev, Tree next, const std::string& message) {
  if (prev.Right != nullptr) RaiseIn(message);
  prev.Right = next.release();
}

TExpressionParser::Tree TExpressionParser::NewNode(uint8_t kind, uint8_t code, std::string text,
                                                   uint8_t type) {
  Tree node(GetToken());
  node->Kind = kind;
  node->Code = code;
  node->SourceText = std::move(text);
  node->Type = type;
  return node;
}

TExpressionParser::Tree TExpressionParser::NewOperator(uint8_t kind, uint8_t code, std::string text,
                                                       uint8_t type, Tree left, Tree right) {
  Tree node = NewNode(kind, code, std::move(text), type);
  node->Left = left.release();
  node->Right = right.release();
  return node;
}

TExpToken* TExpressionParser::ParseExpression(uint8_t flags) {
  return Expression(flags).release();
}

TExpToken* TExpressionParser::ParseAdditive(uint8_t flags) {
  return Additive(flags).release();
}

TExpToken* TExpressionParser::ParseUnary(uint8_t flags) {
  return Unary(flags).release();
}

TExpToken* TExpressionParser::ParsePrimary(uint8_t flags) {
  return Primary(flags).release();
}

void TExpressionParser::ParseDataType(TExpToken* node, uint8_t flags, bool optional) {
  DataType(*node, flags, optional);
}

TExpressionParser::Tree TExpressionParser::Expression(uint8_t flags) {
  Tree left = Conjunction(flags);
  while (IsKeyword("OR")) {
    std::string text = GetTokenText();
    NextToken();
    Tree right = Conjunction(flags);
    left = NewOperator(kTokenBinary, kOpOr, std::move(text), kFldBoolean, std::move(left),
                       std::move(right));
  }
  return left;
}

TExpressionParser::Tree TExpressionParser::Conjunction(uint8_t flags) {
  Tree left = Negation(flags);
  while (IsKeyword("AND")) {
    std::string text = GetTokenText();
    NextToken();
    Tree right = Negation(flags);
    left = NewOperator(kTokenBinary, kOpAnd, std::move(text), kFldBoolean, std::move(left),
                       std::move(right));
  }
  return left;
}

TExpressionParser::Tree TExpressionParser::Negation(uint8_t flags) {
  if (!IsKeyword("NOT")) return Predicate(flags);
  std::string text = GetTokenText();
  NextToken();
  Tree operand = Predicate(flags);
  return NewOperator(kTokenUnary, kOpNot, std::move(text), kFldBoolean, std::move(operand), Tree());
}

TExpressionParser::Tree TExpressionParser::Predicate(uint8_t flags) {
  Tree left = Additive(flags);
  uint8_t code = 0;
  std::string text;
  if (IsSymbol('=')) {
    code = kOpEqual;
    text = "=";
    NextToken();
  } else if (IsSymbol('<')) {
    NextToken();
    if (IsSymbol('>')) {
      code = kOpNotEqual;
      text = "< >";
      NextToken();
    } else if (IsSymbol('=')) {
      code = kOpLessOrEqual;
      text = "< =";
      NextToken();
    } else {
      code = kOpLess;
      text = "<";
    }
  } else if (IsSymbol('>')) {
    NextToken();
    if (IsSymbol('=')) {
      code = kOpGreaterOrEqual;
      text = "> =";
      NextToken();
    } else {
      code = kOpGreater;
      text = ">";
    }
  }
  if (code != 0) {
    Tree right = Additive(flags);
    return NewOperator(kTokenBinary, code, std::move(text), kFldBoolean, std::move(left),
                       std::move(right));
  }

  const bool extended = IsKeyword("LIKE") || IsKeyword("BETWEEN") || IsKeyword("IN") ||
                        IsKeyword("IS") || IsKeyword("NOT");
  if (!extended) return left;
  if ((flags & kParseExtended) == 0) {
    RaiseIn("Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed");
  }

  if (IsKeyword("IS")) {
    text = GetTokenText();
    NextToken();
    code = kOpEqual;
    if (IsKeyword("NOT")) {
      text += " " + GetTokenText();
      NextToken();
      code = kOpNotEqual;
      if (!IsKeyword("NULL")) RaiseFoundIn("Unknown or unexpected symbol '");
    } else if (!IsKeyword("NULL")) {
      RaiseFoundIn("Unknown or unexpected symbol '");
    }
    text += " " + GetTokenText();
    NextToken();
    Tree null_constant = NewNode(kTokenConstant, 0, "NULL");
    null_constant->IsNull = true;
    return NewOperator(kTokenBinary, code, std::move(text), kFldBoolean, std::move(left),
                       std::move(null_constant));
  }

  bool negated = false;
  if (IsKeyword("NOT")) {
    text = GetTokenText() + " ";
    NextToken();
    negated = true;
    if (!IsKeyword("LIKE") && !IsKeyword("BETWEEN") && !IsKeyword("IN")) {
      RaiseFound("Unknown or unexpected symbol '");
    }
  }
  if (IsKeyword("IN")) return InPredicate(std::move(left), negated, std::move(text), flags);

  const bool like = IsKeyword("LIKE");
  text += GetTokenText();
  NextToken();
  if (like) {
    Tree pattern = Additive(flags);
    return NewOperator(kTokenPredicate, negated ? kOpNotLike : kOpLike, std::move(text),
                       kFldBoolean, std::move(left), std::move(pattern));
  }
  Tree node = NewOperator(kTokenPredicate, negated ? kOpNotBetween : kOpBetween, text, kFldBoolean,
                          std::move(left), Tree());
  Tree low = Additive(flags);
  ExpectKeyword("AND", "Expected AND operator in BETWEEN operator, instead found '");
  Tree high = Additive(flags);
  Chain(*low, std::move(high),
        "Constant expression expected after " + std::string(negated ? "NOT BETWEEN" : "BETWEEN") +
            " operator, instead found '" + QuotedText(low->SourceText) + "'");
  node->Right = low.release();
  return node;
}

TExpressionParser::Tree TExpressionParser::InPredicate(Tree operand, bool negated, std::string text,
                                                       uint8_t flags) {
  text += GetTokenText();
  NextToken();
  if (!IsSymbol('(')) {
    RaiseFound(negated ? "Expected left parentheses for IN operator, instead found '"
                       : "Expected left parentheses after IN operator, instead found '");
  }
  NextToken();
  const std::string right_message = "Expected right parentheses after IN operator, instead found '";
  if (IsKeyword("SELECT")) {
    TSubSelectHooks* hooks = SubSelectHooks();
    if ((flags & kParseSubSelects) == 0 || hooks == nullptr) {
      RaiseIn("Sub-select queries are not allowed");
    }
    Tree node = NewOperator(kTokenPredicate, negated ? kOpNotInSubSelect : kOpInSubSelect,
                            std::move(text), kFldBoolean, std::move(operand), Tree());
    node->Right = NewNode(kTokenSubSelect, 0, "SELECT").release();
    // A sub-select's clauses parse on this parser: its levels count on top
    // of those around it.
    const Nesting level(*this);
    node->Right->QueryRef = hooks->ParseSubSelect(owner_, *this);
    Expect(')', right_message);
    return node;
  }
  if (IsSymbol(')')) {
    RaiseIn("You must provide at least one value as an operand of the IN operator ");
  }
  const std::string name = negated ? "NOT IN" : "IN";
  Tree node = NewOperator(kTokenPredicate, negated ? kOpNotInList : kOpInList, std::move(text),
                          kFldBoolean, std::move(operand), Tree());
  // The items are linked through their right links, so an item that uses
  // that link for an operand of its own (an operator or a function) would
  // read as further items: it is refused, as binding would refuse it.
  auto item_message = [&name](const TExpToken& item) {
    return "Constant expression expected after " + name + " operator, instead found '" +
           QuotedText(item.SourceText) + "'";
  };
  node->Right = Additive(flags).release();
  TExpToken* last = node->Right;
  if (last->Right != nullptr) RaiseIn(item_message(*last));
  while (IsSymbol(',')) {
    NextToken();
    Tree item = Additive(flags);
    if (item->Right != nullptr) RaiseIn(item_message(*item));
    TExpToken* next = item.get();
    Chain(*last, std::move(item), item_message(*last));
    last = next;
  }
  Expect(')', right_message);
  return node;
}

TExpressionParser::Tree TExpressionParser::Additive(uint8_t flags) {
  Tree left = Term(flags);
  for (;;) {
    uint8_t code = kOpAdd;
    std::string text;
    if (IsSymbol('+')) {
      text = "+";
    } else if (IsSymbol('-')) {
      code = kOpSubtract;
      text = "-";
    } else if (IsSymbol('|')) {
      NextToken();
      if (!IsSymbol('|')) {
        RaiseFound(
            "Second concatenation symbol '|' expected after first concatentation symbol, instead "
            "found '");
      }
      text = "||";
    } else {
      return left;
    }
    NextToken();
    Tree right = Term(flags);
    const uint8_t type = left->Type;
    left =
        NewOperator(kTokenBinary, code, std::move(text), type, std::move(left), std::move(right));
  }
}

TExpressionParser::Tree TExpressionParser::Term(uint8_t flags) {
  Tree left = Unary(flags);
  while (IsSymbol('*') || IsSymbol('/')) {
    const bool multiply = IsSymbol('*');
    NextToken();
    Tree right = Unary(flags);
    const uint8_t type = left->Type;
    left = NewOperator(kTokenBinary, multiply ? kOpMultiply : kOpDivide, multiply ? "*" : "/", type,
                       std::move(left), std::move(right));
  }
  return left;
}

TExpressionParser::Tree TExpressionParser::Unary(uint8_t flags) {
  if (!IsSymbol('+') && !IsSymbol('-')) return Primary(flags);
  const bool minus = IsSymbol('-');
  NextToken();
  Tree operand = Primary(flags);
  const uint8_t type = operand->Type;
  return NewOperator(kTokenUnary, minus ? kOpNegate : kOpPlusSign, minus ? "-" : "+", type,
                     std::move(operand), Tree());
}

bool IsUpperOfColumn(const TExpToken* node) {
  return node != nullptr && node->Kind == kTokenFunction && node->Code == kFuncUpper &&
         node->Left != nullptr && node->Left->Kind == kTokenColumn;
}

}  // namespace jw
