// TJoinPlan: how a query walks its source tables. The bound condition (WHERE
// and every ON, joined by AND) is split into per-table conditions, join
// links (TTableJoin) between tables and residual conditions; the tables get
// a loop order, the optimiser may re-root the loops on the most selective
// table, and First / Next step through the qualifying row combinations as
// nested loops over the tables' cursors, each table's current record in its
// RecordBuffer. Planning lives in join_plan.cpp, execution in
// join_execution.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "engine/expr/expression_tokens.h"

namespace jw {

class TDataQuery;
class TFilter;
struct TSourceTable;

// Join kinds of a link; the kinds of ON conditions are those of data_query.h.
constexpr uint8_t kJoinChain = 0;

// One join link: for each record of Source, Target is filtered by the
// condition, whose left operands are Source's and right operands Target's.
// A link whose condition holds an equality on the leading column of an
// ascending index of Target looks its matches up by key instead: for each
// source record the key of the source value is sought in that index and
// the records of equal keys are walked, each tested against the link's
// other comparisons. A lookup costs a key search, not a pass over the table.
struct TTableJoin {
  TSourceTable* Source = nullptr;
  uint8_t Kind = kJoinChain;  // kJoinChain, kJoinInner or kJoinLeft
  TSourceTable* Target = nullptr;
  TTokenTree Condition;  // comparisons joined by AND; none for a chain
  // ON conditions of a left join over Source alone: when false the link
  // matches nothing, so the source row is kept with NULL target columns.
  TTokenTree Guard;
  TFilter* Filter = nullptr;  // on Target's cursor, once used

  // The keyed lookup: the comparison of Condition it answers, the index
  // slot of Target's cursor and the bytes of the key's leading segment.
  const TExpToken* KeyComparison = nullptr;
  uint8_t KeySlot = 0;
  int32_t KeyPrefix = 0;
  // The index is unique on the column alone: a key found is the only one.
  bool KeyUnique = false;
  // Condition's other comparisons, and as a condition on Target for the
  // source's current record.
  TTokenTree Rest;
  TTokenTree RestFilter;
  // A record image of Target holding the source value, its key, and the
  // key of the record reached.
  std::vector<uint8_t> SoughtImage;
  std::vector<uint8_t> SoughtKey;
  std::vector<uint8_t> FoundKey;
  // The value of a source column read straight into the sought record;
  // empty when the source operand is evaluated and converted instead.
  std::vector<uint8_t> SourceValue;
  // The next step of Target seeks the key instead of moving on.
  bool Seek = false;
};

class TJoinPlan {
 public:
  explicit TJoinPlan(TDataQuery& query);
  // Drops the filters the plan put on the tables' cursors.
  ~TJoinPlan();
  TJoinPlan(const TJoinPlan&) = delete;
  TJoinPlan& operator=(const TJoinPlan&) = delete;

  // Splits the bound condition (may be nullptr) and orders the tables.
  // Raises engine error 11949 for a comparison whose operand spans tables
  // and for a table that is the target of several conditioned links.
  void Analyse(TTokenTree condition);
  // Installs every per-table condition as a filter on its table's cursor
  // and, with joins and without NOJOINOPTIMIZE, re-roots the loops on the
  // table with the fewest filtered records.
  void InstallFilters();

  // The first / next qualifying row combination: every table's current
  // record in its RecordBuffer, an all-NULL record for the unmatched side
  // of a left join.
  bool First();
  bool Next();

  // Tables in loop order; the first drives the loops.
  const std::vector<TSourceTable*>& Order() const { return order_; }
  TSourceTable& Driving() const { return *order_.front(); }
  const std::vector<std::unique_ptr<TTableJoin>>& Links() const { return links_; }
  // Conditions over several tables that are no join links.
  const TExpToken* CrossResidual() const { return cross_residual_.get(); }
  // Single-table conditions tested per combination (WHERE conditions on
  // the target of a left join, whose NULL row they must see).
  const TExpToken* RowResidual() const { return row_residual_.get(); }
  // The condition installed as a filter on the table; nullptr for none.
  const TExpToken* TableCondition(const TSourceTable& table) const;

 private:
  struct TTableState {
    TSourceTable* Table = nullptr;
    TTokenTree Condition;  // installed as a filter
    TFilter* Filter = nullptr;
    bool Null = false;  // standing on the NULL row of a left join
    // Set for execution once the loop order is final: the links from the
    // table, and the link into it when that one looks its matches up by key.
    std::vector<TTableJoin*> Links;
    TTableJoin* Keyed = nullptr;
    // The cursor's index before a keyed link or a range switched it, put
    // back at the end.
    uint8_t SavedIndex = 0;
    // The driving table walks a range of an index instead of its filter.
    bool Ranged = false;
  };

  // Planning (join_plan.cpp).
  size_t IndexOf(const TSourceTable& table) const;
  TSourceTable* TableOfColumn(const TExpToken& column) const;
  // The tables whose columns a tree names: none, one (Single) or more
  // (Count 2, however many).
  struct TTables {
    int Count = 0;
    TSourceTable* Single = nullptr;
  };
  TTables TablesOf(const TExpToken* node) const;
  TSourceTable* SingleTable(const TExpToken* node) const;
  void Split(TExpToken* root);
  // One conjunct, of the numbered ON clause or of WHERE (0), to its link,
  // table or residual.
  void Place(TTokenTree node, int32_t clause);
  void AddLink(TExpToken* comparison, int32_t clause);
  TTableJoin* FindLink(const TSourceTable* source, const TSourceTable* target) const;
  // Whether a link that decides matching (a condition, or a left join's
  // chain) leads into the table.
  bool IsConditionedTarget(const TSourceTable* table) const;
  // Whether conditioned links lead from one table to the other.
  bool Reaches(const TSourceTable* from, const TSourceTable* to) const;
  void OrderTables();
  void PlaceSingleTableConditions();
  TTableJoin* OuterLink(int32_t clause) const;
  void Renumber();
  void Optimise();
  bool ReRootable(const TSourceTable* table) const;
  void ReRoot(TSourceTable* table);

  std::vector<TTableJoin*> LinksFrom(const TSourceTable* table) const;

  // Execution (join_execution.cpp).
  void PrepareLoops();
  void PrepareKeyedLookup(TTableJoin& link);
  void WalkDrivingRange();
  bool Start(TSourceTable* table, uint8_t kind);
  bool Advance(TSourceTable* table);
  bool SeekMatch(TSourceTable* table, bool& candidates);
  bool NextCandidate(TTableState& state);
  bool StartLink(TTableJoin& link);
  bool StartNull(TSourceTable* table);
  bool FilterLink(TTableJoin& link);
  void SetSoughtKey(TTableJoin& link);
  TExpToken* JoinFilterTree(TExpToken& condition) const;

  TDataQuery& query_;
  std::vector<TTableState> tables_;  // in the query's table order
  std::vector<TSourceTable*> order_;
  std::vector<std::unique_ptr<TTableJoin>> links_;
  TTokenTree cross_residual_;
  TTokenTree row_residual_;
  // Conditions over a single table (or none) with their ON clause, gathered
  // before they are placed, and the left link of each ON clause.
  struct TSingleCondition {
    TTokenTree Tree;
    int32_t Clause = 0;
  };
  std::vector<TSingleCondition> single_;
  std::unordered_map<int32_t, TTableJoin*> outer_links_;
};

bool IsComparison(const TExpToken& node);
// The comparisons of a link's condition (comparisons joined by AND), in
// the order they were written.
std::vector<TExpToken*> LinkComparisons(TExpToken& condition);
// Joins two optional trees by AND (either may be nullptr).
TTokenTree AndTrees(TTokenTree left, TTokenTree right);

// The evaluator's column values over a query's source tables (context: the
// TDataQuery): a column reads from its table's RecordBuffer, a BLOB column
// whole.
void SourceColumnValue(void* query, const void* record, TExpToken* node);
// True when the bound condition holds for the tables' current records.
bool ConditionHolds(TDataQuery& query, const TExpToken* condition);

}  // namespace jw
