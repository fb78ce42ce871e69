// The detector component over Linux: optical drives through the CD-ROM
// ioctls, udisks2 and the disc itself, names and display facts from sysfs,
// cameras from USB still-image devices and video4linux.
#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <mutex>
#include <string>

#include "com_server.h"
#include "support/sysroot.h"
#include "disc_layout.h"
#include "linux_devices.h"
#include "udisks_eject.h"

namespace detector_component {
namespace {

HRESULT FromErrno(int error) {
  switch (error) {
    case ENOENT: return static_cast<HRESULT>(0x80070002);  // ERROR_FILE_NOT_FOUND
    case EACCES:
    case EPERM: return E_ACCESSDENIED;
    case ENOMEDIUM: return static_cast<HRESULT>(0x80070015);  // ERROR_NOT_READY
    case EBUSY: return static_cast<HRESULT>(0x800700AA);  // ERROR_BUSY
    default: return E_FAIL;
  }
}

// An optical drive's device, open for its ioctls (O_NONBLOCK: also without a disc).
class OpticalDrive {
 public:
  explicit OpticalDrive(BYTE drive) : device_(DriveDevice(drive)) {
    if (!IsOpticalDevice(device_)) {
      status_ = E_INVALIDARG;
      return;
    }
    fd_ = ::open(w32::SysPath("/dev/" + device_).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) status_ = FromErrno(errno);
  }
  ~OpticalDrive() {
    if (fd_ >= 0) ::close(fd_);
  }
  OpticalDrive(const OpticalDrive&) = delete;
  OpticalDrive& operator=(const OpticalDrive&) = delete;

  HRESULT status() const { return status_; }
  const std::string& device() const { return device_; }

  // Reads the disc itself, as its sectors lie.
  bool ReadAt(uint64_t offset, size_t size, uint8_t* out) const {
    while (size > 0) {
      const ssize_t n = ::pread(fd_, out, size, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      out += n;
      offset += static_cast<uint64_t>(n);
      size -= static_cast<size_t>(n);
    }
    return true;
  }

  // The ioctl's result, or -1 with the failure kept.
  int Control(unsigned long request, unsigned long argument) {
    const int result = ::ioctl(fd_, request, argument);
    if (result < 0) status_ = FromErrno(errno);
    return result;
  }

 private:
  std::string device_;
  int fd_ = -1;
  HRESULT status_ = S_OK;
};

class DeviceDetector : public DetectorObject {
 public:
  HRESULT STDMETHODCALLTYPE GetCDROMType(BYTE drive, DWORD* kind) override {
    if (kind == nullptr) return E_POINTER;
    const std::string device = DriveDevice(drive);
    if (!IsOpticalDevice(device)) return E_INVALIDARG;
    const DWORD found = OpticalDriveKind(w32::ReadSysValue("/proc/sys/dev/cdrom/info"), device);
    if (found == 0) return E_FAIL;
    *kind = found;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetDiscType(BYTE drive, DWORD* kind) override {
    if (kind == nullptr) return E_POINTER;
    OpticalDrive optical(drive);
    if (FAILED(optical.status())) return optical.status();
    const int drive_status = optical.Control(CDROM_DRIVE_STATUS, CDSL_CURRENT);
    if (drive_status < 0) return optical.status();
    const int disc_status = drive_status == CDS_DISC_OK ? optical.Control(CDROM_DISC_STATUS, 0) : CDS_NO_INFO;
    // The disc's own file system, so the kind is known before anything mounts
    // it; through its mount where the device cannot be read.
    std::unique_ptr<DiscTree> tree;
    if (drive_status == CDS_DISC_OK) {
      tree = OpenDiscTree([&](uint64_t offset, size_t size, uint8_t* out) { return optical.ReadAt(offset, size, out); });
      const std::string mounted = tree ? std::string() : MountPointOf(optical.device());
      if (!mounted.empty()) tree = OpenMountedTree(mounted);
    }
    const DWORD found = DiscKindOf(drive_status, disc_status, tree.get());
    if (found == 0) return E_FAIL;
    *kind = found;
    return S_OK;
  }

  // 1 opens the tray, 2 closes it. The kernel refuses to eject a drive
  // that a mount holds: udisks2 unmounts and ejects it then, as the desktop does.
  HRESULT STDMETHODCALLTYPE ChangeDoorStatus(BYTE drive, DWORD command) override {
    if (command != 1 && command != 2) return E_INVALIDARG;
    OpticalDrive optical(drive);
    if (command == 1 && IsOpticalDevice(optical.device()) && !MountPointOf(optical.device()).empty() &&
        EjectThroughUdisks(optical.device())) {
      return S_OK;
    }
    if (FAILED(optical.status())) return optical.status();
    if (optical.Control(command == 1 ? CDROMEJECT : CDROMCLOSETRAY, 0) < 0) return optical.status();
    return S_OK;
  }

  // The name stays this object's until the next call or its release.
  HRESULT STDMETHODCALLTYPE EnumWIACameraDevice(DWORD, WCHAR** name) override {
    if (name == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    camera_ = Utf16(FirstCamera());
    *name = camera_.empty() ? nullptr : camera_.data();
    return camera_.empty() ? S_FALSE : S_OK;
  }

  // Linux tells of no camera connections the way WIA does: nothing here
  // calls the callback, so it need not be kept.
  HRESULT STDMETHODCALLTYPE Attach(device::IWiaConnectCallback*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Detach() override { return S_OK; }

  // 1 while two or more displays are connected.
  HRESULT STDMETHODCALLTYPE DetectTwinViewMode(DWORD* mode) override {
    if (mode == nullptr) return E_POINTER;
    const int connected = ConnectedDisplays();
    if (connected < 0) return E_FAIL;
    *mode = connected >= 2 ? 1 : 0;
    return S_OK;
  }

  // Vendor display modes are no business of Linux's DRM.
  HRESULT STDMETHODCALLTYPE GetVGASpecialCaps(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetVGASpecialSetting(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetVGASpecialSetting(DWORD) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE GetVGADeviceIdentifier(DWORD* vendor, DWORD* device) override {
    if (vendor == nullptr || device == nullptr) return E_POINTER;
    return DisplayAdapter(vendor, device) ? S_OK : E_FAIL;
  }

  HRESULT STDMETHODCALLTYPE QueryDriveStatus(BYTE drive, device::DriveStatus* status) override {
    if (status == nullptr) return E_POINTER;
    OpticalDrive optical(drive);
    if (FAILED(optical.status())) return optical.status();
    const int drive_status = optical.Control(CDROM_DRIVE_STATUS, CDSL_CURRENT);
    if (drive_status < 0) return optical.status();
    status->drive = static_cast<DWORD>(drive_status);
    status->media = drive_status == CDS_DISC_OK ? 1 : 0;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetDriveFactoryName(BYTE drive, WCHAR* name) override {
    if (name == nullptr) return E_POINTER;
    const std::string device = DriveDevice(drive);
    if (device.empty()) return E_INVALIDARG;
    const std::u16string text = Utf16(FactoryName(device));
    if (text.empty()) return E_FAIL;
    const size_t length = std::min(text.size(), device::kFactoryNameChars - 1);
    text.copy(name, length);
    name[length] = 0;
    return S_OK;
  }

 private:
  std::mutex mutex_;
  std::u16string camera_;
};

}  // namespace
}  // namespace detector_component

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid,
                                                                             void** object) {
  return detector_component::GetClassObject<detector_component::DeviceDetector>(clsid, iid, object);
}

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
  return detector_component::CanUnloadNow();
}
