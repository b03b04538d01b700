#include "engine/expr/expression_rewrite.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/expr/expression_operators.h"
#include "engine/support/field_types.h"
#include "engine/support/value_conversions.h"
#include "platform/rtl/date_time.h"
#include "platform/rtl/exceptions.h"

namespace jw {

namespace {

// Sole owner of a tree from the pool while it is built.
class TreeHolder {
 public:
  explicit TreeHolder(TExpToken* root) : root_(root) {}
  TreeHolder(const TreeHolder&) = delete;
  TreeHolder& operator=(const TreeHolder&) = delete;
  ~TreeHolder() { FreeTokenTree(root_); }
  TExpToken* get() const { return root_; }
  TExpToken* operator->() const { return root_; }
  // Frees the tree held and takes the given one.
  void reset(TExpToken* root) {
    if (root == root_) return;
    FreeTokenTree(root_);
    root_ = root;
  }
  TExpToken* release() {
    TExpToken* root = root_;
    root_ = nullptr;
    return root;
  }

 private:
  TExpToken* root_;
};

bool IsComparison(const TExpToken* node) {
  const uint8_t op = node->Code & 0x7F;
  return node->Kind == kTokenBinary && op >= kOpEqual && op <= kOpLessOrEqual;
}

bool IsNullConstant(const TExpToken* node) {
  return node != nullptr && node->Kind == kTokenConstant && node->IsNull && node->Type == 0;
}

// A constant, or a sign in front of one.
bool IsConstantSide(const TExpToken* node) {
  if (node->Kind == kTokenConstant) return true;
  return node->Kind == kTokenUnary && (node->Code == kOpNegate || node->Code == kOpPlusSign) &&
         node->Left != nullptr && node->Left->Kind == kTokenConstant;
}

const char* ConstantText(const TExpToken* node) {
  return reinterpret_cast<const char*>(node->Value());
}

bool IsStringConstant(const TExpToken* node) {
  return node->Kind == kTokenConstant && node->Type == kFldString && !node->IsNull;
}

// A node copied without its children.
TExpToken* CopyNode(const TExpToken* node) {
  TExpToken* copy = GetToken();
  copy->Assign(*node);
  copy->Left = copy->Right = copy->Third = copy->Parent = nullptr;
  return copy;
}

// Drops the last character of a string constant's value and text.
void DropLastCharacter(TExpToken* constant) {
  const size_t length = std::strlen(ConstantText(constant));
  constant->Value()[length - 1] = 0;
  constant->SetValueSize(static_cast<int32_t>(length));
  if (!constant->SourceText.empty()) constant->SourceText.pop_back();
}

// A LIKE pattern whose one wildcard is a trailing '%': a prefix test.
bool IsPrefixPattern(const TExpToken* pattern) {
  if (!IsStringConstant(pattern)) return false;
  const std::string text = ConstantText(pattern);
  return text.size() >= 2 && text.find('%') == text.size() - 1 &&
         text.find('_') == std::string::npos;
}

// Every child's parent link names the node that holds it.
void RelinkParents(TExpToken* root) {
  std::vector<TExpToken*> stack{root};
  while (!stack.empty()) {
    TExpToken* node = stack.back();
    stack.pop_back();
    for (TExpToken* child : {node->Left, node->Right, node->Third}) {
      if (child == nullptr) continue;
      child->Parent = node;
      stack.push_back(child);
    }
  }
}

// Which value of the column's type stands in for a comparison bound that
// the type cannot hold exactly. Over integers, x > 5.5 is x > 5 and
// x >= 5.5 is x >= 6 (rounding down and up); x = 5.5 has no stand-in.
enum class BoundRounding { kExactOnly, kDown, kUp };

BoundRounding RoundingFor(uint8_t op) {
  switch (op & 0x7F) {
    case kOpGreater:
    case kOpLessOrEqual:
      return BoundRounding::kDown;
    case kOpGreaterOrEqual:
    case kOpLess:
      return BoundRounding::kUp;
    default:
      return BoundRounding::kExactOnly;
  }
}

// The nearest values at or below and at or above the exact value, in units
// of step (whole numbers when step is 1); the comparison is the evaluator's,
// on doubles, so the candidates are checked against it.
struct Neighbours {
  double down;
  double up;
};

Neighbours NeighboursOf(double value, double step) {
  Neighbours n{std::floor(value / step) * step, std::ceil(value / step) * step};
  if (n.down > value) n.down -= step;
  if (n.up < value) n.up += step;
  if (n.down + step <= value) n.down += step;
  if (n.up - step >= value) n.up -= step;
  return n;
}

// Writes to out the value of the column's type that keeps the answer of
// `column op value` for every column value, and returns true; false when
// there is none (the bound then keeps its own type, which the evaluator
// compares exactly). Only conversions that can lose something are checked
// here: fractions and out-of-range values to whole-number types, times of
// day to dates, decimals past a BCD column's scale. The others convert.
bool FoldBound(const TExpToken& value, const TExpToken& column, BoundRounding rounding, void* out) {
  const uint8_t st = value.Type;
  const uint8_t tt = column.Type;
  auto pick = [rounding](const Neighbours& n, double& chosen) {
    if (n.down == n.up) {
      chosen = n.down;
    } else if (rounding == BoundRounding::kDown) {
      chosen = n.down;
    } else if (rounding == BoundRounding::kUp) {
      chosen = n.up;
    } else {
      return false;
    }
    return true;
  };
  const bool whole_target = IsIntegerType(tt) || (tt == kFldDate && st == kFldTimeStamp);
  if (whole_target) {
    Neighbours n{};
    if (IsIntegerType(st)) {
      const double v = st == kFldSmallInt ? LoadValue<int16_t>(value.Value())
                       : st == kFldWord   ? LoadValue<uint16_t>(value.Value())
                                          : LoadValue<int32_t>(value.Value());
      n = {v, v};
    } else if (st == kFldFloat) {
      const double v = LoadValue<double>(value.Value());
      if (!std::isfinite(v)) return false;
      n = NeighboursOf(v, 1);
    } else if (st == kFldBcd) {
      // Whole currency units: the raw amount is exact in a double.
      const auto raw = static_cast<double>(BcdToCurrency(LoadValue<int64_t>(value.Value())).Raw());
      n = NeighboursOf(raw, Currency::kScale);
      n = {n.down / Currency::kScale, n.up / Currency::kScale};
    } else if (st == kFldTimeStamp) {
      const double ms = LoadValue<double>(value.Value());
      if (!std::isfinite(ms)) return false;
      n = NeighboursOf(ms, kMSecsPerDay);
      n = {n.down / kMSecsPerDay, n.up / kMSecsPerDay};
    } else {
      CoerceValue(value, value.Value(), column, out);
      return true;
    }
    double chosen = 0;
    if (!pick(n, chosen)) return false;
    double low = std::numeric_limits<int32_t>::min();
    double high = std::numeric_limits<int32_t>::max();
    if (tt == kFldSmallInt) {
      low = std::numeric_limits<int16_t>::min();
      high = std::numeric_limits<int16_t>::max();
    } else if (tt == kFldWord) {
      low = 0;
      high = std::numeric_limits<uint16_t>::max();
    }
    if (chosen < low || chosen > high) return false;
    if (tt == kFldSmallInt) {
      StoreValue(out, static_cast<int16_t>(chosen));
    } else if (tt == kFldWord) {
      StoreValue(out, static_cast<uint16_t>(chosen));
    } else {
      StoreValue(out, static_cast<int32_t>(chosen));
    }
    return true;
  }
  if (tt == kFldBcd && st == kFldFloat) {
    // The evaluator sets a BCD value as currency against the float x 10000;
    // the column holds multiples of 10^(4 - scale) of those units.
    const double units = LoadValue<double>(value.Value()) * Currency::kScale;
    if (!std::isfinite(units)) return false;
    double step = 1;
    for (int32_t i = std::min<int32_t>(column.Scale, 4); i < 4; ++i) step *= 10;
    double chosen = 0;
    if (!pick(NeighboursOf(units, step), chosen)) return false;
    if (std::fabs(chosen) >= 9.2e18) return false;
    try {
      StoreValue(out, CurrencyToBcd(column.Scale, Currency::FromRaw(static_cast<int64_t>(chosen))));
    } catch (const Exception&) {
      return false;
    }
    return true;
  }
  CoerceValue(value, value.Value(), column, out);
  return true;
}

// Gives the evaluated constant the column's type, subtype, size and scale
// with the converted value.
void TakeColumnType(TExpToken& value, const TExpToken& column, const uint8_t* converted) {
  std::memset(value.Value(), 0, static_cast<size_t>(value.ValueCapacity()));
  std::memcpy(value.Value(), converted, sizeof(double));
  value.Type = column.Type;
  value.Subtype = column.Subtype;
  value.SetValueSize(column.Size());
  value.Scale = column.Scale;
}

class Preparer {
 public:
  Preparer(void* context, TColumnValueFn column_value, bool partial_matching_off,
           bool case_insensitive, uint16_t sort_id, uint16_t language_id)
      : context_(context),
        column_value_(column_value),
        partial_matching_off_(partial_matching_off),
        case_insensitive_(case_insensitive),
        sort_id_(sort_id),
        language_id_(language_id) {}

  TExpToken* Prepare(const TExpToken* node) {
    if (node == nullptr) return nullptr;
    if (IsChainLink(node)) return PrepareChain(node);
    TreeHolder copy(CopyNode(node));
    if (IsComparison(node) && IsConstantSide(node->Right)) {
      copy->Left = Prepare(node->Left);
      const uint8_t op = node->Code & 0x7F;
      const bool string_constant = IsStringConstant(node->Right);
      const std::string text = string_constant ? ConstantText(node->Right) : std::string();
      const bool star = !text.empty() && text.back() == '*';
      if ((op == kOpEqual || op == kOpNotEqual) && text == "*" && !partial_matching_off_) {
        // A prefix of no characters: every value begins with it, so = holds
        // for every value that is not NULL and <> only for NULL. A partial
        // length of 0 would compare whole strings and find only ''.
        copy->Kind = kTokenUnary;
        copy->Code = op == kOpEqual ? kOpIsNotNull : kOpIsNull;
        return copy.release();
      }
      if ((op == kOpEqual || op == kOpNotEqual) && string_constant && (star || case_insensitive_)) {
        copy->Kind = kTokenStringCompare;
        copy->CaseInsensitive = case_insensitive_;
        copy->Right = CopyNode(node->Right);
        if (star && !partial_matching_off_) {
          copy->PartialLength = static_cast<int32_t>(text.size()) - 1;
          DropLastCharacter(copy->Right);
        } else {
          copy->PartialLength = 0;
        }
      } else {
        copy->Right = ToType(node->Left, node->Right, RoundingFor(op));
      }
      return copy.release();
    }
    if (node->Kind == kTokenPredicate) {
      switch (node->Code) {
        case kOpLike:
        case kOpNotLike:
          if (!IsPrefixPattern(node->Right)) break;
          copy->Kind = kTokenStringCompare;
          copy->Code = node->Code == kOpLike ? kOpEqual : kOpNotEqual;
          copy->SourceText = node->Code == kOpLike ? "=" : "<>";
          copy->CaseInsensitive = false;
          copy->Left = Prepare(node->Left);
          copy->Right = CopyNode(node->Right);
          copy->PartialLength = static_cast<int32_t>(std::strlen(ConstantText(node->Right))) - 1;
          DropLastCharacter(copy->Right);
          return copy.release();
        case kOpInList:
        case kOpNotInList:
        case kOpBetween:
        case kOpNotBetween: {
          copy->Left = Prepare(node->Left);
          // A BETWEEN's low bound is a >= test, its high bound a <= test.
          const bool bounds = node->Code == kOpBetween || node->Code == kOpNotBetween;
          BoundRounding rounding = bounds ? BoundRounding::kUp : BoundRounding::kExactOnly;
          TExpToken** link = &copy->Right;
          for (const TExpToken* item = node->Right; item != nullptr; item = item->Right) {
            *link = ToType(node->Left, item, rounding);
            link = &(*link)->Right;
            if (bounds) rounding = BoundRounding::kDown;
          }
          return copy.release();
        }
        default:
          break;
      }
    }
    if (node->Kind == kTokenFunction && node->Code == kFuncIf) {
      copy->Left = CopyTokenTree(node->Left);
      copy->Right = CopyTokenTree(node->Right);
      copy->Third = CopyTokenTree(node->Third);
      return copy.release();
    }
    copy->Left = Prepare(node->Left);
    copy->Right = Prepare(node->Right);
    copy->Third = Prepare(node->Third);
    return copy.release();
  }

 private:
  // A binary node that is copied as it is: any but a comparison with a
  // constant, which is rewritten.
  static bool IsChainLink(const TExpToken* node) {
    return node->Kind == kTokenBinary && !(IsComparison(node) && IsConstantSide(node->Right));
  }

  // A chain of such nodes down the left operands (a + b + c ..., a long OR)
  // is copied without recursion, in the order a recursive copy takes: the
  // bottom's left operand, then the right operands from the bottom up.
  TExpToken* PrepareChain(const TExpToken* top) {
    std::vector<const TExpToken*> chain;
    for (const TExpToken* link = top; IsChainLink(link); link = link->Left) chain.push_back(link);
    TreeHolder built(Prepare(chain.back()->Left));
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      TExpToken* copy = CopyNode(*it);
      copy->Left = built.release();
      built.reset(copy);
      copy->Right = Prepare((*it)->Right);
    }
    return built.release();
  }

  // The constant evaluated and converted to the column's type when that
  // keeps the comparison's answer for every column value; otherwise the
  // evaluated constant in its own type.
  TExpToken* ToType(const TExpToken* column, const TExpToken* constant, BoundRounding rounding) {
    TreeHolder value(
        EvaluateExpression(constant, nullptr, context_, sort_id_, language_id_, column_value_));
    if (value->IsNull || value->Type == kFldString || value->Type == column->Type) {
      return value.release();
    }
    uint8_t converted[sizeof(double)];
    std::memcpy(converted, value->Value(), sizeof converted);
    if (FoldBound(*value.get(), *column, rounding, converted)) {
      TakeColumnType(*value.get(), *column, converted);
    }
    return value.release();
  }

  void* context_;
  TColumnValueFn column_value_;
  bool partial_matching_off_;
  bool case_insensitive_;
  uint16_t sort_id_;
  uint16_t language_id_;
};

}  // namespace

TExpToken* PrepareFilter(const TExpToken* node, void* context, TColumnValueFn column_value,
                         bool partial_matching_off, bool case_insensitive, uint16_t sort_id,
                         uint16_t language_id) {
  if (node == nullptr) return nullptr;
  TExpToken* root =
      Preparer(context, column_value, partial_matching_off, case_insensitive, sort_id, language_id)
          .Prepare(node);
  RelinkParents(root);
  return root;
}

TExpToken* EvaluateToType(const TExpToken* column, const TExpToken* constant, void* context,
                          uint16_t sort_id, uint16_t language_id, TColumnValueFn column_value) {
  TreeHolder value(
      EvaluateExpression(constant, nullptr, context, sort_id, language_id, column_value));
  if (value->IsNull || value->Type == kFldString || value->Type == column->Type) {
    return value.release();
  }
  // Starts as the value itself, so a pair without a conversion keeps it.
  uint8_t converted[sizeof(double)];
  std::memcpy(converted, value->Value(), sizeof converted);
  CoerceValue(*value.get(), value->Value(), *column, converted);
  TakeColumnType(*value.get(), *column, converted);
  return value.release();
}

namespace {

bool IsNullTest(const TExpToken* node) {
  const uint8_t op = node->Code & 0x7F;
  return node->Kind == kTokenBinary && (op == kOpEqual || op == kOpNotEqual) &&
         (IsNullConstant(node->Left) || IsNullConstant(node->Right));
}

// A chain of binary nodes down the left operands (a long AND or OR), from
// the bottom up without recursion: a node whose operands both went goes too;
// a node that lost one operand is replaced by the other.
bool StripChain(TExpToken*& top) {
  std::vector<TExpToken**> chain;  // the link that holds each node of the chain
  for (TExpToken** link = &top; (*link)->Kind == kTokenBinary && !IsNullTest(*link);
       link = &(*link)->Left) {
    chain.push_back(link);
  }
  bool left_gone = StripNullTests((*chain.back())->Left);
  for (size_t level = chain.size(); level-- > 0;) {
    TExpToken*& node = *chain[level];
    const bool right_gone = StripNullTests(node->Right);
    if (left_gone && right_gone) {
      FreeTokenTree(node);
    } else if (left_gone || right_gone) {
      TExpToken* survivor = left_gone ? node->Right : node->Left;
      survivor->Parent = node->Parent;
      node->Left = node->Right = nullptr;
      ReleaseToken(node);
      node = survivor;
    }
    left_gone = left_gone && right_gone;
  }
  return left_gone;
}

}  // namespace

bool StripNullTests(TExpToken*& node) {
  if (node == nullptr) return false;
  bool removed = false;
  if (IsNullTest(node)) {
    removed = true;
  } else if (node->Kind == kTokenBinary) {
    return StripChain(node);
  } else if (node->Kind == kTokenUnary) {
    removed = StripNullTests(node->Left);
  } else if (node->Kind == kTokenFunction && node->Code == kFuncIf) {
    const bool condition_gone = StripNullTests(node->Left);
    const bool then_gone = StripNullTests(node->Right);
    const bool else_gone = StripNullTests(node->Third);
    removed = condition_gone || then_gone || else_gone;
  }
  if (removed) FreeTokenTree(node);
  return removed;
}

void CompareWithTrue(TExpToken* node) {
  TreeHolder truth(GetToken());
  TExpToken* old_self = GetToken();
  old_self->Assign(*node);
  for (TExpToken* child : {old_self->Left, old_self->Right, old_self->Third}) {
    if (child != nullptr) child->Parent = old_self;
  }
  truth->Kind = kTokenConstant;
  truth->SourceText = "True";
  truth->Type = kFldBoolean;
  truth->SetValueSize(2);
  const int16_t one = 1;
  std::memcpy(truth->Value(), &one, sizeof one);
  TExpToken* parent = node->Parent;
  // The comparison stands where the node stood: in the same ON condition.
  const uint8_t join_condition = node->JoinCondition;
  truth->JoinCondition = join_condition;
  node->Clear();
  node->Parent = parent;
  node->JoinCondition = join_condition;
  node->Kind = kTokenBinary;
  node->Code = kOpEqual;
  node->SourceText = "=";
  node->Type = kFldBoolean;
  node->SetValueSize(2);
  node->Left = old_self;
  node->Right = truth.release();
  node->Left->Parent = node;
  node->Right->Parent = node;
}

bool IsDisjunction(const TExpToken* node) {
  if (node == nullptr) return false;
  if (node->Kind == kTokenBinary && node->Code == kOpOr) return true;
  if (node->Kind == kTokenUnary && node->Code == kOpNot) return !IsDisjunction(node->Left);
  return false;
}

bool HasNotAncestor(const TExpToken* node) {
  while (node != nullptr) {
    if (node->Kind == kTokenUnary && node->Code == kOpNot) return true;
    if (node->Kind != kTokenBinary) return false;
    node = node->Parent;
  }
  return false;
}

namespace {

template <typename Test>
bool AnyNode(const TExpToken* root, Test test) {
  std::vector<const TExpToken*> stack;
  if (root != nullptr) stack.push_back(root);
  while (!stack.empty()) {
    const TExpToken* node = stack.back();
    stack.pop_back();
    if (test(node)) return true;
    for (const TExpToken* child : {node->Left, node->Right, node->Third}) {
      if (child != nullptr) stack.push_back(child);
    }
  }
  return false;
}

}  // namespace

bool ContainsColumn(const TExpToken* node) {
  return AnyNode(node, [](const TExpToken* n) { return n->Kind == kTokenColumn; });
}

bool ContainsAggregate(const TExpToken* node) {
  return AnyNode(node, [](const TExpToken* n) {
    return n->Kind == kTokenFunction && n->Code >= kFuncSum && n->Code <= kFuncAvg;
  });
}

uint8_t MirroredComparison(uint8_t op) {
  switch (op) {
    case kOpGreater:
      return kOpLess;
    case kOpLess:
      return kOpGreater;
    case kOpGreaterOrEqual:
      return kOpLessOrEqual;
    case kOpLessOrEqual:
      return kOpGreaterOrEqual;
    default:
      return op;
  }
}

}  // namespace jw
