// TExpToken, the node of the expression trees that filters and SQL share, its
// operator and function codes, the process-wide pool of free nodes
// (TExpTokenStack with GetToken / ReleaseToken) and the routines that free,
// copy and compare whole trees.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "engine/support/system_list.h"
#include "platform/rtl/sync.h"

namespace jw {

// Node kinds.
constexpr uint8_t kTokenUnary = 1;
constexpr uint8_t kTokenBinary = 2;
constexpr uint8_t kTokenStringCompare = 3;  // made when a tree is prepared for a filter
constexpr uint8_t kTokenColumn = 4;
constexpr uint8_t kTokenConstant = 5;  // also parameters and NULL
constexpr uint8_t kTokenSubSelect = 6;
constexpr uint8_t kTokenFunction = 10;
constexpr uint8_t kTokenPredicate = 12;  // LIKE, BETWEEN, IN

// Operator codes (kinds 1, 2, 3 and 12).
constexpr uint8_t kOpIsNull = 1;
constexpr uint8_t kOpIsNotNull = 2;
constexpr uint8_t kOpEqual = 3;
constexpr uint8_t kOpNotEqual = 4;
constexpr uint8_t kOpGreater = 5;
constexpr uint8_t kOpLess = 6;
constexpr uint8_t kOpGreaterOrEqual = 7;
constexpr uint8_t kOpLessOrEqual = 8;
constexpr uint8_t kOpNot = 9;
constexpr uint8_t kOpAnd = 10;
constexpr uint8_t kOpOr = 11;
constexpr uint8_t kOpNegate = 15;
constexpr uint8_t kOpPlusSign = 16;
constexpr uint8_t kOpAdd = 17;  // also the concatenation ||
constexpr uint8_t kOpSubtract = 18;
constexpr uint8_t kOpMultiply = 19;
constexpr uint8_t kOpDivide = 20;
constexpr uint8_t kOpLike = 31;
constexpr uint8_t kOpInList = 32;
constexpr uint8_t kOpInSubSelect = 33;
constexpr uint8_t kOpBetween = 40;
constexpr uint8_t kOpNotBetween = 41;
constexpr uint8_t kOpNotLike = 42;
constexpr uint8_t kOpNotInList = 43;
constexpr uint8_t kOpNotInSubSelect = 44;

// Function codes (kind 10).
constexpr uint8_t kFuncSum = 23;
constexpr uint8_t kFuncCount = 24;
constexpr uint8_t kFuncMin = 25;
constexpr uint8_t kFuncMax = 26;
constexpr uint8_t kFuncAvg = 27;
constexpr uint8_t kFuncUpper = 35;
constexpr uint8_t kFuncLower = 36;
constexpr uint8_t kFuncSubstring = 45;
constexpr uint8_t kFuncReplace = 46;
constexpr uint8_t kFuncPos = 47;
constexpr uint8_t kFuncOccurs = 48;
constexpr uint8_t kFuncTrimLeading = 49;
constexpr uint8_t kFuncTrimTrailing = 50;
constexpr uint8_t kFuncTrimBoth = 51;
constexpr uint8_t kFuncCast = 52;
constexpr uint8_t kFuncExtractYear = 53;  // then MONTH, DAY, DAYOFWEEK, HOUR, MINUTE
constexpr uint8_t kFuncExtractSecond = 59;
constexpr uint8_t kFuncIf = 60;
constexpr uint8_t kFuncAbs = 61;
constexpr uint8_t kFuncRound = 62;

// What an error message quotes of an input or a node's text: at most this
// many characters, so that a long input cannot crowd out the rest of the
// message, which ends by naming where the expression stands.
constexpr int32_t kMaxQuotedText = 64;
std::string QuotedText(std::string_view text);

// The value buffer starts at this size and grows in whole steps, so a new
// node holds one step (255 bytes).
constexpr int32_t kTokenValueInitial = 251;
constexpr int32_t kTokenValueStep = 255;

class TExpToken {
 public:
  TExpToken();
  TExpToken(const TExpToken&) = delete;
  TExpToken& operator=(const TExpToken&) = delete;
  ~TExpToken();

  // The value in the engine's field encoding; at least ValueCapacity() bytes.
  uint8_t* Value() { return value_; }
  const uint8_t* Value() const { return value_; }
  int32_t ValueCapacity() const { return value_capacity_; }
  // The value size in bytes; the buffer always holds at least this many.
  int32_t Size() const { return size_; }
  // The one way to set the size: grows the buffer to hold size bytes first.
  void SetValueSize(int32_t size);

  // Back to a fresh node: every field zero, the value buffer zero-filled at
  // its initial size.
  void Clear();
  // Copies every field and the value bytes; the links are copied as
  // references, not as trees.
  void Assign(const TExpToken& other);
  // Copies the value bytes and every field but the links, which stay, and
  // the texts and names, which are left empty: a value for evaluation
  // alone, without the cost of copying strings.
  void AssignValue(const TExpToken& other);
  // Same kind, operator, names (without regard to case), parameter flag,
  // partial length, case flag and type fields; for constants also the same
  // NULL flag and value bytes.
  bool SameAs(const TExpToken& other) const;

  std::string SourceText;  // operator text, function name, constant or column text
  uint8_t Kind = 0;
  uint8_t Code = 0;           // operator or function code
  uint8_t OptimizeLevel = 0;  // 0 none, 1 partial, 2 full (filter preparation)
  // Marks of the SQL join analysis: the kind of the join of an ON
  // comparison between columns, and on every node of an ON condition the
  // kind of its join (0 outside ON).
  uint8_t JoinKind = 0;
  uint8_t JoinCondition = 0;
  std::string ColumnName;  // at most 255 characters; "*" for all columns
  int16_t FieldNumber = 0;
  std::string TableName;           // correlation or table name, at most 255 characters
  const void* FieldRef = nullptr;  // the bound field descriptor
  void* QueryRef = nullptr;        // the SQL query object of a sub-select
  bool IsNull = false;
  bool IsParameter = false;
  int32_t PartialLength = 0;
  bool CaseInsensitive = false;
  uint8_t Type = 0;  // engine field type code; 0 for the untyped NULL
  uint8_t Subtype = 0;
  uint8_t Scale = 0;
  // A column that was written as a string constant, with the constant's type.
  bool ConstantColumn = false;
  uint8_t SavedType = 0;
  uint8_t SavedSubtype = 0;
  int32_t SavedSize = 0;
  uint8_t SavedScale = 0;
  TExpToken* Parent = nullptr;
  TExpToken* Left = nullptr;   // first operand or argument
  TExpToken* Right = nullptr;  // second operand, or next argument or list item
  TExpToken* Third = nullptr;

 private:
  // The value bytes and the fields that are neither texts nor links.
  void CopyValueFields(const TExpToken& other);

  uint8_t* value_ = nullptr;
  int32_t value_capacity_ = 0;
  int32_t size_ = 0;
};

// The process-wide pool of free nodes. It has no upper limit; its lock is
// held only while a node is taken or returned, or a batch of nodes returned.
class TExpTokenStack {
 public:
  TExpTokenStack();
  TExpTokenStack(const TExpTokenStack&) = delete;
  TExpTokenStack& operator=(const TExpTokenStack&) = delete;
  ~TExpTokenStack();

  TExpToken* GetToken();
  void ReleaseToken(TExpToken*& token);
  // Returns every node of the batch under one hold of the lock; nullptrs are
  // skipped.
  void ReleaseTokens(std::span<TExpToken* const> tokens);
  // Frees every pooled node.
  void FreeAll();
  int32_t Count();

 private:
  TSystemList free_;
  TCriticalSection lock_;
};

// The support library's start-up creates the pool and its shutdown frees it;
// the first GetToken creates it as well when start-up has not run yet.
void InitExpTokenStack();
void DoneExpTokenStack();
// The pool (created on first use).
TExpTokenStack& ExpTokenStack();

// A cleared node from the pool; the caller returns it with ReleaseToken or
// FreeTokenTree.
TExpToken* GetToken();
// Returns the node to the pool and sets the reference to nullptr; nullptr is
// ignored.
void ReleaseToken(TExpToken*& token);

// Releases every node of the tree (first, second and third children, then
// the node) and sets the root to nullptr. Walks without recursion, so a long
// chain of operators cannot exhaust the stack.
void FreeTokenTree(TExpToken*& root);
// Sole owner of a whole tree: returns every node to the pool when it goes.
struct TokenTreeDeleter {
  void operator()(TExpToken* root) const { FreeTokenTree(root); }
};
using TTokenTree = std::unique_ptr<TExpToken, TokenTreeDeleter>;

// A deep copy from the pool; nullptr gives nullptr.
TExpToken* CopyTokenTree(const TExpToken* node);
// Two nullptrs are equal, nullptr and a tree are not; otherwise the three
// children pairwise, then the nodes by SameAs.
bool TokenTreesEqual(const TExpToken* a, const TExpToken* b);

}  // namespace jw
