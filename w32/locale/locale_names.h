#pragma once
// The user's and the system's locales, from the POSIX locale settings, as ICU
// locale names and platform LCIDs.
#include <windows.h>

#include <string>
#include <string_view>

#include "locale/icu.h"

namespace w32 {

// The locale a POSIX category takes from the environment: LC_ALL, else the
// category's own variable, else LANG (the first that is set and not empty).
std::string PosixSetting(const char* category);

// The ICU name ("de_DE", "sr_Latn_RS") of a POSIX locale name such as
// "de_DE.UTF-8@euro"; empty for "C", "POSIX" and anything that is no
// language[_territory][.codeset][@modifier].
std::string IcuNameOfPosix(std::string_view posix);

// The territory of a POSIX locale name ("DE" of "de_DE.UTF-8"); empty when it has none.
std::string TerritoryOfPosix(std::string_view posix);

// The system's default locale: LC_ALL, LC_MESSAGES or LANG of the system's
// locale configuration (etc/default/locale, else etc/locale.conf, below W32_SYSROOT).
std::string SystemPosixSetting();

// The LCID of a POSIX locale name; American English (0x0409), the language of
// the C locale's messages, when it names no locale that ICU knows.
LCID LcidOfPosix(const IcuApi& icu, std::string_view posix);

// The ICU name of a locale identifier that ICU knows both ways (the name maps
// back to the same LCID); empty otherwise.
std::string IcuNameOfLcid(const IcuApi& icu, LCID lcid);

// Writes `text` and a terminating zero as the platform's locale functions do:
// a size of 0 asks for the size needed; a short buffer is ERROR_INSUFFICIENT_BUFFER.
// The number of characters written (or needed) with the zero; 0 on failure.
int CopyLocaleText(std::u16string_view text, LPWSTR buffer, int size);

}  // namespace w32
