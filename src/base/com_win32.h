// Win32 glue only: owners for COM interface pointers, VARIANTs and COM initialisation, so every way
// out of a call releases what it took.
#pragma once

// clang-format off
#include <windows.h>
#include <oleauto.h>
// clang-format on

#include <utility>

namespace tarnell {

template <typename T>
class ComRef {
  public:
    ComRef() = default;
    explicit ComRef(T* adopted) : p_(adopted) {}
    ComRef(ComRef&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComRef& operator=(ComRef&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() { reset(); }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** put() {
        reset();
        return &p_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    void reset() {
        if (p_) std::exchange(p_, nullptr)->Release();
    }

  private:
    T* p_ = nullptr;
};

class ScopedVariant {
  public:
    ScopedVariant() { VariantInit(&v_); }
    explicit ScopedVariant(const wchar_t* text) {
        VariantInit(&v_);
        v_.vt = VT_BSTR;
        v_.bstrVal = SysAllocString(text);
    }
    explicit ScopedVariant(int value) {
        VariantInit(&v_);
        v_.vt = VT_I4;
        v_.lVal = value;
    }
    ~ScopedVariant() { VariantClear(&v_); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;

    VARIANT* get() { return &v_; }
    const VARIANT& operator*() const { return v_; }
    const VARIANT& value() const { return v_; }
    VARIANT* put() {
        VariantClear(&v_);
        return &v_;
    }

  private:
    VARIANT v_;
};

// CoInitialize for the calling thread. CoUninitialize only balances an initialisation that succeeded
// (S_OK or S_FALSE): after RPC_E_CHANGED_MODE it would undo the caller's own initialisation.
class ComApartment {
  public:
    ComApartment() : hr_(CoInitialize(nullptr)) {}
    ~ComApartment() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

  private:
    HRESULT hr_;
};

}  // namespace tarnell
