#include "kernel/named_objects.h"

#include <fcntl.h>
#include <openssl/sha.h>  // types only: libcrypto is opened on first use
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <optional>

#include "support/delay_load.h"
#include "support/text.h"

namespace w32 {
namespace {

const std::u16string kGlobalPrefix = u"Global\\";
const std::u16string kLocalPrefix = u"Local\\";

std::string ObjectRoot() {
  const char* dir = std::getenv("W32_OBJECT_DIR");
  return (dir != nullptr && *dir != 0) ? dir : "/tmp/.w32-objects";
}

// The logon session: the desktop's session id, else the kernel's audit session.
std::string SessionId() {
  if (const char* id = std::getenv("XDG_SESSION_ID"); id != nullptr && *id != 0) return id;
  std::ifstream file("/proc/self/sessionid");
  std::string id;
  if (file >> id) return id;
  return "0";
}

// Shared folders are world-writable and sticky, like /tmp.
bool EnsureSharedFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 01777) == 0) {
    ::chmod(path.c_str(), 01777);
    return true;
  }
  return errno == EEXIST;
}

struct HashApi {
  decltype(&::SHA256) SHA256;
};

bool BindHash(const LibrarySymbols& symbols, HashApi& api) { return symbols.Resolve("SHA256", api.SHA256); }

DelayLoaded<HashApi> libcrypto("libcrypto.so.3", BindHash);

// The name's own UTF-16 code units, hashed: names that differ in any unit,
// even an unpaired surrogate, are different objects. Nothing when libcrypto
// cannot be loaded.
std::optional<std::string> FileNameFor(const std::u16string& name) {
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

// Serialises creation and the last close within one namespace folder.
class FolderLock {
 public:
  explicit FolderLock(const std::string& folder)
      : fd_(::open((folder + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
    if (fd_ >= 0) {
      ::fchmod(fd_, 0666);
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

// The first lines of an object's file: its kind and the user who made it.
struct Header {
  std::string kind;
  std::string owner;
};

Header ReadHeader(int fd) {
  char buffer[128] = {};
  const ssize_t n = ::pread(fd, buffer, sizeof buffer - 1, 0);
  const std::string text(buffer, n > 0 ? static_cast<size_t>(n) : 0);
  const size_t first = text.find('\n');
  const size_t second = first == std::string::npos ? std::string::npos : text.find('\n', first + 1);
  if (second == std::string::npos) return {};
  return {text.substr(0, first), text.substr(first + 1, second - first - 1)};
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_PATH_NOT_FOUND;
  }
}

std::unique_ptr<NamedObjectEntry> Fail(DWORD error) {
  SetLastError(error);
  return nullptr;
}

}  // namespace

NamedObjectEntry::~NamedObjectEntry() {
  FolderLock lock(folder_);
  // Our shared lock turns exclusive only when no other handle holds the object:
  // then the name is free again and its file goes.
  if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) ::unlink(path_.c_str());
  ::close(fd_);
}

std::unique_ptr<NamedObjectEntry> CreateNamedObject(const std::u16string& name, const char* kind) {
  if (name.size() > MAX_PATH) return Fail(ERROR_FILENAME_EXCED_RANGE);
  std::string folder = ObjectRoot();
  std::u16string local_name = name;
  if (name.compare(0, kGlobalPrefix.size(), kGlobalPrefix) == 0) {
    folder += "/Global";
    local_name = name.substr(kGlobalPrefix.size());
  } else {
    if (name.compare(0, kLocalPrefix.size(), kLocalPrefix) == 0) local_name = name.substr(kLocalPrefix.size());
    folder += "/Session-" + SessionId();
  }
  if (local_name.find(u'\\') != std::u16string::npos) return Fail(ERROR_PATH_NOT_FOUND);
  if (!EnsureSharedFolder(ObjectRoot()) || !EnsureSharedFolder(folder)) return Fail(ERROR_PATH_NOT_FOUND);

  const std::optional<std::string> file_name = FileNameFor(local_name);
  if (!file_name) return Fail(ERROR_MOD_NOT_FOUND);

  FolderLock lock(folder);
  if (!lock.ok()) return Fail(ErrorFromErrno(errno));
  const std::string path = folder + "/" + *file_name;

  // Open without O_CREAT first: protected_regular forbids creating opens of
  // other users' files in sticky folders. Object files are writable by all,
  // so that anyone can take over a name that nobody holds any more.
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0 && errno == ENOENT) {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0) ::fchmod(fd, 0666);
  }
  if (fd < 0) return Fail(ErrorFromErrno(errno));

  const std::string me = std::to_string(::geteuid());
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    // Held by some process: open the existing object if it is ours and of our kind.
    const Header header = ReadHeader(fd);
    const DWORD refusal = header.kind != kind ? ERROR_INVALID_HANDLE
                          : header.owner != me ? ERROR_ACCESS_DENIED
                                               : ERROR_SUCCESS;
    if (refusal != ERROR_SUCCESS) {
      ::close(fd);
      return Fail(refusal);
    }
    ::flock(fd, LOCK_SH);
    return std::make_unique<NamedObjectEntry>(fd, folder, path, false);
  }

  // Nobody holds it: new, or left by a process that ended. Either way it is ours now.
  const std::string header = std::string(kind) + "\n" + me + "\n" + ToUtf8(name) + "\n";
  if (::ftruncate(fd, 0) != 0 ||
      ::pwrite(fd, header.data(), header.size(), 0) != static_cast<ssize_t>(header.size())) {
    ::close(fd);
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  ::flock(fd, LOCK_SH);
  return std::make_unique<NamedObjectEntry>(fd, folder, path, true);
}

}  // namespace w32
