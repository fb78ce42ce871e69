#pragma once
// Drives, discs, cameras and display settings through the outside detector
// component, the platform's drive facts, the connection state, the machine's
// maker through WMI, and device-change events through its DectorCallback.
#include <windows.h>

#include <optional>
#include <string>
#include <utility>

#include "detector/dector_callback.h"
#include "device_detector.h"
#include "detector/dll_com.h"

namespace device {

class Detector : public IWiaConnectCallback {
 public:
  // Initialises COM on this thread, sets process-wide COM security and
  // loads the component; without one every query gives its fallback answer.
  Detector();
  ~Detector() override;
  Detector(const Detector&) = delete;
  Detector& operator=(const Detector&) = delete;

  // Writes the trace line ">>>>>WiaDevConnect".
  void WiaDevConnect() override;

  std::u16string GetCDROMType(BYTE drive);
  std::u16string GetDriveType(BYTE drive);
  std::u16string GetDiscType(BYTE drive);
  std::u16string GetDriveFriendlyName(BYTE drive);
  std::u16string GetDriveFactoryName(BYTE drive);
  int ChangeDoorStatus(BYTE drive, bool open);
  int SetCallback(PyObject* callable);

  DWORD DetectTwinViewMode();
  DWORD GetVGASpecialCaps();
  DWORD GetVGASpecialSetting();
  int SetVGASpecialSetting(DWORD setting);
  std::pair<int, int> GetVGADeviceIdentifier();
  std::u16string EnumWIACameraDevice(int index);
  int IsInternetConnected();
  // The maker from the first Win32_SystemEnclosure; nothing when WMI cannot tell.
  std::optional<std::u16string> GetSysManufacturer();

 private:
  HRESULT co_init_result_;
  IDeviceDetector* component_;
  DectorCallback callback_;
  CDllCom loader_;
};

}  // namespace device
