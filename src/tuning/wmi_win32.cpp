#include "tuning/wmi_win32.h"

#include <initializer_list>

#include "base/wide.h"

namespace tarnell {

namespace {

// Calls a member by name. `args` in their natural order (IDispatch takes them reversed).
HRESULT InvokeByName(IDispatch* object, const wchar_t* name, WORD flags, std::initializer_list<VARIANT*> args,
                     VARIANT* result) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    VARIANT reversed[8];
    UINT count = 0;
    for (auto it = args.end(); it != args.begin() && count < 8;) reversed[count++] = **--it;
    DISPPARAMS params{count ? reversed : nullptr, nullptr, count, 0};
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr);
}

bool IsNull(const VARIANT& v) {
    return v.vt == VT_NULL || v.vt == VT_EMPTY;
}

// Text of a variant: null reads as empty, other types are converted; false when they cannot be.
bool VariantText(const VARIANT& v, std::u16string& text) {
    if (IsNull(v)) {
        text.clear();
        return true;
    }
    if (v.vt == VT_BSTR) {
        text = v.bstrVal ? FromWide(std::wstring_view(v.bstrVal, SysStringLen(v.bstrVal))) : std::u16string();
        return true;
    }
    ScopedVariant converted;
    if (FAILED(VariantChangeTypeEx(converted.get(), const_cast<VARIANT*>(&v), LOCALE_INVARIANT, 0, VT_BSTR)))
        return false;
    return VariantText(*converted, text);
}

bool ReadText(IDispatch* object, const wchar_t* name, std::u16string& text) {
    ScopedVariant value;
    return GetWmiProperty(object, name, value.get()) && VariantText(*value, text);
}

bool ReadTrue(IDispatch* object, const wchar_t* name) {
    ScopedVariant value;
    if (!GetWmiProperty(object, name, value.get())) return false;
    if ((*value).vt == VT_BOOL) return (*value).boolVal != VARIANT_FALSE;
    ScopedVariant converted;
    if (FAILED(VariantChangeTypeEx(converted.get(), value.get(), LOCALE_INVARIANT, 0, VT_BOOL))) return false;
    return (*converted).boolVal != VARIANT_FALSE;
}

// The IPAddress list, element by element from its lower to its upper bound. nullopt when it is null,
// not an array, or an element cannot be read.
std::optional<std::vector<std::u16string>> ReadTextArray(IDispatch* object, const wchar_t* name) {
    ScopedVariant value;
    if (!GetWmiProperty(object, name, value.get())) return std::nullopt;
    const VARIANT& v = *value;
    if (IsNull(v) || !(v.vt & VT_ARRAY)) return std::nullopt;
    SAFEARRAY* array = (v.vt & VT_BYREF) ? (v.pparray ? *v.pparray : nullptr) : v.parray;
    if (!array || SafeArrayGetDim(array) < 1) return std::nullopt;
    LONG lower = 0, upper = -1;
    if (FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper)))
        return std::nullopt;
    const VARTYPE elementType = static_cast<VARTYPE>(v.vt & VT_TYPEMASK);
    std::vector<std::u16string> list;
    for (LONG i = lower; i <= upper; ++i) {
        std::u16string text;
        if (elementType == VT_BSTR) {
            BSTR element = nullptr;
            if (FAILED(SafeArrayGetElement(array, &i, &element))) return std::nullopt;
            text = element ? FromWide(std::wstring_view(element, SysStringLen(element))) : std::u16string();
            SysFreeString(element);
        } else if (elementType == VT_VARIANT) {
            ScopedVariant element;
            if (FAILED(SafeArrayGetElement(array, &i, element.get())) || !VariantText(*element, text))
                return std::nullopt;
        } else {
            return std::nullopt;
        }
        list.push_back(std::move(text));
    }
    return list;
}

}  // namespace

bool GetWmiProperty(IDispatch* object, const wchar_t* name, VARIANT* value) {
    VariantClear(value);
    // Read the way scripting clients read a property; WMI scripting objects answer this form.
    return SUCCEEDED(InvokeByName(object, name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, value));
}

bool WmiSession::Connect() {
    services_.reset();
    CLSID clsid{};
    if (FAILED(CLSIDFromProgID(L"WbemScripting.SWbemLocator", &clsid))) return false;
    ComRef<IDispatch> locator;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                locator.put_void())))
        return false;
    ScopedVariant server(L"."), space(L"root\\CIMV2"), user(L""), password(L"");
    ScopedVariant result;
    if (FAILED(InvokeByName(locator.get(), L"ConnectServer", DISPATCH_METHOD,
                            {server.get(), space.get(), user.get(), password.get()}, result.get())))
        return false;
    if ((*result).vt != VT_DISPATCH || !(*result).pdispVal) return false;
    (*result).pdispVal->AddRef();
    services_ = ComRef<IDispatch>((*result).pdispVal);
    return true;
}

bool WmiSession::Walk(const std::u16string& wql, const std::function<bool(IDispatch*)>& visit) {
    if (!services_) return false;
    ScopedVariant text(W(wql)), set;
    if (FAILED(InvokeByName(services_.get(), L"ExecQuery", DISPATCH_METHOD, {text.get()}, set.get())))
        return false;
    if ((*set).vt != VT_DISPATCH || !(*set).pdispVal) return false;

    // The collection is walked through its _NewEnum enumerator, one item at a time.
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    ScopedVariant enumVariant;
    if (FAILED((*set).pdispVal->Invoke(DISPID_NEWENUM, IID_NULL, LOCALE_USER_DEFAULT,
                                       DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, enumVariant.get(),
                                       nullptr, nullptr)))
        return false;
    const VARIANT& ev = *enumVariant;
    IUnknown* unknown = ev.vt == VT_UNKNOWN ? ev.punkVal : ev.vt == VT_DISPATCH ? ev.pdispVal : nullptr;
    if (!unknown) return false;
    ComRef<IEnumVARIANT> items;
    if (FAILED(unknown->QueryInterface(IID_IEnumVARIANT, items.put_void()))) return false;

    // A query WMI refuses (an unknown class or property) may only fail at its first step.
    for (bool first = true;; first = false) {
        ScopedVariant item;
        ULONG fetched = 0;
        const HRESULT hr = items->Next(1, item.get(), &fetched);
        if (hr != S_OK) return hr == S_FALSE || !first;
        if ((*item).vt != VT_DISPATCH || !(*item).pdispVal) continue;
        if (!visit((*item).pdispVal)) return true;
    }
}

std::optional<std::vector<ComRef<IDispatch>>> WmiSession::Query(const std::u16string& wql) {
    std::vector<ComRef<IDispatch>> objects;
    const bool walked = Walk(wql, [&objects](IDispatch* object) {
        object->AddRef();
        objects.emplace_back(object);
        return true;
    });
    if (!walked) return std::nullopt;
    return objects;
}

bool WmiSession::WalkAdapters(const std::function<bool(const AdapterRecord&)>& visit) {
    return Walk(u"SELECT * FROM Win32_NetworkAdapter WHERE PhysicalAdapter = True AND NetEnabled = True",
                [&visit](IDispatch* object) {
                    AdapterRecord adapter;
                    ScopedVariant index;
                    if (!GetWmiProperty(object, L"Index", index.get())) {
                        adapter.identityRead = false;
                    } else if (!IsNull(*index)) {
                        std::u16string text;
                        adapter.identityRead = VariantText(*index, text);
                        adapter.index = std::move(text);
                    }
                    if (adapter.index && adapter.identityRead) {
                        adapter.identityRead = ReadText(object, L"NetConnectionID", adapter.connectionId) &&
                                               ReadText(object, L"Name", adapter.name) &&
                                               ReadText(object, L"GUID", adapter.guid);
                    }
                    return visit(adapter);
                });
}

std::optional<std::vector<AdapterConfiguration>> WmiSession::QueryConfigurations(
    const std::u16string& index) {
    auto objects = Query(u"SELECT * FROM Win32_NetworkAdapterConfiguration WHERE Index = " + index);
    if (!objects) return std::nullopt;
    std::vector<AdapterConfiguration> configurations;
    for (const ComRef<IDispatch>& object : *objects) {
        AdapterConfiguration configuration;
        configuration.ipEnabled = ReadTrue(object.get(), L"IPEnabled");
        if (configuration.ipEnabled) configuration.addresses = ReadTextArray(object.get(), L"IPAddress");
        configurations.push_back(std::move(configuration));
    }
    return configurations;
}

}  // namespace tarnell
