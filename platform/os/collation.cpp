#include "platform/os/collation.h"

#include <unicode/ucol.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "platform/os/code_pages.h"
#include "platform/os/locale_data.h"

namespace jw {
namespace {

constexpr uint32_t kCompareFlags = NORM_IGNORECASE | NORM_IGNORENONSPACE | SORT_STRINGSORT;

struct CollatorCloser {
  void operator()(UCollator* collator) const { ucol_close(collator); }
};

UCollator* OpenCollator(const TLocaleEntry& entry, uint32_t flags) {
  std::string name = entry.IcuLocale;
  if (entry.IcuSortName != nullptr) name += std::string("@collation=") + entry.IcuSortName;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UCollator, CollatorCloser> collator(ucol_open(name.c_str(), &status));
  if (U_FAILURE(status) || !collator) return nullptr;

  const bool ignore_case = (flags & NORM_IGNORECASE) != 0;
  const bool ignore_marks = (flags & NORM_IGNORENONSPACE) != 0;
  UColAttributeValue strength = UCOL_TERTIARY;
  if (ignore_marks) {
    strength = UCOL_PRIMARY;
  } else if (ignore_case) {
    strength = UCOL_SECONDARY;
  }
  ucol_setAttribute(collator.get(), UCOL_STRENGTH, strength, &status);
  // Marks ignored but case kept: the case level sits above the primary one.
  ucol_setAttribute(collator.get(), UCOL_CASE_LEVEL,
                    ignore_marks && !ignore_case ? UCOL_ON : UCOL_OFF, &status);
  ucol_setAttribute(collator.get(), UCOL_ALTERNATE_HANDLING,
                    (flags & SORT_STRINGSORT) != 0 ? UCOL_NON_IGNORABLE : UCOL_SHIFTED, &status);
  if (U_FAILURE(status)) return nullptr;
  return collator.release();
}

// The collator of a locale and a comparison variant, opened once. ICU
// collators may be used by several threads at once for comparisons.
UCollator* Collator(const TLocaleEntry& entry, uint32_t flags) {
  static std::mutex lock;
  static std::map<std::pair<const TLocaleEntry*, uint32_t>,
                  std::unique_ptr<UCollator, CollatorCloser>>
      collators;
  const std::lock_guard<std::mutex> guard(lock);
  auto& collator = collators[{&entry, flags & kCompareFlags}];
  if (!collator) collator.reset(OpenCollator(entry, flags));
  return collator.get();
}

size_t TextLength(const char* s, int32_t length) {
  return length == -1 ? std::strlen(s) : strnlen(s, static_cast<size_t>(length));
}

}  // namespace

int CompareStringA(uint32_t lcid, uint32_t flags, const char* s1, int32_t length1, const char* s2,
                   int32_t length2) {
  const TLocaleEntry* entry = FindLocale(lcid);
  if (entry == nullptr || s1 == nullptr || s2 == nullptr || length1 < -1 || length2 < -1) return 0;
  UCollator* collator = Collator(*entry, flags);
  if (collator == nullptr) return 0;
  const TCodePage& page = CodePage(entry->CodePage);
  const std::u16string text1 = page.Decode(std::string_view(s1, TextLength(s1, length1)));
  const std::u16string text2 = page.Decode(std::string_view(s2, TextLength(s2, length2)));
  const UCollationResult result = ucol_strcoll(
      collator, reinterpret_cast<const UChar*>(text1.data()), static_cast<int32_t>(text1.size()),
      reinterpret_cast<const UChar*>(text2.data()), static_cast<int32_t>(text2.size()));
  if (result == UCOL_LESS) return CSTR_LESS_THAN;
  if (result == UCOL_GREATER) return CSTR_GREATER_THAN;
  return CSTR_EQUAL;
}

int LCMapStringA(uint32_t lcid, uint32_t flags, const char* source, int32_t source_length,
                 char* destination, int32_t destination_size) {
  const TLocaleEntry* entry = FindLocale(lcid);
  const bool upper = (flags & LCMAP_UPPERCASE) != 0;
  const bool lower = (flags & LCMAP_LOWERCASE) != 0;
  if (entry == nullptr || upper == lower || source == nullptr || destination == nullptr ||
      source_length < -1) {
    return 0;
  }
  const size_t length =
      source_length == -1 ? std::strlen(source) + 1 : static_cast<size_t>(source_length);
  if (destination_size < 0 || length > static_cast<size_t>(destination_size)) return 0;
  const TCodePage& page = CodePage(entry->CodePage);
  const auto& table = upper ? page.UpperTable() : page.LowerTable();
  for (size_t i = 0; i < length; ++i) {
    destination[i] = static_cast<char>(table[static_cast<uint8_t>(source[i])]);
  }
  return static_cast<int>(length);
}

}  // namespace jw
