#include <intshcut.h>

#include <mutex>
#include <string>

#include "com/class_table.h"
#include "com/com_object.h"
#include "shell/persist_file.h"
#include "support/text.h"

namespace w32 {
namespace {

constexpr HRESULT kUnregisteredProtocol = static_cast<HRESULT>(0x80041001L);  // URL_E_UNREGISTERED_PROTOCOL

// "scheme:" with a scheme of two or more characters (one is a drive letter).
bool HasScheme(std::u16string_view url) {
  const size_t colon = url.find(u':');
  if (colon == std::u16string_view::npos || colon < 2) return false;
  for (size_t i = 0; i < colon; ++i) {
    const char16_t c = url[i];
    const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    if (!letter && !(i > 0 && ((c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.'))) return false;
  }
  return true;
}

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && AsciiLower(text.substr(0, prefix.size())) == prefix;
}

// The platform's guess for a URL without a scheme: host prefixes it knows,
// and file paths; empty when there is no guess.
std::u16string GuessScheme(std::u16string_view url) {
  static const struct {
    const char16_t* prefix;
    const char16_t* scheme;
  } kGuesses[] = {{u"www.", u"http://"},    {u"ftp.", u"ftp://"},     {u"gopher.", u"gopher://"},
                  {u"home.", u"http://"},   {u"mosaic.", u"http://"}};
  for (const auto& guess : kGuesses) {
    if (StartsWithNoCase(url, guess.prefix)) return guess.scheme + std::u16string(url);
  }
  if (url.size() >= 3 && url[1] == u':' && (url[2] == u'\\' || url[2] == u'/')) {
    std::u16string path(url);
    for (char16_t& c : path) c = c == u'\\' ? u'/' : c;
    return u"file:///" + path;
  }
  if (url.size() >= 2 && url[0] == u'\\' && url[1] == u'\\') {
    std::u16string path(url.substr(2));
    for (char16_t& c : path) c = c == u'\\' ? u'/' : c;
    return u"file://" + path;
  }
  if (!url.empty() && url[0] == u'/') return u"file://" + std::u16string(url);
  return {};
}

// The URL as a .url file holds it: ASCII, other characters as their UTF-8
// bytes percent-escaped, which every reader of the format understands.
std::string AsciiUrl(std::u16string_view url) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : ToUtf8(url)) {
    if (c >= 0x80 || c < 0x20) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// An internet shortcut, saved as a .url file. Loading one and invoking it
// are not provided (E_NOTIMPL).
class InternetShortcut final : public com::ComObject<IUniformResourceLocatorW, IPersistFile> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IUniformResourceLocatorW) {
      return Answer(static_cast<IUniformResourceLocatorW*>(this), object);
    }
    if (iid == IID_IPersist || iid == IID_IPersistFile) return Answer(static_cast<IPersistFile*>(this), object);
    return com::NoInterface(object);
  }

  // With IURL_SETURL_FL_GUESS_PROTOCOL a URL without a scheme gets the
  // scheme the platform guesses, or is refused when it guesses none; with
  // IURL_SETURL_FL_USE_DEFAULT_PROTOCOL it becomes http. Null clears the URL.
  HRESULT STDMETHODCALLTYPE SetURL(LPCWSTR url, DWORD flags) override {
    if ((flags & ~static_cast<DWORD>(IURL_SETURL_FL_GUESS_PROTOCOL | IURL_SETURL_FL_USE_DEFAULT_PROTOCOL)) != 0) {
      return E_INVALIDARG;
    }
    std::u16string text = url != nullptr ? std::u16string(url) : std::u16string();
    if (!text.empty() && !HasScheme(text)) {
      std::u16string guessed = (flags & IURL_SETURL_FL_GUESS_PROTOCOL) != 0 ? GuessScheme(text) : std::u16string();
      if (guessed.empty() && (flags & IURL_SETURL_FL_USE_DEFAULT_PROTOCOL) != 0) guessed = u"http://" + text;
      if (guessed.empty()) return kUnregisteredProtocol;
      text = std::move(guessed);
    }
    std::lock_guard<std::mutex> guard(lock_);
    url_ = std::move(text);
    file_.dirty = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetURL(LPWSTR* url) override {
    if (url == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> guard(lock_);
    *url = nullptr;
    if (url_.empty()) return S_FALSE;
    *url = static_cast<LPWSTR>(CoTaskMemAlloc((url_.size() + 1) * sizeof(WCHAR)));
    if (*url == nullptr) return E_OUTOFMEMORY;
    url_.copy(*url, url_.size());
    (*url)[url_.size()] = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE InvokeCommand(PURLINVOKECOMMANDINFOW) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    if (clsid == nullptr) return E_POINTER;
    *clsid = CLSID_InternetShortcut;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsDirty() override {
    std::lock_guard<std::mutex> guard(lock_);
    return file_.IsDirty();
  }
  HRESULT STDMETHODCALLTYPE Load(LPCOLESTR, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Save(LPCOLESTR name, BOOL remember) override {
    std::lock_guard<std::mutex> guard(lock_);
    return file_.Save(name, remember, "[InternetShortcut]\r\nURL=" + AsciiUrl(url_) + "\r\n");
  }
  HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* name) override {
    std::lock_guard<std::mutex> guard(lock_);
    return file_.CurFile(u"*.url", name);
  }

 private:
  std::mutex lock_;
  std::u16string url_;
  PersistedFile file_;
};

const com::ClassRegistration kInternetShortcut(CLSID_InternetShortcut, &com::CreateInstanceOf<InternetShortcut>);

}  // namespace
}  // namespace w32
