// The module _Device: its function table and its initialiser.
//
// Each row is one Python function: its name, the native service it calls and
// the kinds of its arguments, in order. The row is the whole entry point.
#include "python/python_compat.h"

#include "binding/device_types.h"
#include "binding/entry.h"
#include "binding/type_registry.h"
#include "crypto/mmer.h"
#include "crypto/mmer2.h"
#include "detector/dector_callback.h"
#include "detector/detector.h"
#include "monitor/monitor_folder.h"
#include "power/prevent_screen_saver.h"
#include "power/running_instance.h"
#include "power/suspend_blocker.h"
#include "python/windows_error.h"
#include "system/autoplay.h"
#include "system/file_operations.h"
#include "system/known_folders.h"
#include "system/library_loading.h"
#include "system/locale_region.h"
#include "system/machine_facts.h"
#include "system/shell_links.h"

namespace device::binding {
namespace {

#define DEVICE_FUNCTION_TABLE(F, R)                                                                  \
  F(new_MMer,                         Construct<MMer>)                                               \
  F(delete_MMer,                      Destroy<MMer>, ArgDisowned<MMer>)                              \
  F(MMer_SetParam,                    &MMer::SetParam, ArgObject<MMer>, ArgAny)                      \
  F(MMer_Encode,                      &MMer::Encode, ArgObject<MMer>, ArgAny)                        \
  F(MMer_Decode,                      &MMer::Decode, ArgObject<MMer>, ArgAny)                        \
  R(MMer_swigregister,                MMer)                                                          \
  F(new_MMer2,                        Construct<MMer2>)                                              \
  F(delete_MMer2,                     Destroy<MMer2>, ArgDisowned<MMer2>)                            \
  F(MMer2_Encode,                     &MMer2::Encode, ArgObject<MMer2>, ArgAny)                      \
  F(MMer2_Decode,                     &MMer2::Decode, ArgObject<MMer2>, ArgAny)                      \
  R(MMer2_swigregister,               MMer2)                                                         \
  F(new_PreventScreenSaver,           Construct<PreventScreenSaver>)                                 \
  F(delete_PreventScreenSaver,        Destroy<PreventScreenSaver>, ArgDisowned<PreventScreenSaver>)  \
  R(PreventScreenSaver_swigregister,  PreventScreenSaver)                                            \
  F(new_SuspendBlocker,               Construct<SuspendBlocker>)                                     \
  F(delete_SuspendBlocker,            Destroy<SuspendBlocker>, ArgDisowned<SuspendBlocker>)          \
  F(SuspendBlocker_Lock,              &SuspendBlocker::Lock, ArgObject<SuspendBlocker>)              \
  F(SuspendBlocker_UnLock,            &SuspendBlocker::UnLock, ArgObject<SuspendBlocker>)            \
  R(SuspendBlocker_swigregister,      SuspendBlocker)                                                \
  F(new_RunningInstance,              (Construct<RunningInstance, const WCHAR*>), ArgUnicode)        \
  F(delete_RunningInstance,           Destroy<RunningInstance>, ArgDisowned<RunningInstance>)        \
  F(RunningInstance_IsAnotherInstanceRunning,                                                        \
                                      &RunningInstance::IsAnotherInstanceRunning,                    \
                                      ArgObject<RunningInstance>)                                    \
  F(RunningInstance_IsAnotherInstanceRunningOnOtherSession,                                          \
                                      &RunningInstance::IsAnotherInstanceRunningOnOtherSession,      \
                                      ArgObject<RunningInstance>)                                    \
  F(RunningInstance_Close,            &RunningInstance::Close, ArgObject<RunningInstance>)           \
  R(RunningInstance_swigregister,     RunningInstance)                                               \
  F(new_MonitorFolder,                (Construct<MonitorFolder, PyObject*>), ArgAny)                 \
  F(delete_MonitorFolder,             Destroy<MonitorFolder>, ArgDisowned<MonitorFolder>)            \
  F(MonitorFolder_Start,              &MonitorFolder::Start, ArgObject<MonitorFolder>)               \
  F(MonitorFolder_Close,              &MonitorFolder::Close, ArgObject<MonitorFolder>)               \
  F(MonitorFolder_AddFolder,          &MonitorFolder::AddFolder, ArgObject<MonitorFolder>,           \
                                      ArgUnicode)                                                    \
  F(MonitorFolder_RemoveFolder,       &MonitorFolder::RemoveFolder, ArgObject<MonitorFolder>,        \
                                      ArgUnicode)                                                    \
  R(MonitorFolder_swigregister,       MonitorFolder)                                                 \
  F(DectorCallback_WndProc,           &DectorCallback::WndProc, ArgObject<DectorCallback>, ArgUint,  \
                                      ArgWparam, ArgLparam)                                          \
  F(new_DectorCallback,               Construct<DectorCallback>)                                     \
  F(delete_DectorCallback,            Destroy<DectorCallback>, ArgDisowned<DectorCallback>)          \
  R(DectorCallback_swigregister,      DectorCallback)                                                \
  F(new_Detector,                     Construct<Detector>)                                           \
  F(delete_Detector,                  Destroy<Detector>, ArgDisowned<Detector>)                      \
  F(Detector_GetCDROMType,            &Detector::GetCDROMType, ArgObject<Detector>, ArgByte)         \
  F(Detector_GetDriveType,            &Detector::GetDriveType, ArgObject<Detector>, ArgByte)         \
  F(Detector_GetDiscType,             &Detector::GetDiscType, ArgObject<Detector>, ArgByte)          \
  F(Detector_GetDriveFriendlyName,    &Detector::GetDriveFriendlyName,                               \
                                      ArgObject<Detector>, ArgByte)                                  \
  F(Detector_GetDriveFactoryName,     &Detector::GetDriveFactoryName,                                \
                                      ArgObject<Detector>, ArgByte)                                  \
  F(Detector_ChangeDoorStatus,        &Detector::ChangeDoorStatus,                                   \
                                      ArgObject<Detector>, ArgByte, ArgBool)                         \
  F(Detector_SetCallback,             &Detector::SetCallback, ArgObject<Detector>, ArgAny)           \
  F(Detector_DetectTwinViewMode,      &Detector::DetectTwinViewMode, ArgObject<Detector>)            \
  F(Detector_GetVGASpecialCaps,       &Detector::GetVGASpecialCaps, ArgObject<Detector>)             \
  F(Detector_GetVGASpecialSetting,    &Detector::GetVGASpecialSetting, ArgObject<Detector>)          \
  F(Detector_SetVGASpecialSetting,    &Detector::SetVGASpecialSetting,                               \
                                      ArgObject<Detector>, ArgDword)                                 \
  F(Detector_GetVGADeviceIdentifier,  &Detector::GetVGADeviceIdentifier, ArgObject<Detector>)        \
  F(Detector_IsInternetConnected,     &Detector::IsInternetConnected, ArgObject<Detector>)           \
  F(Detector_WiaDevConnect,           &Detector::WiaDevConnect, ArgObject<Detector>)                 \
  F(Detector_EnumWIACameraDevice,     &Detector::EnumWIACameraDevice, ArgObject<Detector>, ArgInt)   \
  F(Detector_GetSysManufacturer,      &Detector::GetSysManufacturer, ArgObject<Detector>)            \
  R(Detector_swigregister,            Detector)                                                      \
  F(GetUserLang,                      GetUserLang)                                                   \
  F(GetSystemLang,                    GetSystemLang)                                                 \
  F(GetSystemCountryCode,             GetSystemCountryCode)                                          \
  F(GetSystemFolder,                  GetSystemFolder, ArgINT)                                       \
  F(GetUserFolder,                    GetUserFolder)                                                 \
  F(GetAppFolder,                     GetAppFolder)                                                  \
  F(GetCommonAppFolder,               GetCommonAppFolder)                                            \
  F(GetProgramsFolder,                GetProgramsFolder)                                             \
  F(GetCommonProgramsFolder,          GetCommonProgramsFolder)                                       \
  F(GetStartMenuFolder,               GetStartMenuFolder)                                            \
  F(GetPictureFolder,                 GetPictureFolder)                                              \
  F(GetMusicFolder,                   GetMusicFolder)                                                \
  F(GetDocumentFolder,                GetDocumentFolder)                                             \
  F(GetCommonDocumentFolder,          GetCommonDocumentFolder)                                       \
  F(GetWindowsFolder,                 GetWindowsFolder)                                              \
  F(GetVideoFolder,                   GetVideoFolder)                                                \
  F(GetSharedPictureFolder,           GetSharedPictureFolder)                                        \
  F(GetSharedMusicFolder,             GetSharedMusicFolder)                                          \
  F(GetSampleMusicFolder,             GetSampleMusicFolder)                                          \
  F(GetSharedVideoFolder,             GetSharedVideoFolder)                                          \
  F(GetLocalAppDataFolder,            GetLocalAppDataFolder)                                         \
  F(GetArgvW,                         GetArgvW)                                                      \
  F(GetLinkFile,                      GetLinkFile, ArgUnicode)                                       \
  F(CreateLink,                       CreateLink, ArgUnicode, ArgUnicode, ArgUnicode)                \
  F(CreateInternetShortcut,           CreateInternetShortcut, ArgUnicode, ArgUnicode)                \
  F(GetMyComputerName,                GetMyComputerName)                                             \
  F(GetPathDisplayName,               GetPathDisplayName, ArgUnicode)                                \
  F(GetLongPathName,                  GetLongPathName, ArgUnicode)                                   \
  F(GetUserName,                      GetUserName)                                                   \
  F(GetAvailableDiskSpaceMB,          GetAvailableDiskSpaceMB, ArgUnicode)                           \
  F(GetTotalMemorySize,               GetTotalMemorySize)                                            \
  F(GetLogicalCpuNumber,              GetLogicalCpuNumber)                                           \
  F(GetDisplayAdapterNames,           GetDisplayAdapterNames)                                        \
  F(IsIronLake,                       IsIronLake)                                                    \
  F(getSystemLocales,                 getSystemLocales)                                              \
  F(Regsvr,                           Regsvr, ArgUnicode, ArgBool)                                   \
  F(LoadLib,                          LoadLib, ArgUnicode)                                           \
  F(FreeLib,                          FreeLib, ArgVoidPointer)                                       \
  F(RegisterCancelAutoplay,           RegisterCancelAutoplay)                                        \
  F(UnregisterCancelAutoplay,         UnregisterCancelAutoplay)                                      \
  F(ListFile,                         ListFile, ArgUnicode)                                          \
  F(ListFolder,                       ListFolder, ArgUnicode)                                        \
  F(RemoveFile,                       RemoveFile, ArgUnicode)                                        \
  F(OpenExplorer,                     OpenExplorer, ArgUnicode)

// The Python names, as objects with linkage for the entry templates.
namespace names {
#define DEVICE_NAME(name, ...) constexpr char name[] = #name;
DEVICE_FUNCTION_TABLE(DEVICE_NAME, DEVICE_NAME)
#undef DEVICE_NAME
}  // namespace names

#define DEVICE_FUNCTION(name, service, ...) \
  {names::name, Entry<names::name, service, ##__VA_ARGS__>::Call, METH_VARARGS, nullptr},
#define DEVICE_REGISTRATION(name, Class) {names::name, ClassRegistration<Class>::Call, METH_VARARGS, nullptr},

PyMethodDef functions[] = {
    DEVICE_FUNCTION_TABLE(DEVICE_FUNCTION, DEVICE_REGISTRATION)
    {nullptr, nullptr, 0, nullptr},
};

#undef DEVICE_FUNCTION
#undef DEVICE_REGISTRATION

pycompat::ModuleDefinition module_definition{"_Device", nullptr, functions};

PyObject* MakeModule() {
  PyObject* module = pycompat::CreateModule(module_definition);
  if (module == nullptr) return nullptr;  // the host has set its error
  JoinTypeRegistry(DeviceTypeTable());
  if (pycompat::WindowsErrorType() == nullptr) Py_CLEAR(module);
  return module;
}

}  // namespace
}  // namespace device::binding

DEVICE_MODULE_INIT(_Device, device::binding::MakeModule)
