// The engine's text helpers for names, paths, SQL and filter texts: padding
// and cutting of short strings (at most 255 characters), search and replace
// in zero-terminated strings, the LIKE pattern matcher, quote and line-break
// stripping, and file-name helpers ('/' is the separator).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace jw {

// Short strings: every result is cut to 255 characters.
std::string PadLeft(std::string_view s, int32_t length, char c);
std::string PadRight(std::string_view s, int32_t length, char c);
std::string RepeatString(std::string_view s, int32_t count);
std::string LeftChars(std::string_view s, int32_t n);
std::string RightChars(std::string_view s, int32_t n);
// 1-based position of the last occurrence of sub in s; 0 when none.
int32_t LastPos(std::string_view sub, std::string_view s);

// Zero-terminated strings, changed in place.
void TrimChar(char* s, char c);
void TrimTrailingChar(char* s, char c);
void TrimLeadingChar(char* s, char c);

// 1-based position of the first occurrence; 0 when none.
int32_t PosOf(const char* sub, const char* s);
// Non-overlapping occurrences, scanning left to right; 0 for an empty sub.
int32_t OccurrenceCount(const char* sub, const char* s);
// The length of s once every occurrence of old_text is replaced by new_text.
int32_t ReplacedLength(const char* old_text, const char* new_text, const char* s);
// Copies source to destination, which holds at least ReplacedLength + 1
// bytes, with every non-overlapping occurrence of old_text replaced.
void ReplaceAll(const char* old_text, const char* new_text, const char* source, char* destination);

// SQL LIKE over the whole of s: '%' matches any run of characters (also an
// empty one), '_' exactly one; there is no escape character. `same` decides
// whether a pattern character matches a character of s.
template <typename CharEqual>
bool LikeMatch(const char* s, const char* pattern, CharEqual same) {
  const char* star = nullptr;  // the latest '%' of the pattern
  const char* star_s = s;      // where in s the latest '%' has taken up to
  while (*s != '\0') {
    if (*pattern == '%') {
      star = pattern++;
      star_s = s;
    } else if (*pattern != '\0' && (*pattern == '_' || same(*pattern, *s))) {
      ++pattern;
      ++s;
    } else if (star != nullptr) {
      // Retry with the latest '%' taking one more character of s.
      pattern = star + 1;
      s = ++star_s;
    } else {
      return false;
    }
  }
  while (*pattern == '%') ++pattern;
  return *pattern == '\0';
}

// Byte comparison: the LIKE of language 0.
bool LikeMatch(const char* s, const char* pattern);

// Removes every CR and LF.
std::string StripLineBreaks(std::string_view s);
// Shrinks every run of double quotes to one, then every run of single quotes.
std::string StripDoubledQuotes(std::string_view s);
// The unescape of a quoted text's body: each doubled delimiter becomes one,
// read left to right; any other quote character stays as it is.
std::string UndoubleQuote(std::string_view body, char quote);

// File names.
// The name without its extension: cut before the last '.' only when that
// '.' lies after the last '/'.
std::string RemoveFileExt(std::string_view name);
// The name without folder and extension.
std::string BaseFileName(std::string_view name);
// The trimmed name with the extension ext (".DAT"): replaced or added when
// the name's own extension differs without regard to case.
std::string ForceFileExt(std::string_view name, std::string_view ext);
// The trimmed path with a '/' appended when it does not end in one; an empty
// path stays empty.
std::string AddTrailingBackslash(std::string_view path);
// True when the name is empty or holds ':' or '/', that is, it is not a
// bare name.
bool IsEmptyOrPathName(std::string_view name);

}  // namespace jw
