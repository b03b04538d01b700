// TScrapForm: one note on the screen. A borderless window cut from a paper
// bitmap scaled by the note's own factor, with the note's text drawn inside
// the outline at the note's angle, wrapped at the outline's edge, and every
// note command on its pop-up menu.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/scrap_record.h"
#include "components/image_form.h"
#include "platform/gui/dialogs.h"
#include "platform/gui/forms.h"
#include "platform/gui/menus.h"
#include "platform/gui/picture.h"
#include "platform/gui/region.h"
#include "platform/rtl/date_time.h"

namespace jw {

// Whether the next note window created stays on top of other windows.
extern bool CreateOnTop;

// The largest side of a scaled paper, in pixels.
inline constexpr int kMaxScaledPaperSide = 8192;

class TScrapForm : public TForm {
 public:
  explicit TScrapForm(TComponent* owner);
  ~TScrapForm() override;

  TsfImageForm* sfImageForm1;
  TPopupMenu* PopupMenu1;
  TMenuItem* Font1;
  TMenuItem* FontAngle1;
  TMenuItem* SelectPaper1;
  TMenuItem* Enlarge;
  TMenuItem* Shrink1;
  TMenuItem* stayontop1;
  TMenuItem* Setmargins1;
  TMenuItem* Editor1;
  TMenuItem* Clear1;
  TMenuItem* DeleteScrap;
  TMenuItem* SetAlarm1;
  TMenuItem* Emailscrap1;
  TFontDialog* FontDialog1;
  TOpenPictureDialog* OpenPictureDialog1;
  // The alarm icon, drawn on notes that carry an alarm.
  TPicture AlarmImage;

  // The outline in bitmap coordinates, for placing text.
  std::optional<TRegion> ShapeRegion;
  int32_t scrapid = 0;
  // CR (13) breaks lines.
  std::string Message;
  std::string FontDesc;
  double FontAngle = 0;  // degrees, -45 to 45
  // Bare file name in the paper folder.
  std::string PaperFile;
  double ImageScale = 1.0;
  int32_t Zorder = 0;
  TDateTime AlarmDateTime = 0;
  TDateTime AlarmLastSounded = 0;
  // The record last written for the note or read into it; none for a note
  // never written.
  std::optional<TScrapRecord> SavedRecord;
  // Margins of the current paper in bitmap pixels before scaling.
  int32_t LeftMargin = 0;
  int32_t TopMargin = 0;
  int32_t RightMargin = 0;

  // One line of the laid-out text: where it starts on the window and what
  // it says.
  struct TTextLine {
    int X;
    int Y;
    std::string Text;
    bool operator==(const TTextLine&) const = default;
  };

  // Loads PaperFile at ImageScale, shapes the window from it, sizes the
  // client area to the outline's box plus 10 (and to at least where the
  // outline reaches) and reads the paper's margins.
  void RebuildShape();
  // Draws the paper, the alarm icon and the text. Outside a paint it asks
  // for one, so the note is drawn once for each change.
  void PaintMessage();
  // The lines PaintMessage writes, in order; laid out again only when the
  // text, the font, the angle, the size, the margins or the paper change.
  const std::vector<TTextLine>& MessageLines();
  // Whether the end of s, written from (x, y) at the note's angle, lies
  // inside the outline; x and y count from the outline's top left corner,
  // as in the three below.
  bool TextEndInShape(int x, int y, const std::string& s);
  int FirstLineTop();
  int LineStartX(int y);
  void NextTextLine(int& x, int& y, int line_step);
  void DrawAlarmIcon(TCanvas& canvas);

  // Holds the note in use for its lifetime: its menu is open or one of its
  // commands runs. The window is not made anew while it is in use.
  class TUse {
   public:
    explicit TUse(TScrapForm& note);
    ~TUse();
    TUse(const TUse&) = delete;
    TUse& operator=(const TUse&) = delete;

   private:
    TScrapForm& note_;
  };

  // Makes the note stay on top, as its menu command does (an alarm with
  // AlarmFront): at once, or once the note is no longer in use, since the
  // command replaces the window and its menu or a dialog of its own may still
  // be working on it.
  void StayOnTopWhenFree();

  void FormCreate(TPersistent* sender);
  void MessagePaint(TPersistent* sender);
  void FormKeyPress(TPersistent* sender, char32_t& key);
  void Font1Click(TPersistent* sender);
  void FontAngle1Click(TPersistent* sender);
  void Emailscrap1Click(TPersistent* sender);
  void SelectPaper1Click(TPersistent* sender);
  void EnlargeClick(TPersistent* sender);
  void Shrink1Click(TPersistent* sender);
  void Clear1Click(TPersistent* sender);
  void Setmargins1Click(TPersistent* sender);
  void Editor1Click(TPersistent* sender);
  void SetAlarm1Click(TPersistent* sender);
  void stayontop1Click(TPersistent* sender);
  void DeleteScrapClick(TPersistent* sender);

 protected:
  void CreateParams(TCreateParams& params) override;
  // A note moved or resized is saved soon.
  void BoundsChanged() override;

 private:
  TMenuItem* AddMenuItem(const std::string& name, const std::string& caption);
  // A margin at the note's scale, within the reach of the layout.
  int ScaledMargin(int32_t margin) const;
  // The outline's box and 10 pixels: the span the layout searches for where
  // lines start, in the outline's own coordinates.
  int AreaWidth() const { return outline_box_.Width() + 10; }
  int AreaHeight() const { return outline_box_.Height() + 10; }
  // Loads and scales the paper before anything changes, so a paper that
  // fails to load leaves the note as it was.
  void ApplyPaper(const std::string& paper_file, double scale);
  // Whether the current paper at scale stays within 1 to 8192 pixels a side.
  bool ScaleFits(double scale) const;
  // Hides the note, applies the scale and shows the note again.
  void Rescale(double scale);
  // Whether the end of a text width pixels wide, written from (x, y) at the
  // note's angle, lies inside the outline.
  bool WidthEndInShape(int x, int y, int width) const;
  // The first of the count prefixes of rest (ending at ends) whose end,
  // written from (x, y), lies outside the outline; count when all fit. It
  // measures a few prefixes near where the line leaves the outline, starting
  // at hint, instead of every one.
  size_t FirstNotFitting(int x, int y, const std::string& rest, const std::vector<size_t>& ends,
                         size_t count, size_t hint);
  // Takes the next line off the front of rest; (x, y) is where the outline
  // test of the line's end starts. hint is where the previous line stopped
  // fitting, the first guess for this one; it is updated.
  std::string TakeLine(std::string& rest, int x, int y, size_t& hint);

  // What the laid-out lines depend on.
  struct LayoutInputs {
    std::string message;
    std::string font_name;
    int font_height;
    TFontStyles font_style;
    int font_orientation;
    double angle;
    double scale;
    int client_width;
    int client_height;
    int32_t left_margin;
    int32_t top_margin;
    int32_t right_margin;
    uint64_t paper_generation;
    bool operator==(const LayoutInputs&) const = default;
  };
  LayoutInputs CurrentLayoutInputs();

  class TNoteMenu;

  // Stay-on-top as chosen when the window was created.
  bool create_on_top_;
  int in_use_ = 0;
  // An alarm asked for stay-on-top while the note was in use.
  bool stay_on_top_pending_ = false;
  // The size of the current paper before scaling; 0 before the first.
  int paper_width_ = 0;
  int paper_height_ = 0;
  // The outline's bounding box in the bitmap.
  TRect outline_box_;
  // Counts the papers applied, so a layout knows the outline it was made for.
  uint64_t paper_generation_ = 0;
  std::optional<LayoutInputs> layout_inputs_;
  std::vector<TTextLine> layout_;
};

}  // namespace jw
