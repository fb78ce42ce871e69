// Locale information over ICU: identifiers, names and regions from ICU, the
// platform's own abbreviations and telephone codes from locale_tables.h.
#include <windows.h>

#include <cstdio>
#include <string>

#include "locale/icu.h"
#include "locale/locale_names.h"
#include "locale/locale_tables.h"
#include "support/text.h"

namespace w32 {
namespace {

constexpr LCID kLastPlainLcid = 0xFFFF;  // above it: alternate sort orders

// The locale an LCID names: the defaults from the settings, others by ICU.
std::string ResolveLcid(const IcuApi& icu, LCID lcid) {
  switch (lcid) {
    case LOCALE_NEUTRAL:
    case LOCALE_USER_DEFAULT:
    case LOCALE_CUSTOM_DEFAULT:
    case LOCALE_CUSTOM_UI_DEFAULT:
      lcid = LcidOfPosix(icu, PosixSetting("LC_MESSAGES"));
      break;
    case LOCALE_SYSTEM_DEFAULT:
      lcid = LcidOfPosix(icu, SystemPosixSetting());
      break;
    default:
      break;
  }
  return IcuNameOfLcid(icu, lcid);
}

// The region of a locale, or of the locale ICU thinks most likely for a
// language alone ("en" -> "US").
std::string RegionOf(const IcuApi& icu, const std::string& name) {
  char region[ULOC_COUNTRY_CAPACITY + 4] = {};
  UErrorCode status = U_ZERO_ERROR;
  icu.uloc_getCountry(name.c_str(), region, sizeof region - 1, &status);
  if (U_SUCCESS(status) && region[0] != 0) return region;
  char likely[ULOC_FULLNAME_CAPACITY] = {};
  status = U_ZERO_ERROR;
  icu.uloc_addLikelySubtags(name.c_str(), likely, sizeof likely - 1, &status);
  if (U_FAILURE(status)) return std::string();
  status = U_ZERO_ERROR;
  icu.uloc_getCountry(likely, region, sizeof region - 1, &status);
  return U_SUCCESS(status) ? region : "";
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// LOCALE_SLANGUAGE: the locale's name in the user's interface language.
std::u16string DisplayName(const IcuApi& icu, const std::string& name) {
  std::string interface_locale = IcuNameOfPosix(PosixSetting("LC_MESSAGES"));
  if (interface_locale.empty()) interface_locale = "en_US";
  UChar text[256];
  UErrorCode status = U_ZERO_ERROR;
  const int32_t length = icu.uloc_getDisplayName(name.c_str(), interface_locale.c_str(), text, 256, &status);
  if (U_FAILURE(status) || length <= 0 || length > 256) return std::u16string();
  return std::u16string(text, text + length);
}

// LOCALE_SABBREVLANGNAME: our table, for a neutral locale that of its
// language's first sublanguage, else the ISO 639-2 code in capitals.
std::u16string LanguageAbbreviation(const IcuApi& icu, LCID lcid, const std::string& name) {
  const LCID plain = lcid & 0xFFFF;
  const char* legacy = LegacyLanguageAbbreviation(plain);
  if (legacy == nullptr && (plain >> 10) == 0) legacy = LegacyLanguageAbbreviation(plain | 0x0400);
  if (legacy != nullptr) return ToUtf16(legacy);
  return ToUtf16(Upper(icu.uloc_getISO3Language(name.c_str())));
}

// LOCALE_SABBREVCTRYNAME: the ISO 3166 three-letter code of the region.
std::u16string CountryAbbreviation(const IcuApi& icu, const std::string& name) {
  const std::string region = RegionOf(icu, name);
  const std::string code = icu.uloc_getISO3Country(("und_" + region).c_str());
  return ToUtf16(code.empty() ? region : code);
}

// LOCALE_ICOUNTRY: the telephone country code of the region; 0 (the
// platform's CTRY_DEFAULT) for a region without one.
std::u16string CountryCode(const IcuApi& icu, const std::string& name) {
  const Region* region = RegionByCode(RegionOf(icu, name));
  return ToUtf16(std::to_string(region != nullptr ? region->calling_code : 0));
}

}  // namespace
}  // namespace w32

// GetLocaleInfoW: the four fields the module reads (language name and
// abbreviation, country abbreviation and code) of any locale ICU knows; the
// user's defaults come from LC_ALL, LC_MESSAGES or LANG, the system's from
// its locale configuration. Other fields are ERROR_INVALID_FLAGS.
int WINAPI GetLocaleInfoW(LCID lcid, LCTYPE type, LPWSTR buffer, int size) {
  if (size < 0 || (buffer == nullptr && size != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  type &= ~LOCALE_NOUSEROVERRIDE;
  if (type != LOCALE_SLANGUAGE && type != LOCALE_SABBREVLANGNAME && type != LOCALE_ICOUNTRY &&
      type != LOCALE_SABBREVCTRYNAME) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  const w32::IcuApi* icu = w32::Icu();
  const std::string name = icu != nullptr ? w32::ResolveLcid(*icu, lcid) : std::string();
  if (name.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string text;
  switch (type) {
    case LOCALE_SLANGUAGE:
      text = w32::DisplayName(*icu, name);
      break;
    case LOCALE_SABBREVLANGNAME:
      text = w32::LanguageAbbreviation(*icu, icu->uloc_getLCID(name.c_str()), name);
      break;
    case LOCALE_ICOUNTRY:
      text = w32::CountryCode(*icu, name);
      break;
    default:
      text = w32::CountryAbbreviation(*icu, name);
      break;
  }
  return w32::CopyLocaleText(text, buffer, size);
}

// EnumSystemLocalesW: every locale identifier without an alternate sort order
// that ICU knows both ways, in ascending order, as eight hexadecimal digits.
// All of them count as installed; 0 asks for the supported ones, as
// LCID_SUPPORTED does. Only actual locales: an identifier with a neutral
// sublanguage (0x0009 English, 0x007F invariant) stands for a default that
// ConvertDefaultLocale turns into one. Alternate sort orders are not
// enumerated.
BOOL WINAPI EnumSystemLocalesW(LOCALE_ENUMPROCW callback, DWORD flags) {
  if (callback == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if ((flags & ~static_cast<DWORD>(LCID_INSTALLED | LCID_SUPPORTED)) != 0 ||
      flags == (LCID_INSTALLED | LCID_SUPPORTED)) {
    SetLastError(ERROR_INVALID_FLAGS);
    return FALSE;
  }
  const w32::IcuApi* icu = w32::Icu();
  if (icu == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  for (LCID lcid = 1; lcid <= w32::kLastPlainLcid; ++lcid) {
    if (SUBLANGID(LANGIDFROMLCID(lcid)) == SUBLANG_NEUTRAL || w32::IcuNameOfLcid(*icu, lcid).empty()) continue;
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(lcid));
    std::u16string text = w32::ToUtf16(digits);
    if (!callback(text.data())) break;
  }
  return TRUE;
}
