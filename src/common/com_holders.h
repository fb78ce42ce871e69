#pragma once
// Holders that give back what a COM call hands out when they go.
#include <oleauto.h>

#include <string_view>

namespace device {

// Releases a COM interface.
template <class Interface>
class Released {
 public:
  Released() = default;
  ~Released() {
    if (pointer_ != nullptr) pointer_->Release();
  }
  Released(const Released&) = delete;
  Released& operator=(const Released&) = delete;

  Interface* get() const { return pointer_; }
  Interface** out() { return &pointer_; }
  Interface* operator->() const { return pointer_; }

 private:
  Interface* pointer_ = nullptr;
};

// A BSTR for the length of a call.
class Bstr {
 public:
  explicit Bstr(std::u16string_view text)
      : text_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~Bstr() { SysFreeString(text_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  operator BSTR() const { return text_; }

 private:
  BSTR text_;
};

}  // namespace device
