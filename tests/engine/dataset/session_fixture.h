// The dataset components started for one test and stopped after it, so each
// test begins with the session list of a fresh process: the one session
// "Default", inactive, and the engine not initialised.
#pragma once

#include <gtest/gtest.h>

#include "engine/dataset/session_list.h"

namespace jw::test_support {

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override { InitQuireSessions(); }
  void TearDown() override { DoneQuireSessions(); }
};

}  // namespace jw::test_support
