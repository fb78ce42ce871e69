#pragma once
// The effective user's entry in the user database.
#include <optional>
#include <string>

namespace w32 {

struct UserEntry {
  std::string name;
  std::string home;
};

// Empty when the user has no entry (a uid without a name).
std::optional<UserEntry> EffectiveUserEntry();

}  // namespace w32
