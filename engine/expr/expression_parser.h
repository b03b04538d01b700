// TExpressionParser: the lexer and recursive-descent parser of the expression
// language that filters and SQL share. It turns text into TExpToken trees
// (expression_tokens.h) and raises every fault as an engine error with the
// owner's code, ending the message with " in " and the owner's context name.
#pragma once

#include <cstdint>
#include <string>

#include "engine/expr/expression_tokens.h"
#include "engine/support/engine_errors.h"

namespace jw {

// Token classes; any other single character is its own class, equal to its
// character code ('(' 40, ')' 41, '*' 42, ',' 44, '.' 46, '<' 60 ...).
constexpr uint8_t kClassEnd = 0;
constexpr uint8_t kClassIdentifier = 1;
constexpr uint8_t kClassBracketed = 2;
constexpr uint8_t kClassString = 3;
constexpr uint8_t kClassCharCode = 4;
constexpr uint8_t kClassInteger = 5;
constexpr uint8_t kClassFloat = 6;

// Parse flags, passed down unchanged to every level.
constexpr uint8_t kParseAggregates = 1;
constexpr uint8_t kParseAllColumns = 2;
constexpr uint8_t kParseExtended = 4;  // LIKE, BETWEEN, IN, IS NULL
constexpr uint8_t kParseParameters = 8;
constexpr uint8_t kParseSubSelects = 16;

// Parentheses, function arguments and sub-selects nest at most this deep
// together; deeper text is a parse error rather than a stack overflow.
constexpr int32_t kMaxExpressionNesting = 256;

class TExpressionParser {
 public:
  // owner: the cursor or SQL statement the parser works for.
  explicit TExpressionParser(void* owner = nullptr) : owner_(owner) {}
  TExpressionParser(const TExpressionParser&) = delete;
  TExpressionParser& operator=(const TExpressionParser&) = delete;

  void* Owner() const { return owner_; }
  EngineErrorCode ErrorCode() const { return error_code_; }
  void SetErrorCode(EngineErrorCode code) { error_code_ = code; }
  // Passed as the table name of every error.
  const std::string& ObjectName() const { return object_name_; }
  void SetObjectName(const std::string& name);
  // Ends every message ("filter expression", "SQL statement" ...).
  const std::string& ContextName() const { return context_name_; }
  void SetContextName(const std::string& name);

  // Takes a copy of the text (up to its terminating zero) and starts at its
  // beginning; the caller then calls NextToken once before parsing.
  void SetText(const char* text);
  void ClearText();
  // Length of the text + 1; 0 when no text is held.
  int32_t TextSize() const { return has_text_ ? static_cast<int32_t>(text_.size()) + 1 : 0; }

  // Reads the next token and returns its class.
  uint8_t NextToken();
  uint8_t TokenClass() const { return token_class_; }
  // The current token's text: the text between the delimiters of a quoted
  // string (each doubled delimiter read as one) or a bracketed name (as
  // written), else the text of the token as written.
  std::string GetTokenText() const;
  // The current token is an identifier equal to word without regard to case.
  bool IsKeyword(const char* word) const;
  bool IsSymbol(uint8_t token_class) const { return token_class_ == token_class; }
  int32_t GetTokenOffset() const { return static_cast<int32_t>(token_start_); }
  void MarkExpressionStart() { expression_start_ = token_start_; }
  // The text from the mark to the end of the previous token, without CR and LF.
  std::string GetExpressionText() const;

  // The levels of the grammar, each returning a tree the caller owns (free it
  // with FreeTokenTree) and leaving the lexer on the token after it. On a
  // fault nothing is returned: every node taken is back in the pool.
  TExpToken* ParseExpression(uint8_t flags);
  TExpToken* ParseAdditive(uint8_t flags);
  TExpToken* ParseUnary(uint8_t flags);
  TExpToken* ParsePrimary(uint8_t flags);
  // Reads a data-type clause into the node's type and subtype, hanging its
  // arguments on the node's right link (which must be free) and that
  // argument's right link. With optional set, a token that is no data-type
  // keyword leaves the node alone and consumes nothing.
  void ParseDataType(TExpToken* node, uint8_t flags, bool optional);

  // Raises the parser's engine error with the message as its text.
  [[noreturn]] void RaiseParseError(const std::string& message) const;

 private:
  // Sole owner of a subtree while it is built: a fault unwinds and returns
  // every node to the pool.
  class Tree {
   public:
    Tree() = default;
    explicit Tree(TExpToken* node) : node_(node) {}
    Tree(Tree&& other) noexcept : node_(other.release()) {}
    Tree& operator=(Tree&& other) noexcept {
      if (this != &other) {
        FreeTokenTree(node_);
        node_ = other.release();
      }
      return *this;
    }
    ~Tree() { FreeTokenTree(node_); }
    TExpToken* operator->() const { return node_; }
    TExpToken& operator*() const { return *node_; }
    TExpToken* get() const { return node_; }
    TExpToken* release() {
      TExpToken* node = node_;
      node_ = nullptr;
      return node;
    }

   private:
    TExpToken* node_ = nullptr;
  };

  // One level of nesting (a primary, a sub-select) while it lives; a level
  // deeper than kMaxExpressionNesting raises instead.
  class Nesting {
   public:
    explicit Nesting(TExpressionParser& parser);
    ~Nesting() { --parser_.nesting_; }
    Nesting(const Nesting&) = delete;
    Nesting& operator=(const Nesting&) = delete;

   private:
    TExpressionParser& parser_;
  };

  // A node from the pool with the given kind, code, source text and type.
  static Tree NewNode(uint8_t kind, uint8_t code, std::string text, uint8_t type = 0);
  static Tree NewOperator(uint8_t kind, uint8_t code, std::string text, uint8_t type, Tree left,
                          Tree right);

  Tree Expression(uint8_t flags);
  Tree Conjunction(uint8_t flags);
  Tree Negation(uint8_t flags);
  Tree Predicate(uint8_t flags);
  Tree InPredicate(Tree operand, bool negated, std::string text, uint8_t flags);
  Tree Additive(uint8_t flags);
  Tree Term(uint8_t flags);
  Tree Unary(uint8_t flags);
  Tree Primary(uint8_t flags);
  Tree IdentifierPrimary(uint8_t flags);
  Tree ColumnReference(const std::string& first, uint8_t flags);
  Tree Constant(uint8_t token_class);
  void DataType(TExpToken& node, uint8_t flags, bool optional);

  // The messages that quote the current token: prefix + token + "' in " + context.
  [[noreturn]] void RaiseFound(const std::string& prefix) const;
  // prefix + token + "' found in " + context.
  [[noreturn]] void RaiseFoundIn(const std::string& prefix) const;
  // prefix + " in " + context.
  [[noreturn]] void RaiseIn(const std::string& prefix) const;
  void Expect(uint8_t token_class, const std::string& prefix);
  void ExpectKeyword(const char* word, const std::string& prefix);
  // Hangs next on prev's right link; prev must not use that link already.
  // Hangs next on prev's right link. A prev that uses that link for an
  // operand of its own cannot carry an argument list: the message (with
  // " in " and the context) is raised instead of losing the operand.
  void Chain(TExpToken& prev, Tree next, const std::string& message);

  char CharAt(size_t position) const { return position < text_.size() ? text_[position] : '\0'; }

  void* owner_ = nullptr;
  EngineErrorCode error_code_ = 0;
  std::string object_name_;
  std::string context_name_;
  bool has_text_ = false;
  std::string text_;
  size_t position_ = 0;
  size_t token_start_ = 0;
  uint8_t token_class_ = kClassEnd;
  size_t token_end_ = 0;
  size_t expression_start_ = 0;
  size_t previous_end_ = 0;
  int32_t nesting_ = 0;
};

// True when the node is UPPER applied directly to a column.
bool IsUpperOfColumn(const TExpToken* node);

}  // namespace jw
