#include "app/scrap_form.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QWidget>

#include "app/alarm_form.h"
#include "app/alarm_scheduler.h"
#include "app/data_module.h"
#include "app/editor_form.h"
#include "app/folders.h"
#include "app/font_desc.h"
#include "app/margins_form.h"
#include "app/note_store.h"
#include "app/paper_bitmap.h"
#include "app/scrap_mail.h"
#include "app/settings.h"
#include "app/str_lib.h"
#include "app/utf8_text.h"
#include "platform/gui/application.h"
#include "platform/rtl/file_names.h"
#include "platform/rtl/numbers.h"

namespace jw {

bool CreateOnTop = false;

namespace {

constexpr int kAngleLimit = 45;
constexpr double kEnlargeFactor = 1.25;
constexpr double kShrinkFactor = 0.8;
// How far a scaled margin moves the text at most: beyond this every line
// lies as far outside the note, so a larger margin changes nothing shown,
// and the walk down the note stays short.
constexpr int kMarginReach = 4 * kMaxScaledPaperSide;

double Radians(double degrees) {
  return degrees * 2 * std::numbers::pi / 360;
}

bool IsAsciiLetterOrDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The first index in [low, high) from which on pred holds, or high when it
// never does; pred must fail before that index and hold after it. A gallop
// from the hint and a binary search take a few calls where a walk from low
// would take one for every index.
template <class Pred>
size_t FirstWhere(size_t low, size_t high, size_t hint, Pred pred) {
  if (low >= high) return high;
  hint = std::clamp(hint, low, high - 1);
  if (pred(hint)) {
    high = hint;
    for (size_t step = 1; high - low >= step; step *= 2) {
      if (!pred(high - step)) {
        low = high - step + 1;
        break;
      }
      high -= step;
    }
  } else {
    low = hint + 1;
    for (size_t step = 1; high - low >= step; step *= 2) {
      if (pred(low + step - 1)) {
        high = low + step - 1;
        break;
      }
      low += step;
    }
  }
  while (low < high) {
    const size_t middle = low + (high - low) / 2;
    if (pred(middle))
      high = middle;
    else
      low = middle + 1;
  }
  return low;
}

// A small bell with a clapper: the mark of a note that carries an alarm.
QImage DrawAlarmIconImage() {
  QImage image(32, 32, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(90, 60, 0), 1.5));
  painter.setBrush(QColor(240, 190, 30));
  QPainterPath bell;
  bell.moveTo(6, 24);
  bell.cubicTo(10, 20, 8, 6, 16, 5);
  bell.cubicTo(24, 6, 22, 20, 26, 24);
  bell.closeSubpath();
  painter.drawPath(bell);
  painter.drawEllipse(QPointF(16, 26), 3, 3);
  painter.drawEllipse(QPointF(16, 4), 2, 2);
  return image;
}

// Drawn once; every note shares the pixels.
const QImage& AlarmIconImage() {
  static const QImage image = DrawAlarmIconImage();
  return image;
}

}  // namespace

// The note's pop-up menu, which holds the note in use while it is open.
class TScrapForm::TNoteMenu : public TPopupMenu {
 public:
  explicit TNoteMenu(TScrapForm& note) : TPopupMenu(&note), note_(note) {}

  void Popup(int x, int y) override {
    const TUse use(note_);
    TPopupMenu::Popup(x, y);
  }

 private:
  TScrapForm& note_;
};

TScrapForm::TUse::TUse(TScrapForm& note) : note_(note) {
  ++note_.in_use_;
}

TScrapForm::TUse::~TUse() {
  if (--note_.in_use_ > 0 || !note_.stay_on_top_pending_) return;
  note_.stay_on_top_pending_ = false;
  // After the event that ended the use, so that what it still does (a
  // command chosen from the menu among it) reaches this window; a window
  // gone by then is let be.
  QTimer::singleShot(0, note_.Handle(),
                     [&note = note_] { CallGuarded([&note] { note.StayOnTopWhenFree(); }); });
}

void TScrapForm::StayOnTopWhenFree() {
  if (in_use_ > 0) {
    stay_on_top_pending_ = true;
  } else if (!stayontop1->Checked()) {
    stayontop1->Click();
  }
}

TScrapForm::TScrapForm(TComponent* owner) : TForm(owner), create_on_top_(CreateOnTop) {
  SetCaption("Scrap");
  SetBorderStyle(TFormBorderStyle::bsNone);
  SetClientWidth(237);
  SetClientHeight(249);

  PopupMenu1 = new TNoteMenu(*this);
  PopupMenu1->SetName("PopupMenu1");
  Font1 = AddMenuItem("Font1", "Font...");
  Font1->SetShortCut(ShortCut('F', ssCtrl));
  FontAngle1 = AddMenuItem("FontAngle1", "Font Angle...");
  AddMenuItem("N1", "-");
  SelectPaper1 = AddMenuItem("SelectPaper1", "Change Paper...");
  Enlarge = AddMenuItem("Enlarge", "Enlarge");
  Shrink1 = AddMenuItem("Shrink1", "Shrink");
  stayontop1 = AddMenuItem("stayontop1", "Stay On Top");
  Setmargins1 = AddMenuItem("Setmargins1", "Set margins...");
  AddMenuItem("N2", "-");
  Editor1 = AddMenuItem("Editor1", "Text editor...");
  Clear1 = AddMenuItem("Clear1", "Clear text");
  Clear1->SetShortCut(ShortCut('C', ssCtrl));
  DeleteScrap = AddMenuItem("DeleteScrap", "Delete scrap...");
  AddMenuItem("N3", "-");
  SetAlarm1 = AddMenuItem("SetAlarm1", "Set Alarm...");
  AddMenuItem("N4", "-");
  Emailscrap1 = AddMenuItem("Emailscrap1", "Email scrap...");
  // Every command holds the note in use while it runs: a dialog it opens
  // runs events, an alarm among them.
  const auto command = [this](void (TScrapForm::*handler)(TPersistent*)) {
    return [this, handler](TPersistent* sender) {
      const TUse use(*this);
      (this->*handler)(sender);
    };
  };
  Font1->OnClick = command(&TScrapForm::Font1Click);
  FontAngle1->OnClick = command(&TScrapForm::FontAngle1Click);
  Emailscrap1->OnClick = command(&TScrapForm::Emailscrap1Click);
  SelectPaper1->OnClick = command(&TScrapForm::SelectPaper1Click);
  Enlarge->OnClick = command(&TScrapForm::EnlargeClick);
  Shrink1->OnClick = command(&TScrapForm::Shrink1Click);
  Clear1->OnClick = command(&TScrapForm::Clear1Click);
  Setmargins1->OnClick = command(&TScrapForm::Setmargins1Click);
  Editor1->OnClick = command(&TScrapForm::Editor1Click);
  SetAlarm1->OnClick = command(&TScrapForm::SetAlarm1Click);
  stayontop1->OnClick = command(&TScrapForm::stayontop1Click);
  DeleteScrap->OnClick = command(&TScrapForm::DeleteScrapClick);

  sfImageForm1 = new TsfImageForm(this);
  sfImageForm1->SetName("sfImageForm1");
  sfImageForm1->SetParent(this);
  sfImageForm1->SetPopupMenu(PopupMenu1);
  sfImageForm1->SetShowHint(true);
  sfImageForm1->SetDragTolerance(5);
  sfImageForm1->SetTransparentColor(clRed);
  sfImageForm1->SetOptions(ifUseWindowsDrag);

  FontDialog1 = new TFontDialog(this);
  FontDialog1->SetName("FontDialog1");
  OpenPictureDialog1 = new TOpenPictureDialog(this);
  OpenPictureDialog1->SetName("OpenPictureDialog1");
  AlarmImage.Icon().SetImage(AlarmIconImage());

  OnCreate = [this](TPersistent* sender) { FormCreate(sender); };
  OnKeyPress = [this](TPersistent* sender, char32_t& key) { FormKeyPress(sender, key); };
}

TScrapForm::~TScrapForm() {
  BeforeDestruction();
}

TMenuItem* TScrapForm::AddMenuItem(const std::string& name, const std::string& caption) {
  auto* item = new TMenuItem(this);
  item->SetName(name);
  item->SetCaption(caption);
  PopupMenu1->Items().Add(item);
  return item;
}

void TScrapForm::CreateParams(TCreateParams& params) {
  TForm::CreateParams(params);
  if (create_on_top_) {
    params.ExStyle |= WS_EX_TOPMOST;
    params.WndParent = nullptr;  // owned by the desktop
  }
}

void TScrapForm::BoundsChanged() {
  TForm::BoundsChanged();
  ScrapChanged();
}

void TScrapForm::FormCreate(TPersistent*) {
  Message.clear();
  sfImageForm1->OnAfterPaint = [this](TPersistent* sender) { MessagePaint(sender); };
  PaperFile.clear();
  ImageScale = 1.0;
  AlarmDateTime = 0;
  AlarmLastSounded = 0;
  FontDesc = ScrapSettings.DefaultFontDesc;
  DescToFont(Canvas().Font(), FontDesc);
  FontAngle = ScrapSettings.DefaultFontAngle;
  SetAngledFont(Canvas(), FontAngle);
  sfImageForm1->SetOptions(ScrapSettings.DragFrameOnly ? 0 : ifUseWindowsDrag);
}

void TScrapForm::MessagePaint(TPersistent*) {
  PaintMessage();
}

void TScrapForm::RebuildShape() {
  ApplyPaper(PaperFile, ImageScale);
}

void TScrapForm::ApplyPaper(const std::string& paper_file, double scale) {
  TBitmap paper;
  LoadPaperBitmap(paper, PaperPath(paper_file));
  const int width = paper.Width();
  const int height = paper.Height();
  // A stored scale that would make the paper vanish or grow beyond reason
  // is brought back within bounds.
  if (!std::isfinite(scale) || scale <= 0) scale = 1.0;
  const int shorter = std::min(width, height);
  const int longer = std::max(width, height);
  while (Trunc(shorter * scale) < 1) scale = std::max(scale * 2, 1.0 / shorter);
  while (Trunc(longer * scale) > kMaxScaledPaperSide)
    scale = std::min(scale / 2, double(kMaxScaledPaperSide) / longer);
  const auto scaled_width = static_cast<int>(Trunc(width * scale));
  const auto scaled_height = static_cast<int>(Trunc(height * scale));
  TBitmap scaled;
  // A 24-bit paper at its own size is its own scaled copy: the note shares
  // the pixels with every other note on that paper.
  if (scaled_width == width && scaled_height == height &&
      paper.PixelFormat() == TPixelFormat::pf24bit) {
    scaled.Assign(&paper);
  } else {
    scaled.SetSize(scaled_width, scaled_height);
    scaled.Canvas().StretchDraw(Rect(0, 0, scaled_width, scaled_height), paper);
  }

  PaperFile = paper_file;
  ImageScale = scale;
  paper_width_ = width;
  paper_height_ = height;
  sfImageForm1->Picture().Bitmap().Assign(&scaled);
  sfImageForm1->RebuildRegion();
  // The picture's transparent colour is pure red too: the window's outline is
  // the one text is placed in.
  ShapeRegion = sfImageForm1->Region();
  ++paper_generation_;
  outline_box_ = ShapeRegion ? ShapeRegion->BoundingBox() : TRect();
  // An outline that starts inside its bitmap may reach past its size plus
  // 10, which would cut the window's shape.
  SetClientWidth(std::max(AreaWidth(), outline_box_.Right));
  SetClientHeight(std::max(AreaHeight(), outline_box_.Bottom));
  const TPaperMargins margins = ReadPaperMargins(PaperFile);
  TopMargin = margins.Top;
  LeftMargin = margins.Left;
  RightMargin = margins.Right;
}

bool TScrapForm::ScaleFits(double scale) const {
  if (paper_width_ == 0) return true;
  for (int side : {paper_width_, paper_height_}) {
    const int64_t scaled = Trunc(side * scale);
    if (scaled < 1 || scaled > kMaxScaledPaperSide) return false;
  }
  return true;
}

void TScrapForm::Rescale(double scale) {
  if (!ScaleFits(scale)) return;
  Hide();
  struct ShowAgain {
    TScrapForm& form;
    ~ShowAgain() { form.Show(); }
  } show_again{*this};
  ApplyPaper(PaperFile, scale);
  ScrapChanged();
}

bool TScrapForm::TextEndInShape(int x, int y, const std::string& s) {
  return WidthEndInShape(x, y, s.empty() ? 0 : Canvas().TextWidth(s));
}

bool TScrapForm::WidthEndInShape(int x, int y, int width) const {
  if (!ShapeRegion) return false;
  const double theta = Radians(FontAngle);
  const auto dx = static_cast<int>(Trunc(std::cos(theta) * width));
  const auto dy = static_cast<int>(Trunc(std::sin(theta) * width));
  const TRect box = ShapeRegion->BoundingBox();
  return ShapeRegion->Contains(x + box.Left + dx, y + box.Top - dy);
}

size_t TScrapForm::FirstNotFitting(int x, int y, const std::string& rest,
                                   const std::vector<size_t>& ends, size_t count, size_t hint) {
  std::vector<int> widths(count, -1);
  const auto width_of = [&](size_t i) {
    if (widths[i] < 0) widths[i] = Canvas().TextWidth(rest.substr(0, ends[i]));
    return widths[i];
  };
  // While the end point stays inside, it moves at least 0.7 pixels a pixel
  // of width along one axis, so it leaves the outline's box within this many
  // pixels of width; an angle that moves it nowhere fits everything.
  const TRect box = ShapeRegion ? ShapeRegion->BoundingBox() : TRect();
  const int longest_inside = 2 * (box.Width() + box.Height()) + 2;
  size_t from = 0;
  int low_width = 0;
  while (from < count) {
    // A longer prefix is never narrower, so the prefixes narrower than the
    // first width that leaves the outline all fit.
    int gap = low_width;
    while (WidthEndInShape(x, y, gap)) {
      if (gap - low_width > longest_inside) return count;
      ++gap;
    }
    const size_t i = FirstWhere(from, count, hint, [&](size_t k) { return width_of(k) >= gap; });
    if (i == count || !WidthEndInShape(x, y, width_of(i))) return i;
    // This prefix reaches past a gap in the outline, into it again.
    from = i + 1;
    low_width = width_of(i);
  }
  return count;
}

int TScrapForm::FirstLineTop() {
  const int half_width = AreaWidth() / 2;
  const int half_height = AreaHeight() / 2;
  const int half_m = Canvas().TextHeight("M") / 2;
  int top = half_height;
  for (int i = 0; i <= 20; ++i) {
    const int x = half_width * i / 20;
    const int y = half_height * i / 20;
    if (TextEndInShape(x, y, "") && TextEndInShape(x, y - half_m, "")) {
      top = y;
      break;
    }
  }
  return top + ScaledMargin(TopMargin);
}

int TScrapForm::LineStartX(int y) {
  int start = 0;
  for (int i = 0; i <= 20; ++i) {
    const int x = i * AreaWidth() / 40;
    if (TextEndInShape(x, y, "")) {
      start = x;
      break;
    }
  }
  return start + Canvas().TextWidth("x") + ScaledMargin(LeftMargin);
}

int TScrapForm::ScaledMargin(int32_t margin) const {
  return static_cast<int>(
      std::clamp<int64_t>(Trunc(margin * ImageScale), -kMarginReach, kMarginReach));
}

void TScrapForm::NextTextLine(int& x, int& y, int line_step) {
  y += line_step;
  x = LineStartX(y);
}

std::string TScrapForm::TakeLine(std::string& rest, int x, int y, size_t& hint) {
  const std::vector<size_t> ends = CodePointEnds(rest);
  const auto start_of = [&](size_t i) { return i == 0 ? 0 : ends[i - 1]; };
  size_t cr = 0;
  while (cr < ends.size() && rest[start_of(cr)] != '\r') ++cr;
  // The outline test sees the characters before the first CR, except the
  // last character: the end of a text is written whole.
  const size_t tested = std::min(cr, ends.size() - 1);
  const size_t stop = FirstNotFitting(x, y, rest, ends, tested, hint);
  hint = stop;
  if (stop == tested) {
    if (cr == ends.size()) return std::exchange(rest, std::string());
    std::string line = rest.substr(0, start_of(cr));
    rest.erase(0, ends[cr]);
    return line;
  }
  // The line ends after the last blank or punctuation before the word that
  // does not fit; a word wider than the line breaks where it stops fitting.
  std::string line = rest.substr(0, ends[stop]);
  if (line.back() != ' ') {
    line.resize(start_of(stop));
    while (!line.empty() && IsAsciiLetterOrDigit(line.back())) line.pop_back();
  }
  if (line.empty()) line = rest.substr(0, start_of(stop));
  rest.erase(0, line.size());
  return line;
}

TScrapForm::LayoutInputs TScrapForm::CurrentLayoutInputs() {
  const TFont& font = Canvas().Font();
  return {Message,   font.Name(), font.Height(),    font.Style(),   font.Orientation(),
          FontAngle, ImageScale,  ClientWidth(),    ClientHeight(), LeftMargin,
          TopMargin, RightMargin, paper_generation_};
}

const std::vector<TScrapForm::TTextLine>& TScrapForm::MessageLines() {
  LayoutInputs inputs = CurrentLayoutInputs();
  if (layout_inputs_ == inputs) return layout_;
  layout_.clear();
  // Angles are bounded where they enter; the bound here keeps the step
  // positive whatever a caller stored, so the walk down the note ends.
  const double angle = std::clamp(FontAngle, double(-kAngleLimit), double(kAngleLimit));
  const int line_step =
      static_cast<int>(Trunc(Canvas().TextHeight("Mg") / std::cos(Radians(angle))));
  const int step = std::max(line_step, 1);
  const int right = ScaledMargin(RightMargin);
  const int top = ScaledMargin(TopMargin);
  int y = FirstLineTop();
  int x = LineStartX(y);
  std::string rest = Message;
  size_t hint = 0;
  while (!rest.empty()) {
    std::string line = TakeLine(rest, x + right, y - top, hint);
    // Placed as it was tested: from the outline's corner.
    layout_.push_back({x + outline_box_.Left, y + outline_box_.Top, std::move(line)});
    // The next line would start below the note; compared as a difference,
    // so that a large step cannot overflow.
    if (step > AreaHeight() - y) break;
    NextTextLine(x, y, step);
  }
  layout_inputs_ = std::move(inputs);
  return layout_;
}

void TScrapForm::PaintMessage() {
  TCanvas& canvas = sfImageForm1->Canvas();
  // Qt draws a window only inside its paint, which comes back here.
  if (!canvas.HasPainter()) {
    sfImageForm1->Invalidate();
    return;
  }
  // The picture control covers the client area from (0, 0) and has just
  // drawn the paper; the paint already goes to a buffer shown when it ends,
  // so the text is drawn straight over the paper.
  canvas.Font().Assign(&Canvas().Font());
  if (AlarmDateTime != 0) DrawAlarmIcon(canvas);
  canvas.Brush().SetStyle(TBrushStyle::bsClear);
  for (const TTextLine& line : MessageLines()) canvas.TextOut(line.X, line.Y, line.Text);
}

void TScrapForm::DrawAlarmIcon(TCanvas& canvas) {
  TGraphic* icon = AlarmImage.Graphic();
  if (icon == nullptr) return;
  for (int i = 0; i <= 25; ++i) {
    for (int n = 50; n >= 25; --n) {
      const int x = n * AreaWidth() / 50;
      const int y = i * AreaHeight() / 50;
      if (TextEndInShape(x, y, "")) {
        canvas.Draw(x + outline_box_.Left - 16, y + outline_box_.Top + 8, *icon);
        return;
      }
    }
  }
}

void TScrapForm::FormKeyPress(TPersistent*, char32_t& key) {
  if (key == 0) return;
  if (QGuiApplication::keyboardModifiers() & Qt::ControlModifier) {
    if (key == 3)
      Message.clear();
    else if (key == 6)
      Font1->Click();
  } else if (key == 8) {
    DeleteLastCodePoint(Message);
  } else {
    AppendCodePoint(Message, key);
  }
  ScrapChanged();
  PaintMessage();
}

void TScrapForm::Font1Click(TPersistent*) {
  DescToFont(FontDialog1->Font(), FontDesc);
  if (FontDialog1->Execute()) {
    FontDesc = FontToDesc(FontDialog1->Font());
    Canvas().Font().Assign(&FontDialog1->Font());
    SetAngledFont(Canvas(), FontAngle);
    ScrapChanged();
  }
  sfImageForm1->Invalidate();
}

void TScrapForm::FontAngle1Click(TPersistent*) {
  std::string value = FloatToStr(FontAngle);
  if (!InputQuery("Font Angle Dialog", "Enter the text angle in degrees (-45 to 45)", value))
    return;
  FontAngle = std::clamp(StrToIntOrZero(value), -kAngleLimit, kAngleLimit);
  DescToFont(Canvas().Font(), FontDesc);
  SetAngledFont(Canvas(), FontAngle);
  ScrapChanged();
  sfImageForm1->Invalidate();
}

void TScrapForm::Emailscrap1Click(TPersistent*) {
  EmailScrap(*this);
}

// A picture chosen elsewhere is looked for by its bare name in the paper
// folder. The note takes the new paper only once it has loaded; a failure
// reaches the application's handler, which tells the user.
void TScrapForm::SelectPaper1Click(TPersistent*) {
  OpenPictureDialog1->SetInitialDir(PaperFolder());
  if (!OpenPictureDialog1->Execute()) return;
  ApplyPaper(ExtractFileName(OpenPictureDialog1->FileName()), 1.0);
  ScrapChanged();
}

void TScrapForm::EnlargeClick(TPersistent*) {
  Rescale(ImageScale * kEnlargeFactor);
}

void TScrapForm::Shrink1Click(TPersistent*) {
  Rescale(ImageScale * kShrinkFactor);
}

void TScrapForm::Clear1Click(TPersistent*) {
  Message.clear();
  ScrapChanged();
  sfImageForm1->Invalidate();
}

// The margins belong to the paper: every note on it takes them when shaped.
void TScrapForm::Setmargins1Click(TPersistent*) {
  TPaperMargins margins{TopMargin, LeftMargin, RightMargin};
  if (!EditMargins(margins)) return;
  TopMargin = margins.Top;
  LeftMargin = margins.Left;
  RightMargin = margins.Right;
  WritePaperMargins(PaperFile, margins);
  sfImageForm1->Invalidate();
}

void TScrapForm::Editor1Click(TPersistent*) {
  EditText(Message);
  ScrapChanged();
  sfImageForm1->Invalidate();
}

// Whether or not the dialog was accepted, the alarm counts as not sounded,
// so a daily alarm whose time has passed sounds again today.
void TScrapForm::SetAlarm1Click(TPersistent*) {
  EditAlarm(AlarmDateTime);
  AlarmLastSounded = 0;
  SetHint(AlarmHint(AlarmDateTime));
  ScrapChanged();
  sfImageForm1->Invalidate();
  CheckAlarms();
}

// The window is made anew from the record just written, as stay-on-top is
// chosen when a window is made. When the note cannot be written it stays as
// it was.
void TScrapForm::stayontop1Click(TPersistent*) {
  TQuireTable& table = OpenScrapTable();
  stayontop1->SetChecked(!stayontop1->Checked());
  Hide();
  try {
    SaveScrapWindow(table, *this);
  } catch (...) {
    stayontop1->SetChecked(!stayontop1->Checked());
    Show();
    throw;
  }
  LoadScrapWindow(table);
  Release();
}

// Without an open notes table no note has a record to delete.
void TScrapForm::DeleteScrapClick(TPersistent*) {
  if (!ConfirmYesNo("Are you sure you want to delete this message?")) return;
  if (DM != nullptr && DM->ScrapTbl->Active()) DeleteScrapRecord(*DM->ScrapTbl, *this);
  Close();
  Release();
}

}  // namespace jw
