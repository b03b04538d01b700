#include "engine/support/locale_list.h"

#include "platform/os/locale_data.h"
#include "platform/rtl/strings.h"

namespace jw {
namespace {

constexpr TEngineLocale kEngineLocales[] = {
    {"ANSI Standard", 0x0000},
    {"Afrikaans", 0x0436},
    {"Albanian", 0x041C},
    {"Arabic (Saudi Arabia)", 0x0401},
    {"Arabic (Iraq)", 0x0801},
    {"Arabic (Egypt)", 0x0C01},
    {"Arabic (Libya)", 0x1001},
    {"Arabic (Algeria)", 0x1401},
    {"Arabic (Morocco)", 0x1801},
    {"Arabic (Tunisia)", 0x1C01},
    {"Arabic (Oman)", 0x2001},
    {"Arabic (Yemen)", 0x2401},
    {"Arabic (Syria)", 0x2801},
    {"Arabic (Jordan)", 0x2C01},
    {"Arabic (Lebanon)", 0x3001},
    {"Arabic (Kuwait)", 0x3401},
    {"Arabic (U.A.E)", 0x3801},
    {"Arabic (Bahrain)", 0x3C01},
    {"Arabic (Qatar)", 0x4001},
    {"Basque", 0x042D},
    {"Belarusian", 0x0423},
    {"Bulgarian", 0x0402},
    {"Catalan", 0x0403},
    {"Croatian", 0x041A},
    {"Czech", 0x0405},
    {"Danish", 0x0406},
    {"Dutch (Standard)", 0x0413},
    {"Dutch (Belgian)", 0x0813},
    {"English (USA)", 0x0409},
    {"English (UK)", 0x0809},
    {"English (Australian)", 0x0C09},
    {"English (Canadian)", 0x1009},
    {"English (New Zealand)", 0x1409},
    {"English (Irish)", 0x1809},
    {"English (South Africa)", 0x1C09},
    {"English (Jamaica)", 0x2009},
    {"English (Caribbean)", 0x2409},
    {"English (Belize)", 0x2809},
    {"English (Trinidad)", 0x2C09},
    {"Estonian", 0x0425},
    {"Faeroese", 0x0438},
    {"Farsi", 0x0429},
    {"Finnish", 0x040B},
    {"French (Standard)", 0x040C},
    {"French (Belgian)", 0x080C},
    {"French (Canadian)", 0x0C0C},
    {"French (Swiss)", 0x100C},
    {"French (Luxembourg)", 0x140C},
    {"German (Standard)", 0x0407},
    {"German (Swiss)", 0x0807},
    {"German (Austrian)", 0x0C07},
    {"German (Luxembourg)", 0x1007},
    {"German (Liechtenstein)", 0x1407},
    {"Greek", 0x0408},
    {"Hebrew", 0x040D},
    {"Hungarian", 0x040E},
    {"Icelandic", 0x040F},
    {"Indonesian", 0x0421},
    {"Italian (Standard)", 0x0410},
    {"Italian (Swiss)", 0x0810},
    {"Latvian", 0x0426},
    {"Lithuanian", 0x0427},
    {"Norwegian (Bokmal)", 0x0414},
    {"Norwegian (Nynorsk)", 0x0814},
    {"Polish", 0x0415},
    {"Portuguese (Standard)", 0x0816},
    {"Portuguese (Brazilian)", 0x0416},
    {"Romanian", 0x0418},
    {"Russian", 0x0419},
    {"Serbian (Latin)", 0x081A},
    {"Serbian (Cyrillic)", 0x0C1A},
    {"Slovak", 0x041B},
    {"Slovenian", 0x0424},
    {"Spanish (Castilian)", 0x040A},
    {"Spanish (Mexican)", 0x080A},
    {"Spanish (Modern)", 0x0C0A},
    {"Spanish (Guatemala)", 0x100A},
    {"Spanish (Costa Rica)", 0x140A},
    {"Spanish (Panama)", 0x180A},
    {"Spanish (Dominican Republic)", 0x1C0A},
    {"Spanish (Venezuela)", 0x200A},
    {"Spanish (Colombia)", 0x240A},
    {"Spanish (Peru)", 0x280A},
    {"Spanish (Argentina)", 0x2C0A},
    {"Spanish (Ecuador)", 0x300A},
    {"Spanish (Chile)", 0x340A},
    {"Spanish (Uruguay)", 0x380A},
    {"Spanish (Paraguay)", 0x3C0A},
    {"Spanish (Bolivia)", 0x400A},
    {"Spanish (El Salvador)", 0x440A},
    {"Spanish (Honduras)", 0x480A},
    {"Spanish (Nicaragua)", 0x4C0A},
    {"Spanish (Puerto Rico)", 0x500A},
    {"Swedish (Standard)", 0x041D},
    {"Swedish (Finland)", 0x081D},
    {"Thai", 0x041E},
    {"Turkish", 0x041F},
    {"Ukranian", 0x0422},
    {"Vietnamese", 0x042A},
};

constexpr std::string_view kDefaultOrder = "Default Order";
constexpr std::string_view kGermanPhoneBookOrder = "German Phone Book Order";

const TEngineLocale* FindLocale(std::string_view name) {
  for (const TEngineLocale& locale : kEngineLocales) {
    if (SameText(locale.Name, name)) return &locale;
  }
  return nullptr;
}

bool IsGerman(uint16_t language_id) {
  for (const TEngineLocale& locale : kEngineLocales) {
    if (locale.LanguageId == language_id) {
      return std::string_view(locale.Name).starts_with("German (");
    }
  }
  return false;
}

}  // namespace

std::span<const TEngineLocale> EngineLocaleList() {
  return kEngineLocales;
}

bool LocaleNameExists(std::string_view name) {
  return FindLocale(name) != nullptr;
}

uint16_t LocaleNameToLanguageID(std::string_view name) {
  const TEngineLocale* locale = FindLocale(name);
  return locale != nullptr ? locale->LanguageId : 0;
}

bool SortNameExists(uint16_t language_id, std::string_view name) {
  return SameText(name, kDefaultOrder) ||
         (IsGerman(language_id) && SameText(name, kGermanPhoneBookOrder));
}

uint16_t SortNameToSortID(uint16_t language_id, std::string_view name) {
  if (IsGerman(language_id) && SameText(name, kGermanPhoneBookOrder)) return kSortGermanPhoneBook;
  return 0;
}

}  // namespace jw
