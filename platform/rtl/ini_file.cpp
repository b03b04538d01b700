#include "platform/rtl/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <system_error>

#include "platform/rtl/file_names.h"
#include "platform/rtl/string_list.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

// Holds a descriptor and closes it on every path.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes now, so that a failing close is seen; returns false on failure.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

std::string OsErrorText(int error) {
  return std::system_category().message(error);
}

[[noreturn]] void RaiseWriteError(const std::string& path, int error) {
  throw EIniFileException("Unable to write to " + path + ". " + OsErrorText(error));
}

// One line of the file as the profile rules see it.
struct ParsedLine {
  enum Kind { kOther, kSection, kKey } kind = kOther;
  std::string name;   // section or key name, trimmed
  std::string value;  // a key's value, trimmed, one pair of quotes removed
};

ParsedLine Parse(const std::string& line) {
  ParsedLine parsed;
  const std::string trimmed = Trim(line);
  if (trimmed.empty() || trimmed[0] == ';') return parsed;
  if (trimmed[0] == '[') {
    const size_t close = trimmed.find(']');
    parsed.kind = ParsedLine::kSection;
    parsed.name =
        Trim(trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return parsed;
  }
  const size_t eq = trimmed.find('=');
  if (eq == std::string::npos) return parsed;
  parsed.kind = ParsedLine::kKey;
  parsed.name = Trim(trimmed.substr(0, eq));
  parsed.value = Trim(trimmed.substr(eq + 1));
  const std::string& v = parsed.value;
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    parsed.value = v.substr(1, v.size() - 2);
  }
  return parsed;
}

// A section's header line and the lines up to the next header.
struct SectionSpan {
  size_t header;
  size_t end;
};

// The sections of that name (of every name for null), in file order. A
// name is trimmed as the file's own names are, so that " k " finds "k".
std::vector<SectionSpan> FindSections(const std::vector<std::string>& lines,
                                      const std::string* section) {
  const std::string name = section == nullptr ? std::string() : Trim(*section);
  std::vector<SectionSpan> spans;
  bool last_matches = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const ParsedLine parsed = Parse(lines[i]);
    if (parsed.kind != ParsedLine::kSection) continue;
    if (last_matches) spans.back().end = i;
    last_matches = section == nullptr || SameText(parsed.name, name);
    if (last_matches) spans.push_back({i, lines.size()});
  }
  return spans;
}

// The section that reads and updates address: the first of that name.
std::optional<SectionSpan> FirstSection(const std::vector<std::string>& lines,
                                        const std::string& section) {
  const std::vector<SectionSpan> spans = FindSections(lines, &section);
  if (spans.empty()) return std::nullopt;
  return spans.front();
}

bool IsKeyLine(const ParsedLine& parsed, const std::string& trimmed_key) {
  return parsed.kind == ParsedLine::kKey && SameText(parsed.name, trimmed_key);
}

// Index of the first line of the span holding `key`, or npos.
size_t FindKey(const std::vector<std::string>& lines, SectionSpan span, const std::string& key) {
  const std::string name = Trim(key);
  for (size_t i = span.header + 1; i < span.end; ++i) {
    if (IsKeyLine(Parse(lines[i]), name)) return i;
  }
  return std::string::npos;
}

// The trimmed name that a write puts on its line. A name that would break
// its line apart or read back as another name or line kind is refused: a
// line break would plant lines of its own (margin keys are built from file
// names that any user chooses), "]" ends a section name, "=" ends a key and
// a key line starting with ";" or "[" reads as a comment or a section.
std::string StorableName(const std::string& path, const std::string& name, bool is_key) {
  const std::string trimmed = Trim(name);
  bool valid = trimmed.find_first_of("\r\n") == std::string::npos;
  if (is_key) {
    valid = valid && trimmed.find('=') == std::string::npos && !trimmed.starts_with(';') &&
            !trimmed.starts_with('[');
  } else {
    valid = valid && trimmed.find(']') == std::string::npos;
  }
  if (!valid) {
    throw EIniFileException("Unable to write to " + path + ". The " + (is_key ? "key" : "section") +
                            " name \"" + name + "\" cannot be stored");
  }
  return trimmed;
}

// Reads the file's lines and break style. A missing file has no lines; on
// another error returns the OS error number.
int ReadContent(const std::string& path, std::vector<std::string>& lines, std::string& line_break) {
  lines.clear();
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno == ENOENT ? 0 : errno;
  FileDescriptor file(fd);
  std::string text;
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  // A file written on Linux by hand keeps its LF breaks; otherwise CR LF.
  const size_t first_break = text.find_first_of("\r\n");
  if (first_break != std::string::npos && text[first_break] == '\n') line_break = "\n";
  TStringList split;
  split.SetText(text);
  for (int i = 0; i < split.Count(); ++i) lines.push_back(split.Strings(i));
  return 0;
}

// The file that a write replaces: a symbolic link is followed, so that the
// link stays and its target gets the new content.
std::string ReplaceTarget(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
  }
  return path;
}

std::atomic<unsigned> temp_counter{0};

}  // namespace

TIniFile::TIniFile(std::string file_name) : file_name_(std::move(file_name)) {}

TIniFile::Content TIniFile::Current() const {
  if (batch_) return *batch_;
  Content content;
  if (ReadContent(ResolveFileName(file_name_), content.lines, content.line_break) != 0) {
    return Content();
  }
  return content;
}

void TIniFile::Change(const std::function<bool(Content&)>& edit) {
  if (batch_) {
    edit(*batch_);
    return;
  }
  Content content;
  const std::string path = ResolveFileName(file_name_);
  // A file that exists but cannot be read must not be replaced by a new one.
  if (const int error = ReadContent(path, content.lines, content.line_break)) {
    RaiseWriteError(path, error);
  }
  if (edit(content)) Replace(content);
}

void TIniFile::Replace(const Content& content) {
  const std::string target = ReplaceTarget(ResolveFileName(file_name_));
  std::string text;
  for (const std::string& line : content.lines) text += line + content.line_break;

  // A name of our own in the same folder, so that the rename stays on one
  // file system; O_EXCL keeps two writers apart.
  std::string temp;
  int fd;
  do {
    temp = target + "." + IntToStr(int32_t{::getpid()}) + "-" +
           IntToStr(int32_t(temp_counter.fetch_add(1) & 0x7FFFFFFF)) + ".tmp";
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  } while (fd < 0 && (errno == EEXIST || errno == EINTR));
  if (fd < 0) RaiseWriteError(target, errno);
  FileDescriptor file(fd);

  int error = 0;
  struct stat st;
  if (::stat(target.c_str(), &st) == 0 && ::fchmod(fd, st.st_mode & 07777) != 0) error = errno;
  for (size_t done = 0; error == 0 && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (error == 0 && !file.Close()) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    RaiseWriteError(target, error);
  }

  try {
    if (OnReplacing) OnReplacing();
  } catch (...) {
    ::unlink(temp.c_str());
    throw;
  }

  if (::rename(temp.c_str(), target.c_str()) != 0) {
    error = errno;
    ::unlink(temp.c_str());
    RaiseWriteError(target, error);
  }
  // Make the rename itself durable. Some file systems refuse to sync a
  // folder; the content is in place either way.
  const std::string folder = ExtractFilePath(target);
  FileDescriptor dir(
      ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& default_value) {
  const Content content = Current();
  const auto span = FirstSection(content.lines, section);
  if (!span) return default_value;
  const size_t line = FindKey(content.lines, *span, key);
  if (line == std::string::npos) return default_value;
  return Parse(content.lines[line]).value;
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key,
                              int32_t default_value) {
  return StrToIntDef(ReadString(section, key, std::string()), default_value);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool default_value) {
  return ReadInteger(section, key, default_value ? 1 : 0) != 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
  const std::string section_name = StorableName(file_name_, section, false);
  const std::string key_name = StorableName(file_name_, key, true);
  std::string clean = value;
  for (char& c : clean) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  Change([&](Content& content) {
    std::vector<std::string>& lines = content.lines;
    const auto span = FirstSection(lines, section);
    if (!span) {
      lines.push_back("[" + section_name + "]");
      lines.push_back(key_name + "=" + clean);
      return true;
    }
    const size_t line = FindKey(lines, *span, key);
    if (line != std::string::npos) {
      const std::string updated = Parse(lines[line]).name + "=" + clean;
      if (lines[line] == updated) return false;
      lines[line] = updated;
      return true;
    }
    // After the section's last non-blank line: blank lines that separate it
    // from the next section stay where they are.
    size_t last = span->header;
    for (size_t i = span->header + 1; i < span->end; ++i) {
      if (!Trim(lines[i]).empty()) last = i;
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(last + 1), key_name + "=" + clean);
    return true;
  });
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
  WriteString(section, key, IntToStr(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void TIniFile::EraseSection(const std::string& section) {
  Change([&](Content& content) {
    const std::vector<SectionSpan> spans = FindSections(content.lines, &section);
    // From the last span back, so that earlier indexes stay valid.
    for (auto it = spans.rbegin(); it != spans.rend(); ++it) {
      content.lines.erase(content.lines.begin() + static_cast<std::ptrdiff_t>(it->header),
                          content.lines.begin() + static_cast<std::ptrdiff_t>(it->end));
    }
    return !spans.empty();
  });
}

void TIniFile::DeleteKey(const std::string& section, const std::string& key) {
  Change([&](Content& content) {
    const auto span = FirstSection(content.lines, section);
    if (!span) return false;
    const std::string name = Trim(key);
    bool changed = false;
    for (size_t i = span->end; i-- > span->header + 1;) {
      if (IsKeyLine(Parse(content.lines[i]), name)) {
        content.lines.erase(content.lines.begin() + static_cast<std::ptrdiff_t>(i));
        changed = true;
      }
    }
    return changed;
  });
}

void TIniFile::ReadSection(const std::string& section, TStrings& keys) {
  TStringList values;
  ReadSectionValues(section, values);
  keys.BeginUpdate();
  keys.Clear();
  for (int i = 0; i < values.Count(); ++i) keys.Add(values.Names(i));
  keys.EndUpdate();
}

void TIniFile::ReadSections(TStrings& sections) {
  const Content content = Current();
  TStringList names;  // case-insensitive, for the one-per-name rule
  sections.BeginUpdate();
  sections.Clear();
  for (const SectionSpan& span : FindSections(content.lines, nullptr)) {
    const std::string name = Parse(content.lines[span.header]).name;
    if (names.IndexOf(name) < 0) {
      names.Add(name);
      sections.Add(name);
    }
  }
  sections.EndUpdate();
}

void TIniFile::ReadSectionValues(const std::string& section, TStrings& values) {
  const Content content = Current();
  values.BeginUpdate();
  values.Clear();
  if (const auto span = FirstSection(content.lines, section)) {
    TStringList seen;
    for (size_t i = span->header + 1; i < span->end; ++i) {
      const ParsedLine parsed = Parse(content.lines[i]);
      if (parsed.kind != ParsedLine::kKey || parsed.name.empty()) continue;
      // The first line of a key is the one reads see.
      if (seen.IndexOf(parsed.name) >= 0) continue;
      seen.Add(parsed.name);
      values.Add(parsed.name + "=" + parsed.value);
    }
  }
  values.EndUpdate();
}

bool TIniFile::SectionExists(const std::string& section) {
  return FirstSection(Current().lines, section).has_value();
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) {
  const Content content = Current();
  const auto span = FirstSection(content.lines, section);
  return span && FindKey(content.lines, *span, key) != std::string::npos;
}

TIniFile::Batch::Batch(TIniFile& ini) : ini_(ini) {
  if (ini_.batch_)
    throw EInvalidOperation("A batch of changes is already open on " + ini.file_name_);
  Content content;
  const std::string path = ResolveFileName(ini_.file_name_);
  if (const int error = ReadContent(path, content.lines, content.line_break)) {
    RaiseWriteError(path, error);
  }
  original_ = content.lines;
  ini_.batch_ = std::move(content);
}

TIniFile::Batch::~Batch() {
  if (open_) ini_.batch_.reset();
}

void TIniFile::Batch::Commit() {
  if (!open_) throw EInvalidOperation("The batch of changes on " + ini_.file_name_ + " has ended");
  open_ = false;
  Content content = std::move(*ini_.batch_);
  ini_.batch_.reset();
  // A folder that cannot be written keeps a file nothing changed.
  if (content.lines != original_) ini_.Replace(content);
}

}  // namespace jw
