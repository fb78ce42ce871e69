#include "user/device_events.h"

#include <dbt.h>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <linux/netlink.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <map>
#include <mutex>
#include <thread>

#include "kernel/mount_table.h"
#include "kernel/mount_watch.h"
#include "support/sysroot.h"
#include "user/window_table.h"

namespace w32::user {
namespace {

constexpr unsigned kKernelEvents = 1;  // the uevent multicast group of the kernel itself

int Index(char16_t letter) { return letter - u'A'; }

// A drive that is still reading a new disc's table of contents says so, for
// a few seconds; it is asked again until it settles, this long at most.
constexpr auto kSettleTime = std::chrono::seconds(10);
constexpr int kSettleRetryMs = 250;

enum class Medium { kNone, kDisc, kSettling };

Medium DriveMedium(const std::string& drive) {
  const int fd = ::open(SysPath("/dev/" + drive).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Medium::kNone;
  const int status = ::ioctl(fd, CDROM_DRIVE_STATUS, CDSL_CURRENT);
  ::close(fd);
  return status == CDS_DISC_OK ? Medium::kDisc : status == CDS_DRIVE_NOT_READY ? Medium::kSettling : Medium::kNone;
}

void Announce(const VolumeChange& change) {
  DEV_BROADCAST_VOLUME volume{};
  volume.dbcv_size = sizeof volume;
  volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
  volume.dbcv_unitmask = 1u << Index(change.letter);
  volume.dbcv_flags = change.flags;
  BroadcastRecord(WM_DEVICECHANGE, change.event, &volume, sizeof volume);
}

class DeviceWatch {
 public:
  void Run() {
    MountTableWatch mounts(SysPath("/proc/self/mountinfo"));
    const int uevents = OpenUevents();
    volumes_ = RefreshDrives();
    for (const DriveVolume& volume : volumes_) {
      if (volume.optical) media_[Index(volume.letter)] = volume.mount_id != 0 || DriveMedium(volume.device) == Medium::kDisc;
    }
    if (mounts.PollEntry().fd < 0 && uevents < 0) return;
    while (true) {
      pollfd watched[2] = {mounts.PollEntry(), {uevents, POLLIN, 0}};
      // fails only when interrupted; times out only while a drive settles
      const int count = ::poll(watched, 2, settling_.empty() ? -1 : kSettleRetryMs);
      if (mounts.Changed(count > 0 ? watched[0].revents : 0)) OnMountsChanged();
      if (count > 0 && (watched[1].revents & (POLLIN | POLLERR)) != 0) OnUevent(uevents);
      if (count == 0) AskSettlingDrives();
    }
  }

 private:
  static int OpenUevents() {
    const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    if (fd < 0) return -1;
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = kKernelEvents;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(fd);
      return -1;
    }
    return fd;
  }

  void OnMountsChanged() {
    std::vector<DriveVolume> after = RefreshDrives();
    for (const VolumeChange& change : MountChanges(volumes_, after, &media_)) Announce(change);
    volumes_ = std::move(after);
  }

  void OnUevent(int fd) {
    char buffer[8192];
    sockaddr_nl sender{};
    iovec part{buffer, sizeof buffer - 1};
    msghdr header{};
    header.msg_name = &sender;
    header.msg_namelen = sizeof sender;
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    const ssize_t n = ::recvmsg(fd, &header, 0);
    if (n < 0 && errno == ENOBUFS) {  // events were lost: read everything again
      OnMountsChanged();
      CheckMedia({});
      return;
    }
    if (n <= 0 || sender.nl_pid != 0) return;  // only the kernel's own events
    const std::string_view uevent(buffer, static_cast<size_t>(n));
    const bool block = uevent.find(std::string_view("\0SUBSYSTEM=block\0", 17)) != std::string_view::npos;
    if (block && (uevent.substr(0, 4) == "add@" || uevent.substr(0, 7) == "remove@")) {
      OnMountsChanged();  // a drive came or went: an optical one has its letter
      CheckMedia({});
      return;
    }
    const std::string drive = OpticalMediaEvent(uevent);
    if (!drive.empty()) CheckMedia(drive);
  }

  // A drive gone meanwhile is no longer asked.
  void AskSettlingDrives() {
    const std::map<std::string, Clock::time_point> asked = settling_;
    for (const auto& entry : asked) {
      const bool present = std::any_of(volumes_.begin(), volumes_.end(), [&](const DriveVolume& volume) {
        return volume.optical && volume.device == entry.first;
      });
      if (present) {
        CheckMedia(entry.first);
      } else {
        settling_.erase(entry.first);
      }
    }
  }

  // Announces each optical drive (or the one named) whose disc came or went
  // since it was last announced.
  void CheckMedia(const std::string& only) {
    for (const DriveVolume& volume : volumes_) {
      if (!volume.optical || (!only.empty() && volume.device != only)) continue;
      bool& announced = media_[Index(volume.letter)];
      const Medium medium = volume.mount_id != 0 ? Medium::kDisc : DriveMedium(volume.device);
      if (medium == Medium::kSettling) {
        const auto deadline = settling_.emplace(volume.device, Clock::now() + kSettleTime).first->second;
        if (Clock::now() < deadline) continue;  // asked again at the next pause
      }
      settling_.erase(volume.device);
      const bool present = medium == Medium::kDisc;
      if (present == announced) continue;
      announced = present;
      Announce({present ? WPARAM{DBT_DEVICEARRIVAL} : WPARAM{DBT_DEVICEREMOVECOMPLETE}, volume.letter, DBTF_MEDIA});
    }
  }

  using Clock = std::chrono::steady_clock;

  std::vector<DriveVolume> volumes_;
  AnnouncedMedia media_{};
  std::map<std::string, Clock::time_point> settling_;  // drives not ready yet, until when they are asked
};

}  // namespace

std::vector<VolumeChange> MountChanges(const std::vector<DriveVolume>& before,
                                       const std::vector<DriveVolume>& after, AnnouncedMedia* media) {
  std::map<char16_t, const DriveVolume*> earlier;
  for (const DriveVolume& volume : before) earlier[volume.letter] = &volume;
  std::vector<VolumeChange> changes;
  for (const DriveVolume& volume : after) {
    const auto found = earlier.find(volume.letter);
    const int old_id = found == earlier.end() ? 0 : found->second->mount_id;
    if (old_id == volume.mount_id) continue;
    if (volume.optical) {
      bool& announced = (*media)[Index(volume.letter)];
      if (volume.mount_id != 0 && !announced) {
        announced = true;
        changes.push_back({DBT_DEVICEARRIVAL, volume.letter, DBTF_MEDIA});
      }
      continue;
    }
    if (old_id != 0) {
      const bool network = IsNetworkFileSystem(found->second->fstype);
      changes.push_back({DBT_DEVICEREMOVECOMPLETE, volume.letter, static_cast<WORD>(network ? DBTF_NET : 0)});
    }
    if (volume.mount_id != 0) {
      const bool network = IsNetworkFileSystem(volume.fstype);
      changes.push_back({DBT_DEVICEARRIVAL, volume.letter, static_cast<WORD>(network ? DBTF_NET : 0)});
    }
  }
  return changes;
}

std::string OpticalMediaEvent(std::string_view uevent) {
  // "ACTION@DEVPATH", then KEY=VALUE fields, each ending in a zero.
  bool change = false;
  bool media = false;
  std::string drive;
  size_t start = 0;
  while (start < uevent.size()) {
    const size_t end = std::min(uevent.find('\0', start), uevent.size());
    const std::string_view field = uevent.substr(start, end - start);
    start = end + 1;
    if (field == "ACTION=change") change = true;
    if (field == "DISK_MEDIA_CHANGE=1" || field == "DISK_EJECT_REQUEST=1") media = true;
    if (field.substr(0, 8) == "DEVNAME=") {
      drive = std::string(field.substr(8));
      const size_t slash = drive.find_last_of('/');
      if (slash != std::string::npos) drive.erase(0, slash + 1);
    }
  }
  return change && media && IsOpticalDeviceName(drive) ? drive : std::string();
}

void StartDeviceWatch() {
  static std::once_flag started;
  std::call_once(started, [] {
    // The watcher lives as long as the process, blocked in poll between events.
    std::thread([] { DeviceWatch().Run(); }).detach();
  });
}

}  // namespace w32::user
