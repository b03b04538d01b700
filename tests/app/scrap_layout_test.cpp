// The note's text layout against the straightforward one it replaced, which
// measured the whole line again at every character: both must give the same
// lines for any text, paper, scale, font, angle and margins.
#include <algorithm>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "app/folders.h"
#include "app/font_desc.h"
#include "app/scrap_form.h"
#include "app/settings.h"
#include "app/utf8_text.h"
#include "platform/rtl/numbers.h"

namespace jw {

void PrintTo(const TScrapForm::TTextLine& line, std::ostream* out) {
  *out << "(" << line.X << ", " << line.Y << ") \"" << line.Text << "\"";
}

namespace {

using Lines = std::vector<TScrapForm::TTextLine>;

bool IsAsciiLetterOrDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The reference: every character's line end tested in turn.
std::string ReferenceTakeLine(TScrapForm& form, std::string& rest, int x, int y) {
  const std::vector<size_t> ends = CodePointEnds(rest);
  for (size_t i = 0; i < ends.size(); ++i) {
    const size_t start = i == 0 ? 0 : ends[i - 1];
    if (rest[start] == '\r') {
      std::string line = rest.substr(0, start);
      rest.erase(0, ends[i]);
      return line;
    }
    if (i + 1 == ends.size()) return std::exchange(rest, std::string());
    if (form.TextEndInShape(x, y, rest.substr(0, ends[i]))) continue;
    std::string line = rest.substr(0, ends[i]);
    if (line.back() != ' ') {
      line.resize(start);
      while (!line.empty() && IsAsciiLetterOrDigit(line.back())) line.pop_back();
    }
    if (line.empty()) line = rest.substr(0, start);
    rest.erase(0, line.size());
    return line;
  }
  return std::exchange(rest, std::string());
}

Lines ReferenceLines(TScrapForm& form) {
  Lines lines;
  const double angle = std::clamp(form.FontAngle, -45.0, 45.0);
  const int line_step = std::max(
      1, int(Trunc(form.Canvas().TextHeight("Mg") / std::cos(angle * 2 * std::numbers::pi / 360))));
  const int right = int(Trunc(form.RightMargin * form.ImageScale));
  const int top = int(Trunc(form.TopMargin * form.ImageScale));
  // The walk counts from the outline's corner, where the lines are written.
  const TRect box = form.ShapeRegion->BoundingBox();
  int y = form.FirstLineTop();
  int x = form.LineStartX(y);
  std::string rest = form.Message;
  while (!rest.empty()) {
    std::string line = ReferenceTakeLine(form, rest, x + right, y - top);
    lines.push_back({x + box.Left, y + box.Top, std::move(line)});
    form.NextTextLine(x, y, line_step);
    if (box.Height() + 10 < y) break;
  }
  return lines;
}

// Words of every kind a note holds: short and long, punctuation, digits,
// accented letters, blanks in runs and line breaks.
std::string RandomText(std::mt19937& random) {
  static const char* const kPieces[] = {"a",
                                        "I",
                                        "the",
                                        "Wall",
                                        "tiny",
                                        "quick",
                                        "brown,",
                                        "fox.",
                                        "42",
                                        "1.5",
                                        "don't",
                                        "(see)",
                                        "x-ray",
                                        "caf\xC3\xA9",
                                        "na\xC3\xAFve",
                                        " ",
                                        "  ",
                                        "\r",
                                        "\r\r",
                                        "WWWWWWWWWW",
                                        "iiiiiiiiiiiiiiii",
                                        "supercalifragilisticexpialidocious",
                                        "AVAVAV",
                                        "To",
                                        "fi",
                                        ";",
                                        "!"};
  std::string text;
  const size_t length = std::uniform_int_distribution<size_t>(0, 700)(random);
  while (text.size() < length) {
    text += kPieces[std::uniform_int_distribution<size_t>(0, std::size(kPieces) - 1)(random)];
    if (std::bernoulli_distribution(0.7)(random)) text += ' ';
  }
  return text;
}

class ScrapLayoutTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::filesystem::create_directories(PaperFolder());
    for (const char* name : kShipped) {
      std::filesystem::copy_file(std::string(JW_PAPER_DIR) + "/" + name,
                                 PaperFolder() + "layout-" + name,
                                 std::filesystem::copy_options::overwrite_existing);
    }
    // A white outline on red.
    const auto write_paper = [](const char* name, int width, int height, TRect outline) {
      TBitmap paper;
      paper.SetSize(width, height);
      paper.Canvas().Brush().SetColor(clRed);
      paper.Canvas().FillRect(Rect(0, 0, width, height));
      paper.Canvas().Brush().SetColor(clWhite);
      paper.Canvas().FillRect(outline);
      paper.SaveToFile(PaperFolder() + name);
    };
    write_paper("layout-rect.bmp", 300, 200, Rect(7, 3, 290, 196));
    // An outline that starts well inside its bitmap.
    write_paper("layout-inset.bmp", 300, 240, Rect(60, 40, 280, 230));
  }
  static void TearDownTestSuite() {
    for (const char* name : kShipped) std::filesystem::remove(PaperFolder() + "layout-" + name);
    std::filesystem::remove(PaperFolder() + "layout-rect.bmp");
    std::filesystem::remove(PaperFolder() + "layout-inset.bmp");
  }
  void SetUp() override {
    ScrapSettings = TScrapSettings();
    ScrapSettings.DefaultFontDesc = "DejaVu Sans,12,0";
  }
  void TearDown() override { ScrapSettings = TScrapSettings(); }

  static constexpr const char* kShipped[] = {"yellow.bmp", "lined.bmp", "oval.bmp", "tilted.bmp",
                                             "bubble.bmp"};
};

// One note goes through every case, each changing a random part of what the
// layout depends on, so a layout kept past a change shows up as a difference.
TEST_F(ScrapLayoutTest, LinesMatchTheCharacterByCharacterLayout) {
  static const char* const kFonts[] = {"DejaVu Sans", "DejaVu Serif", "DejaVu Sans Mono"};
  std::vector<std::string> papers = {"layout-rect.bmp", "layout-inset.bmp"};
  for (const char* name : kShipped) papers.push_back(std::string("layout-") + name);
  std::unique_ptr<TScrapForm> form(MakeForm<TScrapForm>(nullptr));
  const unsigned seed = std::random_device()();
  std::mt19937 random(seed);
  auto pick = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  auto sometimes = [&] { return std::bernoulli_distribution(0.4)(random); };
  int checked_lines = 0;
  for (int round = 0; round < 150; ++round) {
    if (round == 0 || sometimes()) {
      form->PaperFile = papers[size_t(pick(0, int(papers.size()) - 1))];
      form->ImageScale = pick(5, 30) / 10.0;
      form->RebuildShape();
    }
    if (round == 0 || sometimes()) {
      std::string desc = std::string(kFonts[pick(0, 2)]) + "," + std::to_string(pick(6, 30)) + ",0";
      if (sometimes()) desc += ",fsBold";
      if (sometimes()) desc += ",fsItalic";
      form->FontDesc = desc;
      DescToFont(form->Canvas().Font(), desc);
      SetAngledFont(form->Canvas(), form->FontAngle);
    }
    if (round == 0 || sometimes()) {
      form->FontAngle = pick(-45, 45);
      SetAngledFont(form->Canvas(), form->FontAngle);
    }
    if (sometimes()) {
      form->LeftMargin = pick(0, 20);
      form->TopMargin = pick(0, 20);
      form->RightMargin = pick(0, 20);
    }
    if (round == 0 || sometimes()) form->Message = RandomText(random);
    SCOPED_TRACE(testing::Message() << "seed " << seed << ", round " << round << ", paper "
                                    << form->PaperFile << " at " << form->ImageScale << ", font "
                                    << form->FontDesc << " at " << form->FontAngle);
    const Lines expected = ReferenceLines(*form);
    ASSERT_EQ(form->MessageLines(), expected);
    checked_lines += int(expected.size());
  }
  // The cases must reach well into wrapping, not only short texts.
  EXPECT_GT(checked_lines, 1000);
}

// On an outline that starts inside its bitmap, every line starts inside the
// outline where it is written, the alarm bell too, and the window covers
// the whole outline.
TEST_F(ScrapLayoutTest, TextIsWrittenWhereTheOutlineWasTested) {
  std::unique_ptr<TScrapForm> form(MakeForm<TScrapForm>(nullptr));
  for (const char* paper : {"layout-inset.bmp", "layout-tilted.bmp"}) {
    SCOPED_TRACE(paper);
    form->PaperFile = paper;
    form->RebuildShape();
    const TRect box = form->ShapeRegion->BoundingBox();
    EXPECT_GE(form->ClientWidth(), box.Right);
    EXPECT_GE(form->ClientHeight(), box.Bottom);
    std::mt19937 random(11);
    form->Message = RandomText(random) + RandomText(random);
    const Lines lines = form->MessageLines();
    ASSERT_GT(lines.size(), 3u);
    for (const auto& line : lines) {
      if (line.Y + form->Canvas().TextHeight("M") > box.Bottom) break;
      EXPECT_TRUE(form->ShapeRegion->Contains(line.X, line.Y)) << line.X << "," << line.Y;
    }
  }
  // The bell's top right corner.
  TBitmap drawn;
  drawn.SetSize(form->ClientWidth(), form->ClientHeight());
  drawn.Canvas().Brush().SetColor(clWhite);
  drawn.Canvas().FillRect(Rect(0, 0, drawn.Width(), drawn.Height()));
  form->PaperFile = "layout-inset.bmp";
  form->RebuildShape();
  form->DrawAlarmIcon(drawn.Canvas());
  const QImage image = drawn.Image();
  int first_x = image.width(), first_y = image.height();
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixel(x, y) != qRgb(255, 255, 255)) {
        first_x = std::min(first_x, x);
        first_y = std::min(first_y, y);
      }
  EXPECT_TRUE(form->ShapeRegion->Contains(first_x, first_y)) << first_x << "," << first_y;
}

// A margin far beyond the note moves the text no farther than one a tenth of
// it: the layout neither overflows nor walks the whole distance down.
TEST_F(ScrapLayoutTest, MarginsFarBeyondTheNoteLayOutAsTheirTenth) {
  std::unique_ptr<TScrapForm> form(MakeForm<TScrapForm>(nullptr));
  form->PaperFile = "layout-yellow.bmp";
  form->RebuildShape();
  std::mt19937 random(7);
  form->Message = RandomText(random) + RandomText(random);
  const auto lines_with = [&](int32_t TScrapForm::*margin, int32_t value) {
    form->TopMargin = form->LeftMargin = form->RightMargin = 0;
    form.get()->*margin = value;
    return form->MessageLines();
  };
  for (int32_t TScrapForm::*margin :
       {&TScrapForm::TopMargin, &TScrapForm::LeftMargin, &TScrapForm::RightMargin}) {
    for (const int32_t far : {2147483647, -2147483647 - 1, 1000000000, -100000000}) {
      SCOPED_TRACE(testing::Message() << "margin " << far);
      const Lines lines = lines_with(margin, far);
      EXPECT_EQ(lines, lines_with(margin, far / 10));
      if (margin == &TScrapForm::TopMargin && far > 0) {
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_GT(lines[0].Y, form->ClientHeight());
      }
    }
  }
}

}  // namespace
}  // namespace jw
