// The note application's preferences (ScrapSettings) and the per-paper text
// margins, kept in the INI file named after the executable. The preferences
// are read once at start and written once at exit; margins are read when a
// note is shaped and written as soon as they are edited.
#pragma once

#include <array>
#include <string>

namespace jw {

inline constexpr int kEmailLineCount = 50;
// Times an alarm plays its sound: 0 to 20.
inline constexpr int kMaxAlarmReps = 20;

struct TScrapSettings {
  std::string DefaultFontDesc;
  int DefaultFontAngle = 0;  // degrees, -45 to 45
  bool DragFrameOnly = false;
  std::string AlarmFileName;
  int AlarmReps = 1;  // 0 to kMaxAlarmReps
  bool AlarmFront = false;
  std::string SMTPHostName;
  std::string ReturnAddress;
  // Address book: "nickname|address", or empty.
  std::array<std::string, kEmailLineCount> EmailLines;

  bool operator==(const TScrapSettings&) const = default;
};

extern TScrapSettings ScrapSettings;

// The bound of a paper's text margin either way, in bitmap pixels before
// scaling: far beyond any paper, and small enough that the note's layout
// works with it in plain integers.
inline constexpr int kMaxPaperMargin = 32767;

// A margin entered or read, kept within -kMaxPaperMargin..kMaxPaperMargin.
int ClampPaperMargin(int margin);

// Text margins of one paper file, in bitmap pixels before scaling.
struct TPaperMargins {
  int Top = 0;
  int Left = 0;
  int Right = 0;

  bool operator==(const TPaperMargins&) const = default;
};

// The executable's path with the extension ".INI".
std::string IniFileName();

// Reads every preference into ScrapSettings; a missing file gives defaults.
void LoadSettings(const std::string& ini_file_name = IniFileName());
// Writes every preference, then replaces the section "Email" with the
// non-empty address lines.
void SaveSettings(const std::string& ini_file_name = IniFileName());

// The margins stored for paper_file, each bounded; 0 for what is not stored.
TPaperMargins ReadPaperMargins(const std::string& paper_file,
                               const std::string& ini_file_name = IniFileName());
void WritePaperMargins(const std::string& paper_file, const TPaperMargins& margins,
                       const std::string& ini_file_name = IniFileName());

// A text angle read from a file, bounded to -45..45 degrees: the painter's
// line step divides by the cosine of the angle.
double ClampFontAngle(double degrees);

}  // namespace jw
