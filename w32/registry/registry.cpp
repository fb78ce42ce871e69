#include <windows.h>

#include <cstring>

#include "kernel/handle_table.h"
#include "registry/reg_file.h"
#include "support/text.h"

namespace w32 {
namespace {

// An open key keeps the values it had when it was opened.
class OpenKey : public KernelObject {
 public:
  OpenKey(std::u16string path, RegistryKey key) : path(std::move(path)), key(std::move(key)) {}
  const std::u16string path;
  const RegistryKey key;
};

const char16_t* PredefinedRoot(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return u"hkey_classes_root";
  if (key == HKEY_CURRENT_USER) return u"hkey_current_user";
  if (key == HKEY_LOCAL_MACHINE) return u"hkey_local_machine";
  if (key == HKEY_USERS) return u"hkey_users";
  return nullptr;
}

}  // namespace
}  // namespace w32

// RegOpenKeyExW: looks the key up in the .reg file named by W32_REGISTRY.
LSTATUS APIENTRY RegOpenKeyExW(HKEY parent, LPCWSTR sub_key, DWORD, REGSAM, HKEY* result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::u16string path;
  if (const char16_t* root = w32::PredefinedRoot(parent)) {
    path = root;
  } else if (auto open = w32::LookupHandleAs<w32::OpenKey>(parent)) {
    path = open->path;
  } else {
    return ERROR_INVALID_HANDLE;
  }
  if (sub_key != nullptr) {
    std::u16string sub = w32::AsciiLower(sub_key);
    while (!sub.empty() && sub.back() == u'\\') sub.pop_back();
    if (!sub.empty() && sub.front() == u'\\') return ERROR_BAD_PATHNAME;
    if (!sub.empty()) path += u"\\" + sub;
  }
  w32::RegistryHive hive = w32::LoadRegistry();
  w32::RegistryKey key;
  if (auto it = hive.find(path); it != hive.end()) {
    key = std::move(it->second);
  } else {
    // A key exists when it is a root or when some key below it is written down.
    auto below = hive.lower_bound(path + u"\\");
    const bool has_children = below != hive.end() && below->first.compare(0, path.size() + 1, path + u"\\") == 0;
    if (path.find(u'\\') != std::u16string::npos && !has_children) return ERROR_FILE_NOT_FOUND;
  }
  *result = static_cast<HKEY>(w32::InsertHandle(std::make_shared<w32::OpenKey>(path, std::move(key))));
  return ERROR_SUCCESS;
}

// RegQueryValueExW: a value of an open key, sized and copied as the platform does.
LSTATUS APIENTRY RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
  if (reserved != nullptr || (data != nullptr && size == nullptr)) return ERROR_INVALID_PARAMETER;
  auto open = w32::LookupHandleAs<w32::OpenKey>(key);
  if (!open) return ERROR_INVALID_HANDLE;
  auto it = open->key.values.find(name == nullptr ? std::u16string() : w32::AsciiLower(name));
  if (it == open->key.values.end()) return ERROR_FILE_NOT_FOUND;
  const w32::RegistryValue& value = it->second;
  if (type != nullptr) *type = value.type;
  if (size == nullptr) return ERROR_SUCCESS;
  const DWORD needed = static_cast<DWORD>(value.data.size());
  if (data == nullptr) {
    *size = needed;
    return ERROR_SUCCESS;
  }
  if (*size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (needed > 0) std::memcpy(data, value.data.data(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

// RegCloseKey: closes a key opened by RegOpenKeyExW; the predefined keys stay open.
LSTATUS APIENTRY RegCloseKey(HKEY key) {
  if (w32::PredefinedRoot(key) != nullptr) return ERROR_SUCCESS;
  if (!w32::LookupHandleAs<w32::OpenKey>(key)) return ERROR_INVALID_HANDLE;
  w32::RemoveHandle(key);
  return ERROR_SUCCESS;
}
