// WMI: WQL queries and their failures, and the video controllers read from a
// machine built in a folder (W32_SYSROOT). The locators, the maker and the
// memory are tested at the module's entry points.
#include <gtest/gtest.h>
#include <wbemidl.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "common/com_holders.h"
#include "support/text.h"

namespace {

using device::Bstr;
using device::Released;
using Values = std::vector<std::optional<std::u16string>>;

class Wmi : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/w32-wmi-XXXXXX";
    root_ = mkdtemp(pattern);
    setenv("W32_SYSROOT", root_.c_str(), 1);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    Released<IWbemLocator> locator;
    ASSERT_EQ(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                               reinterpret_cast<void**>(locator.out())),
              S_OK);
    ASSERT_EQ(locator->ConnectServer(Bstr(u"root\\cimv2"), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                     &services_),
              S_OK);
  }
  void TearDown() override {
    if (services_ != nullptr) services_->Release();
    CoUninitialize();
    unsetenv("W32_SYSROOT");
    std::system(("rm -rf " + root_).c_str());
  }

  void Write(const std::string& path, const std::string& text) {
    std::system(("mkdir -p $(dirname " + root_ + path + ")").c_str());
    std::ofstream(root_ + path) << text;
  }

  void AddPciDevice(const std::string& address, const char* device_class, const char* vendor, const char* device,
                    const char* boot_vga) {
    const std::string base = "/sys/bus/pci/devices/" + address + "/";
    Write(base + "class", std::string(device_class) + "\n");
    Write(base + "vendor", std::string(vendor) + "\n");
    Write(base + "device", std::string(device) + "\n");
    Write(base + "subsystem_vendor", "0x1028\n");
    Write(base + "subsystem_device", "0x040a\n");
    Write(base + "revision", "0x02\n");
    if (boot_vga != nullptr) Write(base + "boot_vga", std::string(boot_vga) + "\n");
  }

  // Every value of the property in the query's instances; none for a null.
  Values ValuesOf(const char16_t* query, const char16_t* property) {
    Released<IEnumWbemClassObject> results;
    EXPECT_EQ(services_->ExecQuery(Bstr(u"WQL"), Bstr(query), WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, results.out()),
              S_OK);
    Values values;
    while (results.get() != nullptr) {
      Released<IWbemClassObject> object;
      ULONG returned = 0;
      results->Next(WBEM_INFINITE, 1, object.out(), &returned);
      if (returned == 0) break;
      VARIANT value;
      EXPECT_EQ(object->Get(property, 0, &value, nullptr, nullptr), S_OK);
      values.push_back(value.vt == VT_BSTR ? std::optional<std::u16string>(value.bstrVal) : std::nullopt);
      VariantClear(&value);
    }
    return values;
  }

  std::string root_;
  IWbemServices* services_ = nullptr;
};

TEST_F(Wmi, QueriesAndTheirFailures) {
  // Text that is no data query fails at once; a class or property unknown, at Next.
  const struct {
    const char16_t* language;
    const char16_t* query;
    LONG flags;
    HRESULT exec;
    HRESULT next;
  } cases[] = {
      {u"WQL", u"SELECT * FROM Win32_NoSuchClass", 0x10, S_OK, WBEM_E_INVALID_CLASS},
      {u"WQL", u"SELECT Speed FROM Win32_ComputerSystem", 0x30, S_OK, WBEM_E_INVALID_QUERY},
      {u"WQL", u"SELECT FROM Win32_ComputerSystem", 0x10, WBEM_E_INVALID_QUERY, S_OK},
      {u"WQL", u"SELECT * FROM Win32_ComputerSystem WHERE Name = 'x'", 0x10, WBEM_E_INVALID_QUERY, S_OK},
      {u"WQL", u"SELECT a, FROM Win32_ComputerSystem", 0x10, WBEM_E_INVALID_QUERY, S_OK},
      {u"SQL", u"SELECT * FROM Win32_ComputerSystem", 0x10, WBEM_E_INVALID_QUERY_TYPE, S_OK},
      {u"WQL", u"SELECT * FROM Win32_ComputerSystem", 0, WBEM_E_NOT_SUPPORTED, S_OK},  // synchronous
  };
  for (const auto& c : cases) {
    Released<IEnumWbemClassObject> results;
    EXPECT_EQ(services_->ExecQuery(Bstr(c.language), Bstr(c.query), c.flags, nullptr, results.out()), c.exec)
        << w32::ToUtf8(c.query);
    if (results.get() == nullptr) continue;
    IWbemClassObject* object = nullptr;
    ULONG returned = 7;
    EXPECT_EQ(results->Next(WBEM_INFINITE, 1, &object, &returned), c.next) << w32::ToUtf8(c.query);
    EXPECT_EQ(returned, 0u);
  }
}

TEST_F(Wmi, VideoControllersFromPci) {
  Write("/usr/share/misc/pci.ids",
        "# pci.ids\n"
        "1028  Dell\n"
        "8086  Intel Corporation\n"
        "\t0042  Core Processor Integrated Graphics Controller\n"
        "\t0046  Core Processor Integrated Graphics Controller\n"
        "\t\t1028 040a  Latitude E6410 Graphics\n"
        "\t0047  Other\n"
        "10de  NVIDIA Corporation\n"
        "C 03  Display controller\n");
  AddPciDevice("0000:00:02.0", "0x030000", "0x8086", "0x0046", "0");
  AddPciDevice("0000:01:00.0", "0x030200", "0x10de", "0x1c03", "1");  // the boot display, later in address order
  AddPciDevice("0000:00:1f.3", "0x040300", "0x8086", "0x0042", nullptr);  // audio: no display
  EXPECT_EQ(ValuesOf(u"SELECT PNPDeviceID FROM Win32_VideoController", u"PNPDeviceID"),
            (Values{u"PCI\\VEN_10DE&DEV_1C03&SUBSYS_040A1028&REV_02\\3&00000001&0&00",
                    u"PCI\\VEN_8086&DEV_0046&SUBSYS_040A1028&REV_02\\3&00000000&0&10"}));
  // The subsystem entry names the computer the device is built into, not the device.
  EXPECT_EQ(ValuesOf(u"SELECT Caption,Description FROM Win32_VideoController", u"Caption"),
            (Values{u"Microsoft Basic Display Adapter", u"Core Processor Integrated Graphics Controller"}));
}

}  // namespace
