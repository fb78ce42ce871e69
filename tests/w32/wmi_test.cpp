// WMI: the locators, the namespace, WQL queries and the classes read from a
// machine built in a folder (W32_SYSROOT).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <wbemidl.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/text.h"

namespace {

// A COM interface pointer released at the end of its scope.
template <class I>
struct Held {
  I* p = nullptr;
  ~Held() {
    if (p != nullptr) p->Release();
  }
  I** out() { return &p; }
  I* operator->() const { return p; }
};

// A BSTR freed at the end of its scope.
struct Text {
  explicit Text(const char16_t* text) : b(SysAllocString(text)) {}
  ~Text() { SysFreeString(b); }
  BSTR b;
};

class Wmi : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/w32-wmi-XXXXXX";
    root_ = mkdtemp(pattern);
    setenv("W32_SYSROOT", root_.c_str(), 1);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
  }
  void TearDown() override {
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

  HRESULT Connect(const char16_t* name, IWbemServices** services) {
    Held<IWbemLocator> locator;
    HRESULT result = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                      reinterpret_cast<void**>(locator.out()));
    if (FAILED(result)) return result;
    Text resource(name);
    return locator->ConnectServer(resource.b, nullptr, nullptr, nullptr, 0, nullptr, nullptr, services);
  }

  // Every value of the property in the query's instances; none for a null.
  std::vector<std::optional<std::u16string>> ValuesOf(const char16_t* query, const char16_t* property) {
    Held<IWbemServices> services;
    EXPECT_EQ(Connect(u"ROOT\\CIMV2", services.out()), S_OK);
    Text language(u"WQL"), text(query);
    Held<IEnumWbemClassObject> results;
    EXPECT_EQ(services->ExecQuery(language.b, text.b, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                  results.out()),
              S_OK);
    std::vector<std::optional<std::u16string>> values;
    while (results.p != nullptr) {
      Held<IWbemClassObject> object;
      ULONG returned = 0;
      results->Next(WBEM_INFINITE, 1, object.out(), &returned);
      if (returned == 0) break;
      VARIANT value;
      EXPECT_EQ(object->Get(property, 0, &value, nullptr, nullptr), S_OK);
      values.push_back(value.vt == VT_BSTR ? std::optional<std::u16string>(value.bstrVal) : std::nullopt);
      EXPECT_TRUE(value.vt == VT_BSTR || value.vt == VT_NULL);
      VariantClear(&value);
    }
    return values;
  }

  std::string root_;
};

using Values = std::vector<std::optional<std::u16string>>;

// The expected values; null stands for a null property.
Values Expect(std::initializer_list<const char16_t*> texts) {
  Values values;
  for (const char16_t* text : texts) {
    values.push_back(text != nullptr ? std::optional<std::u16string>(text) : std::nullopt);
  }
  return values;
}

TEST_F(Wmi, LocatorsConnectToRootCimv2Only) {
  Held<IUnknown> administrative;
  EXPECT_EQ(CoCreateInstance(CLSID_WbemAdministrativeLocator, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                             IID_IUnknown, reinterpret_cast<void**>(administrative.out())),
            S_OK);
  const struct {
    const char16_t* name;
    HRESULT expected;
  } cases[] = {
      {u"root\\cimv2", S_OK},         {u"ROOT\\CIMV2", S_OK},
      {u"\\\\.\\root\\cimv2", S_OK},  {u"root/cimv2", S_OK},
      {u"root\\default", WBEM_E_INVALID_NAMESPACE}, {u"", WBEM_E_INVALID_NAMESPACE},
  };
  for (const auto& c : cases) {
    Held<IWbemServices> services;
    EXPECT_EQ(Connect(c.name, services.out()), c.expected) << w32::ToUtf8(c.name);
    EXPECT_EQ(services.p != nullptr, c.expected == S_OK);
  }
  // The machine-facts connection sets a proxy blanket on the namespace.
  Held<IWbemServices> services;
  ASSERT_EQ(Connect(u"ROOT\\CIMV2", services.out()), S_OK);
  EXPECT_EQ(CoSetProxyBlanket(services.p, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                              RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE),
            S_OK);
}

TEST_F(Wmi, QueriesAndTheirFailures) {
  Write("/proc/meminfo", "MemTotal:        4194304 kB\nMemFree:  1 kB\n");
  Held<IWbemServices> services;
  ASSERT_EQ(Connect(u"root\\cimv2", services.out()), S_OK);
  // Failures of a semisynchronous query that need the class come at Next.
  const struct {
    const char16_t* language;
    const char16_t* query;
    LONG flags;
    HRESULT exec;
    HRESULT next;
    ULONG returned;
  } cases[] = {
      {u"WQL", u"SELECT TotalPhysicalMemory FROM Win32_ComputerSystem", 0x30, S_OK, WBEM_S_FALSE, 1},
      {u"wql", u"select * from win32_computersystem", 0, S_OK, WBEM_S_FALSE, 1},
      {u"WQL", u"Select Caption , Description FROM Win32_VideoController", 0x30, S_OK, WBEM_S_FALSE, 0},
      {u"WQL", u"SELECT * FROM Win32_NoSuchClass", 0x10, S_OK, WBEM_E_INVALID_CLASS, 0},
      {u"WQL", u"SELECT * FROM Win32_NoSuchClass", 0, WBEM_E_INVALID_CLASS, S_OK, 0},
      {u"WQL", u"SELECT Speed FROM Win32_ComputerSystem", 0x10, S_OK, WBEM_E_INVALID_QUERY, 0},
      {u"WQL", u"SELECT FROM Win32_ComputerSystem", 0x10, WBEM_E_INVALID_QUERY, S_OK, 0},
      {u"WQL", u"SELECT * FROM Win32_ComputerSystem WHERE Name = 'x'", 0, WBEM_E_INVALID_QUERY, S_OK, 0},
      {u"WQL", u"SELECT a, FROM Win32_ComputerSystem", 0, WBEM_E_INVALID_QUERY, S_OK, 0},
      {u"SQL", u"SELECT * FROM Win32_ComputerSystem", 0, WBEM_E_INVALID_QUERY_TYPE, S_OK, 0},
  };
  for (const auto& c : cases) {
    Text language(c.language), query(c.query);
    Held<IEnumWbemClassObject> results;
    EXPECT_EQ(services->ExecQuery(language.b, query.b, c.flags, nullptr, results.out()), c.exec)
        << w32::ToUtf8(c.query);
    if (results.p == nullptr) continue;
    IWbemClassObject* objects[2] = {};
    ULONG returned = 7;
    EXPECT_EQ(results->Next(WBEM_INFINITE, 2, objects, &returned), c.next) << w32::ToUtf8(c.query);
    EXPECT_EQ(returned, c.returned);
    for (ULONG i = 0; i < returned; ++i) objects[i]->Release();
  }
  Text language(u"WQL"), query(u"SELECT TotalPhysicalMemory FROM Win32_ComputerSystem");
  EXPECT_EQ(services->ExecQuery(language.b, query.b, 0, nullptr, nullptr), WBEM_E_INVALID_PARAMETER);
}

TEST_F(Wmi, EnumeratorAndObject) {
  Write("/proc/meminfo", "MemTotal:        4194304 kB\n");
  Held<IWbemServices> services;
  ASSERT_EQ(Connect(u"root\\cimv2", services.out()), S_OK);
  Text language(u"WQL"), query(u"SELECT TotalPhysicalMemory FROM Win32_ComputerSystem");
  Held<IEnumWbemClassObject> results;
  ASSERT_EQ(services->ExecQuery(language.b, query.b, WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, results.out()), S_OK);
  IWbemClassObject* object = nullptr;
  ULONG returned = 0;
  EXPECT_EQ(results->Next(-2, 1, &object, &returned), WBEM_E_INVALID_PARAMETER);
  EXPECT_EQ(results->Next(WBEM_NO_WAIT, 1, &object, &returned), S_OK);
  ASSERT_EQ(returned, 1u);
  const struct {
    const char16_t* name;
    HRESULT expected;
    CIMTYPE type;
  } properties[] = {
      {u"TotalPhysicalMemory", S_OK, CIM_UINT64},
      {u"totalphysicalmemory", S_OK, CIM_UINT64},
      {u"Manufacturer", WBEM_E_NOT_FOUND, 0},  // not of this class
      {u"Name", WBEM_E_NOT_FOUND, 0},          // not selected
  };
  for (const auto& p : properties) {
    VARIANT value;
    CIMTYPE type = -1;
    EXPECT_EQ(object->Get(p.name, 0, &value, &type, nullptr), p.expected) << w32::ToUtf8(p.name);
    if (p.expected != S_OK) continue;
    EXPECT_EQ(type, p.type);
    ASSERT_EQ(value.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(value.bstrVal), u"4294967296");
    VariantClear(&value);
  }
  object->Release();
  EXPECT_EQ(results->Next(WBEM_INFINITE, 1, &object, &returned), WBEM_S_FALSE);
  EXPECT_EQ(returned, 0u);
  EXPECT_EQ(results->Reset(), S_OK);
  EXPECT_EQ(results->Next(WBEM_INFINITE, 1, &object, &returned), S_OK);
  object->Release();

  Held<IEnumWbemClassObject> forward;
  ASSERT_EQ(services->ExecQuery(language.b, query.b, 0x30, nullptr, forward.out()), S_OK);
  EXPECT_EQ(forward->Reset(), WBEM_E_INVALID_OPERATION);
}

TEST_F(Wmi, ManufacturerFromDmi) {
  const char16_t* query = u"Select * from Win32_SystemEnclosure";
  EXPECT_EQ(ValuesOf(query, u"Manufacturer"), Expect({nullptr}));  // no DMI
  Write("/sys/class/dmi/id/sys_vendor", "Quillomat Systems\n");
  Write("/sys/class/dmi/id/chassis_vendor", "  \n");
  EXPECT_EQ(ValuesOf(query, u"Manufacturer"), Expect({u"Quillomat Systems"}));
  Write("/sys/class/dmi/id/chassis_vendor", "Chassis Maker\n");
  EXPECT_EQ(ValuesOf(query, u"Manufacturer"), Expect({u"Chassis Maker"}));
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
            (Expect({u"PCI\\VEN_10DE&DEV_1C03&SUBSYS_040A1028&REV_02\\3&00000001&0&00",
                    u"PCI\\VEN_8086&DEV_0046&SUBSYS_040A1028&REV_02\\3&00000000&0&10"})));
  EXPECT_EQ(ValuesOf(u"SELECT Caption,Description FROM Win32_VideoController", u"Description"),
            (Expect({u"Microsoft Basic Display Adapter", u"Latitude E6410 Graphics"})));
  Write("/sys/bus/pci/devices/0000:00:02.0/subsystem_device", "0x0001\n");
  EXPECT_EQ(ValuesOf(u"SELECT * FROM Win32_VideoController", u"Name"),
            (Expect({u"Microsoft Basic Display Adapter", u"Core Processor Integrated Graphics Controller"})));
}

}  // namespace
