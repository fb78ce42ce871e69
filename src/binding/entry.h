#pragma once
// Entry points are declared, not written: Entry<Name, Service, Args...> unpacks
// the argument tuple, converts each argument by its kind from left to right,
// raises the kind's exception with the argument's own message on the first
// failure, calls the service and turns its result into a Python object.
#include "python/python_compat.h"
#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "binding/arguments.h"
#include "binding/live_objects.h"
#include "binding/wrapper.h"
#include "callback/thread_bound.h"

namespace device::binding {

// Specialised for every wrapped class: its mangled and display names, and its
// record as resolved when the module joined the registry.
template <class T>
struct TypeTraits;

// An object argument and the serial its wrapper carries.
template <class T>
struct ObjectArgument {
  T* object = nullptr;
  uint64_t serial = 0;
};

// An object argument of class T. Once every argument has converted, it must
// name a live object: None and destroyed objects never reach a service.
template <class T>
struct ArgObject {
  using Storage = ObjectArgument<T>;
  static constexpr const char* kType = TypeTraits<T>::kDisplay;
  static T* Get(const Storage& value) { return value.object; }
  static Load From(PyObject* object, Storage& value) {
    void* address = nullptr;
    if (!ConvertToAddress(object, TypeTraits<T>::Record(), &address, 0, &value.serial)) return Load::kMismatch;
    value.object = static_cast<T*>(address);
    return Load::kOk;
  }
  static Load Verify(const Storage& value) {
    if (value.object == nullptr) return Load::kNullObject;
    return IsLiveObject(value.object, TypeTraits<T>::Record(), value.serial) ? Load::kOk : Load::kDeletedObject;
  }
};

// The object argument of delete_X: None destroys nothing; the wrapper stops owning.
template <class T>
struct ArgDisowned : ValueKind<T*> {
  static constexpr const char* kType = TypeTraits<T>::kDisplay;
  static Load From(PyObject* object, T*& value) {
    // One search only: a "this" may give another wrapper each time it is asked.
    void* address = nullptr;
    uint64_t serial = 0;
    if (!ConvertToAddress(object, TypeTraits<T>::Record(), &address, kDisown, &serial)) return Load::kMismatch;
    if (address != nullptr && !IsLiveObject(address, TypeTraits<T>::Record(), serial)) return Load::kDeletedObject;
    value = static_cast<T*>(address);
    return Load::kOk;
  }
};

// A new native object for a wrapper that owns it.
struct NewObject {
  void* address;
  TypeRecord* type;
  uint64_t serial;
};

template <class T, class... A>
NewObject Construct(A... arguments) {
  T* object = new T(arguments...);
  return {object, TypeTraits<T>::Record(), AddLiveObject(object, TypeTraits<T>::Record())};
}

// An object with a window, timers or thread state is deleted by its own
// thread; from another, it is detached at once and handed to that thread.
template <class T>
void Destroy(T* object) {
  if (object == nullptr) return;
  RemoveLiveObject(object);
  if constexpr (std::is_base_of_v<ThreadBound, T>) {
    ThreadBound::Delete(object->thread_bound());
  } else {
    delete object;
  }
}

// "in method 'NAME', argument N of type 'TYPE'", made whole at compile time.
template <const char* Name, size_t Position, class Arg>
struct ArgumentMessage {
  static constexpr size_t Length(const char* text) {
    size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
  }
  static constexpr size_t kSize = Length("in method '") + Length(Name) + Length("', argument ") + 1 +
                                  Length(" of type '") + Length(Arg::kType) + Length("'") + 1;
  struct Text {
    char chars[kSize];
  };
  static constexpr Text Make() {
    static_assert(Position >= 1 && Position <= 9, "one-digit argument positions");
    Text text{};
    size_t n = 0;
    auto put = [&](const char* part) {
      while (*part != 0) text.chars[n++] = *part++;
    };
    put("in method '");
    put(Name);
    put("', argument ");
    text.chars[n++] = static_cast<char>('0' + Position);
    put(" of type '");
    put(Arg::kType);
    put("'");
    return text;
  }
  static constexpr Text kText = Make();
};

// The record of "void *", for addresses handed to Python without an owner.
TypeRecord* VoidPointerRecord();

template <class R>
struct IsOptional : std::false_type {};
template <class R>
struct IsOptional<std::optional<R>> : std::true_type {};

template <class R>
PyObject* MakeResult(R value) {
  if constexpr (std::is_same_v<R, PyObject*>) {
    return value;
  } else if constexpr (std::is_same_v<R, bool>) {
    return PyBool_FromLong(value);
  } else if constexpr (std::is_same_v<R, int> || std::is_same_v<R, long>) {  // long: LRESULT
    return pycompat::IntFromLong(value);
  } else if constexpr (std::is_same_v<R, DWORD>) {
    return value < 0x80000000u ? pycompat::IntFromLong(static_cast<long>(value)) : PyLong_FromUnsignedLong(value);
  } else if constexpr (std::is_same_v<R, NewObject>) {
    return MakeWrapper(value.address, value.type, kOwn, value.serial);
  } else if constexpr (std::is_same_v<R, std::u16string>) {
    return pycompat::UnicodeFromUtf16(value);
  } else if constexpr (IsOptional<R>::value) {  // no value: None
    if (!value) Py_RETURN_NONE;
    return MakeResult(*value);
  } else if constexpr (std::is_same_v<R, std::pair<int, int>>) {
    return Py_BuildValue("(ii)", value.first, value.second);
  } else if constexpr (std::is_same_v<R, void*>) {
    return MakeWrapper(value, VoidPointerRecord(), 0);
  } else {
    static_assert(!std::is_same_v<R, R>, "no Python result for this native type");
  }
}

template <const char* Name, auto Service, class... Args>
class Entry {
 public:
  static PyObject* Call(PyObject*, PyObject* args) { return Run(args, std::index_sequence_for<Args...>{}); }

 private:
  template <size_t... I>
  static PyObject* Run(PyObject* args, std::index_sequence<I...>) {
    constexpr Py_ssize_t kCount = sizeof...(Args);
    PyObject* objects[kCount > 0 ? kCount : 1] = {};
    if (!PyArg_UnpackTuple(args, Name, kCount, kCount, &objects[I]...)) return nullptr;
    (void)objects;
    std::tuple<typename Args::Storage...> values;
    if (!(Convert<I, Args>(objects[I], std::get<I>(values)) && ...)) return nullptr;
    if (!(Verify<I, Args>(std::get<I>(values)) && ...)) return nullptr;
    using Result = decltype(std::invoke(Service, Args::Get(std::get<I>(values))...));
    if constexpr (std::is_void_v<Result>) {
      std::invoke(Service, Args::Get(std::get<I>(values))...);
      Py_RETURN_NONE;
    } else {
      return MakeResult(std::invoke(Service, Args::Get(std::get<I>(values))...));
    }
  }

  template <class Arg, class = void>
  struct HasVerify : std::false_type {};
  template <class Arg>
  struct HasVerify<Arg, std::void_t<decltype(Arg::Verify(std::declval<typename Arg::Storage>()))>> : std::true_type {};

  template <size_t I, class Arg>
  static bool Verify(const typename Arg::Storage& value) {
    if constexpr (HasVerify<Arg>::value) {
      return Raise<I, Arg>(Arg::Verify(value));
    } else {
      return true;
    }
  }

  template <size_t I, class Arg>
  static bool Convert(PyObject* object, typename Arg::Storage& value) {
    return Raise<I, Arg>(Arg::From(object, value));
  }

  // Sets the exception of a failed argument; true when there is none.
  template <size_t I, class Arg>
  static bool Raise(Load result) {
    if (result == Load::kOk) return true;
    if constexpr (std::is_same_v<Arg, ArgAny>) {
      return false;  // never reached: any object converts
    } else if constexpr (std::is_same_v<Arg, ArgUnicode>) {
      PyErr_SetString(PyExc_TypeError, ArgUnicode::kMessage);
    } else {
      const char* message = ArgumentMessage<Name, I + 1, Arg>::kText.chars;
      switch (result) {
        case Load::kOverflow:
          PyErr_SetString(PyExc_OverflowError, message);
          break;
        case Load::kNullObject:
          PyErr_Format(PyExc_ValueError, "%s is None", message);
          break;
        case Load::kDeletedObject:
          PyErr_Format(PyExc_ValueError, "%s refers to a deleted object", message);
          break;
        default:
          PyErr_SetString(PyExc_TypeError, message);
          break;
      }
    }
    return false;
  }
};

// X_swigregister: one argument, any object; the count message names "swigregister".
template <class T>
struct ClassRegistration {
  static PyObject* Call(PyObject*, PyObject* args) {
    PyObject* klass = nullptr;
    if (!PyArg_UnpackTuple(args, "swigregister", 1, 1, &klass)) return nullptr;
    RegisterProxyClass(TypeTraits<T>::Record(), klass);
    Py_RETURN_NONE;
  }
};

}  // namespace device::binding
