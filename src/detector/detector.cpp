#include "detector/detector.h"

#include <shellapi.h>
#include <wininet.h>

#include <algorithm>

#include "common/trace.h"

namespace device {
namespace {

constexpr WCHAR kServerFile[] = u"QXDeviceDetector.dll";

const char16_t* DriveKindText(DWORD kind) {
  static const char16_t* const kTexts[] = {u"DRIVE CDROM", u"DRIVE CD_R", u"DRIVE CD_RW",
                                           u"DRIVE DVD_ROM", u"DRIVE DVD_R", u"DRIVE DVD_RAM"};
  return kind >= 1 && kind <= 6 ? kTexts[kind - 1] : u"DRIVE UNKNOWN";
}

const char16_t* DiscKindText(DWORD kind) {
  static const char16_t* const kTexts[] = {u"DISC AUDIOCD", u"DISC VCD10",     u"DISC VCD11", u"DISC VCD20",
                                           u"DISC SVCD",    u"DISC DVD_VIDEO", u"DISC DVD_VR", u"DISC DATA",
                                           u"DISC EMPTY",   u"DISC DVD_AUDIO"};
  return kind >= 1 && kind <= 10 ? kTexts[kind - 1] : u"DISC UNKNOWN";
}

// The drive letter and a fixed tail: "E:/" or "E:\".
std::u16string RootPath(BYTE drive, char16_t separator) {
  return {static_cast<char16_t>(u'A' + drive), u':', separator};
}

// Text the component owns, up to its terminator or kFactoryNameChars characters.
std::u16string BoundedCopy(const WCHAR* text) {
  const WCHAR* end = std::find(text, text + kFactoryNameChars, u'\0');
  return std::u16string(text, end);
}

// The handle of the library this code is in.
HMODULE OwnModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&OwnModule), &module);
  return module;
}

}  // namespace

DEVICE_OUTSIDE_CALLS Detector::Detector() : co_init_result_(S_OK), component_(nullptr) {
  co_init_result_ = CoInitialize(nullptr);
  CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                       EOAC_NONE, nullptr);
  if (component_ == nullptr) {
    const HRESULT result = loader_.CreateInstance(OwnModule(), kServerFile, kClsidDeviceDetector,
                                                  kIidDeviceDetector, reinterpret_cast<void**>(&component_));
    if (SUCCEEDED(result) && component_ != nullptr) component_->Attach(this);
  }
}

DEVICE_OUTSIDE_CALLS Detector::~Detector() {
  if (component_ != nullptr) {
    component_->Detach();
    component_->Release();
    component_ = nullptr;
    loader_.Unload();
  }
  if (SUCCEEDED(co_init_result_) && OwnerLives()) CoUninitialize();
}

void Detector::Detach() { callback_.Detach(); }

void Detector::WiaDevConnect() { TraceA(">>>>>WiaDevConnect"); }

DEVICE_OUTSIDE_CALLS std::u16string Detector::GetCDROMType(BYTE drive) {
  if (component_ == nullptr) return u"DRIVE UNKNOWN";
  DWORD kind = 1;
  if (FAILED(component_->GetCDROMType(drive, &kind))) return u"DRIVE UNKNOWN";
  return DriveKindText(kind);
}

std::u16string Detector::GetDriveType(BYTE drive) {
  switch (GetDriveTypeW(RootPath(drive, u'/').c_str())) {
    case DRIVE_REMOVABLE: return u"DRIVE REMOVABLE";
    case DRIVE_FIXED: return u"DRIVE FIXED";
    case DRIVE_REMOTE: return u"DRIVE REMOTE";
    case DRIVE_CDROM: return GetCDROMType(drive);
    case DRIVE_RAMDISK: return u"DRIVE RAMDISK";
    default: return u"DRIVE UNKNOWN";
  }
}

DEVICE_OUTSIDE_CALLS std::u16string Detector::GetDiscType(BYTE drive) {
  if (component_ == nullptr) return u"DISC UNKNOWN";
  DWORD kind = 0;
  if (FAILED(component_->GetDiscType(drive, &kind))) return u"DISC UNKNOWN";
  TraceA("CheckDiscFormat");
  return DiscKindText(kind);
}

std::u16string Detector::GetDriveFriendlyName(BYTE drive) {
  const std::u16string root = RootPath(drive, u'\\');
  SHFILEINFOW info{};
  if (SHGetFileInfoW(root.c_str(), 0, &info, sizeof info, SHGFI_DISPLAYNAME) == 0) return root;
  const WCHAR* name = info.szDisplayName;
  return std::u16string(name, std::find(name, name + MAX_PATH, u'\0'));
}

DEVICE_OUTSIDE_CALLS std::u16string Detector::GetDriveFactoryName(BYTE drive) {
  if (component_ == nullptr) return u"DISC UNKNOWN";
  WCHAR name[kFactoryNameChars] = {};
  if (FAILED(component_->GetDriveFactoryName(drive, name))) return u"DISC UNKNOWN";
  return BoundedCopy(name);
}

DEVICE_OUTSIDE_CALLS int Detector::ChangeDoorStatus(BYTE drive, bool open) {
  if (component_ == nullptr) return 0;
  DriveStatus status{0, 0};
  component_->QueryDriveStatus(drive, &status);
  component_->ChangeDoorStatus(drive, open ? 1 : 2);
  return 1;
}

int Detector::SetCallback(PyObject* callable) {
  callback_.SetCallback(callable);
  return 1;
}

DEVICE_OUTSIDE_CALLS DWORD Detector::DetectTwinViewMode() {
  DWORD value = 0;
  if (component_ != nullptr) component_->DetectTwinViewMode(&value);
  return value;
}

DEVICE_OUTSIDE_CALLS DWORD Detector::GetVGASpecialCaps() {
  DWORD value = 0;
  if (component_ != nullptr) component_->GetVGASpecialCaps(&value);
  return value;
}

DEVICE_OUTSIDE_CALLS DWORD Detector::GetVGASpecialSetting() {
  DWORD value = 0;
  if (component_ != nullptr) component_->GetVGASpecialSetting(&value);
  return value;
}

DEVICE_OUTSIDE_CALLS int Detector::SetVGASpecialSetting(DWORD setting) {
  if (component_ == nullptr) return 0;
  return SUCCEEDED(component_->SetVGASpecialSetting(setting)) ? 1 : 0;
}

DEVICE_OUTSIDE_CALLS std::pair<int, int> Detector::GetVGADeviceIdentifier() {
  DWORD first = 0;
  DWORD second = 0;
  if (component_ != nullptr) component_->GetVGADeviceIdentifier(&first, &second);
  return {static_cast<int>(first), static_cast<int>(second)};
}

DEVICE_OUTSIDE_CALLS std::u16string Detector::EnumWIACameraDevice(int) {
  if (component_ == nullptr) return u"";
  WCHAR* name = nullptr;
  component_->EnumWIACameraDevice(0, &name);
  return name == nullptr ? std::u16string() : BoundedCopy(name);
}

int Detector::IsInternetConnected() {
  DWORD flags = 0;
  return InternetGetConnectedState(&flags, 0);
}

}  // namespace device
