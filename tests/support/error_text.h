// The text of the error a call raises, for tests that pin messages word for
// word.
#pragma once

#include <string>

#include "platform/rtl/exceptions.h"

namespace jw::test_support {

// The message of the E that action raises; "(nothing raised)" when it
// returns. Any other exception passes through and fails the test.
template <typename E = Exception, typename F>
std::string ErrorText(F&& action) {
  try {
    action();
  } catch (const E& e) {
    return e.Message();
  }
  return "(nothing raised)";
}

}  // namespace jw::test_support
