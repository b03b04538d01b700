#include "components/image_form.h"

#include <cstdlib>
#include <string>

#include <QCursor>

#include "components/region_from_bitmap.h"
#include "platform/gui/application.h"
#include "platform/rtl/filer.h"
#include "platform/rtl/streams.h"

namespace jw {

namespace {

constexpr int64_t kRegionSizeBytes = 4;

}  // namespace

TsfCustomImageForm::TsfCustomImageForm(TComponent* owner) : TsfCustomImage(owner) {
  SetAlign(TAlign::alClient);
}

TsfCustomImageForm::~TsfCustomImageForm() {
  // The capture holds a hook that calls back into this component.
  delete capture_;
}

void TsfCustomImageForm::SetCaptionBarControl(TControl* control) {
  if (control == caption_bar_control_) return;
  if (caption_bar_control_ != nullptr) RemoveFreeNotification(caption_bar_control_);
  caption_bar_control_ = control;
  if (control != nullptr) FreeNotification(control);
}

void TsfCustomImageForm::SetPicture(TPicture* value) {
  TsfCustomImage::SetPicture(value);
  TCustomForm* form = ParentForm();
  if (value != nullptr && form != nullptr && value->Width() > 0 && value->Height() > 0) {
    form->SetClientWidth(value->Width());
    form->SetClientHeight(value->Height());
  }
  Invalidate();
}

void TsfCustomImageForm::SetParent(TWinControl* parent) {
  if (parent != nullptr && dynamic_cast<TCustomForm*>(parent) == nullptr)
    parent = GetParentForm(parent);
  TsfCustomImage::SetParent(parent);
  auto* form = dynamic_cast<TCustomForm*>(parent);
  if (form == nullptr) return;
  form->SetBorderStyle(TFormBorderStyle::bsNone);
  if (capture_ == nullptr && !ComponentState().Contains(csDesigning)) {
    capture_ = new TsfCaptureMessageClass(Owner());
    FreeNotification(capture_);
    capture_->SetWindowHandle(form);
    capture_->SetEnabled(true);
    capture_->OnAfterMessage = [this](TMessage& message) { HookedMessage(message); };
    capture_->OnBeforeMessage = [this](TMessage& message, bool& call_default) {
      BeforeHookedMessage(message, call_default);
    };
  }
}

void TsfCustomImageForm::SetBounds(int left, int top, int width, int height) {
  TsfCustomImage::SetBounds(left, top, width, height);
  TCustomForm* form = ParentForm();
  if (AutoSize() && form != nullptr) {
    form->SetClientWidth(width);
    form->SetClientHeight(height);
  }
}

void TsfCustomImageForm::DefineProperties(TFiler& filer) {
  TsfCustomImage::DefineProperties(filer);
  filer.DefineBinaryProperty(
      "RegionData", [this](TStream& stream) { ReadRegionData(stream); },
      [this](TStream& stream) { WriteRegionData(stream); }, true);
}

void TsfCustomImageForm::Notification(TComponent* component, TOperation operation) {
  TsfCustomImage::Notification(component, operation);
  if (operation != opRemove) return;
  if (component == caption_bar_control_) caption_bar_control_ = nullptr;
  if (component == capture_) capture_ = nullptr;
}

TCustomForm* TsfCustomImageForm::ParentForm() const {
  return dynamic_cast<TCustomForm*>(Parent());
}

TColor TsfCustomImageForm::EffectiveTransparentColor() {
  if (transparent_color_ != clNone) return transparent_color_;
  TBitmap& bitmap = Picture().Bitmap();
  if (bitmap.Height() == 0 || bitmap.Width() == 0) return transparent_color_;
  return bitmap.Canvas().Pixels(0, bitmap.Height() - 1);
}

void TsfCustomImageForm::RebuildRegion() {
  TCustomForm* form = ParentForm();
  if (form != nullptr) SetWindowRgn(*form, nullptr, false);
  region_.reset();
  region_ = RegionFromBitmap(&Picture().Bitmap(), EffectiveTransparentColor());
  if (form != nullptr && !ComponentState().Contains(csDesigning))
    SetWindowRgn(*form, region_ ? &*region_ : nullptr, true);
}

void TsfCustomImageForm::RemoveRegion() {
  if (!region_) return;
  if (TCustomForm* form = ParentForm()) SetWindowRgn(*form, nullptr, false);
  region_.reset();
}

void TsfCustomImageForm::WriteRegionData(TStream& stream) {
  RebuildRegion();
  const std::string data = region_ ? region_->RegionData() : std::string();
  const auto size = static_cast<uint32_t>(data.size());
  const uint8_t size_bytes[kRegionSizeBytes] = {uint8_t(size), uint8_t(size >> 8),
                                                uint8_t(size >> 16), uint8_t(size >> 24)};
  stream.WriteBuffer(size_bytes, kRegionSizeBytes);
  if (!data.empty()) stream.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
}

// A block that is not exactly a well-formed region of the stated size counts
// as no stored region: the outline is then cut from the picture again.
void TsfCustomImageForm::ReadRegionData(TStream& stream) {
  const int64_t available = stream.Size() - stream.Position();
  if (available >= kRegionSizeBytes) {
    uint8_t size_bytes[kRegionSizeBytes];
    stream.ReadBuffer(size_bytes, kRegionSizeBytes);
    const auto size =
        static_cast<int32_t>(uint32_t(size_bytes[0]) | uint32_t(size_bytes[1]) << 8 |
                             uint32_t(size_bytes[2]) << 16 | uint32_t(size_bytes[3]) << 24);
    if (size > 0 && size == available - kRegionSizeBytes) {
      std::string data(static_cast<size_t>(size), '\0');
      stream.ReadBuffer(data.data(), size);
      if (std::optional<TRegion> region = TRegion::FromRegionData(data)) {
        region_ = std::move(region);
        TCustomForm* form = ParentForm();
        if (form != nullptr && !ComponentState().Contains(csDesigning))
          SetWindowRgn(*form, &*region_, true);
        return;
      }
    }
  }
  region_.reset();
  RebuildRegion();
}

void TsfCustomImageForm::HookedMessage(TMessage& message) {
  if (ComponentState().Contains(csDesigning)) return;
  switch (message.Msg) {
    case WM_DESTROY:
      CancelDrag();
      RemoveRegion();
      break;
    case WM_LBUTTONDOWN: {
      TWinControl* parent = Parent();
      if (parent == nullptr) break;
      const TPoint point{LParamX(message), LParamY(message)};
      TControl* control = parent->ControlAtPos(point, true);
      // Nothing under the point (outside every control): nothing to drag by.
      if (control == nullptr) break;
      const bool busy = control->OnClick != nullptr || control->OnMouseDown != nullptr;
      const bool start = caption_bar_control_ != nullptr ? !busy || control == caption_bar_control_
                                                         : control == this;
      if (start)
        MouseDownDrag(TMouseButton::mbLeft, KeysToShiftState(message.WParam), point.X, point.Y);
      break;
    }
    default:
      break;
  }
}

void TsfCustomImageForm::MouseDownDrag(TMouseButton, TShiftState shift, int x, int y) {
  if (caption_bar_control_ != nullptr && !caption_bar_control_->BoundsRect().Contains(x, y)) return;
  if (shift & ssLeft) {
    DragLoop(x, y);
  } else if (TWinControl* parent = Parent()) {
    TMessage message{WM_SYSCOMMAND, SC_KEYMENU, 0, 0};
    parent->Perform(message);
  }
}

void TsfCustomImageForm::DragLoop(int x, int y) {
  TCustomForm* form = ParentForm();
  if (form == nullptr) return;
  DragState drag;
  drag.grab = {x, y};
  drag.start_bounds = form->BoundsRect();
  drag_ = drag;
}

void TsfCustomImageForm::BeforeHookedMessage(TMessage& message, bool& call_default) {
  if (!drag_) return;
  switch (message.Msg) {
    case WM_MOUSEMOVE:
      call_default = false;
      if ((message.WParam & (MK_LBUTTON | MK_RBUTTON)) == 0) {
        // The release went elsewhere: the drag is over without a move.
        CancelDrag();
        break;
      }
      drag_->shift =
          (message.WParam & MK_RBUTTON) != 0 ? TShiftState(ssRight) : TShiftState(ssLeft);
      DragMove(drag_->grab.X, drag_->grab.Y, drag_->shift, drag_->start_bounds, drag_->new_rect,
               drag_->first_move, CursorPos());
      break;
    case WM_LBUTTONUP: {
      const DragState drag = *drag_;
      drag_.reset();
      DragEnd(drag.grab.X, drag.grab.Y, drag.new_rect, drag.start_bounds, CursorPos());
      break;
    }
    default:
      break;
  }
}

void TsfCustomImageForm::CancelDrag() {
  drag_.reset();
  if (dragging_ && frame_.Showing()) DrawDragFrame(last_frame_);
  dragging_ = false;
}

void TsfCustomImageForm::DragMove(int x, int y, TShiftState shift, TRect&, TRect& new_rect,
                                  bool& first_move, TPoint cursor_pos) {
  if (OnMouseMove) OnMouseMove(nullptr, shift, x, y);
  const TPoint grab = ClientToScreen({x, y});
  if (std::abs(cursor_pos.X - grab.X) <= drag_tolerance_ &&
      std::abs(cursor_pos.Y - grab.Y) <= drag_tolerance_)
    return;
  TCustomForm* form = ParentForm();
  if (form == nullptr) return;
  if (FullWindowDrag()) {
    dragging_ = true;
    const TPoint cursor = CursorPos();
    form->SetBounds(cursor.X - x, cursor.Y - y, form->Width(), form->Height());
    return;
  }
  if (first_move)
    dragging_ = true;
  else
    DrawDragFrame(last_frame_);
  new_rect = Bounds(cursor_pos.X - x, cursor_pos.Y - y, form->Width(), form->Height());
  DrawDragFrame(new_rect);
  last_frame_ = new_rect;
  first_move = false;
}

void TsfCustomImageForm::DragEnd(int, int, const TRect& new_rect, const TRect&, TPoint) {
  if (!dragging_) return;
  dragging_ = false;
  if (FullWindowDrag()) return;
  DrawDragFrame(last_frame_);
  if (TCustomForm* form = ParentForm())
    form->SetBounds(new_rect.Left, new_rect.Top, form->Width(), form->Height());
}

void TsfCustomImageForm::DrawDragFrame(const TRect& rect) {
  frame_.Toggle(rect);
}

bool TsfCustomImageForm::FullWindowDrag() {
  return (options_ & ifUseWindowsDrag) != 0 && Screen != nullptr && Screen->DragFullWindows();
}

TPoint TsfCustomImageForm::CursorPos() const {
  const QPoint pos = QCursor::pos();
  return {pos.x(), pos.y()};
}

}  // namespace jw
