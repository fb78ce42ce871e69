// Which broadcasts a change of the mount table and a kernel uevent make.
#include <dbt.h>
#include <gtest/gtest.h>

#include <string>

#include "user/device_events.h"

namespace {

using w32::DriveVolume;

DriveVolume Volume(char16_t letter, int mount_id, bool optical = false, const char* fstype = "ext4") {
  DriveVolume volume;
  volume.letter = letter;
  volume.mount_id = mount_id;
  volume.optical = optical;
  volume.fstype = mount_id != 0 ? fstype : "";
  volume.root = mount_id != 0 ? "/media/x" : "";
  return volume;
}

TEST(MountChanges, OneBroadcastPerMountAndPerDisc) {
  const WPARAM arrive = DBT_DEVICEARRIVAL;
  const WPARAM remove = DBT_DEVICEREMOVECOMPLETE;
  const struct {
    const char* what;
    std::vector<DriveVolume> before, after;
    bool announced;  // E: holds a disc already announced
    std::vector<w32::user::VolumeChange> changes;
  } cases[] = {
      {"nothing changed", {Volume(u'F', 60)}, {Volume(u'F', 60)}, false, {}},
      {"a key mounted", {Volume(u'F', 0)}, {Volume(u'F', 61)}, false, {{arrive, u'F', 0}}},
      {"a new letter", {}, {Volume(u'G', 62)}, false, {{arrive, u'G', 0}}},
      {"a key unmounted", {Volume(u'F', 61)}, {Volume(u'F', 0)}, false, {{remove, u'F', 0}}},
      {"remounted between readings", {Volume(u'F', 61)}, {Volume(u'F', 63)}, false,
       {{remove, u'F', 0}, {arrive, u'F', 0}}},
      {"a share", {Volume(u'G', 0)}, {Volume(u'G', 64, false, "nfs4")}, false, {{arrive, u'G', DBTF_NET}}},
      {"a share gone", {Volume(u'G', 64, false, "cifs")}, {Volume(u'G', 0)}, false, {{remove, u'G', DBTF_NET}}},
      {"a disc mounted, not announced", {Volume(u'E', 0, true)}, {Volume(u'E', 65, true)}, false,
       {{arrive, u'E', DBTF_MEDIA}}},
      {"a disc mounted after its insertion", {Volume(u'E', 0, true)}, {Volume(u'E', 65, true)}, true, {}},
      {"a disc unmounted", {Volume(u'E', 65, true)}, {Volume(u'E', 0, true)}, true, {}},
  };
  for (const auto& c : cases) {
    w32::user::AnnouncedMedia media{};
    media[u'E' - u'A'] = c.announced;
    const auto changes = w32::user::MountChanges(c.before, c.after, &media);
    ASSERT_EQ(changes.size(), c.changes.size()) << c.what;
    for (size_t i = 0; i < changes.size(); ++i) {
      EXPECT_EQ(changes[i].event, c.changes[i].event) << c.what;
      EXPECT_EQ(changes[i].letter, c.changes[i].letter) << c.what;
      EXPECT_EQ(changes[i].flags, c.changes[i].flags) << c.what;
    }
    if (!c.after.empty() && c.after[0].optical) {
      EXPECT_TRUE(media[u'E' - u'A']) << c.what;
    }
  }
}

TEST(OpticalMediaEvent, OnlyMediaChangesOfOpticalDrives) {
  using namespace std::string_literals;
  const struct {
    std::string uevent;
    std::string drive;
  } cases[] = {
      {"change@/devices/pci0000:00/ata2/block/sr0\0ACTION=change\0DEVNAME=sr0\0DISK_MEDIA_CHANGE=1\0"s, "sr0"},
      {"change@/block/sr1\0ACTION=change\0DEVNAME=/dev/sr1\0DISK_EJECT_REQUEST=1"s, "sr1"},
      {"change@/block/sr0\0ACTION=change\0DEVNAME=sr0\0"s, ""},
      {"change@/block/sdb\0ACTION=change\0DEVNAME=sdb\0DISK_MEDIA_CHANGE=1\0"s, ""},
      {"add@/block/sr0\0ACTION=add\0DEVNAME=sr0\0DISK_MEDIA_CHANGE=1\0"s, ""},
      {"libudev\0garbage"s, ""},
      {""s, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(w32::user::OpticalMediaEvent(c.uevent), c.drive);
}

}  // namespace
