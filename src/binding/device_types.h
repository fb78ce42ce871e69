#pragma once
// The module's type records: one per native pointer type of its interface,
// sorted by mangled name.
#include "binding/entry.h"
#include "binding/type_registry.h"

namespace device {
class DectorCallback;
class Detector;
class MMer;
class MMer2;
class MonitorFolder;
class PreventScreenSaver;
class RunningInstance;
class SuspendBlocker;
}  // namespace device

namespace device::binding {

enum DeviceTypeIndex {
  kDectorCallbackType,
  kDetectorType,
  kMMerType,
  kMMer2Type,
  kMonitorFolderType,
  kPreventScreenSaverType,
  kRunningInstanceType,
  kSuspendBlockerType,
  kCharType,
  kDoubleType,
  kFloatType,
  kIntType,
  kLongType,
  kLongLongType,
  kUnsignedCharType,
  kUnsignedIntType,
  kUnsignedLongType,
  kUnsignedShortType,
  kVoidType,
  kWcharType,
  kDeviceTypeCount
};

ModuleTypeTable* DeviceTypeTable();

// The record as resolved when the module joined the registry.
inline TypeRecord* DeviceType(DeviceTypeIndex index) { return DeviceTypeTable()->types[index]; }

#define DEVICE_WRAPPED_CLASS(Class)                                            \
  template <>                                                                  \
  struct TypeTraits<Class> {                                                   \
    static constexpr char kMangled[] = "_p_" #Class;                           \
    static constexpr char kDisplay[] = #Class " *";                            \
    static TypeRecord* Record() { return DeviceType(k##Class##Type); }         \
  }

DEVICE_WRAPPED_CLASS(DectorCallback);
DEVICE_WRAPPED_CLASS(Detector);
DEVICE_WRAPPED_CLASS(MMer);
DEVICE_WRAPPED_CLASS(MMer2);
DEVICE_WRAPPED_CLASS(MonitorFolder);
DEVICE_WRAPPED_CLASS(PreventScreenSaver);
DEVICE_WRAPPED_CLASS(RunningInstance);
DEVICE_WRAPPED_CLASS(SuspendBlocker);

#undef DEVICE_WRAPPED_CLASS

}  // namespace device::binding
