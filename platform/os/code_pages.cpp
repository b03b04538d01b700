#include "platform/os/code_pages.h"

#include <unicode/uchar.h>
#include <unicode/ucnv.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

#include "platform/rtl/exceptions.h"

namespace jw {
namespace {

constexpr char16_t kUndefinedBase = 0xF700;

struct ConverterCloser {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};

[[noreturn]] void RaiseMissing(uint16_t number) {
  throw EConvertError("Code page " + std::to_string(number) + " is not available");
}

// The character of one byte, or 0xFFFF when the converter has none.
char16_t ConvertByte(UConverter* converter, uint8_t byte) {
  UErrorCode status = U_ZERO_ERROR;
  ucnv_reset(converter);
  const char source = static_cast<char>(byte);
  UChar target[4];
  const int32_t n = ucnv_toUChars(converter, target, 4, &source, 1, &status);
  if (U_FAILURE(status) || n != 1 || U16_IS_SURROGATE(target[0])) return 0xFFFF;
  return target[0];
}

}  // namespace

TCodePage::TCodePage(uint16_t number) : number_(number) {
  UErrorCode status = U_ZERO_ERROR;
  const std::string name = "windows-" + std::to_string(number);
  std::unique_ptr<UConverter, ConverterCloser> converter(ucnv_open(name.c_str(), &status));
  if (U_FAILURE(status) || !converter) RaiseMissing(number);
  ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  if (U_FAILURE(status)) RaiseMissing(number);

  for (int b = 0; b < 256; ++b) {
    char16_t c = ConvertByte(converter.get(), static_cast<uint8_t>(b));
    // A character that an earlier byte already took would make the way back
    // ambiguous; such a byte counts as undefined too.
    const bool taken =
        std::find(to_unicode_.begin(), to_unicode_.begin() + b, c) != to_unicode_.begin() + b;
    if (c == 0xFFFF || c == 0xFFFD || taken) c = static_cast<char16_t>(kUndefinedBase + b);
    to_unicode_[b] = c;
  }
  for (int b = 0; b < 256; ++b) {
    const char16_t c = to_unicode_[b];
    uint8_t mapped = 0;
    upper_[b] =
        FromUnicode(static_cast<char16_t>(u_toupper(c)), mapped) ? mapped : static_cast<uint8_t>(b);
    lower_[b] =
        FromUnicode(static_cast<char16_t>(u_tolower(c)), mapped) ? mapped : static_cast<uint8_t>(b);
  }
}

bool TCodePage::FromUnicode(char16_t c, uint8_t& byte) const {
  // ASCII is the same in every code page here; the rest is a short search.
  if (c < 0x80 && to_unicode_[c] == c) {
    byte = static_cast<uint8_t>(c);
    return true;
  }
  for (int b = 0; b < 256; ++b) {
    if (to_unicode_[b] == c) {
      byte = static_cast<uint8_t>(b);
      return true;
    }
  }
  return false;
}

std::u16string TCodePage::Decode(std::string_view bytes) const {
  std::u16string text(bytes.size(), u'\0');
  for (size_t i = 0; i < bytes.size(); ++i) text[i] = to_unicode_[static_cast<uint8_t>(bytes[i])];
  return text;
}

bool TCodePage::Encode(std::u16string_view text, std::string& bytes) const {
  bytes.clear();
  bytes.reserve(text.size());
  for (const char16_t c : text) {
    uint8_t byte = 0;
    if (!FromUnicode(c, byte)) return false;
    bytes.push_back(static_cast<char>(byte));
  }
  return true;
}

const TCodePage& CodePage(uint16_t number) {
  static std::mutex lock;
  static std::map<uint16_t, std::unique_ptr<TCodePage>> pages;
  const std::lock_guard<std::mutex> guard(lock);
  auto& page = pages[number];
  if (!page) {
    try {
      page = std::make_unique<TCodePage>(number);
    } catch (...) {
      pages.erase(number);
      throw;
    }
  }
  return *page;
}

}  // namespace jw
