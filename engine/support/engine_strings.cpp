#include "engine/support/engine_strings.h"

#include <cstring>

#include "platform/rtl/file_names.h"
#include "platform/rtl/strings.h"

namespace jw {

std::string PadLeft(std::string_view s, int32_t length, char c) {
  const int64_t missing = static_cast<int64_t>(length) - static_cast<int64_t>(s.size());
  return ShortString(StringOfChar(c, missing) + std::string(s));
}

std::string PadRight(std::string_view s, int32_t length, char c) {
  const int64_t missing = static_cast<int64_t>(length) - static_cast<int64_t>(s.size());
  return ShortString(std::string(s) + StringOfChar(c, missing));
}

std::string RepeatString(std::string_view s, int32_t count) {
  std::string result;
  for (int32_t i = 0; i < count && result.size() < kShortStringMax; ++i) result += s;
  return ShortString(result);
}

std::string LeftChars(std::string_view s, int32_t n) {
  return ShortString(Copy(s, 1, n));
}

std::string RightChars(std::string_view s, int32_t n) {
  if (n <= 0) return std::string();
  const size_t take = std::min(s.size(), static_cast<size_t>(n));
  return ShortString(s.substr(s.size() - take));
}

int32_t LastPos(std::string_view sub, std::string_view s) {
  if (sub.empty() || sub.size() > s.size()) return 0;
  const size_t at = s.rfind(sub);
  return at == std::string_view::npos ? 0 : static_cast<int32_t>(at + 1);
}

void TrimLeadingChar(char* s, char c) {
  size_t lead = 0;
  while (s[lead] != '\0' && s[lead] == c) ++lead;
  if (lead > 0) std::memmove(s, s + lead, std::strlen(s + lead) + 1);
}

void TrimTrailingChar(char* s, char c) {
  size_t n = std::strlen(s);
  while (n > 0 && s[n - 1] == c) --n;
  s[n] = '\0';
}

void TrimChar(char* s, char c) {
  TrimLeadingChar(s, c);
  TrimTrailingChar(s, c);
}

int32_t PosOf(const char* sub, const char* s) {
  if (*sub == '\0') return 0;
  const char* at = std::strstr(s, sub);
  return at == nullptr ? 0 : static_cast<int32_t>(at - s + 1);
}

int32_t OccurrenceCount(const char* sub, const char* s) {
  const size_t n = std::strlen(sub);
  if (n == 0) return 0;
  int32_t count = 0;
  for (const char* at = std::strstr(s, sub); at != nullptr; at = std::strstr(at + n, sub)) {
    ++count;
  }
  return count;
}

int32_t ReplacedLength(const char* old_text, const char* new_text, const char* s) {
  const auto length = static_cast<int32_t>(std::strlen(s));
  const int32_t count = OccurrenceCount(old_text, s);
  if (count == 0) return length;
  return length + count * (static_cast<int32_t>(std::strlen(new_text)) -
                           static_cast<int32_t>(std::strlen(old_text)));
}

void ReplaceAll(const char* old_text, const char* new_text, const char* source, char* destination) {
  const size_t old_length = std::strlen(old_text);
  const size_t new_length = std::strlen(new_text);
  if (old_length == 0 || std::strcmp(old_text, new_text) == 0) {
    std::memmove(destination, source, std::strlen(source) + 1);
    return;
  }
  const char* from = source;
  for (const char* at = std::strstr(from, old_text); at != nullptr;
       at = std::strstr(from, old_text)) {
    std::memcpy(destination, from, static_cast<size_t>(at - from));
    destination += at - from;
    std::memcpy(destination, new_text, new_length);
    destination += new_length;
    from = at + old_length;
  }
  std::memcpy(destination, from, std::strlen(from) + 1);
}

bool LikeMatch(const char* s, const char* pattern) {
  return LikeMatch(s, pattern, [](char a, char b) { return a == b; });
}

std::string StripLineBreaks(std::string_view s) {
  std::string result;
  for (char c : s) {
    if (c != '\r' && c != '\n') result += c;
  }
  return result;
}

namespace {

std::string ShrinkRuns(std::string_view s, char quote) {
  std::string result;
  for (char c : s) {
    if (c == quote && !result.empty() && result.back() == quote) continue;
    result += c;
  }
  return result;
}

}  // namespace

std::string StripDoubledQuotes(std::string_view s) {
  return ShrinkRuns(ShrinkRuns(s, '"'), '\'');
}

std::string UndoubleQuote(std::string_view body, char quote) {
  std::string result;
  for (size_t i = 0; i < body.size(); ++i) {
    result += body[i];
    if (body[i] == quote && i + 1 < body.size() && body[i + 1] == quote) ++i;
  }
  return result;
}

std::string RemoveFileExt(std::string_view name) {
  const size_t dot = name.rfind('.');
  const size_t slash = name.rfind('/');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
    return ShortString(name);
  }
  return ShortString(name.substr(0, dot));
}

std::string BaseFileName(std::string_view name) {
  return RemoveFileExt(ExtractFileName(name));
}

std::string ForceFileExt(std::string_view name, std::string_view ext) {
  const std::string trimmed = Trim(name);
  if (SameText(ExtractFileExt(trimmed), ext)) return ShortString(trimmed);
  return ShortString(ChangeFileExt(trimmed, ext));
}

std::string AddTrailingBackslash(std::string_view path) {
  std::string trimmed = Trim(path);
  if (!trimmed.empty() && trimmed.back() != '/') trimmed += '/';
  return ShortString(trimmed);
}

bool IsEmptyOrPathName(std::string_view name) {
  return name.empty() || name.find(':') != std::string_view::npos ||
         name.find('/') != std::string_view::npos;
}

}  // namespace jw
