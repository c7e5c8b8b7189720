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
template <typename T>
struct GdiObjectTraits {
    static T Invalid() { return nullptr; }
    static void Close(T o) { DeleteObject(o); }
};
struct FileTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
struct MemoryDcTraits {
    static HDC Invalid() { return nullptr; }
    static void Close(HDC dc) { DeleteDC(dc); }
};

struct InternetTraits {
    static HINTERNET Invalid() { return nullptr; }
    static void Close(HINTERNET h) { WinHttpCloseHandle(h); }
};

using ScopedHKey = Scoped<HKEY, HKeyTraits>;
using ScopedInternet = Scoped<HINTERNET, InternetTraits>;
using ScopedHandle = Scoped<HANDLE, HandleTraits>;
// CreateFileW's handle, whose failure is INVALID_HANDLE_VALUE rather than null.
using ScopedFile = Scoped<HANDLE, FileTraits>;
using ScopedModule = Scoped<HMODULE, ModuleTraits>;
using ScopedGdiObject = Scoped<HGDIOBJ, GdiObjectTraits<HGDIOBJ>>;
using ScopedBrush = Scoped<HBRUSH, GdiObjectTraits<HBRUSH>>;
using ScopedFont = Scoped<HFONT, GdiObjectTraits<HFONT>>;
using ScopedBitmap = Scoped<HBITMAP, GdiObjectTraits<HBITMAP>>;
// A DC of our own (CreateCompatibleDC).
using ScopedMemoryDc = Scoped<HDC, MemoryDcTraits>;

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

// A window's DC (GetDC, or GetDCEx with flags of the caller's), given back with ReleaseDC.
class ScopedWindowDc {
  public:
    explicit ScopedWindowDc(HWND hwnd) : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
    ScopedWindowDc(HWND hwnd, HDC dc) : hwnd_(hwnd), dc_(dc) {}
    ~ScopedWindowDc() {
        if (dc_) ReleaseDC(hwnd_, dc_);
    }
    ScopedWindowDc(const ScopedWindowDc&) = delete;
    ScopedWindowDc& operator=(const ScopedWindowDc&) = delete;

    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

  private:
    HWND hwnd_;
    HDC dc_;
};

// BeginPaint for the scope, EndPaint at its end.
class ScopedPaint {
  public:
    explicit ScopedPaint(HWND hwnd) : hwnd_(hwnd), dc_(BeginPaint(hwnd, &ps_)) {}
    ~ScopedPaint() { EndPaint(hwnd_, &ps_); }
    ScopedPaint(const ScopedPaint&) = delete;
    ScopedPaint& operator=(const ScopedPaint&) = delete;

    HDC get() const { return dc_; }

  private:
    HWND hwnd_;
    PAINTSTRUCT ps_{};
    HDC dc_;
};

}  // namespace tarnell
