#include "app/session_end.h"

#include <signal.h>

#include <gtest/gtest.h>

#include "platform/gui/application.h"

namespace jw {
namespace {

bool DefaultHandling(int number) {
  struct sigaction action = {};
  sigaction(number, nullptr, &action);
  return action.sa_handler == SIG_DFL;
}

// Each signal that ends a session reaches the callback from the event loop,
// never inside the handler; requests that pile up, or come while the first
// one is still being answered, end the program once; the watch gives the
// signals back.
TEST(SessionEndWatch, SignalsCloseOnceFromTheEventLoop) {
  int ends = 0;
  {
    TSessionEndWatch watch([&] {
      ++ends;
      // As a question to the user would, the close runs the event loop, and
      // another request comes meanwhile.
      raise(SIGTERM);
      Application->ProcessMessages();
    });
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
      const int before = ends;
      raise(number);
      raise(number);
      EXPECT_EQ(ends, before) << "signal " << number << " was handled inside its handler";
      Application->ProcessMessages();
      EXPECT_EQ(ends, before + 1) << "signal " << number;
      Application->ProcessMessages();
      EXPECT_EQ(ends, before + 1) << "signal " << number << " ended the program twice";
    }
  }
  for (const int number : {SIGTERM, SIGINT, SIGHUP}) EXPECT_TRUE(DefaultHandling(number)) << number;
}

}  // namespace
}  // namespace jw
