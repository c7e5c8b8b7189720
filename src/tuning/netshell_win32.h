// The network-connections manager of netshell.dll, and the walk over its connections that disables or
// enables one of them. Loading the library and creating the manager stay with EnableConnection
// (network_win32.cpp); the walk takes them as parameters, so it can be driven by stand-ins.
#pragma once

#include <windows.h>

#include <string>

namespace tarnell {

// Declared here as the system's headers do not ship them; their vtable layout is fixed.
struct NetConProperties {
    GUID guidId;
    LPWSTR pszwName;
    LPWSTR pszwDeviceName;
    int Status;
    int MediaType;
    DWORD dwCharacter;
    CLSID clsidThisObject;
    CLSID clsidUiObject;
};

struct NetConnection : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Connect() = 0;
    virtual HRESULT STDMETHODCALLTYPE Disconnect() = 0;
    virtual HRESULT STDMETHODCALLTYPE Delete() = 0;
    virtual HRESULT STDMETHODCALLTYPE Duplicate(LPCWSTR name, NetConnection** copy) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProperties(NetConProperties** properties) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUiObjectClassId(CLSID* clsid) = 0;
    virtual HRESULT STDMETHODCALLTYPE Rename(LPCWSTR name) = 0;
};

struct EnumNetConnection : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, NetConnection** items, ULONG* fetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG count) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(EnumNetConnection** copy) = 0;
};

struct NetConnectionManager : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE EnumConnections(int flags, EnumNetConnection** items) = 0;
};

// {BA126AD1-2166-11D1-B1D0-00805FC1270E}
inline constexpr CLSID kConnectionManagerClass = {
    0xBA126AD1, 0x2166, 0x11D1, {0xB1, 0xD0, 0x00, 0x80, 0x5F, 0xC1, 0x27, 0x0E}};
// {C08956A2-1CD3-11D1-B1C5-00805FC1270E}
inline constexpr IID kConnectionManagerInterface = {
    0xC08956A2, 0x1CD3, 0x11D1, {0xB1, 0xC5, 0x00, 0x80, 0x5F, 0xC1, 0x27, 0x0E}};

// netshell's NcFreeNetconProperties.
using FreeNetconPropertiesFn = void(WINAPI*)(NetConProperties*);

// Enumerates the manager's connections (flags 0) one at a time while the enumerator answers S_OK; the
// first whose GUID equals `guid`, letter case ignored, is connected (enable) or disconnected, and the
// walk stops there. Every properties record obtained is freed through `freeProperties`. True when the
// request answered S_OK; false when the enumeration failed, nothing matched or the request failed.
bool CycleConnection(NetConnectionManager& manager, FreeNetconPropertiesFn freeProperties,
                     const std::u16string& guid, bool enable);

}  // namespace tarnell
