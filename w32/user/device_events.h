#pragma once
// Volume arrivals and removals of the real system, broadcast as WM_DEVICECHANGE
// to every top-level window: mounts and unmounts from the mount table, and
// discs inserted into or ejected from optical drives from the kernel's
// block-device change events, also for discs that nothing mounts.
#include <windows.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/drive_table.h"

namespace w32::user {

struct VolumeChange {
  WPARAM event;      // DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE
  char16_t letter;   // 'D' ...
  WORD flags;        // DBTF_MEDIA, DBTF_NET
};

// Which optical drives hold an announced disc, by letter index.
using AnnouncedMedia = std::array<bool, 26>;

// What two readings of the drive table's volumes differ by: one arrival per
// new mount and one removal per mount gone; an optical drive's disc arrives
// with its first mount unless it was announced already, and a disc's unmount
// is no removal (its ejection is).
std::vector<VolumeChange> MountChanges(const std::vector<DriveVolume>& before,
                                       const std::vector<DriveVolume>& after, AnnouncedMedia* media);

// The optical drive ("sr0") whose medium a kernel uevent says may have
// changed; empty for any other event.
std::string OpticalMediaEvent(std::string_view uevent);

// Starts the watcher thread, once per process.
void StartDeviceWatch();

}  // namespace w32::user
