// TsfCustomImageForm and TsfImageForm: a picture control that fills its form,
// cuts the form's outline from the picture (pixels of the transparent colour
// are left out) and lets the user drag the form by any point of the picture.
// It stores the outline as the binary property "RegionData":
//
//   offset 0  int32 N, little-endian: length of the region data, 0 for none
//   offset 4  N bytes: the region data block (see platform/gui/region.h)
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "components/capture_message.h"
#include "components/drag_frame.h"
#include "components/image.h"
#include "platform/gui/forms.h"
#include "platform/gui/region.h"

namespace jw {

class TStream;

enum TsfImageFormOption : uint8_t { ifUseWindowsDrag = 1 };
using TsfImageFormOptions = uint8_t;

class TsfCustomImageForm : public TsfCustomImage {
 public:
  explicit TsfCustomImageForm(TComponent* owner);
  ~TsfCustomImageForm() override;

  // Pixels the pointer must move beyond before a drag moves anything.
  int DragTolerance() const { return drag_tolerance_; }
  void SetDragTolerance(int pixels) { drag_tolerance_ = pixels; }
  // clNone takes the colour of the picture's bottom-left pixel.
  TColor TransparentColor() const { return transparent_color_; }
  void SetTransparentColor(TColor color) { transparent_color_ = color; }
  // The region last built; the form shows a copy of it as its shape.
  const std::optional<TRegion>& Region() const { return region_; }
  // When set, only presses inside this control start a drag.
  TControl* CaptionBarControl() const { return caption_bar_control_; }
  void SetCaptionBarControl(TControl* control);
  // Stores the set; the next drag reads it.
  TsfImageFormOptions Options() const { return options_; }
  void SetOptions(TsfImageFormOptions options) { options_ = options; }
  TsfCaptureMessageClass* Capture() const { return capture_; }
  // Set once a drag has moved the window or shown a frame.
  bool Dragging() const { return dragging_; }
  // The frame of the last frame drag, in screen coordinates.
  TRect LastFrame() const { return last_frame_; }

  // Copies the picture and gives the form the picture's size as client size.
  void SetPicture(TPicture* value) override;
  void SetParent(TWinControl* parent) override;
  void SetBounds(int left, int top, int width, int height) override;
  void DefineProperties(TFiler& filer) override;
  void Notification(TComponent* component, TOperation operation) override;

  // Cuts the form's shape from the picture.
  virtual void RebuildRegion();
  // Whole-window moves: asked for in Options and allowed by the screen's
  // drag setting. Otherwise a frame follows the pointer.
  virtual bool FullWindowDrag();

 protected:
  // Draws the frame, or takes it away when drawn there already.
  virtual void DrawDragFrame(const TRect& rect);
  virtual void MouseDownDrag(TMouseButton button, TShiftState shift, int x, int y);
  // Runs after the form has handled each of its messages.
  virtual void HookedMessage(TMessage& message);
  // Starts a drag grabbed at (x, y) in the form's client area; the moves and
  // the release that follow arrive as the form's messages.
  virtual void DragLoop(int x, int y);
  virtual void DragMove(int x, int y, TShiftState shift, TRect& start_bounds, TRect& new_rect,
                        bool& first_move, TPoint cursor_pos);
  virtual void DragEnd(int x, int y, const TRect& new_rect, const TRect& start_bounds,
                       TPoint cursor_pos);
  // Where the pointer is on the screen.
  virtual TPoint CursorPos() const;

 private:
  struct DragState {
    TPoint grab;
    TRect start_bounds;
    TRect new_rect;
    bool first_move = true;
    TShiftState shift = 0;
  };

  TCustomForm* ParentForm() const;
  TColor EffectiveTransparentColor();
  void RemoveRegion();
  void ReadRegionData(TStream& stream);
  void WriteRegionData(TStream& stream);
  // While a drag runs: moves drive it instead of reaching the controls, and
  // the release ends it before the controls see it.
  void BeforeHookedMessage(TMessage& message, bool& call_default);
  void CancelDrag();

  int drag_tolerance_ = 5;
  TColor transparent_color_ = clNone;
  std::optional<TRegion> region_;
  TControl* caption_bar_control_ = nullptr;
  TsfImageFormOptions options_ = 0;
  TsfCaptureMessageClass* capture_ = nullptr;
  TRect last_frame_;
  bool dragging_ = false;
  std::optional<DragState> drag_;
  TDragFrame frame_;
};

class TsfImageForm : public TsfCustomImageForm {
 public:
  using TsfCustomImageForm::TsfCustomImageForm;
};

}  // namespace jw
