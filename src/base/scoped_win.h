// Win32 glue only: tiny move-only owners for handles, so every early return releases what it took.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <utility>

namespace tarnell {

template <typename T, typename Traits>
class Scoped {
  public:
    Scoped() = default;
    explicit Scoped(T value) : value_(value) {}
    Scoped(Scoped&& other) noexcept : value_(std::exchange(other.value_, Traits::Invalid())) {}
    Scoped& operator=(Scoped&& other) noexcept {
        if (this != &other) reset(std::exchange(other.value_, Traits::Invalid()));
        return *this;
    }
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;
    ~Scoped() { reset(); }

    T get() const { return value_; }
    T* put() {
        reset();
        return &value_;
    }
    T release() { return std::exchange(value_, Traits::Invalid()); }
    void reset(T value = Traits::Invalid()) {
        if (value_ != Traits::Invalid()) Traits::Close(value_);
        value_ = value;
    }
    explicit operator bool() const { return value_ != Traits::Invalid(); }

  private:
    T value_ = Traits::Invalid();
};

struct HKeyTraits {
    static HKEY Invalid() { return nullptr; }
    static void Close(HKEY k) { RegCloseKey(k); }
};
struct HandleTraits {
    static HANDLE Invalid() { return nullptr; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
struct ModuleTraits {
    static HMODULE Invalid() { return nullptr; }
    static void Close(HMODULE m) { FreeLibrary(m); }
};
struct GdiTraits {
    static HGDIOBJ Invalid() { return nullptr; }
    static void Close(HGDIOBJ o) { DeleteObject(o); }
};

struct InternetTraits {
    static HINTERNET Invalid() { return nullptr; }
    static void Close(HINTERNET h) { WinHttpCloseHandle(h); }
};

using ScopedHKey = Scoped<HKEY, HKeyTraits>;
using ScopedInternet = Scoped<HINTERNET, InternetTraits>;
using ScopedHandle = Scoped<HANDLE, HandleTraits>;
using ScopedModule = Scoped<HMODULE, ModuleTraits>;
using ScopedGdiObject = Scoped<HGDIOBJ, GdiTraits>;

// Selects an object into a DC for the lifetime of the scope.
class ScopedSelect {
  public:
    ScopedSelect(HDC dc, HGDIOBJ obj) : dc_(dc), old_(SelectObject(dc, obj)) {}
    ~ScopedSelect() { SelectObject(dc_, old_); }
    ScopedSelect(const ScopedSelect&) = delete;
    ScopedSelect& operator=(const ScopedSelect&) = delete;

  private:
    HDC dc_;
    HGDIOBJ old_;
};

}  // namespace tarnell
