// TCursorReadScope: a cursor's read bracket (BeginRead / EndRead) as a
// guard, so that every way out of a read ends it.
#pragma once

#include "engine/core/data_cursor.h"

namespace jw {

class TCursorReadScope {
 public:
  explicit TCursorReadScope(TDataCursor& cursor) : cursor_(cursor) { cursor_.BeginRead(); }
  ~TCursorReadScope() {
    try {
      cursor_.EndRead();
    } catch (const Exception&) {
      // A failed release on the way out must not hide the error on its way.
    }
  }
  TCursorReadScope(const TCursorReadScope&) = delete;
  TCursorReadScope& operator=(const TCursorReadScope&) = delete;

 private:
  TDataCursor& cursor_;
};

}  // namespace jw
