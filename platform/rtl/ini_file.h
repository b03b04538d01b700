// TIniFile: sections of key=value lines in a text file, read and written
// with the private-profile rules that stored preferences rely on (names
// without ASCII case, first match wins, blanks and one pair of quotes
// stripped on read). Every change reaches the disk as one atomic replace.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/rtl/exceptions.h"

namespace jw {

class TStrings;

// A change that could not be made durable, or a name that a line of the file
// cannot hold; the file keeps its old content. Text: "Unable to write to
// <path>. <OS error text or the refused name>".
class EIniFileException : public Exception {
  using Exception::Exception;
};

class TIniFile {
 public:
  // The file is found by its exact name or, failing that, by a name that
  // differs only in ASCII case in the same folder; it need not exist.
  explicit TIniFile(std::string file_name);
  TIniFile(const TIniFile&) = delete;
  TIniFile& operator=(const TIniFile&) = delete;

  const std::string& FileName() const { return file_name_; }

  // Reads: an absent (or unreadable) file, section or key gives the default.
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& default_value);
  // Decimal, "$hex" or "0xhex"; anything else gives the default.
  int32_t ReadInteger(const std::string& section, const std::string& key, int32_t default_value);
  // ReadInteger(default as 1/0) != 0: "true" reads as the default.
  bool ReadBool(const std::string& section, const std::string& key, bool default_value);

  // Writes: an existing key keeps its line and spelling; a new key goes to
  // the end of its section, a new section to the end of the file. CR and LF
  // in a value become blanks. Names are trimmed, as for every lookup; a name
  // with CR or LF, a section name with "]" and a key with "=" or starting
  // with ";" or "[" are refused.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int32_t value);
  // "1" or "0".
  void WriteBool(const std::string& section, const std::string& key, bool value);

  // Removes every section of that name with its lines.
  void EraseSection(const std::string& section);
  // Removes the key's lines from the section that reads see.
  void DeleteKey(const std::string& section, const std::string& key);

  // Key names of the section, in file order (one per name). Clears `keys` first.
  void ReadSection(const std::string& section, TStrings& keys);
  // Section names in file order (one per name). Clears `sections` first.
  void ReadSections(TStrings& sections);
  // "key=value" lines as ReadString sees them. Clears `values` first.
  void ReadSectionValues(const std::string& section, TStrings& values);
  bool SectionExists(const std::string& section);
  bool ValueExists(const std::string& section, const std::string& key);

  // A group of changes applied as one replace of the file. The file is read
  // when the batch starts; reads inside it see the pending changes; Commit
  // writes them, unless together they leave the lines as they were (a
  // section erased and written again the same), and a batch that ends without
  // Commit (an exception) leaves the file as it was. One batch at a time per
  // TIniFile.
  class Batch {
   public:
    explicit Batch(TIniFile& ini);
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;
    void Commit();

   private:
    TIniFile& ini_;
    std::vector<std::string> original_;
    bool open_ = true;
  };

  // Called when the new content is durable in the temporary file and before
  // it replaces the file. Tests use it to simulate a crash at that moment.
  std::function<void()> OnReplacing;

 private:
  struct Content {
    std::vector<std::string> lines;
    std::string line_break = "\r\n";  // the file's own break, kept on rewrite
  };

  // The batch's content, or the file's (empty when it cannot be read).
  Content Current() const;
  // Applies `edit` to the current content; when it reports a change, the
  // result is written (or kept for the batch's commit).
  void Change(const std::function<bool(Content&)>& edit);
  void Replace(const Content& content);

  std::string file_name_;
  std::optional<Content> batch_;
};

}  // namespace jw
