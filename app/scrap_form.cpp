#include "app/scrap_form.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include "app/editor_form.h"
#include "app/folders.h"
#include "app/font_desc.h"
#include "app/margins_form.h"
#include "app/settings.h"
#include "app/str_lib.h"
#include "app/utf8_text.h"
#include "components/region_from_bitmap.h"
#include "platform/rtl/file_names.h"
#include "platform/rtl/numbers.h"

namespace jw {

bool CreateOnTop = false;

namespace {

constexpr int kAngleLimit = 45;
constexpr double kEnlargeFactor = 1.25;
constexpr double kShrinkFactor = 0.8;

double Radians(double degrees) {
  return degrees * 2 * std::numbers::pi / 360;
}

bool IsAsciiLetterOrDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A small bell with a clapper: the mark of a note that carries an alarm.
QImage AlarmIconImage() {
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

}  // namespace

TScrapForm::TScrapForm(TComponent* owner) : TForm(owner), create_on_top_(CreateOnTop) {
  SetCaption("Scrap");
  SetBorderStyle(TFormBorderStyle::bsNone);
  SetClientWidth(237);
  SetClientHeight(249);

  PopupMenu1 = new TPopupMenu(this);
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
  Font1->OnClick = [this](TPersistent* sender) { Font1Click(sender); };
  FontAngle1->OnClick = [this](TPersistent* sender) { FontAngle1Click(sender); };
  SelectPaper1->OnClick = [this](TPersistent* sender) { SelectPaper1Click(sender); };
  Enlarge->OnClick = [this](TPersistent* sender) { EnlargeClick(sender); };
  Shrink1->OnClick = [this](TPersistent* sender) { Shrink1Click(sender); };
  Clear1->OnClick = [this](TPersistent* sender) { Clear1Click(sender); };
  Setmargins1->OnClick = [this](TPersistent* sender) { Setmargins1Click(sender); };
  Editor1->OnClick = [this](TPersistent* sender) { Editor1Click(sender); };

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
  paper.LoadFromFile(PaperPath(paper_file));
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
  TBitmap scaled;
  scaled.SetSize(static_cast<int>(Trunc(width * scale)), static_cast<int>(Trunc(height * scale)));
  scaled.Canvas().StretchDraw(Rect(0, 0, scaled.Width(), scaled.Height()), paper);

  PaperFile = paper_file;
  ImageScale = scale;
  paper_width_ = width;
  paper_height_ = height;
  sfImageForm1->Picture().Bitmap().Assign(&scaled);
  sfImageForm1->RebuildRegion();
  ShapeRegion = RegionFromBitmap(&sfImageForm1->Picture().Bitmap(), clRed);
  const TRect box = ShapeRegion ? ShapeRegion->BoundingBox() : TRect();
  SetClientWidth(box.Width() + 10);
  SetClientHeight(box.Height() + 10);
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
}

bool TScrapForm::TextEndInShape(int x, int y, const std::string& s) {
  if (!ShapeRegion) return false;
  const int width = s.empty() ? 0 : Canvas().TextWidth(s);
  const double theta = Radians(FontAngle);
  const auto dx = static_cast<int>(Trunc(std::cos(theta) * width));
  const auto dy = static_cast<int>(Trunc(std::sin(theta) * width));
  const TRect box = ShapeRegion->BoundingBox();
  return ShapeRegion->Contains(x + box.Left + dx, y + box.Top - dy);
}

int TScrapForm::FirstLineTop() {
  const int half_width = ClientWidth() / 2;
  const int half_height = ClientHeight() / 2;
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
  return top + static_cast<int>(Trunc(TopMargin * ImageScale));
}

int TScrapForm::LineStartX(int y) {
  int start = 0;
  for (int i = 0; i <= 20; ++i) {
    const int x = i * ClientWidth() / 40;
    if (TextEndInShape(x, y, "")) {
      start = x;
      break;
    }
  }
  return start + Canvas().TextWidth("x") + static_cast<int>(Trunc(LeftMargin * ImageScale));
}

void TScrapForm::NextTextLine(int& x, int& y, int line_step) {
  y += line_step;
  x = LineStartX(y);
}

std::string TScrapForm::TakeLine(std::string& rest, int x, int y) {
  const std::vector<size_t> ends = CodePointEnds(rest);
  for (size_t i = 0; i < ends.size(); ++i) {
    const size_t start = i == 0 ? 0 : ends[i - 1];
    if (rest[start] == '\r') {
      std::string line = rest.substr(0, start);
      rest.erase(0, ends[i]);
      return line;
    }
    // The last character is never tested: the end of a text is written whole.
    if (i + 1 == ends.size()) return std::exchange(rest, std::string());
    if (TextEndInShape(x, y, rest.substr(0, ends[i]))) continue;
    // The line ends after the last blank or punctuation before the word that
    // does not fit; a word wider than the line breaks where it stops fitting.
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

std::vector<TScrapForm::TTextLine> TScrapForm::MessageLines() {
  std::vector<TTextLine> lines;
  // Angles are bounded where they enter; the bound here keeps the step
  // positive whatever a caller stored, so the walk down the note ends.
  const double angle = std::clamp(FontAngle, double(-kAngleLimit), double(kAngleLimit));
  const int line_step =
      static_cast<int>(Trunc(Canvas().TextHeight("Mg") / std::cos(Radians(angle))));
  const int right = static_cast<int>(Trunc(RightMargin * ImageScale));
  const int top = static_cast<int>(Trunc(TopMargin * ImageScale));
  int y = FirstLineTop();
  int x = LineStartX(y);
  std::string rest = Message;
  while (!rest.empty()) {
    std::string line = TakeLine(rest, x + right, y - top);
    lines.push_back({x, y, std::move(line)});
    NextTextLine(x, y, std::max(line_step, 1));
    if (ClientHeight() < y) break;
  }
  return lines;
}

void TScrapForm::PaintMessage() {
  TBitmap work;
  work.Assign(&sfImageForm1->Picture().Bitmap());
  work.Canvas().Font().Assign(&Canvas().Font());
  if (AlarmDateTime != 0) DrawAlarmIcon(work);
  work.Canvas().Brush().SetStyle(TBrushStyle::bsClear);
  for (const TTextLine& line : MessageLines()) work.Canvas().TextOut(line.X, line.Y, line.Text);
  // The picture control covers the client area from (0, 0), and its canvas
  // is the one that can draw while the note paints.
  sfImageForm1->Canvas().Draw(0, 0, work);
}

void TScrapForm::DrawAlarmIcon(TBitmap& bitmap) {
  TGraphic* icon = AlarmImage.Graphic();
  if (icon == nullptr) return;
  for (int i = 0; i <= 25; ++i) {
    for (int n = 50; n >= 25; --n) {
      const int x = n * ClientWidth() / 50;
      const int y = i * ClientHeight() / 50;
      if (TextEndInShape(x, y, "")) {
        bitmap.Canvas().Draw(x - 16, y + 8, *icon);
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
      Font1Click(this);
  } else if (key == 8) {
    DeleteLastCodePoint(Message);
  } else {
    AppendCodePoint(Message, key);
  }
  PaintMessage();
}

void TScrapForm::Font1Click(TPersistent*) {
  DescToFont(FontDialog1->Font(), FontDesc);
  if (FontDialog1->Execute()) {
    FontDesc = FontToDesc(FontDialog1->Font());
    Canvas().Font().Assign(&FontDialog1->Font());
    SetAngledFont(Canvas(), FontAngle);
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
  sfImageForm1->Invalidate();
}

// A picture chosen elsewhere is looked for by its bare name in the paper
// folder. The note takes the new paper only once it has loaded; a failure
// reaches the application's handler, which tells the user.
void TScrapForm::SelectPaper1Click(TPersistent*) {
  OpenPictureDialog1->SetInitialDir(PaperFolder());
  if (!OpenPictureDialog1->Execute()) return;
  ApplyPaper(ExtractFileName(OpenPictureDialog1->FileName()), 1.0);
}

void TScrapForm::EnlargeClick(TPersistent*) {
  Rescale(ImageScale * kEnlargeFactor);
}

void TScrapForm::Shrink1Click(TPersistent*) {
  Rescale(ImageScale * kShrinkFactor);
}

void TScrapForm::Clear1Click(TPersistent*) {
  Message.clear();
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
  sfImageForm1->Invalidate();
}

}  // namespace jw
