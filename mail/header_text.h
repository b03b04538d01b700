// Header fields of internet messages and MIME parts: non-ASCII text as
// RFC 2047 encoded-words ("=?UTF-8?B?...?="), MIME parameter values quoted
// or, when not ASCII, in the RFC 2231 form (filename*=UTF-8''%C3%A4.txt),
// and long header lines folded as RFC 5322 requires. Text that is ASCII and
// fits goes out exactly as given.
#pragma once

#include <string>
#include <string_view>

namespace jw {

class TStrings;

// The longest line RFC 5322 allows, without its CR LF.
constexpr size_t kMaxHeaderLineOctets = 998;

// The length lines are folded to where they can be, as RFC 5322 advises.
constexpr size_t kFoldedLineOctets = 78;

// Raises ETcpIpError "Line break in <what>" when text holds a CR or LF: such
// a text would end a header line or command early and smuggle in its own.
void RefuseLineBreaks(const std::string& text, const std::string& what);

// Raises ETcpIpError "Control character in <what>" when a text that goes out
// as it is (an address, a header line) holds a control byte: below 32 but
// the tab, or 127. A line break is refused first, as RefuseLineBreaks does.
void RefuseControlBytes(const std::string& text, const std::string& what);

// "name: text" for free text such as a subject. Text with a control byte or
// a byte from 128 up (taken as UTF-8), or with a word too long for any line,
// becomes encoded-words that decode to exactly the text.
std::string UnstructuredField(std::string_view name, std::string_view text);

// "name: list" for a free-text address list ("Ann <ann@x.org>, bob@y.org").
// A display name before "<...>" that holds a control byte or a byte from 128
// up becomes encoded-words (its quotes taken off); everything else is kept.
// A control byte in an address raises ETcpIpError, as RefuseControlBytes.
std::string AddressField(std::string_view name, std::string_view list);

// A MIME parameter: name="value" with " and \ escaped for printable ASCII
// values; name*=UTF-8''value with the bytes percent-encoded otherwise, split into
// numbered sections (name*0*=..; name*1*=..) when it would not fit a line.
std::string MimeParameter(std::string_view name, std::string_view value);

// Adds a header line to the list, folded before blanks into lines of at
// most kFoldedLineOctets where the words allow it; each further line starts
// with the blank it was folded at, so unfolding gives back the line.
void AddFoldedHeaderLine(TStrings& lines, std::string_view line);

}  // namespace jw
