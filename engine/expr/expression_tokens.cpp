#include "engine/expr/expression_tokens.h"

#include <cstring>
#include <utility>
#include <vector>

#include "engine/support/engine_heap.h"
#include "engine/support/engine_strings.h"
#include "engine/support/support_startup.h"
#include "platform/rtl/strings.h"

namespace jw {

std::string QuotedText(std::string_view text) {
  return LeftChars(text, kMaxQuotedText);
}

TExpToken::TExpToken() {
  void* block = nullptr;
  GrowBuffer(kTokenValueInitial, kTokenValueStep, block, value_capacity_);
  value_ = static_cast<uint8_t*>(block);
}

TExpToken::~TExpToken() {
  EngineFree(value_);
}

void TExpToken::SetValueSize(int32_t size) {
  if (size > value_capacity_) {
    void* block = value_;
    GrowBuffer(size, kTokenValueStep, block, value_capacity_);
    value_ = static_cast<uint8_t*>(block);
  }
  size_ = size;
}

void TExpToken::Clear() {
  SourceText.clear();
  Kind = 0;
  Code = 0;
  OptimizeLevel = 0;
  JoinKind = 0;
  JoinCondition = 0;
  ColumnName.clear();
  FieldNumber = 0;
  TableName.clear();
  FieldRef = nullptr;
  QueryRef = nullptr;
  IsNull = false;
  IsParameter = false;
  PartialLength = 0;
  CaseInsensitive = false;
  Type = 0;
  Subtype = 0;
  size_ = 0;
  Scale = 0;
  ConstantColumn = false;
  SavedType = 0;
  SavedSubtype = 0;
  SavedSize = 0;
  SavedScale = 0;
  Parent = nullptr;
  Left = nullptr;
  Right = nullptr;
  Third = nullptr;
  if (value_capacity_ <= kTokenValueStep) {
    std::memset(value_, 0, value_capacity_);
    return;
  }
  // A buffer that grew for a long value goes back to the initial size, so
  // pooled nodes do not keep large blocks.
  EngineFree(value_);
  value_capacity_ = 0;
  void* block = nullptr;
  GrowBuffer(kTokenValueInitial, kTokenValueStep, block, value_capacity_);
  value_ = static_cast<uint8_t*>(block);
}

void TExpToken::Assign(const TExpToken& other) {
  if (&other == this) return;
  CopyValueFields(other);
  SourceText = other.SourceText;
  ColumnName = other.ColumnName;
  TableName = other.TableName;
  Parent = other.Parent;
  Left = other.Left;
  Right = other.Right;
  Third = other.Third;
}

void TExpToken::AssignValue(const TExpToken& other) {
  if (&other == this) return;
  CopyValueFields(other);
  SourceText.clear();
  ColumnName.clear();
  TableName.clear();
}

void TExpToken::CopyValueFields(const TExpToken& other) {
  if (other.value_capacity_ > value_capacity_) {
    void* block = value_;
    GrowBuffer(other.value_capacity_, kTokenValueStep, block, value_capacity_);
    value_ = static_cast<uint8_t*>(block);
  }
  std::memcpy(value_, other.value_, other.value_capacity_);
  Kind = other.Kind;
  Code = other.Code;
  OptimizeLevel = other.OptimizeLevel;
  JoinKind = other.JoinKind;
  JoinCondition = other.JoinCondition;
  FieldNumber = other.FieldNumber;
  FieldRef = other.FieldRef;
  QueryRef = other.QueryRef;
  IsNull = other.IsNull;
  IsParameter = other.IsParameter;
  PartialLength = other.PartialLength;
  CaseInsensitive = other.CaseInsensitive;
  Type = other.Type;
  Subtype = other.Subtype;
  size_ = other.size_;
  Scale = other.Scale;
  ConstantColumn = other.ConstantColumn;
  SavedType = other.SavedType;
  SavedSubtype = other.SavedSubtype;
  SavedSize = other.SavedSize;
  SavedScale = other.SavedScale;
}

bool TExpToken::SameAs(const TExpToken& other) const {
  if (Kind != other.Kind || Code != other.Code) return false;
  if (!SameText(ColumnName, other.ColumnName) || !SameText(TableName, other.TableName)) {
    return false;
  }
  if (IsParameter != other.IsParameter || PartialLength != other.PartialLength ||
      CaseInsensitive != other.CaseInsensitive) {
    return false;
  }
  if (Type != other.Type || Subtype != other.Subtype || size_ != other.size_ ||
      Scale != other.Scale) {
    return false;
  }
  if (Kind != kTokenConstant) return true;
  if (IsNull != other.IsNull) return false;
  // The size never exceeds the capacity: SetValueSize grows the buffer first.
  return size_ <= 0 || std::memcmp(value_, other.value_, size_) == 0;
}

TExpTokenStack::TExpTokenStack() {
  free_.SetCapacity(1024);
}

TExpTokenStack::~TExpTokenStack() {
  FreeAll();
}

TExpToken* TExpTokenStack::GetToken() {
  TExpToken* token = nullptr;
  {
    TCriticalSectionGuard guard(lock_);
    if (free_.Count() > 0) {
      token = static_cast<TExpToken*>(free_.Last());
      free_.Delete(free_.Count() - 1);
    }
  }
  if (token == nullptr) return new TExpToken();
  token->Clear();
  return token;
}

void TExpTokenStack::ReleaseToken(TExpToken*& token) {
  if (token == nullptr) return;
  {
    TCriticalSectionGuard guard(lock_);
    free_.Add(token);
  }
  token = nullptr;
}

void TExpTokenStack::ReleaseTokens(std::span<TExpToken* const> tokens) {
  TCriticalSectionGuard guard(lock_);
  for (TExpToken* token : tokens) {
    if (token != nullptr) free_.Add(token);
  }
}

void TExpTokenStack::FreeAll() {
  TCriticalSectionGuard guard(lock_);
  for (int32_t i = 0; i < free_.Count(); ++i) delete static_cast<TExpToken*>(free_.Get(i));
  free_.Clear();
}

int32_t TExpTokenStack::Count() {
  TCriticalSectionGuard guard(lock_);
  return free_.Count();
}

TExpTokenStack& ExpTokenStack() {
  static TExpTokenStack pool;
  return pool;
}

void InitExpTokenStack() {
  ExpTokenStack();
}

void DoneExpTokenStack() {
  ExpTokenStack().FreeAll();
}

namespace {

// The pool is the first object the support library's start-up creates.
const bool token_pool_registered =
    (RegisterEngineSupportStep("token pool", InitExpTokenStack, DoneExpTokenStack), true);

}  // namespace

TExpToken* GetToken() {
  return ExpTokenStack().GetToken();
}

void ReleaseToken(TExpToken*& token) {
  ExpTokenStack().ReleaseToken(token);
}

void FreeTokenTree(TExpToken*& root) {
  if (root == nullptr) return;
  // Post-order without recursion: a node is released once its children are.
  std::vector<std::pair<TExpToken*, bool>> stack;
  stack.emplace_back(root, false);
  while (!stack.empty()) {
    auto [node, children_done] = stack.back();
    stack.pop_back();
    if (children_done) {
      ReleaseToken(node);
      continue;
    }
    stack.emplace_back(node, true);
    if (node->Third != nullptr) stack.emplace_back(node->Third, false);
    if (node->Right != nullptr) stack.emplace_back(node->Right, false);
    if (node->Left != nullptr) stack.emplace_back(node->Left, false);
  }
  root = nullptr;
}

TExpToken* CopyTokenTree(const TExpToken* node) {
  if (node == nullptr) return nullptr;
  TExpToken* root = GetToken();
  // Each entry: a source node and the copy whose links still point into the
  // source tree.
  std::vector<std::pair<const TExpToken*, TExpToken*>> stack;
  stack.emplace_back(node, root);
  try {
    while (!stack.empty()) {
      auto [source, copy] = stack.back();
      stack.pop_back();
      copy->Assign(*source);
      copy->Left = copy->Right = copy->Third = nullptr;
      TExpToken* TExpToken::*links[] = {&TExpToken::Left, &TExpToken::Right, &TExpToken::Third};
      for (auto link : links) {
        if (source->*link == nullptr) continue;
        copy->*link = GetToken();
        stack.emplace_back(source->*link, copy->*link);
      }
    }
  } catch (...) {
    FreeTokenTree(root);
    throw;
  }
  return root;
}

bool TokenTreesEqual(const TExpToken* a, const TExpToken* b) {
  std::vector<std::pair<const TExpToken*, const TExpToken*>> stack;
  stack.emplace_back(a, b);
  while (!stack.empty()) {
    auto [x, y] = stack.back();
    stack.pop_back();
    if (x == nullptr || y == nullptr) {
      if (x != y) return false;
      continue;
    }
    if (!x->SameAs(*y)) return false;
    stack.emplace_back(x->Third, y->Third);
    stack.emplace_back(x->Right, y->Right);
    stack.emplace_back(x->Left, y->Left);
  }
  return true;
}

}  // namespace jw
