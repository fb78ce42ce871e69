// Drive letters of mounts and optical drives, their drive types and display
// names, and the connection state, on a machine made in a folder
// (W32_SYSROOT): its mount table, block devices, labels and routes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>
#include <shellapi.h>
#include <wininet.h>

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
                            "/sys/class/block", "/drives", "/dev/disk/by-label", "/proc/net",
                            "/sys/class/net/eth0", "/sys/class/net/lo"}) {
      std::system(("mkdir -p " + root + dir).c_str());
    }
    Write("/sys/block/sdb/removable", "1\n");
    Write("/sys/block/sdb/sdb1/dev", "8:17\n");
    symlink("../../block/sdb/sdb1", (root + "/sys/class/block/sdb1").c_str());
    Write("/dev/sdb1", "");
    symlink("../../sdb1", (root + "/dev/disk/by-label/MY\\x20KEY").c_str());
    Write("/sys/class/net/lo/flags", "0x9\n");
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

std::u16string DisplayName(const char16_t* path) {
  SHFILEINFOW info{};
  info.szDisplayName[0] = u'?';
  if (SHGetFileInfoW(path, 0, &info, sizeof info, SHGFI_DISPLAYNAME) == 0) return u"(none)";
  return info.szDisplayName;
}

TEST(DisplayNames, DrivesByLabelOrKindWithTheLetterAndPathsByLastComponent) {
  const struct {
    const char16_t* path;
    std::u16string name;
  } cases[] = {
      {u"C:\\", u"Local Disk (C:)"}, {u"d:\\", u"CD Drive (D:)"}, {u"F:\\", u"MY KEY (F:)"},
      {u"G:/", u"Network Drive (G:)"}, {u"H:", u"RAM Disk (H:)"}, {u"Q:\\", u"(none)"},
      {u"[:\\", u"(none)"}, {u"C:\\tmp\\", u"tmp"}, {u"/tmp", u"tmp"}, {u"C:\\no such thing", u"(none)"},
  };
  for (const auto& c : cases) EXPECT_EQ(DisplayName(c.path), c.name);
  SHFILEINFOW info{};
  EXPECT_EQ(SHGetFileInfoW(u"C:\\", 0, &info, sizeof info - 1, SHGFI_DISPLAYNAME), 0u);
}

TEST(ConnectedState, ADefaultRouteThroughAnInterfaceThatIsUpAndNotLoopback) {
  const std::string heading = "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\tMTU\tWindow\tIRTT\n";
  const std::string v6_default = "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
                                 "fd000000000000000000000000000001 00000400 00000002 00000000 00000003 eth0\n";
  const struct {
    const char* what;
    std::string route, ipv6_route, eth0_flags;
    BOOL connected;
  } cases[] = {
      {"default via eth0", heading + "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n", "", "0x1003",
       TRUE},
      {"eth0 down", heading + "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n", "", "0x1002", FALSE},
      {"only a local network", heading + "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n", "",
       "0x1003", FALSE},
      {"default via loopback", heading + "lo\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n", "",
       "0x1003", FALSE},
      {"IPv6 only", heading, v6_default, "0x1003", TRUE},
      {"no tables", "", "", "", FALSE},
  };
  for (const auto& c : cases) {
    machine.Write("/proc/net/route", c.route);
    machine.Write("/proc/net/ipv6_route", c.ipv6_route);
    machine.Write("/sys/class/net/eth0/flags", c.eth0_flags);
    DWORD flags = 0xFFFF;
    EXPECT_EQ(InternetGetConnectedState(&flags, 0), c.connected) << c.what;
    EXPECT_EQ(flags, c.connected ? static_cast<DWORD>(INTERNET_CONNECTION_LAN) : 0u) << c.what;
  }
}

}  // namespace
