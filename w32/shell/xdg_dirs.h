#pragma once
// The places a Linux desktop keeps a user's folders: the XDG base directories
// and the user directories of $XDG_CONFIG_HOME/user-dirs.dirs.
#include <sys/types.h>

#include <string>

namespace w32 {

// $HOME when it is an absolute path, else the user database's home of the
// effective user; empty when neither names one.
std::string HomeFolder();

// An XDG base directory: $variable when it is an absolute path, else
// `under_home` below the home folder. Empty without a home.
std::string XdgBaseDir(const char* variable, const char* under_home);

// A user directory ("XDG_MUSIC_DIR") as user-dirs.dirs sets it, else
// `under_home` below the home folder, as xdg-user-dirs creates it. A file
// that cannot be read counts as absent. Empty without a home.
std::string XdgUserDir(const char* key, const char* under_home);

// Creates the missing folders of an absolute path with `mode` (less the
// umask); false with errno when one cannot be made or a file holds the path.
bool CreateUserFolders(const std::string& path, mode_t mode);

// A machine-wide folder `name` below one of the folders of a list such as
// XDG_DATA_DIRS (`defaults` when unset): the first entry that holds it, else
// the first entry.
std::string XdgSystemDir(const char* variable, const char* defaults, const char* name);

}  // namespace w32
