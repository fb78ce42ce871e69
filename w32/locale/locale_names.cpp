#include "locale/locale_names.h"

#include <cstdlib>

#include "support/shell_settings.h"
#include "support/sysroot.h"

namespace w32 {
namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

struct PosixLocale {
  std::string language;   // lower case, 2 or 3 letters
  std::string territory;  // upper case, 2 letters or 3 digits; may be empty
  std::string script;     // from the modifier: "Latn", "Cyrl" or empty
};

// language[_territory][.codeset][@modifier]; false for anything else.
bool ParsePosix(std::string_view name, PosixLocale* locale) {
  std::string_view modifier;
  if (const size_t at = name.find('@'); at != std::string_view::npos) {
    modifier = name.substr(at + 1);
    name = name.substr(0, at);
  }
  if (const size_t dot = name.find('.'); dot != std::string_view::npos) name = name.substr(0, dot);
  std::string_view territory;
  if (const size_t underscore = name.find('_'); underscore != std::string_view::npos) {
    territory = name.substr(underscore + 1);
    name = name.substr(0, underscore);
  }
  if (name.size() < 2 || name.size() > 3) return false;
  for (const char c : name) {
    if (!IsAsciiLetter(c)) return false;
  }
  const bool letters = territory.size() == 2 && IsAsciiLetter(territory[0]) && IsAsciiLetter(territory[1]);
  const bool digits = territory.size() == 3 && IsAsciiDigit(territory[0]) && IsAsciiDigit(territory[1]) &&
                      IsAsciiDigit(territory[2]);
  if (!territory.empty() && !letters && !digits) return false;
  locale->language.clear();
  for (const char c : name) locale->language += Lower(c);
  locale->territory.clear();
  for (const char c : territory) locale->territory += Upper(c);
  locale->script = modifier == "latin" ? "Latn" : modifier == "cyrillic" ? "Cyrl" : "";
  return true;
}

// The value of KEY=VALUE, KEY="VALUE" or KEY='VALUE' in a shell-style
// settings file; empty when the key is not there.
std::string SettingOf(const std::string& text, std::string_view key) {
  std::string value;
  ForEachAssignment(text, key, [&](std::string_view line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) line.remove_suffix(1);
    if (line.size() >= 2 && (line.front() == '"' || line.front() == '\'') && line.back() == line.front()) {
      line = line.substr(1, line.size() - 2);
    }
    value.assign(line);
  });
  return value;
}

}  // namespace

std::string PosixSetting(const char* category) {
  for (const char* name : {"LC_ALL", category, "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != 0) return value;
  }
  return std::string();
}

std::string IcuNameOfPosix(std::string_view posix) {
  PosixLocale locale;
  if (!ParsePosix(posix, &locale)) return std::string();
  std::string name = locale.language;
  if (!locale.script.empty()) name += "_" + locale.script;
  if (!locale.territory.empty()) name += "_" + locale.territory;
  return name;
}

std::string TerritoryOfPosix(std::string_view posix) {
  PosixLocale locale;
  return ParsePosix(posix, &locale) ? locale.territory : std::string();
}

std::string SystemPosixSetting() {
  for (const char* file : {"/etc/default/locale", "/etc/locale.conf"}) {
    const std::string text = ReadSysText(file);
    for (const char* key : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
      std::string value = SettingOf(text, key);
      if (!value.empty()) return value;
    }
  }
  return std::string();
}

LCID LcidOfPosix(const IcuApi& icu, std::string_view posix) {
  constexpr LCID kAmericanEnglish = 0x0409;
  const std::string name = IcuNameOfPosix(posix);
  if (name.empty()) return kAmericanEnglish;
  const LCID lcid = icu.uloc_getLCID(name.c_str());
  return lcid != 0 ? lcid : kAmericanEnglish;
}

std::string IcuNameOfLcid(const IcuApi& icu, LCID lcid) {
  char name[ULOC_FULLNAME_CAPACITY];
  UErrorCode status = U_ZERO_ERROR;
  const int32_t length = icu.uloc_getLocaleForLCID(lcid, name, sizeof name, &status);
  if (U_FAILURE(status) || length <= 0 || length >= static_cast<int32_t>(sizeof name)) return std::string();
  name[length] = 0;
  return icu.uloc_getLCID(name) == lcid ? std::string(name, static_cast<size_t>(length)) : std::string();
}

int CopyLocaleText(std::u16string_view text, LPWSTR buffer, int size) {
  const int needed = static_cast<int>(text.size()) + 1;
  if (size == 0) return needed;
  if (size < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  text.copy(buffer, text.size());
  buffer[text.size()] = 0;
  return needed;
}

}  // namespace w32
