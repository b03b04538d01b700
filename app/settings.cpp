#include "app/settings.h"

#include <algorithm>
#include <cmath>

#include "platform/rtl/file_names.h"
#include "platform/rtl/ini_file.h"
#include "platform/rtl/strings.h"

namespace jw {

TScrapSettings ScrapSettings;

namespace {

inline constexpr double kMaxFontAngle = 45;

}  // namespace

std::string IniFileName() {
  return ChangeFileExt(ExecutablePath(), ".INI");
}

int ClampPaperMargin(int margin) {
  return std::clamp(margin, -kMaxPaperMargin, kMaxPaperMargin);
}

double ClampFontAngle(double degrees) {
  if (std::isnan(degrees)) return 0;
  return std::clamp(degrees, -kMaxFontAngle, kMaxFontAngle);
}

// Section and key names are compared without case, so the read spellings
// below address the same entries as the (differently cased) write spellings.
void LoadSettings(const std::string& ini_file_name) {
  TIniFile ini(ini_file_name);
  TScrapSettings& s = ScrapSettings;
  s.DefaultFontDesc = ini.ReadString("Main", "DefaultFontDesc", "");
  s.DragFrameOnly = ini.ReadBool("Main", "DragFrameOnly", false);
  s.DefaultFontAngle =
      static_cast<int>(ClampFontAngle(ini.ReadInteger("Main", "DefaultFontAngle", 0)));
  s.AlarmFileName = ini.ReadString("Main", "AlarmFileName", "");
  // A hand-edited count beyond the preferences' range would hold the
  // program in the alarm sound for hours.
  s.AlarmReps = std::clamp(ini.ReadInteger("main", "AlarmReps", 1), 0, kMaxAlarmReps);
  s.AlarmFront = ini.ReadBool("main", "AlarmFront", false);
  s.SMTPHostName = ini.ReadString("Main", "SMTPHostName", "");
  s.ReturnAddress = ini.ReadString("Main", "ReturnAddress", "");
  for (int n = 0; n < kEmailLineCount; ++n)
    s.EmailLines[n] = ini.ReadString("Email", "EmailLines" + IntToStr(n), "");
}

void SaveSettings(const std::string& ini_file_name) {
  TIniFile ini(ini_file_name);
  const TScrapSettings& s = ScrapSettings;
  TIniFile::Batch batch(ini);
  ini.WriteString("Main", "DefaultFontDesc", s.DefaultFontDesc);
  ini.WriteBool("Main", "DragFrameOnly", s.DragFrameOnly);
  ini.WriteInteger("Main", "DefaultFontAngle", s.DefaultFontAngle);
  ini.WriteString("Main", "AlarmFilename", s.AlarmFileName);
  ini.WriteInteger("main", "AlarmReps", s.AlarmReps);
  ini.WriteBool("main", "AlarmFront", s.AlarmFront);
  ini.WriteString("main", "SMTPHostname", s.SMTPHostName);
  ini.WriteString("main", "ReturnAddress", s.ReturnAddress);
  ini.EraseSection("Email");
  for (int n = 0; n < kEmailLineCount; ++n)
    if (!s.EmailLines[n].empty())
      ini.WriteString("Email", "Emaillines" + IntToStr(n), s.EmailLines[n]);
  batch.Commit();
}

TPaperMargins ReadPaperMargins(const std::string& paper_file, const std::string& ini_file_name) {
  TIniFile ini(ini_file_name);
  TPaperMargins m;
  // A hand-edited margin beyond the bound would push the text off the note
  // at every start.
  m.Top = ClampPaperMargin(ini.ReadInteger("margins", paper_file + ".TOP", 0));
  m.Left = ClampPaperMargin(ini.ReadInteger("margins", paper_file + ".LEFT", 0));
  m.Right = ClampPaperMargin(ini.ReadInteger("margins", paper_file + ".RIGHT", 0));
  return m;
}

void WritePaperMargins(const std::string& paper_file, const TPaperMargins& margins,
                       const std::string& ini_file_name) {
  TIniFile ini(ini_file_name);
  TIniFile::Batch batch(ini);
  ini.WriteInteger("Margins", paper_file + ".TOP", margins.Top);
  ini.WriteInteger("Margins", paper_file + ".LEFT", margins.Left);
  ini.WriteInteger("Margins", paper_file + ".RIGHT", margins.Right);
  batch.Commit();
}

}  // namespace jw
