// TDataCursor's filters: adding, activating, deactivating and dropping
// them, rating expression trees for index use, evaluating records against
// them, and keeping their bitmaps current as records change.
#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "engine/core/cursor_read_scope.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "engine/core/filter.h"
#include "engine/core/filter_index.h"
#include "engine/core/filter_program.h"
#include "engine/expr/expression_binder.h"
#include "engine/expr/expression_evaluator.h"
#include "engine/expr/expression_parser.h"
#include "engine/expr/expression_rewrite.h"
#include "engine/support/field_types.h"
#include "engine/support/language_settings.h"

namespace jw {
namespace {

constexpr size_t kMaxFilters = 64;
constexpr const char* kFilterContext = "filter expression";

// Binds a column to the table's field of its name.
bool ResolveTableColumn(void* context, TExpToken* node) {
  const auto* cursor = static_cast<const TDataCursor*>(context);
  int32_t number = 0;
  const FieldDescriptor* field = cursor->FindFieldDesc(node->ColumnName, number);
  if (field == nullptr) return false;
  node->FieldNumber = static_cast<int16_t>(number);
  node->FieldRef = field;
  node->Type = field->Type;
  node->Subtype = field->SubType;
  node->SetValueSize(field->Size);
  node->Scale = field->Decimals;
  return true;
}

// The value of a table column in a stored record image.
void TableColumnValue(void* context, const void* record, TExpToken* node) {
  auto* cursor = static_cast<TDataCursor*>(context);
  const FieldDescriptor& field = cursor->GetTableFieldDesc(node->FieldNumber);
  const auto* image = static_cast<const uint8_t*>(record);
  if (field.Type == kFldBlob) {
    cursor->BlobColumnValue(node->FieldNumber, image, *node);
    return;
  }
  bool null = false;
  node->SetValueSize(std::max<int32_t>(field.PhysicalLength, 8));
  cursor->GetTableFieldData(node->FieldNumber, image, null, node->Value());
  node->IsNull = null;
}

// Puts the column of every comparison of a column with something else on
// the left, so that the index conditions find it there.
void ColumnsToTheLeft(TExpToken* root) {
  std::vector<TExpToken*> stack{root};
  while (!stack.empty()) {
    TExpToken* node = stack.back();
    stack.pop_back();
    const bool comparison =
        node->Kind == kTokenBinary && node->Code >= kOpEqual && node->Code <= kOpLessOrEqual;
    if (comparison && node->Right != nullptr && node->Left != nullptr &&
        node->Right->Kind == kTokenColumn && node->Left->Kind != kTokenColumn) {
      std::swap(node->Left, node->Right);
      node->Code = MirroredComparison(node->Code);
    }
    for (TExpToken* child : {node->Left, node->Right, node->Third}) {
      if (child != nullptr) stack.push_back(child);
    }
  }
}

}  // namespace

// ---- adding and switching filters ----

TFilter* TDataCursor::AddFilter(const char* expression, const TExpToken* prepared,
                                TFilterCallback callback, void* user_data,
                                const TCursorFilterOptions& options) {
  if (filters_.size() >= kMaxFilters) Raise(kErrTooManyFilters);
  TTokenTree tree;
  if (expression != nullptr && callback == nullptr) {
    // Numbers and dates in the text are read in the session's locale,
    // whatever the process's settings are.
    const TDataSession* session = directory_ != nullptr ? directory_->Session() : nullptr;
    const TLanguageSwap swap(session != nullptr ? session->LanguageId() : 0,
                             session != nullptr ? session->SortId() : 0);
    TExpressionParser parser(this);
    parser.SetErrorCode(kErrFilter);
    parser.SetObjectName(table_name_);
    parser.SetContextName(kFilterContext);
    parser.SetText(expression);
    parser.NextToken();
    if (parser.IsSymbol(kClassEnd)) parser.RaiseParseError("filter expression is empty");
    TTokenTree parsed(parser.ParseExpression(kParseExtended));
    if (!parser.IsSymbol(kClassEnd)) {
      parser.RaiseParseError("Unknown or unexpected symbol '" + QuotedText(parser.GetTokenText()) +
                             "' found in " + kFilterContext);
    }
    BindExpression(kErrFilter, table_name_, kFilterContext, true, ResolveTableColumn, this, nullptr,
                   parsed.get());
    if (parsed->Type != kFldBoolean) {
      parser.RaiseParseError("filter expression must be a boolean expression");
    }
    ColumnsToTheLeft(parsed.get());
    tree.reset(PrepareFilter(parsed.get(), this, TableColumnValue, options.PartialMatchingOff,
                             options.CaseInsensitive, sort_id_, language_id_));
  } else if (prepared != nullptr && callback == nullptr) {
    // The filter rearranges its tree, so it works on a copy of the caller's.
    tree.reset(CopyTokenTree(prepared));
  }
  auto filter = std::make_unique<TFilter>(*this, callback, user_data, options, tree.release());
  TFilter* handle = filter.get();
  // Restricting filters come after every other one.
  auto at = options.Restricting ? filters_.end()
                                : std::find_if(filters_.begin(), filters_.end(),
                                               [](const auto& f) { return f->Restricting(); });
  filters_.insert(at, std::move(filter));
  return handle;
}

std::vector<std::unique_ptr<TFilter>>::iterator TDataCursor::FindFilter(TFilter* filter) {
  auto at = std::find_if(filters_.begin(), filters_.end(),
                         [filter](const auto& f) { return f.get() == filter; });
  if (at == filters_.end()) Raise(kErrInvalidFilterHandle);
  return at;
}

bool TDataCursor::AnyFilterActive() const {
  return std::any_of(filters_.begin(), filters_.end(), [](const auto& f) { return f->Active(); });
}

void TDataCursor::ActivateFilter(TFilter* filter) {
  SetFiltersActive(filter, true);
}

void TDataCursor::DeactivateFilter(TFilter* filter) {
  SetFiltersActive(filter, false);
}

void TDataCursor::SetFiltersActive(TFilter* filter, bool active) {
  TCursorReadScope read(*this);
  const bool view_built = bitmap_view_;
  bool added = false;
  for (auto at = filter == nullptr ? filters_.begin() : FindFilter(filter); at != filters_.end();
       ++at) {
    if (active) {
      added = !(*at)->Active();
      (*at)->Activate();
    } else {
      (*at)->Deactivate();
    }
    if (filter != nullptr) break;
  }
  UpdateBitmapView();
  // One more filter over a view already built narrows it by its own
  // bitmap alone; the live and range bitmaps need no rebuild.
  if (filter != nullptr && added && view_built && RecombineView(filter)) return;
  Resynchronise();
}

void TDataCursor::DropFilter(TFilter* filter) {
  TCursorReadScope read(*this);
  const bool view_built = bitmap_view_;
  if (filter == nullptr) {
    filters_.clear();
  } else {
    filters_.erase(FindFilter(filter));
  }
  UpdateBitmapView();
  // With no filter left the view is the live records of the range, whose
  // bitmaps the read bracket found current and every change of this cursor
  // kept so: they are combined again instead of rebuilt from the indexes,
  // which would walk the whole table (a prepared statement run again drops
  // its filter before it installs the next). A filter still active may
  // have been filled within the dropped one's records: the view is then
  // computed afresh.
  if (view_built && bitmap_view_ && !AnyFilterActive() && RecombineView(nullptr)) return;
  Resynchronise();
}

bool TDataCursor::RecombineView(TFilter* added) {
  if (added != nullptr) {
    const bool watched = OthersMayWrite();
    const int64_t file_reads = file_reads_;
    FillFilterBitmap(*added);
    // As for a fill of the whole view: what was read from disk may mix the
    // files before and after another process's change.
    const bool read_files = file_reads_ != file_reads || table_->StrictChangeDetection();
    if (watched && (resync_pending_ || (read_files && table_->DetectChanges()))) {
      SaveChangeCounters();
      resync_pending_ = false;
      return false;
    }
  }
  std::vector<uint8_t> bookmark(static_cast<size_t>(GetBookmarkSize()), 0);
  GetBookmark(bookmark.data());
  CombineBitmaps();
  GotoBookmark(bookmark.data(), true, true);
  return true;
}

void TDataCursor::SetFilterTree(const TExpToken* tree, TFilter* filter) {
  TCursorReadScope read(*this);
  TFilter& target = **FindFilter(filter);
  if (!target.Active()) Raise(kErrInvalidFilterHandle);
  target.SetTree(CopyTokenTree(tree));
  Resynchronise();
}

// ---- filling the bitmaps ----

void TDataCursor::FillFilterBitmaps() {
  for (auto& filter : filters_) {
    if (filter->Active()) FillFilterBitmap(*filter);
  }
}

void TDataCursor::FillFilterBitmap(TFilter& filter) {
  TRecordsBitmap& bitmap = filter.Bitmap();
  bitmap.SetRecordCount(table_->DataFile().RecordCount());
  if (filter.IndexAnswersWhole()) {
    // The index names the few records that pass; the live and range
    // bitmaps narrow them at the cost of those records' words instead of
    // a copy of the whole table's.
    filter.CollectFromIndex();
    bitmap.AndWith(*live_);
    if (range_active_ && !NaturalOrderInForce()) bitmap.AndWith(*range_bitmap_);
    return;
  }
  bitmap.Assign(*live_);
  if (range_active_ && !NaturalOrderInForce()) bitmap.AndWith(*range_bitmap_);
  if (filter.Restricting() && filter.OptimizeLevel() != 2) {
    for (auto& before : filters_) {
      if (before.get() == &filter) break;
      if (before->Active()) bitmap.AndWith(before->Bitmap());
    }
  }
  filter.FillBitmap();
}

// ---- rating ----

int32_t TDataCursor::SelectIndexForField(int32_t field, bool case_insensitive) const {
  const TIndexFile& index = table_->IndexFile();
  const FieldDescriptor& desc = GetTableFieldDesc(field);
  for (int32_t slot = 0; slot <= index.SecondaryCount(); ++slot) {
    if (slot == kPrimarySlot && !table_->HasPrimaryIndex()) continue;
    const IndexDescriptor& candidate = index.IndexDesc(slot);
    if (candidate.SegmentCount < 1 || candidate.FieldNumbers[0] != desc.Number) continue;
    // Descending keys reverse or invert the order the ranges are built in.
    const bool descending =
        candidate.Descending != 0 ||
        std::any_of(candidate.SegmentDescending.begin(),
                    candidate.SegmentDescending.begin() + candidate.SegmentCount,
                    [](uint8_t d) { return d != 0; });
    if (descending) continue;
    if (desc.Type == kFldString && (candidate.CaseInsensitive != 0) != case_insensitive) continue;
    return slot;
  }
  return -1;
}

// Rated children first, on a stack of its own: a chain of many thousand
// ANDs and ORs is as deep as it is long.
uint8_t TDataCursor::GetOptimizeLevel(TExpToken* root, bool estimate) {
  if (result_set_ && !NaturalOrderInForce()) {
    root->OptimizeLevel = 0;
    return 0;
  }
  struct TPending {
    TExpToken* Node;
    bool ChildrenRated;
  };
  std::vector<TPending> stack{{root, false}};
  while (!stack.empty()) {
    TExpToken* node = stack.back().Node;
    const bool is_not = node->Kind == kTokenUnary && node->Code == kOpNot;
    const bool is_and = node->Kind == kTokenBinary && node->Code == kOpAnd;
    const bool is_or = node->Kind == kTokenBinary && node->Code == kOpOr;
    if ((is_not || is_and || is_or) && !stack.back().ChildrenRated) {
      stack.back().ChildrenRated = true;
      stack.push_back({node->Left, false});
      if (!is_not) stack.push_back({node->Right, false});
      continue;
    }
    stack.pop_back();
    uint8_t level = 0;
    if (is_not) {
      level = node->Left->OptimizeLevel;
    } else if (is_and) {
      uint8_t left = node->Left->OptimizeLevel;
      uint8_t right = node->Right->OptimizeLevel;
      if (right > left) {
        std::swap(node->Left, node->Right);
        std::swap(left, right);
      }
      level = left == 2 && right == 2 ? 2 : left == 0 ? 0 : 1;
    } else if (is_or) {
      level = node->Left->OptimizeLevel == 2 && node->Right->OptimizeLevel == 2 ? 2 : 0;
    } else if (IndexForCondition(*this, *node) >= 0) {
      level = ConditionNeedsRecordTest(*this, *node) ? 1 : 2;
      if (estimate) {
        const int64_t most = static_cast<int64_t>(table_->IndexFile().LiveCount() * 0.9);
        if (EstimateCondition(*this, *node) > most) level = 0;
      }
    }
    node->OptimizeLevel = level;
  }
  return root->OptimizeLevel;
}

// ---- evaluation ----

void TDataCursor::EvaluateFilterOver(TRecordsBitmap& bitmap, const TExpToken* tree,
                                     TFilterCallback callback, void* user_data) {
  // A tree of the common shapes runs compiled over the stored bytes;
  // any other has one evaluator for the walk, whose nodes serve every
  // record.
  TFilterProgram program;
  const bool compiled = callback == nullptr && tree != nullptr && program.Compile(*this, *tree);
  std::optional<TExpressionEvaluator> evaluator;
  if (callback == nullptr && tree != nullptr && !compiled) {
    evaluator.emplace(this, sort_id_, language_id_, TableColumnValue);
  }
  auto test = [&](int32_t number, const uint8_t* image) {
    if (compiled) {
      if (!program.Passes(image)) bitmap.ClearBit(number);
      return;
    }
    TestRecord(image, number, callback, user_data, tree, evaluator ? &*evaluator : nullptr, bitmap);
  };
  // A change met before a disk read voids the fill (resync_pending_); the
  // walk goes on.
  filter_record_reads_ += table_->DataFile().VisitRecords(
      this, bitmap,
      [](void* context, int32_t number, const uint8_t* image) {
        (*static_cast<decltype(test)*>(context))(number, image);
      },
      &test);
}

void TDataCursor::TestRecord(const uint8_t* image, int32_t number, TFilterCallback callback,
                             void* user_data, const TExpToken* tree,
                             TExpressionEvaluator* evaluator, TRecordsBitmap& bitmap) {
  bool passes = true;
  if (callback != nullptr) {
    passes = callback(user_data, image, number);
  } else if (tree != nullptr) {
    std::optional<TExpressionEvaluator> own;
    if (evaluator == nullptr)
      evaluator = &own.emplace(this, sort_id_, language_id_, TableColumnValue);
    const TExpToken& result = evaluator->Evaluate(*tree, image);
    passes = !result.IsNull && result.Value()[0] != 0;
  }
  if (!passes) bitmap.ClearBit(number);
}

// ---- following changes of records ----

void TDataCursor::FilterRecordChanged(int32_t number, const uint8_t* image) {
  RecomputeRangeOrdinals();
  if (!bitmap_view_) return;
  const int32_t count = table_->DataFile().RecordCount();
  live_->SetRecordCount(count);
  live_->SetBit(number);
  live_count_ = -1;
  if (range_active_ && !NaturalOrderInForce()) {
    range_bitmap_->SetRecordCount(count);
    std::vector<uint8_t> key(static_cast<size_t>(key_length_));
    BuildKey(image, key.data());
    const uint8_t* start = RangeStartKey();
    const uint8_t* end = RangeEndKey();
    const bool inside = (start == nullptr || CompareKeys(key.data(), start, key_length_) >= 0) &&
                        (end == nullptr || CompareKeys(key.data(), end, key_length_) <= 0);
    if (inside) {
      range_bitmap_->SetBit(number);
    } else {
      range_bitmap_->ClearBit(number);
    }
  }
  for (auto& filter : filters_) {
    if (filter->Active()) filter->TestRecord(number, image);
  }
  CombineRecordBits(number);
}

void TDataCursor::FilterRecordDeleted(int32_t number) {
  RecomputeRangeOrdinals();
  if (!bitmap_view_) return;
  live_->ClearBit(number);
  live_count_ = -1;
  range_bitmap_->ClearBit(number);
  for (auto& filter : filters_) {
    if (filter->Active()) filter->ClearRecord(number);
  }
  CombineRecordBits(number);
}

}  // namespace jw
