#include "mail/address_text.h"

namespace jw {

int NthPos(std::string_view search, std::string_view text, int n) {
  const int past_end = static_cast<int>(text.size()) + 1;
  if (n == 0) return 0;
  if (search.empty() || search.size() > text.size()) return n > 0 ? past_end : 0;
  const size_t last_start = text.size() - search.size();
  int found = 0;
  if (n > 0) {
    for (size_t i = 0; i <= last_start; ++i) {
      if (text.compare(i, search.size(), search) == 0 && ++found == n) {
        return static_cast<int>(i) + 1;
      }
    }
    return past_end;
  }
  for (size_t i = last_start + 1; i-- > 0;) {
    if (text.compare(i, search.size(), search) == 0 && ++found == -n) {
      return static_cast<int>(i) + 1;
    }
  }
  return 0;
}

std::string FileNameOf(std::string_view path) {
  size_t cut = path.find_last_of("\\/");
  if (cut == std::string_view::npos) cut = path.rfind(':');
  if (cut == std::string_view::npos) return std::string(path);
  return std::string(path.substr(cut + 1));
}

std::string AddressFrom(std::string_view text, int n) {
  const int at = NthPos("@", text, n);
  if (at == 0 || at > static_cast<int>(text.size())) return std::string();
  // The address starts after the last separator before its "@".
  const std::string_view before = text.substr(0, static_cast<size_t>(at) - 1);
  const size_t separator = before.find_last_of(" ,;");
  std::string_view rest = separator == std::string_view::npos ? text : text.substr(separator + 1);
  // ... and ends before the next separator; a separator in the first place
  // does not count.
  const size_t end = rest.find_first_of(" ,;", 1);
  if (end != std::string_view::npos) rest = rest.substr(0, end);
  while (!rest.empty() && (rest.front() == '"' || rest.front() == '(' || rest.front() == '<')) {
    rest.remove_prefix(1);
  }
  while (!rest.empty() && (rest.back() == '"' || rest.back() == ')' || rest.back() == '>')) {
    rest.remove_suffix(1);
  }
  return std::string(rest);
}

}  // namespace jw
