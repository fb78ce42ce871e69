#pragma once
// What the platform says of locales and regions that ICU does not know.
#include <windows.h>

#include <string_view>

namespace w32 {

// The platform's three-letter LOCALE_SABBREVLANGNAME of a specific locale
// ("ENU" for 0x0409); null for a locale our table does not carry.
const char* LegacyLanguageAbbreviation(LCID lcid);

struct Region {
  char code[4];       // ISO 3166 alpha-2, or a UN M.49 area such as "029"
  GEOID geo_id;       // the platform's nation identifier; 0 when it has none
  int calling_code;   // LOCALE_ICOUNTRY
};

const Region* RegionByCode(std::string_view code);
const Region* RegionByGeoId(GEOID id);

}  // namespace w32
