#pragma once
// The interface of the outside detector component, QXDeviceDetector.dll, and
// the callback interface the component receives through Attach: the contract
// between the module (src/detector) and a component (components/detector),
// which both include from here and neither from the other. The method order
// is the component's: only the named positions are called; the reserved ones
// keep the others in place.
#include <objbase.h>
#include <unknwn.h>

namespace device {

// {D68D7E32-F8C8-4B18-BF69-55BB6C02237B}
constexpr CLSID kClsidDeviceDetector = {0xD68D7E32, 0xF8C8, 0x4B18, {0xBF, 0x69, 0x55, 0xBB, 0x6C, 0x02, 0x23, 0x7B}};
// {84247F0C-B199-4424-96F1-09B772E12CAC}
inline constexpr IID kIidDeviceDetector = {0x84247F0C, 0xB199, 0x4424, {0x96, 0xF1, 0x09, 0xB7, 0x72, 0xE1, 0x2C, 0xAC}};

// A plain interface without IUnknown: WiaDevConnect, then the destructor.
class IWiaConnectCallback {
 public:
  virtual void WiaDevConnect() = 0;
  virtual ~IWiaConnectCallback() = default;
};

// What QueryDriveStatus fills in.
struct DriveStatus {
  DWORD drive;  // the drive's state
  DWORD media;  // non-zero while it holds a disc
};

// Positions count from QueryInterface (0).
struct IDeviceDetector : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Reserved3() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved5() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved6() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCDROMType(BYTE drive, DWORD* kind) = 0;                 // 7
  virtual HRESULT STDMETHODCALLTYPE GetDiscType(BYTE drive, DWORD* kind) = 0;                  // 8
  virtual HRESULT STDMETHODCALLTYPE Reserved9() = 0;
  virtual HRESULT STDMETHODCALLTYPE ChangeDoorStatus(BYTE drive, DWORD command) = 0;           // 10
  virtual HRESULT STDMETHODCALLTYPE Reserved11() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved12() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved13() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved14() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved15() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved16() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved17() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved18() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved19() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved20() = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumWIACameraDevice(DWORD index, WCHAR** name) = 0;      // 21
  virtual HRESULT STDMETHODCALLTYPE Reserved22() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved23() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved24() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved25() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved26() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved27() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved28() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved29() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved30() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved31() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved32() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved33() = 0;
  virtual HRESULT STDMETHODCALLTYPE Attach(IWiaConnectCallback* callback) = 0;                 // 34
  virtual HRESULT STDMETHODCALLTYPE Detach() = 0;                                              // 35
  virtual HRESULT STDMETHODCALLTYPE DetectTwinViewMode(DWORD* mode) = 0;                       // 36
  virtual HRESULT STDMETHODCALLTYPE GetVGASpecialCaps(DWORD* caps) = 0;                        // 37
  virtual HRESULT STDMETHODCALLTYPE GetVGASpecialSetting(DWORD* setting) = 0;                  // 38
  virtual HRESULT STDMETHODCALLTYPE SetVGASpecialSetting(DWORD setting) = 0;                   // 39
  virtual HRESULT STDMETHODCALLTYPE GetVGADeviceIdentifier(DWORD* first, DWORD* second) = 0;   // 40
  virtual HRESULT STDMETHODCALLTYPE Reserved41() = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryDriveStatus(BYTE drive, DriveStatus* status) = 0;     // 42
  virtual HRESULT STDMETHODCALLTYPE GetDriveFactoryName(BYTE drive, WCHAR* name) = 0;          // 43
};

// The size of GetDriveFactoryName's buffer, in characters with the terminator.
constexpr size_t kFactoryNameChars = 260;

}  // namespace device
