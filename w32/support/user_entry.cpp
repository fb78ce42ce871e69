#include "support/user_entry.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace w32 {

std::optional<UserEntry> EffectiveUserEntry() {
  const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> scratch(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  while (::getpwuid_r(::geteuid(), &entry, scratch.data(), scratch.size(), &found) == ERANGE) {
    scratch.resize(scratch.size() * 2);
  }
  if (found == nullptr) return std::nullopt;
  return UserEntry{found->pw_name, found->pw_dir != nullptr ? found->pw_dir : ""};
}

}  // namespace w32
