// The BLOB file against a model: random writes, rewrites and deletes of
// records' values, compared with a map after every step, written back and
// checked by the verifier's block census after every batch of changes, and
// read again after close and open. JW_LONG_TESTS=1 runs ten times as many.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "tests/engine/core/blob_test_table.h"

namespace jw::test {
namespace {

class BlobModelTest : public ::testing::TestWithParam<int32_t> {};

TEST_P(BlobModelTest, RandomWritesRewritesAndDeletesMatchTheModel) {
  const int32_t block_size = GetParam();
  const int32_t per_block = block_size - 18;
  const int32_t steps = LongTests() ? 10000 : 1000;
  const uint32_t seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed) + ", block size " + std::to_string(block_size));
  std::mt19937 rng(seed);
  auto below = [&](int32_t n) { return static_cast<int32_t>(rng() % static_cast<uint32_t>(n)); };

  ScratchDir dir;
  BlobTable t(dir, block_size);
  std::map<int32_t, Bytes> model;
  auto random_size = [&]() -> int32_t {
    switch (below(10)) {
      case 0:
        return 0;
      case 1:
        return per_block * (1 + below(3));  // exactly filled blocks
      case 2:
        return per_block * (1 + below(3)) + 1;
      case 3:
        return per_block * (10 + below(30)) + below(per_block);
      default:
        return 1 + below(per_block * 6);
    }
  };
  auto expect_all = [&](const char* when) {
    for (const auto& [record, value] : model) {
      ASSERT_EQ(t.Load(record), value) << "record " << record << " " << when;
    }
  };

  int32_t batch = 0;
  for (int32_t step = 0; step < steps; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    const int32_t op = below(20);
    if (model.empty() || (op < 3 && model.size() < 40)) {
      const int32_t record = t.AddRecord();
      const Bytes value = Pattern(random_size(), rng());
      t.Store(record, value);
      model[record] = value;
    } else {
      auto it = model.begin();
      std::advance(it, below(static_cast<int32_t>(model.size())));
      const int32_t record = it->first;
      if (op < 12) {
        const Bytes value = Pattern(random_size(), rng());
        t.Store(record, value);
        it->second = value;
      } else if (op < 15) {
        t.Store(record, {});
        it->second.clear();
      } else if (op < 19) {
        ASSERT_EQ(t.Load(record), it->second) << "record " << record;
        continue;
      } else {
        t.Reopen();
        expect_all("after close and open");
        continue;
      }
    }
    // Changes gather in the cache for a few steps before each census.
    if (++batch < 1 + below(3)) continue;
    batch = 0;
    t.WriteBack();
    const auto problems = t.Verify();
    ASSERT_TRUE(problems.empty()) << problems.front();
  }
  t.Reopen();
  const auto problems = t.Verify();
  ASSERT_TRUE(problems.empty()) << problems.front();
  expect_all("at the end");
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, BlobModelTest, ::testing::Values(64, 512));

}  // namespace
}  // namespace jw::test
