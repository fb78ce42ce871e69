// A detector component whose answers a test writes: the file named by
// DETECTOR_TEST_SCRIPT holds one line per operation, "Name status [answer]",
// and each call appends what it received (with the caller's presets) to the
// file named by DETECTOR_TEST_LOG. Answers: a number, "-" to write nothing,
// "text:NAME", "null", "fill:N" (N characters without a terminator) or
// "long:N" (N characters, then the terminator). Built once more without
// DllGetClassObject.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "com_server.h"

namespace test_component {
namespace {

// An operation without a line fails (E_FAIL) and writes nothing.
struct Answer {
  bool scripted = false;
  HRESULT status = E_FAIL;
  std::vector<std::string> values;
};

Answer Scripted(const char* name) {
  const char* script = std::getenv("DETECTOR_TEST_SCRIPT");
  std::ifstream file(script != nullptr ? script : "");
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream fields(line);
    std::string method, status;
    if (!(fields >> method >> status) || method != name) continue;
    Answer answer;
    answer.scripted = true;
    answer.status = static_cast<HRESULT>(std::strtoul(status.c_str(), nullptr, 0));
    for (std::string value; fields >> value;) answer.values.push_back(value);
    return answer;
  }
  return Answer{};
}

void Log(const std::string& line) {
  if (const char* log = std::getenv("DETECTOR_TEST_LOG")) std::ofstream(log, std::ios::app) << line << "\n";
}

std::string Number(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "%u", value);
  return text;
}

// Writes a number answer unless it is "-" or missing.
void Put(const Answer& answer, size_t index, DWORD* out) {
  if (index < answer.values.size() && answer.values[index] != "-") {
    *out = static_cast<DWORD>(std::strtoul(answer.values[index].c_str(), nullptr, 0));
  }
}

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

class TestDetector : public detector_component::DetectorObject {
 public:
  ~TestDetector() override { Log("Release"); }

  HRESULT STDMETHODCALLTYPE GetCDROMType(BYTE drive, DWORD* kind) override { return Kind("GetCDROMType", drive, kind); }
  HRESULT STDMETHODCALLTYPE GetDiscType(BYTE drive, DWORD* kind) override { return Kind("GetDiscType", drive, kind); }

  HRESULT STDMETHODCALLTYPE ChangeDoorStatus(BYTE drive, DWORD command) override {
    Log("ChangeDoorStatus drive=" + Number(drive) + " command=" + Number(command));
    return Scripted("ChangeDoorStatus").status;
  }

  HRESULT STDMETHODCALLTYPE EnumWIACameraDevice(DWORD index, WCHAR** name) override {
    Log("EnumWIACameraDevice index=" + Number(index) + " preset=" + (*name == nullptr ? "null" : "set"));
    const Answer answer = Scripted("EnumWIACameraDevice");
    const std::string value = answer.values.empty() ? "-" : answer.values[0];
    if (value == "null") {
      *name = nullptr;
    } else if (value.compare(0, 5, "text:") == 0) {
      camera_ = Wide(value.substr(5));
      *name = camera_.data();
    } else if (value.compare(0, 5, "long:") == 0) {
      camera_.assign(std::strtoul(value.c_str() + 5, nullptr, 10), u'W');
      *name = camera_.data();
    }
    return answer.status;
  }

  HRESULT STDMETHODCALLTYPE Attach(device::IWiaConnectCallback* callback) override {
    Log(std::string("Attach ") + (callback != nullptr ? "callback" : "null"));
    // The callback's first method is WiaDevConnect: the script may ask for a call.
    if (callback != nullptr && SUCCEEDED(Scripted("WiaDevConnect").status)) callback->WiaDevConnect();
    return Scripted("Attach").status;
  }

  HRESULT STDMETHODCALLTYPE Detach() override {
    Log("Detach");
    return Scripted("Detach").status;
  }

  HRESULT STDMETHODCALLTYPE DetectTwinViewMode(DWORD* value) override { return Display("DetectTwinViewMode", value); }
  HRESULT STDMETHODCALLTYPE GetVGASpecialCaps(DWORD* value) override { return Display("GetVGASpecialCaps", value); }
  HRESULT STDMETHODCALLTYPE GetVGASpecialSetting(DWORD* value) override {
    return Display("GetVGASpecialSetting", value);
  }

  HRESULT STDMETHODCALLTYPE SetVGASpecialSetting(DWORD value) override {
    Log("SetVGASpecialSetting value=" + Number(value));
    return Scripted("SetVGASpecialSetting").status;
  }

  HRESULT STDMETHODCALLTYPE GetVGADeviceIdentifier(DWORD* first, DWORD* second) override {
    Log("GetVGADeviceIdentifier preset=" + Number(*first) + "," + Number(*second));
    const Answer answer = Scripted("GetVGADeviceIdentifier");
    Put(answer, 0, first);
    Put(answer, 1, second);
    return answer.status;
  }

  HRESULT STDMETHODCALLTYPE QueryDriveStatus(BYTE drive, device::DriveStatus* status) override {
    Log("QueryDriveStatus drive=" + Number(drive) + " preset=" + Number(status->drive) + "," + Number(status->media));
    return Scripted("QueryDriveStatus").status;
  }

  HRESULT STDMETHODCALLTYPE GetDriveFactoryName(BYTE drive, WCHAR* name) override {
    Log("GetDriveFactoryName drive=" + Number(drive) + " preset=" + (name[0] == 0 ? "empty" : "set"));
    const Answer answer = Scripted("GetDriveFactoryName");
    const std::string value = answer.values.empty() ? "-" : answer.values[0];
    if (value.compare(0, 5, "text:") == 0) {
      const std::u16string text = Wide(value.substr(5));
      text.copy(name, text.size());
      name[text.size()] = 0;
    } else if (value.compare(0, 5, "fill:") == 0) {
      const size_t count = std::strtoul(value.c_str() + 5, nullptr, 10);
      for (size_t i = 0; i < count && i < device::kFactoryNameChars; ++i) name[i] = u'F';
    }
    return answer.status;
  }

 private:
  HRESULT Kind(const char* name, BYTE drive, DWORD* kind) {
    Log(std::string(name) + " drive=" + Number(drive) + " preset=" + Number(*kind));
    const Answer answer = Scripted(name);
    Put(answer, 0, kind);
    return answer.status;
  }

  HRESULT Display(const char* name, DWORD* value) {
    Log(std::string(name) + " preset=" + Number(*value));
    const Answer answer = Scripted(name);
    Put(answer, 0, value);
    return answer.status;
  }

  std::u16string camera_;
};

__attribute__((destructor)) void Unloaded() { Log("unloaded"); }

}  // namespace
}  // namespace test_component

#ifndef TEST_COMPONENT_WITHOUT_CLASS_OBJECT
extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid,
                                                                             void** object) {
  test_component::Log("DllGetClassObject");
  const test_component::Answer answer = test_component::Scripted("DllGetClassObject");
  const HRESULT made = detector_component::GetClassObject<test_component::TestDetector>(clsid, iid, object);
  if (!answer.scripted) return made;
  // A scripted status hands out no factory unless the answer is "factory".
  const bool keep = !answer.values.empty() && answer.values[0] == "factory";
  if (!keep && *object != nullptr) {
    static_cast<IUnknown*>(*object)->Release();
    *object = nullptr;
  }
  return answer.status;
}
#endif

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
  test_component::Log("DllCanUnloadNow");
  const test_component::Answer answer = test_component::Scripted("DllCanUnloadNow");
  return answer.scripted ? answer.status : detector_component::CanUnloadNow();
}
