#include "components/image_form.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/gui/application.h"
#include "platform/rtl/filer.h"
#include "platform/rtl/streams.h"
#include "tests/components/bmp_bytes.h"

namespace jw {
namespace {

using test_support::BmpBytes;

constexpr TColor R = clRed;
constexpr TColor W = clWhite;

// The pointer is wherever the test puts it.
class TestImageForm : public TsfImageForm {
 public:
  using TsfImageForm::TsfImageForm;
  TPoint cursor;
  int rebuilds = 0;
  void RebuildRegion() override {
    ++rebuilds;
    TsfImageForm::RebuildRegion();
  }

 protected:
  TPoint CursorPos() const override { return cursor; }
};

class ImageFormHost : public TForm {
 public:
  explicit ImageFormHost(TComponent* owner) : TForm(owner) {
    image = new TestImageForm(this);
    image->SetName("sfImageForm1");
    image->SetParent(this);
  }
  TestImageForm* image;
};

// A two-band shape: row 0 has pixels 1 and 2, row 1 all four.
const std::vector<std::vector<TColor>> kTwoBands = {{R, W, W, R}, {W, W, W, W}};

// The region data of kTwoBands: header (size 32, type 1, count 2, 32 bytes
// of rectangles, bounds 0,0,4,2), then (1,0,3,1) and (0,1,4,2).
const uint8_t kTwoBandsData[] = {
    32, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 32, 0, 0, 0,  //
    0,  0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 2,  0, 0, 0,  //
    1,  0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 1,  0, 0, 0,  //
    0,  0, 0, 0, 1, 0, 0, 0, 4, 0, 0, 0, 2,  0, 0, 0,
};

std::string Le32(uint32_t v) {
  return {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
}

// A property stream holding only "RegionData" with the given value.
std::string RegionDataStream(const std::string& value) {
  return "JWP1" + std::string(1, char(10)) + "RegionData" + Le32(uint32_t(value.size())) + value +
         std::string(1, '\0');
}

class ImageFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.reset(MakeForm<ImageFormHost>(nullptr));
    image_ = host_->image;
    host_->SetBounds(100, 100, 50, 40);
  }
  void TearDown() override { Screen->SetDragFullWindows(true); }

  void SetPicture(const std::vector<std::vector<TColor>>& rows) {
    image_->Picture().Bitmap().LoadFromBytes(BmpBytes(rows, 24));
  }
  void Send(uint32_t msg, uintptr_t keys, int x, int y) {
    TMessage message{msg, keys, MakeLParam(x, y), 0};
    host_->Perform(message);
  }
  std::string WrittenProperties() {
    TMemoryStream stream;
    WriteBinaryProperties(*image_, stream);
    return std::string(static_cast<const char*>(stream.Memory()), size_t(stream.Size()));
  }
  void ReadProperties(const std::string& bytes) {
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    stream.Seek(0, soFromBeginning);
    ReadBinaryProperties(*image_, stream);
  }

  std::unique_ptr<ImageFormHost> host_;
  TestImageForm* image_ = nullptr;
};

TEST_F(ImageFormTest, PlacingItMakesTheFormBorderlessAndFillsIt) {
  EXPECT_EQ(host_->BorderStyle(), TFormBorderStyle::bsNone);
  EXPECT_EQ(image_->Align(), TAlign::alClient);
  EXPECT_NE(image_->Capture(), nullptr);
  EXPECT_EQ(image_->Capture()->WindowHandle(), host_.get());
  EXPECT_EQ(image_->DragTolerance(), 5);
  EXPECT_EQ(image_->TransparentColor(), clNone);
}

TEST_F(ImageFormTest, RebuildRegionShapesTheFormFromThePicture) {
  image_->SetTransparentColor(clRed);
  SetPicture(kTwoBands);
  image_->RebuildRegion();
  ASSERT_TRUE(image_->Region());
  EXPECT_EQ(image_->Region()->Rects(), (std::vector<TRect>{Rect(1, 0, 3, 1), Rect(0, 1, 4, 2)}));
  ASSERT_TRUE(host_->WindowRegion());
  EXPECT_EQ(*host_->WindowRegion(), *image_->Region());
}

TEST_F(ImageFormTest, NoneTakesTheBottomLeftPixelAsTransparent) {
  SetPicture({{W, R}, {W, W}, {R, W}});
  image_->RebuildRegion();
  ASSERT_TRUE(image_->Region());
  EXPECT_EQ(image_->Region()->Rects(),
            (std::vector<TRect>{Rect(0, 0, 1, 1), Rect(0, 1, 2, 2), Rect(1, 2, 2, 3)}));
}

TEST_F(ImageFormTest, AnAllTransparentPictureLeavesTheFormUnshaped) {
  image_->SetTransparentColor(clRed);
  SetPicture(kTwoBands);
  image_->RebuildRegion();
  SetPicture({{R, R}, {R, R}});
  image_->RebuildRegion();
  EXPECT_FALSE(image_->Region());
  EXPECT_FALSE(host_->WindowRegion());
}

TEST_F(ImageFormTest, SettingOptionsNeverRebuildsTheRegion) {
  image_->SetTransparentColor(clRed);
  SetPicture(kTwoBands);
  image_->RebuildRegion();
  const int rebuilds = image_->rebuilds;
  image_->SetOptions(ifUseWindowsDrag);
  image_->SetOptions(0);
  EXPECT_EQ(image_->rebuilds, rebuilds);
}

TEST_F(ImageFormTest, AssigningAPictureSizesTheFormsClientArea) {
  TPicture picture;
  picture.Bitmap().LoadFromBytes(BmpBytes(kTwoBands, 24));
  image_->SetPicture(&picture);
  EXPECT_EQ(host_->ClientWidth(), 4);
  EXPECT_EQ(host_->ClientHeight(), 2);
}

TEST_F(ImageFormTest, RegionDataIsTheSizeThenTheRegionBlock) {
  image_->SetTransparentColor(clRed);
  SetPicture(kTwoBands);
  const std::string block(reinterpret_cast<const char*>(kTwoBandsData), sizeof kTwoBandsData);
  EXPECT_EQ(WrittenProperties(), RegionDataStream(Le32(sizeof kTwoBandsData) + block));
}

TEST_F(ImageFormTest, RegionDataWithoutARegionIsAZeroSize) {
  EXPECT_EQ(WrittenProperties(), RegionDataStream(Le32(0)));
}

TEST_F(ImageFormTest, StoredRegionDataComesBackAsTheFormsShape) {
  image_->SetTransparentColor(clRed);
  SetPicture(kTwoBands);
  const std::string stored = WrittenProperties();
  SetPicture({{W, W}, {W, W}});  // a different picture: the stored shape wins
  ReadProperties(stored);
  ASSERT_TRUE(image_->Region());
  EXPECT_EQ(image_->Region()->Rects(), (std::vector<TRect>{Rect(1, 0, 3, 1), Rect(0, 1, 4, 2)}));
  EXPECT_EQ(*host_->WindowRegion(), *image_->Region());
}

TEST_F(ImageFormTest, MalformedRegionDataIsRebuiltFromThePicture) {
  image_->SetTransparentColor(clRed);
  SetPicture({{W, W}, {R, W}});
  const std::vector<TRect> from_picture = {Rect(0, 0, 2, 1), Rect(1, 1, 2, 2)};
  std::string good(reinterpret_cast<const char*>(kTwoBandsData), sizeof kTwoBandsData);
  std::string bad_header = good;
  bad_header[0] = 31;
  std::string bad_type = good;
  bad_type[4] = 2;
  std::string bad_count = good;
  bad_count[8] = 3;
  std::string bad_rect = good;
  bad_rect[32] = 10;  // the first rectangle's left 10 lies beyond its right 3
  const std::string cases[] = {
      Le32(0),
      Le32(uint32_t(good.size())) + bad_header,
      Le32(uint32_t(good.size())) + bad_type,
      Le32(uint32_t(good.size())) + bad_count,
      Le32(uint32_t(good.size())) + bad_rect,
      Le32(uint32_t(good.size()) + 16) + good,  // size beyond the bytes present
      Le32(uint32_t(good.size()) - 16) + good,  // bytes beyond the size
      Le32(0xFFFFFFFF) + good,                  // negative size
      std::string("\x01\x00", 2),               // too short for a size
  };
  for (const std::string& value : cases) {
    image_->rebuilds = 0;
    ReadProperties(RegionDataStream(value));
    ASSERT_TRUE(image_->Region());
    EXPECT_EQ(image_->Region()->Rects(), from_picture);
    EXPECT_EQ(image_->rebuilds, 1);
  }
}

TEST_F(ImageFormTest, TheFormsDestructionRemovesTheRegion) {
  image_->SetTransparentColor(clRed);
  SetPicture(kTwoBands);
  image_->RebuildRegion();
  host_->Handle();
  host_->DestroyHandle();
  EXPECT_FALSE(image_->Region());
  EXPECT_FALSE(host_->WindowRegion());
}

// Drags: the form lies at (100, 100); the press is at (20, 30) in its client
// area, which is (120, 130) on the screen.
class ImageFormDragTest : public ImageFormTest {
 protected:
  void Press() {
    image_->cursor = {120, 130};
    Send(WM_LBUTTONDOWN, MK_LBUTTON, 20, 30);
  }
  void MoveTo(int screen_x, int screen_y) {
    image_->cursor = {screen_x, screen_y};
    const TPoint local = host_->ScreenToClient(image_->cursor);
    Send(WM_MOUSEMOVE, MK_LBUTTON, local.X, local.Y);
  }
  void Release() {
    const TPoint local = host_->ScreenToClient(image_->cursor);
    Send(WM_LBUTTONUP, 0, local.X, local.Y);
  }
  TPoint FormAt() const { return {host_->Left(), host_->Top()}; }
};

TEST_F(ImageFormDragTest, FullWindowDragMovesOnlyBeyondTheTolerance) {
  image_->SetOptions(ifUseWindowsDrag);
  Press();
  MoveTo(125, 125);
  EXPECT_EQ(FormAt(), (TPoint{100, 100})) << "5 pixels stay within the tolerance";
  EXPECT_FALSE(image_->Dragging());
  MoveTo(126, 130);
  EXPECT_EQ(FormAt(), (TPoint{106, 100})) << "6 pixels move the window";
  EXPECT_TRUE(image_->Dragging());
  MoveTo(130, 133);
  EXPECT_EQ(FormAt(), (TPoint{106, 100})) << "measured from where the grab point now is";
  MoveTo(140, 133);
  EXPECT_EQ(FormAt(), (TPoint{120, 103}));
  Release();
  EXPECT_FALSE(image_->Dragging());
  EXPECT_EQ(FormAt(), (TPoint{120, 103}));
  MoveTo(200, 200);
  EXPECT_EQ(FormAt(), (TPoint{120, 103})) << "the drag ended with the release";
}

TEST_F(ImageFormDragTest, FrameDragMovesTheWindowOnlyOnRelease) {
  image_->SetOptions(0);
  Press();
  MoveTo(130, 150);
  EXPECT_TRUE(image_->Dragging());
  EXPECT_EQ(image_->LastFrame(), Bounds(110, 120, 50, 40));
  MoveTo(160, 170);
  EXPECT_EQ(image_->LastFrame(), Bounds(140, 140, 50, 40));
  EXPECT_EQ(FormAt(), (TPoint{100, 100}));
  Release();
  EXPECT_EQ(FormAt(), (TPoint{140, 140}));
  EXPECT_FALSE(image_->Dragging());
}

TEST_F(ImageFormDragTest, FrameModeIsUsedWhenTheScreenDragsFramesOnly) {
  image_->SetOptions(ifUseWindowsDrag);
  Screen->SetDragFullWindows(false);
  EXPECT_FALSE(image_->FullWindowDrag());
  Press();
  MoveTo(150, 150);
  EXPECT_EQ(FormAt(), (TPoint{100, 100}));
  Release();
  EXPECT_EQ(FormAt(), (TPoint{130, 120}));
}

TEST_F(ImageFormDragTest, MovesDuringADragReachTheHandlerOnceWithNoSender) {
  image_->SetOptions(ifUseWindowsDrag);
  std::vector<std::pair<TPersistent*, TPoint>> calls;
  image_->OnMouseMove = [&](TPersistent* sender, TShiftState, int x, int y) {
    calls.push_back({sender, {x, y}});
  };
  Press();
  MoveTo(150, 150);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].first, nullptr);
  EXPECT_EQ(calls[0].second, (TPoint{20, 30}));
}

TEST_F(ImageFormDragTest, NoControlUnderThePressMeansNoDrag) {
  image_->SetAlign(TAlign::alNone);
  image_->SetBounds(0, 0, 10, 10);
  image_->SetOptions(ifUseWindowsDrag);
  Press();
  MoveTo(160, 160);
  EXPECT_EQ(FormAt(), (TPoint{100, 100}));
}

TEST_F(ImageFormDragTest, ACaptionBarLimitsWhereADragStarts) {
  image_->SetOptions(ifUseWindowsDrag);
  auto* bar = new TsfCustomImage(host_.get());
  bar->SetParent(host_.get());
  bar->SetBounds(0, 0, 50, 10);
  image_->SetCaptionBarControl(bar);
  Press();  // at (20, 30): below the bar
  MoveTo(160, 160);
  EXPECT_EQ(FormAt(), (TPoint{100, 100}));
  Release();
  image_->cursor = {120, 105};
  Send(WM_LBUTTONDOWN, MK_LBUTTON, 20, 5);
  MoveTo(140, 125);
  EXPECT_EQ(FormAt(), (TPoint{120, 120}));
  Release();
  delete bar;
  EXPECT_EQ(image_->CaptionBarControl(), nullptr);
}

}  // namespace
}  // namespace jw
