#include "kernel/named_objects.h"

#include <fcntl.h>
#include <openssl/sha.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

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

std::string FileNameFor(const std::u16string& name) {
  const std::string utf8 = ToUtf8(name);
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size(), digest);
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

std::string ReadKind(int fd) {
  char buffer[64] = {};
  const ssize_t n = ::pread(fd, buffer, sizeof buffer - 1, 0);
  if (n <= 0) return {};
  std::string text(buffer, static_cast<size_t>(n));
  return text.substr(0, text.find('\n'));
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

  FolderLock lock(folder);
  if (!lock.ok()) return Fail(ErrorFromErrno(errno));
  const std::string path = folder + "/" + FileNameFor(local_name);

  // Open without O_CREAT first: protected_regular forbids creating opens of
  // other users' files in sticky folders.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0 && errno != ENOENT) return Fail(ErrorFromErrno(errno));
  if (fd >= 0) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      // Held by some process: open the existing object if it is ours and of our kind.
      struct stat info {};
      ::fstat(fd, &info);
      const DWORD refusal = ReadKind(fd) != kind          ? ERROR_INVALID_HANDLE
                            : info.st_uid != ::geteuid() ? ERROR_ACCESS_DENIED
                                                         : ERROR_SUCCESS;
      if (refusal != ERROR_SUCCESS) {
        ::close(fd);
        return Fail(refusal);
      }
      ::flock(fd, LOCK_SH);
      return std::make_unique<NamedObjectEntry>(fd, folder, path, false);
    }
    // Nobody holds it: a stale file (of any user) is replaced by our own.
    ::close(fd);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return Fail(ERROR_ACCESS_DENIED);
  }
  fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return Fail(ErrorFromErrno(errno));
  ::fchmod(fd, 0644);
  const std::string header = std::string(kind) + "\n" + std::to_string(::geteuid()) + "\n" + ToUtf8(name) + "\n";
  if (::write(fd, header.data(), header.size()) != static_cast<ssize_t>(header.size())) {
    ::close(fd);
    ::unlink(path.c_str());
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  ::flock(fd, LOCK_SH);
  return std::make_unique<NamedObjectEntry>(fd, folder, path, true);
}

}  // namespace w32
