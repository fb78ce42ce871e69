#pragma once
// The AutoPlay canceller: the shell asks it before AutoPlay acts, and it
// refuses every time. Its only state is an interlocked reference count, so
// the shell may call it on any thread.
#include <windows.h>
#include <shobjidl.h>

namespace device {

class CQueryCancelAutoplay : public IQueryCancelAutoPlay {
 public:
  CQueryCancelAutoplay() = default;
  virtual ~CQueryCancelAutoplay() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // S_FALSE whatever the arguments: AutoPlay is cancelled.
  HRESULT STDMETHODCALLTYPE AllowAutoPlay(LPCWSTR pszPath, DWORD dwContentType, LPCWSTR pszLabel,
                                          DWORD dwSerialNumber) override;

 private:
  LONG references_ = 1;
};

}  // namespace device
