// Round trip over the grammar: a seeded generator builds random expressions,
// writes each fully parenthesised and with only the parentheses precedence
// needs (with random blanks, line breaks and comments between tokens), and
// both texts must parse to the same tree, whose shape is the generated one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "engine/expr/expression_parser.h"
#include "tests/engine/expr/expression_test_util.h"

namespace jw {
namespace {

using test_support::TreeGuard;

// Precedence levels of the grammar, loosest first.
enum Level { kOr = 1, kAnd, kNot, kPredicate, kAdditive, kTerm, kUnary, kPrimary };

struct Expr {
  Level level = kPrimary;
  std::vector<std::string> minimal;  // tokens
  std::vector<std::string> full;
  std::string canonical;
};

class Generator {
 public:
  explicit Generator(uint32_t seed) : random_(seed) {}

  Expr Make(int depth) {
    if (depth <= 0) return Leaf();
    switch (Pick(12)) {
      case 0:
        return Binary(kOr, "OR", "OR", Make(depth - 1), kOr, Make(depth - 1), kAnd);
      case 1:
        return Binary(kAnd, "AND", "AND", Make(depth - 1), kAnd, Make(depth - 1), kNot);
      case 2: {
        Expr operand = Make(depth - 1);
        Expr e;
        e.level = kNot;
        e.minimal = {"NOT"};
        e.full = {"NOT"};
        Append(e, operand, kPredicate);
        e.canonical = "(NOT " + operand.canonical + ")";
        return e;
      }
      case 3: {
        static const char* const ops[][2] = {{"=", "="},   {"<>", "<>"}, {"<", "<"},   {">", ">"},
                                             {"<=", "<="}, {">=", ">="}, {"< >", "<>"}};
        const auto& op = ops[Pick(7)];
        return Binary(kPredicate, op[0], op[1], Make(depth - 1), kAdditive, Make(depth - 1),
                      kAdditive);
      }
      case 4:
        return Special(depth);
      case 5:
      case 6: {
        static const char* const ops[] = {"+", "-", "||"};
        const char* op = ops[Pick(3)];
        return Binary(kAdditive, op, op, Make(depth - 1), kAdditive, Make(depth - 1), kTerm);
      }
      case 7:
      case 8: {
        const char* op = Pick(2) ? "*" : "/";
        return Binary(kTerm, op, op, Make(depth - 1), kTerm, Make(depth - 1), kUnary);
      }
      case 9: {
        const char* op = Pick(2) ? "-" : "+";
        Expr operand = Make(depth - 1);
        Expr e;
        e.level = kUnary;
        e.minimal = {op};
        e.full = {op};
        Append(e, operand, kPrimary);
        e.canonical = std::string("(") + op + " " + operand.canonical + ")";
        return e;
      }
      case 10:
        return Function(depth);
      default:
        return Leaf();
    }
  }

  // Tokens joined by random blanks, line breaks and comments.
  std::string Join(const std::vector<std::string>& tokens) {
    static const char* const separators[] = {" ", "  ", "\t", "\r\n", " /* c */ ", "/**/"};
    std::string text = Pick(4) == 0 ? "/* lead */ " : "";
    for (size_t i = 0; i < tokens.size(); ++i) {
      if (i > 0) text += separators[Pick(6)];
      text += tokens[i];
    }
    return text;
  }

 private:
  uint32_t Pick(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(random_); }

  static void Append(Expr& e, const Expr& child, Level needed) {
    const bool wrap = child.level < needed;
    if (wrap) e.minimal.push_back("(");
    e.minimal.insert(e.minimal.end(), child.minimal.begin(), child.minimal.end());
    if (wrap) e.minimal.push_back(")");
    const bool wrap_full = child.level != kPrimary;
    if (wrap_full) e.full.push_back("(");
    e.full.insert(e.full.end(), child.full.begin(), child.full.end());
    if (wrap_full) e.full.push_back(")");
  }

  static void Word(Expr& e, const std::string& word) {
    e.minimal.push_back(word);
    e.full.push_back(word);
  }

  static Expr Binary(Level level, const std::string& written, const std::string& shown,
                     const Expr& left, Level left_needed, const Expr& right, Level right_needed) {
    Expr e;
    e.level = level;
    Append(e, left, left_needed);
    Word(e, written);
    Append(e, right, right_needed);
    e.canonical = "(" + left.canonical + " " + shown + " " + right.canonical + ")";
    return e;
  }

  Expr Constant() {
    Expr e;
    switch (Pick(3)) {
      case 0: {
        const std::string n = std::to_string(Pick(100000));
        Word(e, n);
        e.canonical = n;
        break;
      }
      case 1: {
        const std::string s = "s" + std::to_string(Pick(10)) + (Pick(2) ? "''q" : "");
        Word(e, "'" + s + "'");
        e.canonical = "'" + s + "'";
        break;
      }
      default: {
        const std::string n = std::to_string(Pick(1000)) + ".25";
        Word(e, n);
        e.canonical = n;
        break;
      }
    }
    return e;
  }

  Expr Leaf() {
    if (Pick(2)) return Constant();
    Expr e;
    std::string name = "c" + std::to_string(Pick(10));
    if (Pick(4) == 0) name = "t." + name;
    if (name[0] == 't') {
      e.minimal = {"t", ".", name.substr(2)};
      e.full = e.minimal;
    } else {
      Word(e, name);
    }
    e.canonical = name;
    return e;
  }

  // LIKE, BETWEEN, IN and IS NULL, each optionally negated.
  Expr Special(int depth) {
    Expr operand = Make(depth - 1);
    Expr e;
    e.level = kPredicate;
    Append(e, operand, kAdditive);
    const bool negated = Pick(2);
    const std::string not_word = negated ? "NOT " : "";
    switch (Pick(4)) {
      case 0: {
        if (negated) Word(e, "NOT");
        Word(e, "LIKE");
        Expr pattern = Make(depth - 1);
        Append(e, pattern, kAdditive);
        e.canonical = "(" + operand.canonical + " " + not_word + "LIKE " + pattern.canonical + ")";
        break;
      }
      case 1: {
        if (negated) Word(e, "NOT");
        Word(e, "BETWEEN");
        Expr low = Constant();
        Append(e, low, kAdditive);
        Word(e, "AND");
        Expr high = Make(depth - 1);
        Append(e, high, kAdditive);
        e.canonical = "(" + operand.canonical + " " + not_word + "BETWEEN " + low.canonical +
                      " AND " + high.canonical + ")";
        break;
      }
      case 2: {
        if (negated) Word(e, "NOT");
        Word(e, "IN");
        Word(e, "(");
        std::string items;
        const uint32_t count = 1 + Pick(4);
        for (uint32_t i = 0; i < count; ++i) {
          if (i > 0) {
            Word(e, ",");
            items += ", ";
          }
          Expr item = Constant();
          Append(e, item, kAdditive);
          items += item.canonical;
        }
        Word(e, ")");
        e.canonical = "(" + operand.canonical + " " + not_word + "IN (" + items + "))";
        break;
      }
      default:
        Word(e, "IS");
        if (negated) Word(e, "NOT");
        Word(e, "NULL");
        e.canonical = "(" + operand.canonical + " IS " + not_word + "NULL)";
        break;
    }
    return e;
  }

  Expr Function(int depth) {
    Expr e;
    switch (Pick(4)) {
      case 0: {
        const char* name = Pick(2) ? "UPPER" : "LOWER";
        Expr arg = Make(depth - 1);
        Word(e, name);
        Word(e, "(");
        Append(e, arg, kAdditive);
        Word(e, ")");
        e.canonical = std::string(name) + "(" + arg.canonical + ")";
        break;
      }
      case 1: {
        Expr condition = Make(depth - 1);
        Expr then_value = Make(depth - 1);
        Expr else_value = Make(depth - 1);
        Word(e, "IF");
        Word(e, "(");
        Append(e, condition, kOr);
        Word(e, "THEN");
        Append(e, then_value, kAdditive);
        Word(e, "ELSE");
        Append(e, else_value, kAdditive);
        Word(e, ")");
        e.canonical = "IF(" + condition.canonical + " THEN " + then_value.canonical + " ELSE " +
                      else_value.canonical + ")";
        break;
      }
      case 2: {
        Expr value = Make(depth - 1);
        Word(e, "CAST");
        Word(e, "(");
        Append(e, value, kOr);
        Word(e, "AS");
        Word(e, "CHAR");
        Word(e, "(");
        Word(e, "5");
        Word(e, ")");
        Word(e, ")");
        e.canonical = "CAST(" + value.canonical + " AS 1)";
        break;
      }
      default: {
        Expr value = Make(depth - 1);
        Word(e, "SUBSTRING");
        Word(e, "(");
        Append(e, value, kAdditive);
        Word(e, "FROM");
        Word(e, "2");
        Word(e, "FOR");
        Word(e, "3");
        Word(e, ")");
        e.canonical = "SUBSTRING(" + value.canonical + " FROM 2 FOR 3)";
        break;
      }
    }
    return e;
  }

  std::mt19937 random_;
};

// The parsed tree written in the generator's canonical form.
std::string Canonical(const TExpToken* n) {
  switch (n->Kind) {
    case kTokenColumn:
      return n->TableName.empty() ? n->ColumnName : n->TableName + "." + n->ColumnName;
    case kTokenConstant: {
      if (n->Type != 1) return n->SourceText;
      std::string quoted = "'";
      for (char c : n->SourceText) quoted += c == '\'' ? std::string("''") : std::string(1, c);
      return quoted + "'";
    }
    case kTokenUnary: {
      const char* op = n->Code == kOpNot ? "NOT" : n->Code == kOpNegate ? "-" : "+";
      return std::string("(") + op + " " + Canonical(n->Left) + ")";
    }
    case kTokenBinary: {
      if (n->SourceText.rfind("IS", 0) == 0 || n->SourceText.rfind("is", 0) == 0) {
        return "(" + Canonical(n->Left) + (n->Code == kOpEqual ? " IS NULL)" : " IS NOT NULL)");
      }
      static const char* const names[] = {"",  "",   "",   "=", "<>",  ">",
                                          "<", ">=", "<=", "",  "AND", "OR"};
      std::string op;
      if (n->Code <= kOpOr) op = names[n->Code];
      if (n->Code == kOpAdd) op = n->SourceText == "||" ? "||" : "+";
      if (n->Code == kOpSubtract) op = "-";
      if (n->Code == kOpMultiply) op = "*";
      if (n->Code == kOpDivide) op = "/";
      return "(" + Canonical(n->Left) + " " + op + " " + Canonical(n->Right) + ")";
    }
    case kTokenPredicate: {
      const bool negated =
          n->Code == kOpNotLike || n->Code == kOpNotBetween || n->Code == kOpNotInList;
      const std::string not_word = negated ? "NOT " : "";
      if (n->Code == kOpLike || n->Code == kOpNotLike) {
        return "(" + Canonical(n->Left) + " " + not_word + "LIKE " + Canonical(n->Right) + ")";
      }
      if (n->Code == kOpBetween || n->Code == kOpNotBetween) {
        return "(" + Canonical(n->Left) + " " + not_word + "BETWEEN " + Canonical(n->Right) +
               " AND " + Canonical(n->Right->Right) + ")";
      }
      std::string items;
      for (const TExpToken* item = n->Right; item != nullptr; item = item->Right) {
        if (!items.empty()) items += ", ";
        items += Canonical(item);
      }
      return "(" + Canonical(n->Left) + " " + not_word + "IN (" + items + "))";
    }
    case kTokenFunction:
      switch (n->Code) {
        case kFuncUpper:
          return "UPPER(" + Canonical(n->Left) + ")";
        case kFuncLower:
          return "LOWER(" + Canonical(n->Left) + ")";
        case kFuncIf:
          return "IF(" + Canonical(n->Left) + " THEN " + Canonical(n->Right) + " ELSE " +
                 Canonical(n->Third) + ")";
        case kFuncCast:
          return "CAST(" + Canonical(n->Left) + " AS " + std::to_string(n->Type) + ")";
        case kFuncSubstring:
          return "SUBSTRING(" + Canonical(n->Left) + " FROM " + Canonical(n->Right) + " FOR " +
                 Canonical(n->Right->Right) + ")";
        default:
          break;
      }
      break;
    default:
      break;
  }
  return "?";
}

TExpToken* Parse(const std::string& text) {
  TExpressionParser parser;
  parser.SetContextName("round trip");
  parser.SetText(text.c_str());
  parser.NextToken();
  TExpToken* tree = parser.ParseExpression(kParseExtended);
  EXPECT_TRUE(parser.IsSymbol(kClassEnd)) << text;
  return tree;
}

TEST(ExpressionRoundTrip, FullAndMinimalParenthesesGiveTheGeneratedTree) {
  const bool long_run =
      std::getenv("JW_LONG_TESTS") != nullptr && std::string(std::getenv("JW_LONG_TESTS")) == "1";
  const int cases = long_run ? 100000 : 3000;
  const uint32_t seed = 20240229;
  Generator generator(seed);
  for (int i = 0; i < cases; ++i) {
    const Expr e = generator.Make(1 + i % 5);
    const std::string full = generator.Join(e.full);
    const std::string minimal = generator.Join(e.minimal);
    SCOPED_TRACE("seed " + std::to_string(seed) + " case " + std::to_string(i) + "\nfull: " + full +
                 "\nminimal: " + minimal);
    try {
      TreeGuard full_tree(Parse(full));
      TreeGuard minimal_tree(Parse(minimal));
      ASSERT_EQ(Canonical(full_tree.get()), e.canonical);
      ASSERT_TRUE(TokenTreesEqual(full_tree.get(), minimal_tree.get()));
    } catch (const Exception& error) {
      FAIL() << error.Message();
    }
  }
}

}  // namespace
}  // namespace jw
