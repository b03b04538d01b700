// Small string, shell and question helpers that every unit of the note
// application shares: blank trimming, whole-number parsing, tokens split at a
// unit-wide delimiter set, first-occurrence replacement, opening a file
// through the desktop and Yes/No questions.
#pragma once

#include <string>
#include <string_view>

namespace jw {

// The text without leading and trailing blanks (only the character 32).
std::string TrimBlanks(std::string_view text);

// The blank-trimmed text as a whole number; 0 when it is not one.
int StrToIntOrZero(std::string_view text);

// The characters NextToken splits at. A blank until the first DescToFont,
// which makes it the comma for the rest of the run.
const std::string& TokenDelimiters();
void SetTokenDelimiters(std::string delimiters);

// Skips leading delimiters, then cuts off and returns the characters up to the
// next delimiter, removing that delimiter too. Without one, returns the rest
// and leaves the text empty.
std::string NextToken(std::string& text);

// The n-th token by NextToken (counting from 1); empty for n below 1 or when
// an earlier token is empty.
std::string NthToken(std::string text, int n);

// Replaces the first occurrence of search; nothing when it does not occur.
void ReplaceFirst(std::string& text, std::string_view search, std::string_view replacement);

// Asks the desktop to open the file; when it cannot, tells the user
// "Problem opening file " and the path.
void OpenWithShell(const std::string& path);

// A confirmation question with the buttons Yes and No; true for Yes.
bool ConfirmYesNo(const std::string& text);

}  // namespace jw
