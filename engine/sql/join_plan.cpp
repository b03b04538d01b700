// Join planning: the condition split into per-table conditions, join links
// and residuals, the loop order by levels, and the optimiser that re-roots
// the loops on the most selective table.
#include <algorithm>
#include <string>
#include <utility>

#include "engine/core/data_cursor.h"
#include "engine/expr/expression_rewrite.h"
#include "engine/sql/data_query.h"
#include "engine/sql/sql_errors.h"
#include "engine/sql/table_join.h"
#include "engine/support/field_types.h"
#include "platform/rtl/strings.h"

namespace jw {
namespace {

// A link that decides which rows meet: one with a condition, or a left
// join's, whose target may stand on its NULL row.
bool Matches(const TTableJoin& link) {
  return link.Condition || link.Kind == kJoinLeft;
}

// Exchanges a comparison's operands, mirroring the operator: the same test.
void TurnRound(TExpToken& comparison) {
  std::swap(comparison.Left, comparison.Right);
  comparison.Code = MirroredComparison(comparison.Code);
}

TExpToken* Detach(TExpToken* node) {
  node->Parent = nullptr;
  return node;
}

}  // namespace

bool IsComparison(const TExpToken& node) {
  return node.Kind == kTokenBinary && node.Code >= kOpEqual && node.Code <= kOpLessOrEqual;
}

std::vector<TExpToken*> LinkComparisons(TExpToken& condition) {
  std::vector<TExpToken*> comparisons;
  std::vector<TExpToken*> pending{&condition};
  while (!pending.empty()) {
    TExpToken* node = pending.back();
    pending.pop_back();
    if (IsComparison(*node)) {
      comparisons.push_back(node);
      continue;
    }
    pending.push_back(node->Right);
    pending.push_back(node->Left);
  }
  return comparisons;
}

TTokenTree AndTrees(TTokenTree left, TTokenTree right) {
  if (!left) return right;
  if (!right) return left;
  TExpToken* node = GetToken();
  node->Kind = kTokenBinary;
  node->Code = kOpAnd;
  node->SourceText = "AND";
  node->Type = kFldBoolean;
  node->SetValueSize(2);
  node->Left = left.release();
  node->Right = right.release();
  node->Left->Parent = node;
  node->Right->Parent = node;
  return TTokenTree(node);
}

TJoinPlan::TJoinPlan(TDataQuery& query) : query_(query) {
  for (const std::unique_ptr<TSourceTable>& table : query.SourceTables) {
    tables_.emplace_back().Table = table.get();
  }
}

size_t TJoinPlan::IndexOf(const TSourceTable& table) const {
  for (size_t i = 0; i < tables_.size(); ++i) {
    if (tables_[i].Table == &table) return i;
  }
  RaiseSqlError(" Internal join optimization error");
}

TSourceTable* TJoinPlan::TableOfColumn(const TExpToken& column) const {
  for (const TTableState& state : tables_) {
    if (SameText(state.Table->CorrelationName, column.TableName)) return state.Table;
  }
  RaiseSqlError("Table correlation name '" + column.TableName + "'" +
                " referenced in WHERE clause is not defined in the FROM clause");
}

TJoinPlan::TTables TJoinPlan::TablesOf(const TExpToken* root) const {
  TTables tables;
  std::vector<const TExpToken*> pending;
  if (root != nullptr) pending.push_back(root);
  while (!pending.empty()) {
    const TExpToken* node = pending.back();
    pending.pop_back();
    if (node->Kind == kTokenColumn) {
      TSourceTable* table = TableOfColumn(*node);
      if (tables.Count == 0) {
        tables.Count = 1;
        tables.Single = table;
      } else if (table != tables.Single) {
        tables.Count = 2;
        tables.Single = nullptr;
      }
    }
    for (const TExpToken* child : {node->Left, node->Right, node->Third}) {
      if (child != nullptr) pending.push_back(child);
    }
  }
  return tables;
}

TSourceTable* TJoinPlan::SingleTable(const TExpToken* node) const {
  return TablesOf(node).Single;
}

const TExpToken* TJoinPlan::TableCondition(const TSourceTable& table) const {
  return tables_[IndexOf(table)].Condition.get();
}

TTableJoin* TJoinPlan::FindLink(const TSourceTable* source, const TSourceTable* target) const {
  for (const std::unique_ptr<TTableJoin>& link : links_) {
    if (link->Source == source && link->Target == target) return link.get();
  }
  return nullptr;
}

std::vector<TTableJoin*> TJoinPlan::LinksFrom(const TSourceTable* table) const {
  std::vector<TTableJoin*> links;
  for (const std::unique_ptr<TTableJoin>& link : links_) {
    if (link->Source == table) links.push_back(link.get());
  }
  return links;
}

bool TJoinPlan::IsConditionedTarget(const TSourceTable* table) const {
  return std::any_of(links_.begin(), links_.end(),
                     [table](const auto& link) { return link->Target == table && Matches(*link); });
}

void TJoinPlan::Analyse(TTokenTree condition) {
  // Chaining: each table reaches the next one without a condition, so that
  // tables the condition does not link give the cross product. The chain
  // into an outer join's target is a left link from the start: whatever
  // its ON holds, the join keeps its preserved rows, and no comparison may
  // turn it round.
  for (size_t i = 0; i + 1 < tables_.size(); ++i) {
    auto link = std::make_unique<TTableJoin>();
    link->Source = tables_[i].Table;
    link->Target = tables_[i + 1].Table;
    for (const TDataQuery::TJoinClause& join : query_.Joins) {
      if (join.Target == link->Target && join.Kind != kJoinInner) link->Kind = kJoinLeft;
    }
    links_.push_back(std::move(link));
  }
  if (condition) Split(condition.release());
  OrderTables();
  PlaceSingleTableConditions();
}

// Takes the node (owned from now on) apart: the conjuncts of AND each go to
// a link, a table or a residual, in the order they are written; anything
// else goes whole. The walk keeps its own stack: a WHERE clause may chain
// any number of conjuncts. Each ON condition is numbered as the walk meets
// it (its nodes carry its JOIN's kind, the ANDs that join the clauses
// none), so that its conjuncts find the link of their own JOIN.
void TJoinPlan::Split(TExpToken* root) {
  std::vector<std::pair<TExpToken*, int32_t>> pending{{root, 0}};
  int32_t clauses = 0;
  while (!pending.empty()) {
    auto [node, clause] = pending.back();
    pending.pop_back();
    if (clause == 0 && node->JoinCondition != 0) clause = ++clauses;
    if (node->Kind == kTokenBinary && node->Code == kOpAnd) {
      pending.emplace_back(Detach(node->Right), clause);
      pending.emplace_back(Detach(node->Left), clause);
      node->Left = node->Right = nullptr;
      ReleaseToken(node);
      continue;
    }
    try {
      Place(TTokenTree(node), clause);
    } catch (...) {
      for (auto& left : pending) FreeTokenTree(left.first);
      throw;
    }
  }
}

void TJoinPlan::Place(TTokenTree tree, int32_t clause) {
  TExpToken* node = tree.get();
  if (IsComparison(*node) && node->Left->Kind == kTokenConstant &&
      node->Right->Kind == kTokenColumn) {
    // The column goes left, where index optimisation looks for it.
    TurnRound(*node);
  }
  if (TablesOf(node).Count <= 1) {
    single_.push_back({std::move(tree), clause});
    return;
  }
  // An ON comparison of a left join decides matching only, so it must
  // become a link; a disjunction or a negation over several tables cannot
  // be split and is tested per combination.
  if (IsComparison(*node) && query_.HasJoins) {
    const TTables left = TablesOf(node->Left);
    const TTables right = TablesOf(node->Right);
    if (left.Count != 0 && right.Count != 0) {
      if (left.Count > 1 || right.Count > 1) {
        RaiseSqlError(
            "The join condition cannot contain multiple table correlation names in either the "
            "left or right operand in WHERE or JOIN clause");
      }
      AddLink(tree.release(), clause);
      return;
    }
  }
  cross_residual_ = AndTrees(std::move(cross_residual_), std::move(tree));
}

void TJoinPlan::AddLink(TExpToken* comparison, int32_t clause) {
  uint8_t kind = comparison->JoinKind;
  if (kind == 0) kind = kJoinInner;
  if (kind == kJoinRight) kind = kJoinLeft;
  TSourceTable* l = SingleTable(comparison->Left);
  TSourceTable* r = SingleTable(comparison->Right);
  const std::pair<TSourceTable*, int16_t> levels[] = {{l, l->Level}, {r, r->Level}};
  const auto swap = [&] {
    TurnRound(*comparison);
    std::swap(l, r);
  };
  const auto link_kind = [&](const TSourceTable* s, const TSourceTable* t) {
    const TTableJoin* link = FindLink(s, t);
    return link == nullptr ? -1 : link->Kind;
  };
  if (link_kind(l, r) >= 0) {
    r->Level = std::max<int16_t>(r->Level, static_cast<int16_t>(l->Level + 1));
  } else if (link_kind(r, l) >= 0) {
    l->Level = std::max<int16_t>(l->Level, static_cast<int16_t>(r->Level + 1));
    swap();
  } else if (r->Level < l->Level) {
    if (kind == kJoinInner && IsConditionedTarget(l)) {
      r->Level = static_cast<int16_t>(l->Level + 1);
    } else {
      swap();
    }
  } else if (IsConditionedTarget(r) && kind == kJoinInner && !IsConditionedTarget(l)) {
    l->Level = static_cast<int16_t>(r->Level + 1);
    swap();
  }
  // A left join's preserved side must be the link's source: an ON
  // comparison written the other way round is turned, never the join.
  if (kind == kJoinLeft && comparison->JoinCondition != 0 && l->Level > r->Level &&
      FindLink(l, r) == nullptr) {
    swap();
  }
  TTableJoin* link = FindLink(l, r);
  if (link != nullptr && link->Kind != kJoinChain && link->Kind != kind) link = nullptr;
  // Every conditioned link must lead to a later level, or the loops could
  // not enter its source first.
  const bool ordered =
      l->Level < r->Level && std::none_of(links_.begin(), links_.end(), [](const auto& other) {
        return Matches(*other) && other->Source->Level >= other->Target->Level;
      });
  if ((link == nullptr || !link->Condition) && kind == kJoinInner && (Reaches(r, l) || !ordered)) {
    // A link back to a table that leads here would make the loops a
    // cycle, and one that lifts a table past the tables it links to would
    // put it after them: the comparison is tested per combination instead.
    for (const auto& [table, level] : levels) table->Level = level;
    cross_residual_ = AndTrees(std::move(cross_residual_), TTokenTree(comparison));
    return;
  }
  if (link == nullptr) {
    links_.push_back(std::make_unique<TTableJoin>());
    link = links_.back().get();
    link->Source = l;
    link->Target = r;
  }
  link->Kind = kind;
  link->Condition = AndTrees(std::move(link->Condition), TTokenTree(comparison));
  if (kind == kJoinLeft && clause != 0) outer_links_[clause] = link;
}

bool TJoinPlan::Reaches(const TSourceTable* from, const TSourceTable* to) const {
  std::vector<const TSourceTable*> pending{from};
  for (size_t steps = 0; !pending.empty() && steps <= links_.size() * links_.size(); ++steps) {
    const TSourceTable* table = pending.back();
    pending.pop_back();
    if (table == to) return true;
    for (const auto& link : links_) {
      if (link->Source == table && Matches(*link)) pending.push_back(link->Target);
    }
  }
  return false;
}

void TJoinPlan::OrderTables() {
  order_.clear();
  for (const TTableState& state : tables_) order_.push_back(state.Table);
  std::stable_sort(order_.begin(), order_.end(), [](const TSourceTable* a, const TSourceTable* b) {
    return a->Level < b->Level;
  });
  Renumber();
  for (auto it = links_.end(); it != links_.begin();) {
    --it;
    TTableJoin& link = **it;
    const bool other_conditioned =
        std::any_of(links_.begin(), links_.end(), [&](const auto& other) {
          return other.get() != &link && other->Target == link.Target && other->Condition;
        });
    if (other_conditioned && link.Condition) {
      RaiseSqlError("Internal join error - table correlation name \"" +
                    link.Target->CorrelationName + "\" is target of multiple " +
                    "join conditions in WHERE or JOIN clause");
    }
    const bool duplicate_chain =
        !link.Condition && std::any_of(links_.begin(), links_.end(), [&](const auto& other) {
          return other.get() != &link && other->Target == link.Target;
        });
    if (other_conditioned || duplicate_chain || (!link.Condition && link.Target == order_[0])) {
      it = links_.erase(it);
    }
  }
  // Every table hangs from the driving one by one path: a table the links
  // leave out is joined to the driving table as a cross product.
  for (;;) {
    std::vector<bool> reached(tables_.size(), false);
    reached[IndexOf(*order_[0])] = true;
    for (bool grew = true; grew;) {
      grew = false;
      for (const auto& link : links_) {
        if (reached[IndexOf(*link->Source)] && !reached[IndexOf(*link->Target)]) {
          reached[IndexOf(*link->Target)] = grew = true;
        }
      }
    }
    const auto missing = std::find_if(order_.begin(), order_.end(), [&](TSourceTable* table) {
      return !reached[IndexOf(*table)];
    });
    if (missing == order_.end()) break;
    if (std::any_of(links_.begin(), links_.end(),
                    [&](const auto& link) { return link->Target == *missing; })) {
      RaiseSqlError(
          "Internal join error attempting to validate table correlation names involved in join");
    }
    auto link = std::make_unique<TTableJoin>();
    link->Source = order_[0];
    link->Target = *missing;
    links_.push_back(std::move(link));
  }
  // The loops walk a tree: no table is entered twice.
  for (const TSourceTable* table : order_) {
    const auto into = std::count_if(links_.begin(), links_.end(),
                                    [&](const auto& link) { return link->Target == table; });
    if (into != (table == order_[0] ? 0 : 1)) {
      RaiseSqlError(
          "Internal join error attempting to validate table correlation names involved in join");
    }
  }
}

void TJoinPlan::Renumber() {
  int16_t level = 0;
  for (TSourceTable* table : order_) table->Level = ++level;
}

// Each single-table condition becomes its table's filter. On the target of
// a left join a WHERE condition (or one of a later inner JOIN) must see the
// NULL row, so it is tested per combination instead. A condition of the
// left join's own ON only decides matching: over its target (or over no
// column) it narrows the target's records, over another table it guards
// the link.
void TJoinPlan::PlaceSingleTableConditions() {
  const auto outer_on = [](const TExpToken& node) {
    return node.JoinCondition == kJoinLeft || node.JoinCondition == kJoinRight;
  };
  for (auto& [node, clause] : single_) {
    TSourceTable* table = SingleTable(node.get());
    TTableJoin* own_link = outer_on(*node) ? OuterLink(clause) : nullptr;
    if (table == nullptr && own_link != nullptr) table = own_link->Target;
    // A live result is walked through its table's cursor alone: a condition
    // over no column filters that table too.
    if (table == nullptr && query_.Live) table = order_.front();
    if (table == nullptr) {
      cross_residual_ = AndTrees(std::move(cross_residual_), std::move(node));
      continue;
    }
    const bool left_target = std::any_of(links_.begin(), links_.end(), [&](const auto& link) {
      return link->Target == table && link->Kind == kJoinLeft;
    });
    TTableState& state = tables_[IndexOf(*table)];
    if (own_link != nullptr && own_link->Target != table) {
      own_link->Guard = AndTrees(std::move(own_link->Guard), std::move(node));
    } else if (left_target && own_link == nullptr) {
      row_residual_ = AndTrees(std::move(row_residual_), std::move(node));
    } else {
      state.Condition = AndTrees(std::move(state.Condition), std::move(node));
    }
  }
  single_.clear();
  outer_links_.clear();
}

// The left link of an outer ON clause: the one its comparison of two
// tables made, or else the left chain into its join's target; nullptr when
// the target is entered by a conditioned link of another clause.
TTableJoin* TJoinPlan::OuterLink(int32_t clause) const {
  const auto known = outer_links_.find(clause);
  if (known != outer_links_.end()) return known->second;
  const auto& joins = query_.Joins;
  if (clause < 1 || static_cast<size_t>(clause) > joins.size()) return nullptr;
  for (const auto& link : links_) {
    if (link->Target == joins[static_cast<size_t>(clause - 1)].Target && !link->Condition &&
        link->Kind == kJoinLeft) {
      return link.get();
    }
  }
  return nullptr;
}

// A table may drive the loops when the path to it holds inner links and
// chains only: a left link turned round would lose its preserved rows.
bool TJoinPlan::ReRootable(const TSourceTable* table) const {
  const TTableJoin* into = nullptr;
  for (const auto& link : links_) {
    if (link->Target == table) into = link.get();
  }
  if (into == nullptr || into->Kind != kJoinInner) return false;
  for (const TSourceTable* t = into->Source; t != order_[0];) {
    const TTableJoin* up = nullptr;
    for (const auto& link : links_) {
      if (link->Target == t) up = link.get();
    }
    if (up == nullptr || up->Kind == kJoinLeft) return false;
    t = up->Source;
  }
  return true;
}

void TJoinPlan::Optimise() {
  TSourceTable* best = nullptr;
  int32_t best_count = 0;
  for (TSourceTable* table : order_) {
    if (!ReRootable(table)) continue;
    const int32_t count = table->Cursor->GetRecordCount();
    if (best == nullptr || count < best_count) {
      best = table;
      best_count = count;
    }
  }
  if (best == nullptr || best_count >= Driving().Cursor->GetRecordCount()) return;
  ReRoot(best);
  Renumber();
}

// Turns every link on the path from the driving table to the table round,
// so that the table drives.
void TJoinPlan::ReRoot(TSourceTable* table) {
  if (table == order_[0]) return;
  TTableJoin* into = nullptr;
  for (const auto& link : links_) {
    if (link->Target == table) into = link.get();
  }
  if (into == nullptr) return;
  TSourceTable* parent = into->Source;
  ReRoot(parent);
  const size_t parent_links = LinksFrom(parent).size();
  into->Source = table;
  into->Target = parent;
  if (into->Condition) {
    for (TExpToken* comparison : LinkComparisons(*into->Condition)) TurnRound(*comparison);
  }
  const auto table_at = std::find(order_.begin(), order_.end(), table);
  const auto parent_at = std::find(order_.begin(), order_.end(), parent);
  if (table_at == order_.end() || parent_at == order_.end()) {
    RaiseSqlError(" Internal join optimization error");
  }
  if (parent_links > 1) {
    const auto position = parent_at - order_.begin();
    order_.erase(table_at);
    order_.insert(order_.begin() + position, table);
  } else {
    std::iter_swap(table_at, parent_at);
  }
}

}  // namespace jw
