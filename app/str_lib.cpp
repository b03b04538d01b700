#include "app/str_lib.h"

#include "platform/gui/dialogs.h"
#include "platform/os/shell.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

std::string& Delimiters() {
  static std::string delimiters = " ";
  return delimiters;
}

}  // namespace

std::string TrimBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

int StrToIntOrZero(std::string_view text) {
  int32_t value = 0;
  return TryStrToInt(TrimBlanks(text), value) ? value : 0;
}

const std::string& TokenDelimiters() {
  return Delimiters();
}

void SetTokenDelimiters(std::string delimiters) {
  Delimiters() = std::move(delimiters);
}

std::string NextToken(std::string& text) {
  const std::string& delimiters = Delimiters();
  const size_t start = text.find_first_not_of(delimiters);
  if (start == std::string::npos) {
    text.clear();
    return {};
  }
  const size_t end = text.find_first_of(delimiters, start);
  if (end == std::string::npos) {
    std::string token = text.substr(start);
    text.clear();
    return token;
  }
  std::string token = text.substr(start, end - start);
  text.erase(0, end + 1);
  return token;
}

std::string NthToken(std::string text, int n) {
  std::string token;
  for (int i = 1; i <= n; ++i) {
    token = NextToken(text);
    if (token.empty()) return {};
  }
  return token;
}

void ReplaceFirst(std::string& text, std::string_view search, std::string_view replacement) {
  if (search.empty()) return;
  const size_t at = text.find(search);
  if (at != std::string::npos) text.replace(at, search.size(), replacement);
}

void OpenWithShell(const std::string& path) {
  if (!Shell().Open(path)) ShowMessage("Problem opening file " + path);
}

bool ConfirmYesNo(const std::string& text) {
  return MessageDlg(text, TMsgDlgType::mtConfirmation, mbYes | mbNo) == mrYes;
}

}  // namespace jw
