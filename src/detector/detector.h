#pragma once
// Drives, discs, cameras and display settings through the outside detector
// component, the platform's drive facts, the connection state, the machine's
// maker through WMI, and device-change events through its DectorCallback.
//
// It belongs to the thread that made it, as its window does: that thread's
// COM apartment holds the component, so the component, the window and the
// apartment end there (callback/thread_bound.h).
#include <windows.h>

#include <optional>
#include <string>
#include <utility>

#include "callback/thread_bound.h"
#include "detector/dector_callback.h"
#include "device_detector.h"
#include "detector/dll_com.h"

namespace device {

class Detector : public IWiaConnectCallback, public ThreadBound {
 public:
  // Initialises COM on this thread, sets process-wide COM security and
  // loads the component; without one every query gives its fallback answer.
  Detector();
  // On the owner thread: lets the component go and ends the COM
  // initialisation of the constructor. Once the owner has ended, its
  // apartment is gone with it, and only the component is let go.
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

 protected:
  // Drops the callable and the routing of the window's messages.
  void Detach() override;

 private:
  HRESULT co_init_result_;
  IDeviceDetector* component_;
  DectorCallback callback_;
  CDllCom loader_;
};

}  // namespace device
