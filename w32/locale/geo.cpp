#include <windows.h>

#include <string>

#include "locale/icu.h"
#include "locale/locale_names.h"
#include "locale/locale_tables.h"
#include "support/text.h"

// GetUserGeoID: the nation of the territory of the user's address locale
// (LC_ALL, else LC_ADDRESS, else LANG); not available when that names none.
GEOID WINAPI GetUserGeoID(GEOCLASS geo_class) {
  if (geo_class != GEOCLASS_NATION) return GEOID_NOT_AVAILABLE;
  const w32::Region* region = w32::RegionByCode(w32::TerritoryOfPosix(w32::PosixSetting("LC_ADDRESS")));
  return region != nullptr && region->geo_id != 0 ? region->geo_id : GEOID_NOT_AVAILABLE;
}

// GetGeoInfoW: a nation's identifier and ISO 3166 codes, from our table of
// nations and ICU's three-letter codes. Other kinds are ERROR_INVALID_FLAGS.
int WINAPI GetGeoInfoW(GEOID location, GEOTYPE type, LPWSTR buffer, int size, LANGID) {
  if (size < 0 || (buffer == nullptr && size != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (type != GEO_NATION && type != GEO_ISO2 && type != GEO_ISO3) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  const w32::Region* region = w32::RegionByGeoId(location);
  if (region == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string text;
  if (type == GEO_NATION) {
    text = std::to_string(region->geo_id);
  } else if (type == GEO_ISO2) {
    text = region->code;
  } else {
    const w32::IcuApi* icu = w32::Icu();
    if (icu == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    text = icu->uloc_getISO3Country((std::string("und_") + region->code).c_str());
  }
  return w32::CopyLocaleText(w32::ToUtf16(text), buffer, size);
}
