#pragma once
// ICU, opened on first use like the other large libraries (support/delay_load.h),
// so that loading libw32 does not map it. Distributions build ICU with its
// version in every symbol name (uloc_getLCID_72); the version is found when
// the library is opened.
#include <unicode/uloc.h>

namespace w32 {

struct IcuApi {
  decltype(&::uloc_addLikelySubtags) uloc_addLikelySubtags;
  decltype(&::uloc_getCountry) uloc_getCountry;
  decltype(&::uloc_getDisplayName) uloc_getDisplayName;
  decltype(&::uloc_getISO3Country) uloc_getISO3Country;
  decltype(&::uloc_getISO3Language) uloc_getISO3Language;
  decltype(&::uloc_getLCID) uloc_getLCID;
  decltype(&::uloc_getLanguage) uloc_getLanguage;
  decltype(&::uloc_getLocaleForLCID) uloc_getLocaleForLCID;
};

// The bound functions, or null when ICU's common library is missing or lacks one.
const IcuApi* Icu();

}  // namespace w32
