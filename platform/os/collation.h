// Locale-aware comparison and case mapping of single-byte text, over ICU.
// Text is read in the locale's code page (locale_data.h); one collator is
// kept per locale and comparison variant for the life of the process.
#pragma once

#include <cstdint>

namespace jw {

// Comparison flags.
constexpr uint32_t NORM_IGNORECASE = 0x00000001;
// Accents and other marks do not count (primary strength); without
// NORM_IGNORECASE, case still does (the case level).
constexpr uint32_t NORM_IGNORENONSPACE = 0x00000002;
// Punctuation and symbols count like letters instead of being skipped.
constexpr uint32_t SORT_STRINGSORT = 0x00001000;

// Comparison results.
constexpr int CSTR_LESS_THAN = 1;
constexpr int CSTR_EQUAL = 2;
constexpr int CSTR_GREATER_THAN = 3;

// Compares two texts of the LCID's code page. A length of -1 means the text
// ends at its zero; any other length counts bytes, and a text also ends at a
// zero within them. 0 for an LCID outside the locale table or a negative
// length other than -1. Without SORT_STRINGSORT or any NORM_ flag the
// comparison is tertiary (accents, then case, count).
int CompareStringA(uint32_t lcid, uint32_t flags, const char* s1, int32_t length1, const char* s2,
                   int32_t length2);

// Case mapping flags.
constexpr uint32_t LCMAP_LOWERCASE = 0x00000100;
constexpr uint32_t LCMAP_UPPERCASE = 0x00000200;

// Maps the source (length -1: up to its zero) into the destination, which
// may be the source, through the case tables of the LCID's code page. The
// text keeps its length. Writes at most destination_size bytes including
// the terminating zero when the source was zero-terminated, and returns the
// bytes written (0 for an unknown LCID, a missing flag, or too small a
// destination).
int LCMapStringA(uint32_t lcid, uint32_t flags, const char* source, int32_t source_length,
                 char* destination, int32_t destination_size);

}  // namespace jw
