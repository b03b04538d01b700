// Text functions of the mail transport: the n-th occurrence of a text, the
// file-name part of a path, and the n-th e-mail address of a free-text
// address list such as "Ann <ann@x.org>, bob@y.org".
#pragma once

#include <string>
#include <string_view>

namespace jw {

// For n > 0, the 1-based position of the n-th occurrence of `search` in
// `text`, occurrences counted from the start and allowed to overlap; when
// there are fewer, text.size() + 1. For n < 0, the position of the |n|-th
// occurrence counted from the end, 0 when there are fewer. For n = 0, 0.
// An empty search text has no occurrences.
int NthPos(std::string_view search, std::string_view text, int n);

// The part of a path after its last "\" or "/", else after its last ":",
// else the whole path.
std::string FileNameOf(std::string_view path);

// The n-th address of a free-text address list, without the quotes,
// parentheses or angle brackets around it; empty when the list has no n-th
// "@".
std::string AddressFrom(std::string_view text, int n);

}  // namespace jw
