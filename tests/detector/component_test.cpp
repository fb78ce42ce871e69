// The detector component against a machine made in a folder (W32_SYSROOT):
// its drive table, CD-ROM capability table, sysfs names, DRM cards and
// cameras; and the disc kinds by drive status, disc status and layout.
#include <dbus/dbus.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <linux/cdrom.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>
#include <string>

#include "device_detector.h"
#include "../w32/private_bus.h"
#include "disc_layout.h"
#include "linux_devices.h"

namespace {

const char kCapabilities[] =
    "CD-ROM information, Id: cdrom.c 3.20 2003/12/17\n\n"
    "drive name:\t\tsr1\tsr0\n"
    "drive speed:\t\t24\t48\n"
    "Can write CD-R:\t\t1\t1\n"
    "Can write CD-RW:\t\t1\t1\n"
    "Can read DVD:\t\t1\t1\n"
    "Can write DVD-R:\t\t0\t1\n"
    "Can write DVD-RAM:\t\t0\t1\n";

struct Machine {
  std::string root;
  Machine() {
    char pattern[] = "/tmp/detector-machine-XXXXXX";
    root = mkdtemp(pattern);
    for (const char* dir : {"/proc/self", "/proc/sys/dev/cdrom", "/sys/block/sr0", "/sys/block/sr1",
                            "/sys/block/sdb/sdb1", "/sys/block/sdb/device", "/sys/class/block/sr0/device",
                            "/sys/class/drm/card0/device", "/sys/class/drm/card1/device",
                            "/sys/class/drm/card1-HDMI-A-1", "/sys/class/drm/card1-DP-1", "/sys/class/drm/card0-eDP-1",
                            "/sys/class/video4linux/video0", "/sys/class/video4linux/video1", "/dev", "/drives"}) {
      std::system(("mkdir -p " + root + dir).c_str());
    }
    Write("/proc/self/mountinfo",
          "27 1 254:0 / / rw - ext4 /dev/vda rw\n60 27 8:17 / /media/u/KEY rw - vfat /dev/sdb1 rw\n");
    Write("/proc/sys/dev/cdrom/info", kCapabilities);
    Write("/sys/class/block/sr0/device/vendor", "HL-DT-ST\n");
    Write("/sys/class/block/sr0/device/model", "DVDRAM GH24NSD1 \n");
    Write("/sys/block/sdb/sdb1/dev", "8:17\n");
    Write("/sys/block/sdb/device/vendor", "Kingston\n");
    Write("/sys/block/sdb/device/model", "DataTraveler\n");
    symlink("../../block/sdb/sdb1", (root + "/sys/class/block/sdb1").c_str());
    Write("/dev/sr0", "");  // not a device: its ioctls fail
    Write("/sys/class/drm/card0/device/vendor", "0x8086\n");
    Write("/sys/class/drm/card0/device/device", "0x0166\n");
    Write("/sys/class/drm/card0/device/boot_vga", "0\n");
    Write("/sys/class/drm/card1/device/vendor", "0x10de\n");
    Write("/sys/class/drm/card1/device/device", "0x1c82\n");
    Write("/sys/class/drm/card1/device/boot_vga", "1\n");
    Write("/sys/class/drm/card1-HDMI-A-1/status", "connected\n");
    Write("/sys/class/drm/card1-DP-1/status", "connected\n");
    Write("/sys/class/drm/card0-eDP-1/status", "disconnected\n");
    Write("/sys/class/video4linux/video0/name", "Integrated Camera: metadata\n");
    Write("/sys/class/video4linux/video0/index", "1\n");
    Write("/sys/class/video4linux/video1/name", "Integrated Camera\n");
    Write("/sys/class/video4linux/video1/index", "0\n");
    setenv("W32_SYSROOT", root.c_str(), 1);
    setenv("W32_DRIVES", (root + "/drives").c_str(), 1);
  }
  ~Machine() { std::system(("rm -rf " + root).c_str()); }
  void Write(const std::string& path, const std::string& text) const { std::ofstream(root + path) << text; }
} machine;

// The component as the module loads it: its class object, then the object.
class Component : public ::testing::Test {
 protected:
  void SetUp() override {
    library_ = dlopen(DETECTOR_COMPONENT_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << dlerror();
    get_class_ = reinterpret_cast<Getter>(dlsym(library_, "DllGetClassObject"));
    can_unload_ = reinterpret_cast<HRESULT (*)()>(dlsym(library_, "DllCanUnloadNow"));
    ASSERT_NE(get_class_, nullptr);
    ASSERT_NE(can_unload_, nullptr);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(get_class_(device::kClsidDeviceDetector, kClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, device::kIidDeviceDetector, reinterpret_cast<void**>(&detector_)),
              S_OK);
    factory->Release();
  }
  void TearDown() override {
    if (detector_ != nullptr) detector_->Release();
    EXPECT_EQ(can_unload_(), S_OK);
    dlclose(library_);
  }

  using Getter = HRESULT (*)(REFCLSID, REFIID, void**);
  static constexpr IID kClassFactory = {0x00000001, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  void* library_ = nullptr;
  Getter get_class_ = nullptr;
  HRESULT (*can_unload_)() = nullptr;
  device::IDeviceDetector* detector_ = nullptr;
};

constexpr BYTE kC = 2, kD = 3, kE = 4, kF = 5, kQ = 16;

TEST_F(Component, DriveKindsAndFactoryNamesFromTheKernelAndSysfs) {
  const struct {
    BYTE drive;
    HRESULT status;
    DWORD kind;
  } kinds[] = {{kD, S_OK, 6}, {kE, S_OK, 4}, {kF, E_INVALIDARG, 77}, {kQ, E_INVALIDARG, 77}};
  for (const auto& c : kinds) {
    DWORD kind = 77;
    EXPECT_EQ(detector_->GetCDROMType(c.drive, &kind), c.status) << int(c.drive);
    EXPECT_EQ(kind, c.kind) << int(c.drive);
  }
  const struct {
    BYTE drive;
    HRESULT status;
    std::u16string name;
  } names[] = {{kD, S_OK, u"HL-DT-ST DVDRAM GH24NSD1"}, {kF, S_OK, u"Kingston DataTraveler"},
               {kE, E_FAIL, u""}, {kC, E_INVALIDARG, u""}, {kQ, E_INVALIDARG, u""}};  // C: has no device in sysfs here
  for (const auto& c : names) {
    WCHAR name[device::kFactoryNameChars] = {};
    EXPECT_EQ(detector_->GetDriveFactoryName(c.drive, name), c.status) << int(c.drive);
    EXPECT_EQ(std::u16string(name), c.name) << int(c.drive);
  }
}

TEST_F(Component, WhatLinuxCannotTellFails) {
  DWORD kind = 0;
  EXPECT_EQ(detector_->GetDiscType(kD, &kind), E_FAIL);  // the ioctls of a plain file
  EXPECT_EQ(detector_->GetDiscType(kE, &kind), static_cast<HRESULT>(0x80070002));  // no device node
  EXPECT_EQ(detector_->GetDiscType(kF, &kind), E_INVALIDARG);
  EXPECT_EQ(kind, 0u);
  device::DriveStatus status{};
  EXPECT_EQ(detector_->QueryDriveStatus(kD, &status), E_FAIL);
  EXPECT_EQ(detector_->ChangeDoorStatus(kD, 1), E_FAIL);
  EXPECT_EQ(detector_->ChangeDoorStatus(kD, 3), E_INVALIDARG);
  void* other = &kind;
  EXPECT_EQ(detector_->QueryInterface(kClassFactory, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(can_unload_(), S_FALSE);  // while the object lives
}

TEST_F(Component, DisplayAdapterDisplaysAndCamera) {
  DWORD mode = 0, vendor = 0, device = 0;
  EXPECT_EQ(detector_->DetectTwinViewMode(&mode), S_OK);
  EXPECT_EQ(mode, 1u);
  EXPECT_EQ(detector_->GetVGADeviceIdentifier(&vendor, &device), S_OK);  // the boot display, not the first card
  EXPECT_EQ(vendor, 0x10DEu);
  EXPECT_EQ(device, 0x1C82u);
  WCHAR* name = nullptr;
  EXPECT_EQ(detector_->EnumWIACameraDevice(0, &name), S_OK);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::u16string(name), u"Integrated Camera");
  EXPECT_EQ(detector_->Attach(nullptr), S_OK);
  EXPECT_EQ(detector_->Detach(), S_OK);
}

// A mounted disc is ejected through udisks2 (here a stand-in on a bus of
// our own): its file system unmounted, then its drive ejected; without
// udisks2, or when it refuses, through the ioctl, which fails on this machine.
TEST_F(Component, EjectOfAMountedDiscAsksUdisks) {
  machine.Write("/proc/self/mountinfo",
                "27 1 254:0 / / rw - ext4 /dev/vda rw\n60 27 8:17 / /media/u/KEY rw - vfat /dev/sdb1 rw\n"
                "61 27 11:0 / /media/u/DISC ro - iso9660 /dev/sr0 ro\n");
  w32_test::PrivateBus bus;
  ASSERT_FALSE(bus.address().empty());
  setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().c_str(), 1);
  EXPECT_EQ(detector_->ChangeDoorStatus(kD, 1), E_FAIL);  // no udisks2 on the bus
  for (const bool refuse : {false, true}) {
    std::mutex lock;
    std::vector<std::string> calls;
    w32_test::BusService udisks(bus.address(), "org.freedesktop.UDisks2", [&](DBusConnection* connection, DBusMessage* call) {
      if (dbus_message_get_type(call) != DBUS_MESSAGE_TYPE_METHOD_CALL) return;
      const std::string member = dbus_message_get_member(call);
      {
        std::lock_guard<std::mutex> guard(lock);
        calls.push_back(std::string(dbus_message_get_path(call)) + " " + member);
      }
      DBusMessage* reply = refuse && member == "Unmount"
                               ? dbus_message_new_error(call, "org.freedesktop.UDisks2.Error.DeviceBusy", "busy")
                               : dbus_message_new_method_return(call);
      if (member == "Get") {
        DBusMessageIter out, variant;
        const char* drive = "/org/freedesktop/UDisks2/drives/HL_DT_ST_DVDRAM";
        dbus_message_iter_init_append(reply, &out);
        dbus_message_iter_open_container(&out, DBUS_TYPE_VARIANT, "o", &variant);
        dbus_message_iter_append_basic(&variant, DBUS_TYPE_OBJECT_PATH, &drive);
        dbus_message_iter_close_container(&out, &variant);
      }
      dbus_connection_send(connection, reply, nullptr);
      dbus_message_unref(reply);
    });
    ASSERT_TRUE(udisks.serving());
    EXPECT_EQ(detector_->ChangeDoorStatus(kD, 1), refuse ? E_FAIL : S_OK);
    std::vector<std::string> expected = {"/org/freedesktop/UDisks2/block_devices/sr0 Get",
                                         "/org/freedesktop/UDisks2/block_devices/sr0 Unmount"};
    if (!refuse) expected.push_back("/org/freedesktop/UDisks2/drives/HL_DT_ST_DVDRAM Eject");
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(calls, expected);
  }
  unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  machine.Write("/proc/self/mountinfo",
                "27 1 254:0 / / rw - ext4 /dev/vda rw\n60 27 8:17 / /media/u/KEY rw - vfat /dev/sdb1 rw\n");
}

// Still-image USB devices (PTP/MTP cameras, phones in photo mode) come before webcams.
TEST_F(Component, CamerasAreStillImageDevicesFirst) {
  const struct {
    const char* interface_class;
    const char* maker;
    const char* product;
    std::u16string camera;
  } cases[] = {
      {"0e", "Logitech", "Webcam C270", u"Integrated Camera"},  // video class: a webcam
      {"06", "Canon Inc.", "Canon Digital Camera", u"Canon Inc. Canon Digital Camera"},
      {"06", "SAMSUNG", "SAMSUNG Android", u"SAMSUNG Android"},
      {"06", "", "", u"04a9:3218"},
  };
  for (const auto& c : cases) {
    std::system(("rm -rf " + machine.root + "/sys/bus/usb && mkdir -p " + machine.root + "/sys/bus/usb/devices/1-2:1.0 " +
                 machine.root + "/sys/bus/usb/devices/1-2")
                    .c_str());
    machine.Write("/sys/bus/usb/devices/1-2:1.0/bInterfaceClass", std::string(c.interface_class) + "\n");
    if (*c.maker != 0) machine.Write("/sys/bus/usb/devices/1-2/manufacturer", std::string(c.maker) + "\n");
    if (*c.product != 0) machine.Write("/sys/bus/usb/devices/1-2/product", std::string(c.product) + "\n");
    machine.Write("/sys/bus/usb/devices/1-2/idVendor", "04a9\n");
    machine.Write("/sys/bus/usb/devices/1-2/idProduct", "3218\n");
    WCHAR* name = nullptr;
    EXPECT_EQ(detector_->EnumWIACameraDevice(0, &name), S_OK);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(std::u16string(name), c.camera);
  }
  std::system(("rm -rf " + machine.root + "/sys/bus/usb").c_str());
}

TEST(OpticalDriveKind, TheMostTheDriveCanDo) {
  const std::string only_reads = "drive name:\tsr0\nCan write CD-R:\t0\nCan read DVD:\t0\n";
  const std::string rewriter = "drive name:\tsr0\nCan write CD-R:\t1\nCan write CD-RW:\t1\nCan read DVD:\t0\n";
  EXPECT_EQ(detector_component::OpticalDriveKind(kCapabilities, "sr2"), 0u);
  EXPECT_EQ(detector_component::OpticalDriveKind(only_reads, "sr0"), 1u);
  EXPECT_EQ(detector_component::OpticalDriveKind(rewriter, "sr0"), 3u);
  EXPECT_EQ(detector_component::OpticalDriveKind("", "sr0"), 0u);
}

// A disc's kind by its layout, read through the mount point and, without
// mounting, from ISO 9660 and UDF images of the same folders.
TEST(DiscKind, ByLayoutMountedOrReadFromTheDisc) {
  char pattern[] = "/tmp/detector-disc-XXXXXX";
  const std::string base = mkdtemp(pattern);
  const auto disc = [&](const std::string& name, const std::string& file, const std::string& bytes) {
    const std::string root = base + "/" + name;
    const std::string path = root + "/" + file;
    std::system(("mkdir -p '" + path.substr(0, path.find_last_of('/')) + "'").c_str());
    if (file.back() != '/') std::ofstream(path, std::ios::binary) << bytes;
    return root;
  };
  const std::string vcd10("VIDEO_CD\x00\x01\x00", 11), vcd11("VIDEO_CD\x00\x01\x01", 11);
  const std::string vcd20("VIDEO_CD\x00\x02\x00", 11), svcd("SUPERVCD\x00\x01\x00", 11);
  const struct {
    std::string root;
    DWORD kind;
  } layouts[] = {
      {disc("dvd", "VIDEO_TS/VIDEO_TS.IFO", ""), detector_component::kDvdVideo},
      {disc("dvd-lower", "video_ts/", ""), detector_component::kDvdVideo},
      {disc("dvd-vr", "DVD_RTAV/VR_MANGR.IFO", ""), detector_component::kDvdVr},
      {disc("dvd-audio", "AUDIO_TS/AUDIO_TS.IFO", ""), detector_component::kDvdAudio},
      {disc("dvd-empty-audio", "AUDIO_TS/", "") + "/../dvd", detector_component::kDvdVideo},
      {disc("vcd10", "VCD/INFO.VCD", vcd10), detector_component::kVcd10},
      {disc("vcd11", "vcd/info.vcd", vcd11), detector_component::kVcd11},
      {disc("vcd20", "VCD/INFO.VCD", vcd20), detector_component::kVcd20},
      {disc("svcd", "SVCD/INFO.SVD", svcd), detector_component::kSvcd},
      {disc("short", "VCD/INFO.VCD", "VIDEO"), detector_component::kData},
      {disc("data", "photos/a.jpg", "x"), detector_component::kData},
  };
  for (const auto& c : layouts) {
    auto mounted = detector_component::OpenMountedTree(c.root);
    EXPECT_EQ(detector_component::DataDiscKind(*mounted), c.kind) << c.root;
    // ISO 9660 alone; UDF with its ISO 9660 descriptors wiped, so only UDF can answer.
    const std::string iso = c.root + ".iso", udf = c.root + ".udf";
    ASSERT_EQ(std::system(("xorriso -as mkisofs -quiet -o '" + iso + "' '" + c.root + "' 2>/dev/null").c_str()), 0);
    ASSERT_EQ(std::system(("genisoimage -quiet -udf -o '" + udf + "' '" + c.root + "' 2>/dev/null").c_str()), 0);
    ASSERT_EQ(std::system(("printf '\\0\\0\\0\\0\\0\\0' | dd of='" + udf +
                           "' bs=1 seek=32768 conv=notrunc status=none").c_str()), 0);
    for (const std::string& image : {iso, udf}) {
      std::ifstream file(image, std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
      auto tree = detector_component::OpenDiscTree([&](uint64_t offset, size_t size, uint8_t* out) {
        if (offset > bytes.size() || size > bytes.size() - offset) return false;
        std::copy_n(bytes.data() + offset, size, out);
        return true;
      });
      ASSERT_NE(tree, nullptr) << image;
      EXPECT_EQ(detector_component::DataDiscKind(*tree), c.kind) << image;
    }
  }
  EXPECT_EQ(detector_component::OpenDiscTree([](uint64_t, size_t, uint8_t*) { return false; }), nullptr);

  auto dvd = detector_component::OpenMountedTree(base + "/dvd");
  const struct {
    int drive, disc;
    detector_component::DiscTree* tree;
    DWORD kind;
  } statuses[] = {
      {CDS_NO_DISC, CDS_NO_INFO, nullptr, detector_component::kEmpty},
      {CDS_TRAY_OPEN, CDS_NO_INFO, nullptr, detector_component::kEmpty},
      {CDS_DRIVE_NOT_READY, CDS_NO_INFO, nullptr, 0},
      {CDS_DISC_OK, CDS_AUDIO, nullptr, detector_component::kAudioCd},
      {CDS_DISC_OK, CDS_MIXED, dvd.get(), detector_component::kAudioCd},
      {CDS_DISC_OK, CDS_DATA_1, nullptr, detector_component::kData},
      {CDS_DISC_OK, CDS_XA_2_1, dvd.get(), detector_component::kDvdVideo},
      {CDS_DISC_OK, CDS_NO_INFO, nullptr, detector_component::kEmpty},
      {CDS_DISC_OK, CDS_NO_INFO, dvd.get(), detector_component::kDvdVideo},
      {CDS_DISC_OK, -1, nullptr, 0},
  };
  for (const auto& c : statuses) {
    EXPECT_EQ(detector_component::DiscKindOf(c.drive, c.disc, c.tree), c.kind) << c.drive << " " << c.disc;
  }
  std::system(("rm -rf " + base).c_str());
}

}  // namespace
