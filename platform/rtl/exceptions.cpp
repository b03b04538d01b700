#include "platform/rtl/exceptions.h"

namespace jw {

void Abort() {
  throw EAbort("Operation aborted");
}

}  // namespace jw
