#include "mail/mail_lines.h"

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mail/encoders.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "tests/mail/mail_test_world.h"

namespace jw {
namespace {

using test_support::LinesOf;

// The base64 lines EncodeStreamBase64 gives for the bytes.
std::vector<std::string> Base64LinesOf(const std::vector<uint8_t>& bytes) {
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  return LinesOf(*EncodeStreamBase64(stream));
}

// Random edits, base64 runs and copies between lists, applied to the list
// and to a plain string list of the lines it stands for, compared after
// every step.
TEST(MailLinesModel, BehavesAsTheLinesItStandsFor) {
  const int steps = std::getenv("JW_LONG_TESTS") ? 200000 : 5000;
  const unsigned seed = 2024;
  std::mt19937 random(seed);
  TMailLines lines;
  TMailLines other;
  std::vector<std::string> model;
  for (int step = 0; step < steps; ++step) {
    const int count = static_cast<int>(model.size());
    const int at = count == 0 ? 0 : static_cast<int>(random() % count);
    const std::string text = "line " + std::to_string(step);
    switch (random() % 8) {
      case 0: {
        std::vector<uint8_t> bytes(random() % 200);
        for (auto& b : bytes) b = static_cast<uint8_t>(random());
        lines.AddBase64(std::make_shared<const std::vector<uint8_t>>(bytes));
        for (auto& line : Base64LinesOf(bytes)) model.push_back(line);
        break;
      }
      case 1:
        lines.Add(text);
        model.push_back(text);
        break;
      case 2:
        lines.Insert(count == 0 ? 0 : at, text);
        model.insert(model.begin() + (count == 0 ? 0 : at), text);
        break;
      case 3:
        if (count == 0) break;
        lines.Delete(at);
        model.erase(model.begin() + at);
        break;
      case 4:
        if (count == 0) break;
        lines.SetStrings(at, text);
        model[static_cast<size_t>(at)] = text;
        break;
      case 5:
        // A copy shares the runs; changing one list leaves the other as it was.
        other.AssignLines(lines);
        ASSERT_EQ(LinesOf(other), model) << "seed " << seed << " step " << step;
        if (count > 0) other.SetStrings(at, "changed");
        break;
      case 6:
        if (random() % 16 == 0) {
          lines.Clear();
          model.clear();
        }
        break;
      case 7:
        if (model.size() > 2000) break;
        lines.AddLines(lines);
        for (int i = 0; i < count; ++i) model.push_back(model[static_cast<size_t>(i)]);
        break;
    }
    ASSERT_EQ(lines.Count(), static_cast<int>(model.size())) << "seed " << seed << " step " << step;
    if (step % 50 == 0 || step + 1 == steps) {
      ASSERT_EQ(LinesOf(lines), model) << "seed " << seed << " step " << step;
      std::vector<std::string> visited;
      lines.ForEach([&](const std::string& line) { visited.push_back(line); });
      ASSERT_EQ(visited, model) << "seed " << seed << " step " << step;
    }
  }
  EXPECT_THROW(lines.Strings(lines.Count()), EListError);
  EXPECT_THROW(lines.Delete(-1), EListError);
}

}  // namespace
}  // namespace jw
