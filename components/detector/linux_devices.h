#pragma once
// What the component reads of Linux, below W32_SYSROOT: the drive behind a
// letter, the kernel's CD-ROM capability table, sysfs names, DRM display
// adapters and connectors, USB still-image devices and video4linux cameras.
#include <windows.h>

#include <string>
#include <string_view>

namespace detector_component {

// The kernel's block device behind a drive index (0 = A:), as the platform's
// drive table maps it ("sr0"); empty when the letter has none.
std::string DriveDevice(BYTE drive);
bool IsOpticalDevice(std::string_view device);
// Where the device is mounted, from the mount table; empty when it is not.
std::string MountPointOf(const std::string& device);

// The drive kind (1 CD-ROM ... 6 DVD-RAM) of an optical drive by the
// capability table's column for it; 0 when the table does not list it.
DWORD OpticalDriveKind(std::string_view capability_table, const std::string& device);

// "VENDOR MODEL" of a block device (or of a partition's disk); empty when sysfs has neither.
std::string FactoryName(const std::string& device);

// The display adapter that booted the screen (else the first DRM card): its
// PCI vendor and device ids. False when there is none.
bool DisplayAdapter(DWORD* vendor, DWORD* device);
// Connected displays of every DRM card; -1 when there is no DRM.
int ConnectedDisplays();

// The first camera: a USB still-image device (interface class 6: PTP and
// MTP cameras, phones in photo mode) named "MANUFACTURER PRODUCT", else the
// first video4linux capture device; empty when none.
std::string FirstCamera();

std::u16string Utf16(std::string_view text);

}  // namespace detector_component
