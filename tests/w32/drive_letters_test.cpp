// Drive letters of mounts and optical drives, and their drive types, on a
// machine made in a folder (W32_SYSROOT): its mount table and block devices.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "kernel/drive_table.h"

namespace {

std::string Mountinfo(const std::string& volumes) {
  return "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
         "90 27 0:50 / /mnt/sandbox/deep/below rw - tmpfs none rw\n"
         "91 27 0:51 / /home/u/elsewhere rw - vfat /dev/sdc1 rw\n" + volumes;
}

const char kVolumes[] =
    "60 27 8:17 / /media/u/MY\\040KEY rw,nosuid shared:1 - vfat /dev/sdb1 rw\n"
    "61 27 0:60 / /mnt/share rw - nfs4 server:/export rw\n"
    "62 27 11:1 / /media/u/DISC ro - iso9660 /dev/sr1 ro\n"
    "63 27 0:61 / /media/ram rw - tmpfs tmpfs rw\n"
    "bad line\n";

// The table is made once per process, so the machine is in place before any test runs.
struct Machine {
  std::string root;
  Machine() {
    char pattern[] = "/tmp/w32-machine-XXXXXX";
    root = mkdtemp(pattern);
    for (const char* dir : {"/proc/self", "/sys/block/sr0", "/sys/block/sr1", "/sys/block/sdb/sdb1",
                            "/sys/class/block", "/drives"}) {
      std::system(("mkdir -p " + root + dir).c_str());
    }
    Write("/sys/block/sdb/removable", "1\n");
    Write("/sys/block/sdb/sdb1/dev", "8:17\n");
    symlink("../../block/sdb/sdb1", (root + "/sys/class/block/sdb1").c_str());
    Write("/proc/self/mountinfo", Mountinfo(kVolumes));
    setenv("W32_SYSROOT", root.c_str(), 1);
    setenv("W32_DRIVES", (root + "/drives").c_str(), 1);
  }
  ~Machine() { std::system(("rm -rf " + root).c_str()); }
  void Write(const std::string& path, const std::string& text) const { std::ofstream(root + path) << text; }
} machine;

TEST(DriveLetters, OpticalDrivesFirstThenVolumeMountsInTableOrder) {
  const struct {
    const char16_t* root;
    UINT type;
    std::string native;
  } cases[] = {
      {u"C:\\", DRIVE_FIXED, "/"},
      {u"D:\\", DRIVE_CDROM, ""},  // an optical drive without a disc
      {u"E:/", DRIVE_CDROM, "/media/u/DISC"},
      {u"F:\\", DRIVE_REMOVABLE, "/media/u/MY KEY"},
      {u"G:\\", DRIVE_REMOTE, "/mnt/share"},
      {u"h:", DRIVE_RAMDISK, "/media/ram"},
      {u"I:\\", DRIVE_NO_ROOT_DIR, ""},  // deep and foreign mounts get no letter
      {u"C:\\tmp", DRIVE_NO_ROOT_DIR, "/"},
      {u"[:\\", DRIVE_NO_ROOT_DIR, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GetDriveTypeW(c.root), c.type) << std::string(c.root, c.root + 3);
    EXPECT_EQ(w32::DriveRoot(c.root[0]), c.native) << std::string(c.root, c.root + 3);
  }
  EXPECT_EQ(w32::ToDrivePath("/media/u/DISC/VIDEO_TS"), u"E:\\VIDEO_TS");
}

TEST(DriveLetters, LettersStayWithTheirVolumes) {
  // The key goes, a new volume comes: it takes a new letter, not the key's.
  machine.Write("/proc/self/mountinfo",
                Mountinfo("64 27 8:33 / /run/media/u/NEW rw - ext4 /dev/sdc1 rw\n"
                          "61 27 0:60 / /mnt/share rw - nfs4 server:/export rw\n"));
  std::vector<w32::DriveVolume> volumes = w32::RefreshDrives();
  ASSERT_EQ(volumes.size(), 6u);
  EXPECT_EQ(w32::DriveRoot(u'F'), "");
  EXPECT_EQ(w32::DriveRoot(u'E'), "");  // the disc is no longer mounted; the drive keeps E:
  EXPECT_EQ(GetDriveTypeW(u"F:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
  EXPECT_EQ(GetDriveTypeW(u"E:\\"), static_cast<UINT>(DRIVE_CDROM));
  EXPECT_EQ(w32::DriveRoot(u'I'), "/run/media/u/NEW");
  std::string native;
  EXPECT_FALSE(w32::ToNativePath(u"F:\\file", &native));
  machine.Write("/proc/self/mountinfo", Mountinfo(kVolumes));
  EXPECT_EQ(w32::DriveRoot(u'F'), "/media/u/MY KEY");
  EXPECT_EQ(w32::DriveRoot(u'E'), "/media/u/DISC");
  EXPECT_EQ(w32::DriveRoot(u'I'), "");
}

}  // namespace
