#include "kernel/named_objects.h"

#include <fcntl.h>
#include <openssl/sha.h>  // types only: libcrypto is opened on first use
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <thread>

#include "kernel/global_names.h"
#include "shell/xdg_dirs.h"
#include "support/delay_load.h"

namespace w32 {
namespace {

const std::u16string kGlobalPrefix = u"Global\\";
const std::u16string kLocalPrefix = u"Local\\";

// Nobody, its maker included, changes a record once it is written.
constexpr mode_t kFileMode = 0444;
// How often we look again, a millisecond apart, at a name that another of our
// own processes is making or removing: about a second, also on a busy machine.
constexpr int kAttempts = 1000;

DWORD ErrorOf(int error) {
  switch (error) {
    case ENOENT:
      return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
    case ENOSPC:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_ACCESS_DENIED;  // a link, another user's file or folder, a folder we may not write
  }
}

std::unique_ptr<NamedObjectEntry> Fail(DWORD error) {
  SetLastError(error);
  return nullptr;
}

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

// The logon session: the desktop's session id, else the kernel's audit
// session. Only letters and digits make a folder name.
std::string SessionId() {
  std::string id;
  if (const char* env = std::getenv("XDG_SESSION_ID"); env != nullptr && *env != 0) {
    id = env;
  } else {
    std::ifstream file("/proc/self/sessionid");
    file >> id;
  }
  const bool plain = !id.empty() && id.size() <= 32 &&
                     std::all_of(id.begin(), id.end(), [](unsigned char c) { return std::isalnum(c) != 0; });
  return plain ? id : "0";
}

bool OursAlone(const struct stat& status) {
  return S_ISDIR(status.st_mode) && status.st_uid == ::geteuid() && (status.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

// Opens the folder `path` (below `parent`), never through a link in its last
// step, when `trusted` accepts what it is.
DWORD OpenFolder(int parent, const std::string& path, bool (*trusted)(const struct stat&), UniqueFd& out) {
  UniqueFd fd(::openat(parent, path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) return ErrorOf(errno);
  struct stat status;
  if (::fstat(fd.get(), &status) != 0 || !trusted(status)) return ERROR_ACCESS_DENIED;
  out = std::move(fd);
  return ERROR_SUCCESS;
}

// Makes, or finds, the folder `name` below `parent`, ours alone.
DWORD OwnFolder(int parent, const std::string& name, UniqueFd& out) {
  if (::mkdirat(parent, name.c_str(), 0700) != 0 && errno != EEXIST) return ErrorOf(errno);
  return OpenFolder(parent, name, OursAlone, out);
}

// The folder of this user's objects, where no other user can make anything:
// in the runtime folder that the desktop made for the user when it is the
// user's alone, else in the user's state folder ($XDG_STATE_HOME).
DWORD OpenUserFolder(UniqueFd& out) {
  const char* runtime_dir = std::getenv("XDG_RUNTIME_DIR");
  UniqueFd parent;
  if (runtime_dir == nullptr || *runtime_dir != '/' ||
      OpenFolder(AT_FDCWD, runtime_dir, OursAlone, parent) != ERROR_SUCCESS) {
    const std::string state = XdgBaseDir("XDG_STATE_HOME", ".local/state");
    if (state.empty()) return ERROR_PATH_NOT_FOUND;
    if (!CreateUserFolders(state, 0700)) return ErrorOf(errno);
    parent = UniqueFd(::open(state.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent) return ErrorOf(errno);
  }
  return OwnFolder(parent.get(), "w32-objects", out);
}

struct HashApi {
  decltype(&::SHA256) SHA256;
};

bool BindHash(const LibrarySymbols& symbols, HashApi& api) { return symbols.Resolve("SHA256", api.SHA256); }

DelayLoaded<HashApi> libcrypto("libcrypto.so.3", BindHash);

// The name's own UTF-16 code units, hashed: names that differ in any unit,
// even an unpaired surrogate, are different objects. Nothing when libcrypto
// cannot be loaded.
std::optional<std::string> HashOf(const std::u16string& name) {
  const HashApi* api = libcrypto.Get();
  if (api == nullptr) return std::nullopt;
  unsigned char digest[SHA256_DIGEST_LENGTH];
  api->SHA256(reinterpret_cast<const unsigned char*>(name.data()), name.size() * sizeof(char16_t), digest);
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : digest) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

// Whether `fd` is still the file `name` in `folder`.
bool IsAt(int folder, const std::string& name, int fd) {
  struct stat there;
  struct stat ours;
  return ::fstatat(folder, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(fd, &ours) == 0 &&
         there.st_dev == ours.st_dev && there.st_ino == ours.st_ino;
}

// Removes `name` if it still is our file `fd`. Callers make sure that no other
// process of ours can remove or make it meanwhile: they hold it exclusively, or
// they are the only process of ours that holds the name.
void RemoveIfAt(int folder, const std::string& name, int fd) {
  if (IsAt(folder, name, fd)) ::unlinkat(folder, name.c_str(), 0);
}

// Opens an existing file for its lock, never through a link; non-blocking, so
// that a FIFO put in its place cannot stop us.
UniqueFd OpenExisting(int folder, const std::string& name) {
  return UniqueFd(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
}

// Makes the file `name` and holds it. Fails with EEXIST when it exists, and
// with EAGAIN when another process took the new file for one left behind
// before we held it.
UniqueFd CreateHeld(int folder, const std::string& name) {
  UniqueFd fd(::openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
  if (!fd) return fd;
  if (::fchmod(fd.get(), kFileMode) == 0 && ::flock(fd.get(), LOCK_SH | LOCK_NB) == 0 && IsAt(folder, name, fd.get())) {
    return fd;
  }
  errno = EAGAIN;
  return UniqueFd();
}

// Opens our file of a name once its record is complete, or makes it (`created`).
DWORD OpenOwnFile(ObjectFile& file, bool& created) {
  const int folder = file.folder.get();
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    UniqueFd fd = OpenExisting(folder, file.name);
    if (!fd) {
      if (errno != ENOENT) return ErrorOf(errno);
      fd = CreateHeld(folder, file.name);
      if (fd) {
        file.fd = std::move(fd);
        created = true;
        return ERROR_SUCCESS;
      }
      if (errno != EEXIST && errno != EAGAIN) return ErrorOf(errno);
      continue;
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
      RemoveIfAt(folder, file.name, fd.get());  // nobody holds it: left by a process that ended
      continue;
    }
    if (::flock(fd.get(), LOCK_SH | LOCK_NB) == 0 && IsAt(folder, file.name, fd.get())) {
      char record[64];
      const ssize_t n = ::pread(fd.get(), record, sizeof record, 0);
      if (n > 0 && record[n - 1] == '\n') {
        file.fd = std::move(fd);
        created = false;
        return ERROR_SUCCESS;
      }
    }
    Pause();  // another process of ours is making or removing it
  }
  return ERROR_ACCESS_DENIED;
}

}  // namespace

NamedObjectEntry::~NamedObjectEntry() {
  // Our shared lock turns exclusive only when no other handle holds the name;
  // then it is free again, and its files go while nobody else can open them.
  if (::flock(file_.fd.get(), LOCK_EX | LOCK_NB) != 0) return;
  RemoveIfAt(file_.folder.get(), file_.name, file_.fd.get());
}

bool NamedObjectEntry::Finish(const std::string& record) {
  return ::pwrite(file_.fd.get(), record.data(), record.size(), 0) == static_cast<ssize_t>(record.size());
}

std::unique_ptr<NamedObjectEntry> CreateNamedObject(const std::u16string& name) {
  if (name.size() > MAX_PATH) return Fail(ERROR_FILENAME_EXCED_RANGE);
  const bool global = name.compare(0, kGlobalPrefix.size(), kGlobalPrefix) == 0;
  std::u16string local_name = name;
  if (global) {
    local_name = name.substr(kGlobalPrefix.size());
  } else if (name.compare(0, kLocalPrefix.size(), kLocalPrefix) == 0) {
    local_name = name.substr(kLocalPrefix.size());
  }
  if (local_name.find(u'\\') != std::u16string::npos) return Fail(ERROR_PATH_NOT_FOUND);
  const std::optional<std::string> hash = HashOf(local_name);
  if (!hash) return Fail(ERROR_MOD_NOT_FOUND);

  ObjectFile file;
  file.name = *hash;
  UniqueFd user_folder;
  DWORD error = OpenUserFolder(user_folder);
  if (error == ERROR_SUCCESS) {
    error = OwnFolder(user_folder.get(), global ? "global" : "session-" + SessionId(), file.folder);
  }
  bool created = false;
  if (error == ERROR_SUCCESS) error = OpenOwnFile(file, created);
  if (error != ERROR_SUCCESS) return Fail(error);
  // From here the entry lets the name go again if anything fails.
  auto entry = std::make_unique<NamedObjectEntry>(std::move(file), created);
  if (global) {
    // Also when our own processes hold it: they may all have let go before
    // we held it, and another user may have taken it since.
    UniqueFd holder;
    error = ShowGlobalName(*hash, holder);
    if (error != ERROR_SUCCESS) return Fail(error);
    entry->Show(std::move(holder));
  }
  // A record is a line that marks it complete.
  if (created && !entry->Finish("Mutex\n")) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  return entry;
}

}  // namespace w32
