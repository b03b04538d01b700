#include "engine/core/btree_build.h"

#include "engine/support/engine_errors.h"

namespace jw {

TBTreeBuilder::TBTreeBuilder(TIndexFile& file, TIndexCursor& cursor)
    : file_(file), cursor_(cursor), slot_(cursor.IndexSlot()) {
  if (file_.Root(slot_) != 0) RaiseEngineError(kErrIndexPagesCorrupt, file_.Name());
}

TBTreeBuilder::~TBTreeBuilder() {
  for (TPage* page : last_) file_.ReleasePage(page);
}

void TBTreeBuilder::Add(const uint8_t* key, int32_t record_number) {
  Append(0, key, record_number, 1);
}

void TBTreeBuilder::Append(size_t level, const uint8_t* key, int32_t pointer, int32_t count) {
  if (level == last_.size()) last_.push_back(nullptr);
  TPage* page = last_[level];
  if (page == nullptr) page = StartPage(level);
  if (page->AppendIfFits(key, pointer, count)) return;
  // The entry opens the next page of the level instead.
  TPage* next = StartPage(level);
  next->SetPrevious(page->Position());
  page->SetNext(next->Position());
  PassUp(level, page);
  if (!next->AppendIfFits(key, pointer, count)) {
    RaiseEngineError(kErrIndexPagesCorrupt, file_.Name());
  }
}

TPage* TBTreeBuilder::StartPage(size_t level) {
  TPage* page = file_.NewPage(cursor_);
  last_[level] = page;
  page->SetPageType(level == 0 ? kPageLeaf : kPageInner);
  return page;
}

void TBTreeBuilder::PassUp(size_t level, TPage* page) {
  page->SetDirty(true);
  try {
    Append(level + 1, page->Key(1), page->Position(), static_cast<int32_t>(page->TotalKeys()));
  } catch (...) {
    file_.ReleasePage(page);
    throw;
  }
  file_.ReleasePage(page);
}

void TBTreeBuilder::Finish() {
  // Passing a page up may open a level above: the top is the one page
  // left when every level below has passed its last page up.
  for (size_t level = 0; level < last_.size(); ++level) {
    TPage* page = last_[level];
    last_[level] = nullptr;
    if (level + 1 < last_.size()) {
      PassUp(level, page);
      continue;
    }
    page->SetPageType(level == 0 ? kPageRootLeaf : kPageRoot);
    page->SetDirty(true);
    file_.SetRoot(slot_, page->Position());
    file_.ReleasePage(page);
  }
  last_.clear();
}

}  // namespace jw
