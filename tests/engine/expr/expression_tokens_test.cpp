// The node pool as a process-wide object of the support library's start-up.
#include "engine/expr/expression_tokens.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/support/support_startup.h"

namespace jw {
namespace {

TEST(TokenPool, StartsFirstAndIsFreedLastByTheSupportLibrary) {
  DoneEngineSupport();
  std::vector<std::string> steps;
  OnEngineSupportStep = [&steps](const std::string& name, bool starting) {
    steps.push_back((starting ? "+" : "-") + name);
  };
  InitEngineSupport();
  TExpToken* token = GetToken();
  ReleaseToken(token);
  EXPECT_EQ(token, nullptr);
  EXPECT_GT(ExpTokenStack().Count(), 0);
  DoneEngineSupport();
  OnEngineSupportStep = nullptr;
  EXPECT_EQ(ExpTokenStack().Count(), 0);
  InitEngineSupport();
  ASSERT_FALSE(steps.empty());
  EXPECT_EQ(steps.front(), "+token pool");
  EXPECT_EQ(steps.back(), "-token pool");
}

}  // namespace
}  // namespace jw
