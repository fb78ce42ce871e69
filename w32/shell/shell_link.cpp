#include <fcntl.h>
#include <shlobj.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "com/class_table.h"
#include "com/com_object.h"
#include "kernel/drive_table.h"
#include "kernel/file.h"
#include "kernel/file_attributes.h"
#include "kernel/volume_identity.h"
#include "shell/persist_file.h"
#include "shell/shell_link_format.h"
#include "support/debug_channel.h"
#include "support/file_name.h"
#include "support/text.h"

namespace w32 {
namespace {

constexpr size_t kLargestLinkFile = 1 << 20;

// True when the text holds an environment variable: a name between two '%'.
bool HoldsVariable(std::u16string_view text) {
  const size_t open = text.find(u'%');
  if (open == std::u16string_view::npos) return false;
  const size_t close = text.find(u'%', open + 1);
  return close != std::u16string_view::npos && close > open + 1;
}

// Each %NAME% that the environment defines becomes its value; others stay.
std::u16string ExpandVariables(std::u16string_view text) {
  std::u16string out;
  size_t at = 0;
  while (at < text.size()) {
    const size_t open = text.find(u'%', at);
    const size_t close = open == std::u16string_view::npos ? open : text.find(u'%', open + 1);
    if (close == std::u16string_view::npos) break;
    const char* value = close > open + 1 ? std::getenv(ToUtf8(text.substr(open + 1, close - open - 1)).c_str()) : nullptr;
    out.append(text.substr(at, open - at));
    if (value != nullptr) {
      out += ToUtf16(value);
      at = close + 1;
    } else {
      out += u'%';
      at = open + 1;
    }
  }
  out.append(text.substr(std::min(at, text.size())));
  return out;
}

// The native form of a path the link holds: drive forms the drive table knows
// map back, anything else stays as stored.
std::u16string NativeForm(const std::u16string& location) {
  std::string native;
  if (location.size() >= 3 && location[1] == u':' && !DriveRoot(location[0]).empty() &&
      ToNativePath(location, &native)) {
    return FileNameFromBytes(native);
  }
  return location;
}

// Where a drive-form location on the volume with `serial` is now: under the
// letter it was saved with while that letter still holds the volume, else
// under the letter that does; null when the volume is not present. A
// location without a serial (no volume identity), and one on C:, the system's
// drive wherever the link was made, is taken as it is.
std::optional<std::u16string> LocationNow(const std::u16string& location, DWORD serial) {
  if (serial == 0 || location.size() < 2 || location[1] != u':' || AsciiLower(location[0]) == u'c') return location;
  const auto holds = [&](char16_t letter) {
    DriveVolume volume;
    return LookupDrive(letter, &volume) && !volume.root.empty() && VolumeSerial(volume.uuid) == serial;
  };
  if (holds(location[0])) return location;
  for (char16_t letter = u'D'; letter <= u'Z'; ++letter) {
    if (holds(letter)) return letter + location.substr(1);
  }
  return std::nullopt;
}

// The native path of a target as given (expanded), made absolute.
std::string AbsoluteNative(std::u16string_view target) {
  std::string native;
  if (!ToNativePath(target, &native) || native.empty()) return {};
  if (native[0] != '/') {
    char here[4096];
    if (::getcwd(here, sizeof here) == nullptr) return {};
    native = std::string(here) + "/" + native;
  }
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  return native;
}

FILETIME ToFileTime(const struct timespec& time) {
  constexpr ULONGLONG kEpochDifference = 11644473600ULL;
  const ULONGLONG ticks =
      (static_cast<ULONGLONG>(time.tv_sec) + kEpochDifference) * 10000000ULL + static_cast<ULONGLONG>(time.tv_nsec) / 100;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// The find data of a native path as it is now; INVALID_FILE_ATTRIBUTES when
// it cannot be reached.
void FindDataOf(const std::string& path, WIN32_FIND_DATAW* data) {
  std::memset(data, 0, sizeof *data);
  const std::string name = path.substr(path.find_last_of('/') + 1);
  const std::u16string wide = FileNameFromBytes(name);
  wide.copy(data->cFileName, std::min(wide.size(), static_cast<size_t>(MAX_PATH - 1)));
  struct stat status;
  if (path.empty() || ::stat(path.c_str(), &status) != 0) {
    data->dwFileAttributes = INVALID_FILE_ATTRIBUTES;
    return;
  }
  data->dwFileAttributes = FileAttributesOf(status, name, WritableAt(AT_FDCWD, path.c_str()));
  data->ftCreationTime = ToFileTime(status.st_mtim);
  data->ftLastAccessTime = ToFileTime(status.st_atim);
  data->ftLastWriteTime = ToFileTime(status.st_mtim);
  if (!S_ISDIR(status.st_mode)) {
    data->nFileSizeHigh = static_cast<DWORD>(static_cast<ULONGLONG>(status.st_size) >> 32);
    data->nFileSizeLow = static_cast<DWORD>(status.st_size);
  }
}

// Copies text into a caller's buffer of `size` characters, cut to fit.
HRESULT CopyOut(std::u16string_view text, LPWSTR buffer, int size) {
  if (buffer == nullptr || size <= 0) return E_INVALIDARG;
  const size_t kept = std::min(text.size(), static_cast<size_t>(size - 1));
  text.copy(buffer, kept);
  buffer[kept] = 0;
  return S_OK;
}

// A shell link: its target and description, read from and written to real
// .lnk files. Working folder, arguments, icon, hot key and the show command
// are not provided (E_NOTIMPL).
class ShellLink final : public com::ComObject<IShellLinkW, IPersistFile> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IShellLinkW) return Answer(static_cast<IShellLinkW*>(this), object);
    if (iid == IID_IPersist || iid == IID_IPersistFile) return Answer(static_cast<IPersistFile*>(this), object);
    return com::NoInterface(object);
  }

  // IShellLinkW. With SLGP_RAWPATH a target holding a variable comes back
  // unexpanded; the find data are the target's as it is now. A path longer
  // than the buffer fails with ERROR_INSUFFICIENT_BUFFER and an empty buffer.
  HRESULT STDMETHODCALLTYPE GetPath(LPWSTR file, int size, WIN32_FIND_DATAW* data, DWORD flags) override {
    std::lock_guard<std::mutex> guard(lock_);
    if (file == nullptr || size <= 0) return E_INVALIDARG;
    std::u16string path;
    if (!raw_target_.empty()) {
      path = (flags & SLGP_RAWPATH) != 0 ? raw_target_ : NativeForm(ExpandVariables(raw_target_));
    } else {
      const std::optional<std::u16string> now = LocationNow(location_, serial_);
      path = now ? NativeForm(*now) : location_;
    }
    if (data != nullptr) FindDataOf(TargetNow(), data);
    if (path.size() >= static_cast<size_t>(size)) {  // never cut to a path that names something else
      file[0] = 0;
      return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    CopyOut(path, file, size);
    return path.empty() ? S_FALSE : S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDList(PIDLIST_ABSOLUTE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetIDList(PCIDLIST_ABSOLUTE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDescription(LPWSTR name, int size) override {
    std::lock_guard<std::mutex> guard(lock_);
    return CopyOut(description_, name, size);
  }
  HRESULT STDMETHODCALLTYPE SetDescription(LPCWSTR name) override {
    if (name == nullptr) return E_INVALIDARG;
    std::lock_guard<std::mutex> guard(lock_);
    description_ = name;
    file_.dirty = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPWSTR, int) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetArguments(LPWSTR, int) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetArguments(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetHotkey(WORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetHotkey(WORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetShowCmd(int*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetShowCmd(int) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIconLocation(LPWSTR, int, int*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetIconLocation(LPCWSTR, int) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetRelativePath(LPCWSTR, DWORD) override { return E_NOTIMPL; }

  // Finds the target where the link says it is, on its own volume under
  // whatever letter that volume has now; no search for a moved target is
  // made, so no flag changes the answer and no time is spent.
  HRESULT STDMETHODCALLTYPE Resolve(HWND, DWORD) override {
    std::lock_guard<std::mutex> guard(lock_);
    const std::string target = TargetNow();
    if (target.empty()) {
      W32_DEBUG(kDebugLink, "IShellLinkW::Resolve %s: no native path now (volume not present, or unknown drive)",
                ToUtf8(location_).c_str());
      return E_FAIL;
    }
    struct stat status;
    if (::stat(target.c_str(), &status) == 0) return S_OK;
    W32_DEBUG(kDebugLink, "IShellLinkW::Resolve: target %s: %s", target.c_str(), std::strerror(errno));
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }

  // The target in drive form (through the drive table); a target holding an
  // environment variable is also kept as given.
  HRESULT STDMETHODCALLTYPE SetPath(LPCWSTR file) override {
    if (file == nullptr) return E_INVALIDARG;
    const std::u16string given(file);
    std::lock_guard<std::mutex> guard(lock_);
    raw_target_ = HoldsVariable(given) ? given : std::u16string();
    const std::string native = AbsoluteNative(ExpandVariables(given));
    location_ = native.empty() ? given : ToDrivePath(native);
    ReadVolumeFacts();
    file_.dirty = true;
    return S_OK;
  }

  // IPersistFile.
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    if (clsid == nullptr) return E_POINTER;
    *clsid = CLSID_ShellLink;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsDirty() override {
    std::lock_guard<std::mutex> guard(lock_);
    return file_.IsDirty();
  }
  HRESULT STDMETHODCALLTYPE Load(LPCOLESTR name, DWORD) override {
    if (name == nullptr) return E_INVALIDARG;
    std::string path;
    if (!ToNativePath(name, &path)) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    const int fd = OpenRegularFile(path, O_RDONLY);
    if (fd < 0) {
      W32_DEBUG(kDebugLink, "IPersistFile::Load %s: %s", path.c_str(), std::strerror(errno));
      return HRESULT_FROM_WIN32(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ErrorFromErrno(errno));
    }
    std::vector<uint8_t> bytes(kLargestLinkFile + 1);
    size_t used = 0;
    ssize_t n = 0;
    while (used < bytes.size() && ((n = ::read(fd, bytes.data() + used, bytes.size() - used)) > 0 || (n < 0 && errno == EINTR))) {
      if (n > 0) used += static_cast<size_t>(n);
    }
    ::close(fd);
    if (n < 0 || used > kLargestLinkFile) {  // unreadable, or no link is that large
      W32_DEBUG(kDebugLink, "IPersistFile::Load %s: %s",
                path.c_str(), n < 0 ? std::strerror(errno) : "larger than 1 MiB");
      return E_FAIL;
    }
    const std::optional<ShellLinkData> link = ReadShellLink(bytes.data(), used);
    if (!link) {
      W32_DEBUG(kDebugLink, "IPersistFile::Load %s: not a shell link", path.c_str());
      return E_FAIL;
    }
    std::lock_guard<std::mutex> guard(lock_);
    location_ = link->location;
    raw_target_ = link->raw_target;
    description_ = link->description;
    drive_type_ = link->drive_type;
    serial_ = link->serial;
    label_ = link->label;
    file_ = PersistedFile{name, false};
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Save(LPCOLESTR name, BOOL remember) override {
    std::lock_guard<std::mutex> guard(lock_);
    ShellLinkData link;
    link.location = location_;
    link.raw_target = raw_target_;
    link.description = description_;
    link.drive_type = drive_type_;
    link.serial = serial_;
    link.label = label_;
    WIN32_FIND_DATAW target;
    FindDataOf(TargetNow(), &target);
    if (target.dwFileAttributes != INVALID_FILE_ATTRIBUTES) {
      link.attributes = target.dwFileAttributes;
      link.creation = target.ftCreationTime;
      link.access = target.ftLastAccessTime;
      link.write = target.ftLastWriteTime;
      link.size = target.nFileSizeLow;
    }
    const std::vector<uint8_t> bytes = WriteShellLink(link);
    return file_.Save(name, remember, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }
  HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* name) override {
    std::lock_guard<std::mutex> guard(lock_);
    return file_.CurFile(u"*.lnk", name);
  }

 private:
  // The native path of the target as it is now, variables expanded; empty
  // when its volume is not present.
  std::string TargetNow() const {
    if (!raw_target_.empty()) return AbsoluteNative(ExpandVariables(raw_target_));
    const std::optional<std::u16string> now = LocationNow(location_, serial_);
    return now ? AbsoluteNative(NativeForm(*now)) : std::string();
  }

  // The drive type, serial and label of the target's volume, so the link
  // finds the volume again under another letter.
  void ReadVolumeFacts() {
    drive_type_ = DRIVE_FIXED;
    serial_ = 0;
    label_.clear();
    DriveVolume volume;
    if (!raw_target_.empty() || location_.size() < 3 || location_[1] != u':' || !LookupDrive(location_[0], &volume)) {
      return;
    }
    const std::u16string root = location_.substr(0, 3);
    drive_type_ = GetDriveTypeW(root.c_str());
    serial_ = VolumeSerial(volume.uuid);
    label_ = ToUtf16(volume.label);
  }

  std::mutex lock_;
  std::u16string location_;
  std::u16string raw_target_;
  std::u16string description_;
  DWORD drive_type_ = DRIVE_FIXED;
  DWORD serial_ = 0;
  std::u16string label_;
  PersistedFile file_;
};

const com::ClassRegistration kShellLink(CLSID_ShellLink, &com::CreateInstanceOf<ShellLink>);

}  // namespace
}  // namespace w32
