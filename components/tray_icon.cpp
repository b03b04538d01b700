#include "components/tray_icon.h"

#include <QImage>

#include "components/kit_application.h"
#include "platform/gui/application.h"

namespace jw {

namespace {

constexpr uint32_t kLeftDoubleClick = 0x0203;
constexpr uint32_t kRightDoubleClick = 0x0206;
constexpr uint32_t kMiddleDown = 0x0207;
constexpr uint32_t kMiddleUp = 0x0208;
constexpr uint32_t kMiddleDoubleClick = 0x0209;

constexpr int kFrameSize = 16;
// The largest interval the pool can take that is a multiple of its tick.
constexpr uint32_t kLargestPoolInterval = 65500;

// The icon of an animation frame: white pixels show through, as a
// monochrome copy of the frame used as its mask would make them.
QImage FrameIcon(const TBitmap& frame) {
  QImage icon = frame.Image().convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < icon.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(icon.scanLine(y));
    for (int x = 0; x < icon.width(); ++x) {
      if ((row[x] & 0xFFFFFF) == 0xFFFFFF) row[x] = 0;
    }
  }
  return icon;
}

}  // namespace

TKitTrayIcon::TKitTrayIcon(TComponent* owner)
    : TKitWndProcComponent(owner),
      icon_(std::make_unique<TIcon>()),
      backend_(CreateTrayBackend()),
      change_link_(std::make_unique<TKitChangeLink>()) {
  backend_->OnMouseMessage = [this](uint32_t mouse_message) {
    TrayCallback(TMessage{kCallbackMessage, 0, static_cast<intptr_t>(mouse_message), 0});
  };
  change_link_->OnChange = [this](TPersistent*) { Change(); };
}

TKitTrayIcon::~TKitTrayIcon() {
  FreeTimer();
  if (image_list_ != nullptr) image_list_->UnregisterLink(change_link_.get());
  change_link_.reset();
  SetHookEnabled(false);
  hint_.clear();
  SendTrayMessage(NIM_DELETE);
  backend_.reset();
}

void TKitTrayIcon::SetActive(bool active) {
  if (active == active_) return;
  active_ = active;
  if (Designing()) return;
  if (active) {
    if (Application != nullptr) Application->SetShowMainForm(false);
    SendTrayMessage(NIM_ADD);
    SetHookEnabled(true);
    if (animated_) {
      CreateTimer();
      StartTimer(true);
    }
  } else {
    FreeTimer();
    SendTrayMessage(NIM_DELETE);
    SetHookEnabled(false);
  }
}

void TKitTrayIcon::SetHint(const std::string& hint) {
  if (hint == hint_ && !ComponentState().Contains(csLoading)) return;
  hint_ = hint;
  if (active_) SendTrayMessage(NIM_MODIFY);
}

void TKitTrayIcon::SetIcon(TIcon* icon) {
  if (icon == nullptr) {
    icon_ = std::make_unique<TIcon>();
  } else {
    icon_->Assign(icon);
  }
  if (!Designing() && active_) SendTrayMessage(NIM_MODIFY);
}

void TKitTrayIcon::SetPopUpMenu(TPopupMenu* menu) {
  if (popup_menu_ != nullptr && popup_menu_ != menu) popup_menu_->RemoveFreeNotification(this);
  popup_menu_ = menu;
  if (menu != nullptr) menu->FreeNotification(this);
}

void TKitTrayIcon::SetImageList(TKitCustomImageList* list) {
  if (image_list_ != nullptr) {
    image_list_->UnregisterLink(change_link_.get());
    if (image_list_ != list) image_list_->RemoveFreeNotification(this);
  }
  image_list_ = list;
  if (list != nullptr) {
    list->RegisterLink(change_link_.get());
    list->FreeNotification(this);
  }
  Change();
}

void TKitTrayIcon::SetTimerMode(TKitTimerMode mode) {
  if (mode == timer_mode_) return;
  if (ComponentState().Contains(csLoading)) {
    timer_mode_ = mode;
    return;
  }
  const bool had_timer = pool_ident_ != 0 || hi_timer_ != nullptr;
  FreeTimer();
  timer_mode_ = mode;
  if (had_timer) {
    CreateTimer();
    StartTimer(animated_);
  }
}

void TKitTrayIcon::SetAnimated(bool animated) {
  if (animated == animated_) return;
  animated_ = animated;
  if (animated) {
    CreateTimer();
    StartTimer(true);
  } else {
    FreeTimer();
  }
}

void TKitTrayIcon::Notification(TComponent* component, TOperation operation) {
  TKitWndProcComponent::Notification(component, operation);
  if (operation != opRemove) return;
  if (component == popup_menu_) popup_menu_ = nullptr;
  if (component == image_list_) {
    image_list_ = nullptr;
    Change();
  }
  if (component == hi_timer_) hi_timer_ = nullptr;
}

void TKitTrayIcon::Loaded() {
  TKitWndProcComponent::Loaded();
  // A streamed component registers its icon once loading is complete.
  if (active_) {
    active_ = false;
    SetActive(true);
  }
}

TNotifyIconData TKitTrayIcon::Record() const {
  TNotifyIconData data;
  data.uCallbackMessage = kCallbackMessage;
  data.hIcon = icon_->ToImage();
  data.szTip = CutNotifyTip(hint_);
  return data;
}

void TKitTrayIcon::SendTrayMessage(uint32_t message) {
  SendTrayMessage(message, Record());
}

void TKitTrayIcon::SendTrayMessage(uint32_t message, const TNotifyIconData& data) {
  if (Designing() || backend_ == nullptr) return;
  backend_->Notify(message, data);
}

void TKitTrayIcon::TrayCallback(const TMessage& message) {
  if (message.Msg != kCallbackMessage || backend_ == nullptr) return;
  cursor_pos_ = backend_->CursorPos();
  const int x = cursor_pos_.X;
  const int y = cursor_pos_.Y;
  // The icon identifier sits where the key flags would: no shift keys.
  const TShiftState shift = KeysToShiftState(message.WParam);
  auto down = [&](TMouseButton button, TShiftState s) {
    if (OnMouseDown) OnMouseDown(this, button, s, x, y);
  };
  auto up = [&](TMouseButton button) {
    if (OnClick) OnClick(this);
    if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
  };
  auto double_click = [&](TMouseButton button) {
    if (OnDblClick) OnDblClick(this);
    down(button, static_cast<TShiftState>(shift | ssDouble));
  };
  switch (static_cast<uint32_t>(message.LParam)) {
    case WM_MOUSEMOVE:
      if (OnMouseMove) OnMouseMove(this, shift, x, y);
      break;
    case WM_LBUTTONDOWN:
      down(TMouseButton::mbLeft, shift);
      break;
    case WM_LBUTTONUP:
      up(TMouseButton::mbLeft);
      break;
    case kLeftDoubleClick:
      double_click(TMouseButton::mbLeft);
      break;
    case WM_RBUTTONDOWN:
      down(TMouseButton::mbRight, shift);
      ShowPopup();
      break;
    case WM_RBUTTONUP:
      up(TMouseButton::mbRight);
      break;
    case kRightDoubleClick:
      double_click(TMouseButton::mbRight);
      break;
    case kMiddleDown:
      down(TMouseButton::mbMiddle, shift);
      break;
    case kMiddleUp:
      up(TMouseButton::mbMiddle);
      break;
    case kMiddleDoubleClick:
      double_click(TMouseButton::mbMiddle);
      break;
    default:
      break;
  }
}

void TKitTrayIcon::ShowPopup() {
  if (popup_menu_ == nullptr) return;
  if (OnPopUp) OnPopUp(this);
  if (Application != nullptr) Application->ProcessMessages();
  // OnPopUp or the events just handled may have removed the menu.
  if (popup_menu_ == nullptr) return;
  popup_menu_->SetPopupComponent(this);
  popup_menu_->Popup(cursor_pos_.X, cursor_pos_.Y);
}

void TKitTrayIcon::HideOwnerForm() {
  if (auto* form = dynamic_cast<TCustomForm*>(Owner())) form->SetVisible(false);
}

void TKitTrayIcon::WndProc(TMessage& message) {
  if (WindowDestroyed() || message.Msg != WM_SYSCOMMAND) {
    TKitWndProcComponent::WndProc(message);
    return;
  }
  const uintptr_t command = message.WParam & 0xFFF0;
  if (command == SC_MINIMIZE) {
    TKitWndProcComponent::WndProc(message);
    HideOwnerForm();
  } else if (command == SC_CLOSE && no_close_ && active_) {
    HideOwnerForm();
  } else {
    TKitWndProcComponent::WndProc(message);
  }
}

void TKitTrayIcon::CreateTimer() {
  // An existing timer is reused, so activating again does not add another.
  if (pool_ident_ != 0 || hi_timer_ != nullptr) return;
  if (timer_mode_ == TKitTimerMode::tmGlobalTimer) {
    const TKitTimerInterval tick = TKitApplication::kPoolInterval;
    uint32_t rounded = (static_cast<uint32_t>(interval_) + tick - 1) / tick * tick;
    if (rounded > kLargestPoolInterval) rounded = kLargestPoolInterval;
    interval_ = static_cast<TKitTimerInterval>(rounded);
    pool_ident_ = KitApplication().AddTimer(interval_, [this](TPersistent*) { AnimationTick(); });
    if (pool_ident_ == 0) throw EOutOfResources("Not enough timers available");
    KitApplication().GetTimerItem(pool_ident_)->SetEnabled(false);
  } else {
    hi_timer_ = new TKitHiTimer(this);
    hi_timer_->SetOnTimer([this](TPersistent*) { AnimationTick(); });
    hi_timer_->SetUseThread(timer_mode_ == TKitTimerMode::tmThreaded);
  }
}

void TKitTrayIcon::StartTimer(bool start) {
  frame_index_ = 0;
  if (hi_timer_ != nullptr) {
    if (start) {
      hi_timer_->SetInterval(interval_);
      hi_timer_->SetThreadPriority(thread_priority_);
    }
    hi_timer_->SetEnabled(start);
  } else if (pool_ident_ != 0) {
    TKitTimerItem* item = KitApplication().GetTimerItem(pool_ident_);
    if (item == nullptr) return;
    if (start) item->SetInterval(interval_);
    item->SetEnabled(start);
  }
}

void TKitTrayIcon::FreeTimer() {
  if (pool_ident_ != 0) {
    KitApplication().RemoveTimer(pool_ident_);
    pool_ident_ = 0;
  }
  if (hi_timer_ != nullptr) {
    TKitHiTimer* timer = hi_timer_;
    hi_timer_ = nullptr;
    delete timer;
  }
}

void TKitTrayIcon::AnimationTick() {
  if (image_list_ == nullptr || Designing()) return;
  const int count = image_list_->Count(list_index_);
  if (count <= 0) return;
  if (frame_index_ >= count) frame_index_ = 0;
  TNotifyIconData data = Record();
  TBitmap frame;
  frame.SetSize(kFrameSize, kFrameSize);
  image_list_->Draw(frame.Canvas(), 0, 0, list_index_, frame_index_);
  // The frame's icon lives in the record only; it is released with it.
  data.hIcon = FrameIcon(frame);
  SendTrayMessage(NIM_MODIFY, data);
  frame_index_ = (frame_index_ + 1) % count;
}

}  // namespace jw
