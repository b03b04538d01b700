#include "mail/header_text.h"

#include <algorithm>
#include <vector>

#include "mail/encoders.h"
#include "mail/tcpip.h"
#include "platform/rtl/string_list.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

// Bytes of text per encoded-word: 39 bytes give 52 base64 characters and
// an encoded-word of 64, which fits a folded line after the longest field
// name it follows ("Reply-To: ") and stays below the 75 RFC 2047 allows.
constexpr size_t kEncodedWordBytes = 39;

// Characters of a percent-encoded parameter value per section; with its
// name and number a section fits a folded line.
constexpr size_t kParameterSectionOctets = 60;

bool IsControlByte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (byte < 32 && byte != '\t') || byte == 127;
}

// Text that may stand in a header as it is: ASCII without control bytes.
bool IsPlainText(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    return static_cast<unsigned char>(c) < 128 && !IsControlByte(c);
  });
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// A byte that continues a UTF-8 sequence; an encoded-word must not end
// before one, as each must decode to whole characters.
bool IsUtf8Continuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

size_t LongestWord(std::string_view text) {
  size_t longest = 0;
  size_t length = 0;
  for (char c : text) {
    length = IsBlank(c) ? 0 : length + 1;
    longest = std::max(longest, length);
  }
  return longest;
}

// The text as UTF-8 B encoded-words joined by blanks. A decoder drops the
// blanks between encoded-words, so the words decode to exactly the text.
std::string EncodedWords(std::string_view text) {
  std::string words;
  while (!text.empty()) {
    size_t size = std::min(text.size(), kEncodedWordBytes);
    size_t whole = size;
    while (whole > 0 && whole < text.size() && IsUtf8Continuation(text[whole])) --whole;
    // Bytes that are no UTF-8 are cut anywhere rather than not at all.
    if (whole > 0) size = whole;
    if (!words.empty()) words += ' ';
    words += "=?UTF-8?B?";
    words += EncodeLine6(kEncodeBase64, reinterpret_cast<const uint8_t*>(text.data()),
                         static_cast<int>(size));
    words += "?=";
    text.remove_prefix(size);
  }
  return words;
}

// The position of the first "<" outside a quoted string, npos when none.
size_t AngleAddressStart(std::string_view mailbox) {
  bool quoted = false;
  for (size_t i = 0; i < mailbox.size(); ++i) {
    const char c = mailbox[i];
    if (quoted && c == '\\') {
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && c == '<') {
      return i;
    }
  }
  return std::string_view::npos;
}

// A quoted string's content with its backslash escapes resolved.
std::string Unquote(std::string_view quoted) {
  std::string text;
  for (size_t i = 1; i + 1 < quoted.size(); ++i) {
    if (quoted[i] == '\\' && i + 2 < quoted.size()) ++i;
    text += quoted[i];
  }
  return text;
}

std::string EncodeMailbox(std::string_view field, std::string_view mailbox) {
  const size_t angle = AngleAddressStart(mailbox);
  const std::string what = std::string(field) + " address";
  if (angle == std::string_view::npos) {
    RefuseControlBytes(std::string(mailbox), what);
    return std::string(mailbox);
  }
  RefuseControlBytes(std::string(mailbox.substr(angle)), what);
  const std::string_view display = mailbox.substr(0, angle);
  if (IsPlainText(display)) return std::string(mailbox);
  const size_t first = display.find_first_not_of(" \t");
  const std::string name = Trim(display);
  const bool quoted = name.size() >= 2 && name.front() == '"' && name.back() == '"';
  return std::string(display.substr(0, first)) + EncodedWords(quoted ? Unquote(name) : name) + " " +
         std::string(mailbox.substr(angle));
}

// RFC 2231 attribute characters: printable ASCII but the MIME specials,
// "*", "'" and "%", which the encoding itself uses.
bool IsAttributeChar(unsigned char c) {
  return c > 32 && c < 127 &&
         std::string_view("()<>@,;:\\\"/[]?=*'%").find(c) == std::string_view::npos;
}

std::string PercentEncoded(std::string_view value) {
  std::string encoded;
  for (char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsAttributeChar(byte)) {
      encoded += c;
    } else {
      encoded += '%';
      encoded += IntToHex(int32_t{byte}, 2);
    }
  }
  return encoded;
}

// The position of the fold in a line: the last blank within the folded
// length that follows a word, else the first one after it; npos when the
// line has none from `earliest` on.
size_t FoldPosition(std::string_view line, size_t earliest) {
  size_t within = std::string_view::npos;
  for (size_t i = std::max<size_t>(earliest, 1); i < line.size(); ++i) {
    if (!IsBlank(line[i]) || IsBlank(line[i - 1])) continue;
    if (i > kFoldedLineOctets) return within == std::string_view::npos ? i : within;
    within = i;
  }
  return within;
}

}  // namespace

void RefuseLineBreaks(const std::string& text, const std::string& what) {
  if (text.find_first_of("\r\n") != std::string::npos) throw ETcpIpError("Line break in " + what);
}

void RefuseControlBytes(const std::string& text, const std::string& what) {
  RefuseLineBreaks(text, what);
  if (std::any_of(text.begin(), text.end(), IsControlByte)) {
    throw ETcpIpError("Control character in " + what);
  }
}

std::string UnstructuredField(std::string_view name, std::string_view text) {
  const std::string prefix = std::string(name) + ": ";
  // A word that even a line of its own cannot hold goes out as encoded-words,
  // which may be cut anywhere.
  if (!IsPlainText(text) || LongestWord(text) > kMaxHeaderLineOctets - prefix.size()) {
    return prefix + EncodedWords(text);
  }
  return prefix + std::string(text);
}

std::string AddressField(std::string_view name, std::string_view list) {
  std::string field = std::string(name) + ": ";
  if (IsPlainText(list)) return field + std::string(list);
  // Mailboxes are separated by commas outside quoted strings and "<...>".
  bool quoted = false;
  bool in_angle = false;
  size_t start = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    const char c = list[i];
    if (quoted) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == '<') {
      in_angle = true;
    } else if (c == '>') {
      in_angle = false;
    } else if (c == ',' && !in_angle) {
      field += EncodeMailbox(name, list.substr(start, i - start)) + ",";
      start = i + 1;
    }
  }
  return field + EncodeMailbox(name, list.substr(start));
}

std::string MimeParameter(std::string_view name, std::string_view value) {
  if (IsPlainText(value)) {
    std::string quoted = std::string(name) + "=\"";
    for (char c : value) {
      if (c == '"' || c == '\\') quoted += '\\';
      quoted += c;
    }
    return quoted + "\"";
  }
  // Sections end between characters, so each decodes on its own.
  std::vector<std::string> sections = {"UTF-8''"};
  for (size_t start = 0; start < value.size();) {
    size_t end = start + 1;
    while (end < value.size() && IsUtf8Continuation(value[end])) ++end;
    const std::string character = PercentEncoded(value.substr(start, end - start));
    if (sections.back().size() + character.size() > kParameterSectionOctets) {
      sections.emplace_back();
    }
    sections.back() += character;
    start = end;
  }
  if (sections.size() == 1) return std::string(name) + "*=" + sections[0];
  std::string parameter;
  for (size_t i = 0; i < sections.size(); ++i) {
    if (i > 0) parameter += "; ";
    parameter += std::string(name) + "*" + IntToStr(static_cast<int32_t>(i)) + "*=" + sections[i];
  }
  return parameter;
}

void AddFoldedHeaderLine(TStrings& lines, std::string_view line) {
  // The first line keeps the field name and the start of its value together.
  const size_t colon = line.find(':');
  size_t earliest = colon == std::string_view::npos ? 1 : colon + 2;
  while (line.size() > kFoldedLineOctets) {
    const size_t fold = FoldPosition(line, earliest);
    if (fold == std::string_view::npos) break;
    lines.Add(std::string(line.substr(0, fold)));
    line.remove_prefix(fold);
    earliest = 1;
  }
  lines.Add(std::string(line));
}

}  // namespace jw
