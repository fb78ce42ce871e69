#include "binding/device_types.h"

namespace device::binding {
namespace {

template <class T>
constexpr TypeRecord ClassRecord() {
  return {TypeTraits<T>::kMangled, TypeTraits<T>::kDisplay, nullptr, nullptr, nullptr, 0};
}

constexpr TypeRecord PlainRecord(const char* mangled, const char* display) {
  return {mangled, display, nullptr, nullptr, nullptr, 0};
}

TypeRecord records[kDeviceTypeCount] = {
    ClassRecord<DectorCallback>(),
    ClassRecord<Detector>(),
    ClassRecord<MMer>(),
    ClassRecord<MMer2>(),
    ClassRecord<MonitorFolder>(),
    ClassRecord<PreventScreenSaver>(),
    ClassRecord<RunningInstance>(),
    ClassRecord<SuspendBlocker>(),
    PlainRecord("_p_char", "char *|TCHAR *"),
    PlainRecord("_p_double", "double *|DOUBLE *"),
    PlainRecord("_p_float", "float *|FLOAT *"),
    PlainRecord("_p_int", "int *|INT_PTR *"),
    PlainRecord("_p_long", "long *|LRESULT *"),
    PlainRecord("_p_long_long", "long long *|LONGLONG *"),
    PlainRecord("_p_unsigned_char", "unsigned char *|BYTE *"),
    PlainRecord("_p_unsigned_int", "unsigned int *|WPARAM *"),
    PlainRecord("_p_unsigned_long", "unsigned long *|ULONG_PTR *"),
    PlainRecord("_p_unsigned_short", "unsigned short *|WORD *"),
    PlainRecord("_p_void", "void *"),
    PlainRecord("_p_wchar_t", "wchar_t *|WCHAR *"),
};

TypeRecord* initial[kDeviceTypeCount];
TypeRecord* resolved[kDeviceTypeCount + 1];

// Every record accepts only itself: one entry naming it, then the end entry.
CastEntry casts[kDeviceTypeCount][2];
CastEntry* initial_casts[kDeviceTypeCount];

ModuleTypeTable MakeTable() {
  for (int i = 0; i < kDeviceTypeCount; ++i) {
    initial[i] = &records[i];
    resolved[i] = &records[i];
    casts[i][0] = {&records[i], nullptr, nullptr, nullptr};
    casts[i][1] = {nullptr, nullptr, nullptr, nullptr};
    initial_casts[i] = casts[i];
  }
  return {resolved, kDeviceTypeCount, nullptr, initial, initial_casts, nullptr};
}

}  // namespace

TypeRecord* VoidPointerRecord() { return DeviceType(kVoidType); }

ModuleTypeTable* DeviceTypeTable() {
  static ModuleTypeTable table = MakeTable();
  return &table;
}

}  // namespace device::binding
