#include "tuning/wmi_win32.h"

#include <algorithm>

#include "base/wide.h"

namespace tarnell {

namespace {

// A BSTR for one call.
class ScopedBstr {
  public:
    explicit ScopedBstr(const wchar_t* text) : text_(SysAllocString(text)) {}
    ~ScopedBstr() { SysFreeString(text_); }
    ScopedBstr(const ScopedBstr&) = delete;
    ScopedBstr& operator=(const ScopedBstr&) = delete;
    BSTR get() const { return text_; }

  private:
    BSTR text_;
};

// WMI's objects outside this process (the service on Windows) act for the program only when asked to:
// without impersonation its providers may refuse or answer nothing. An object inside this process has no
// proxy to set, and says so; that is not a failure.
void AllowImpersonation(IUnknown* proxy) {
    (void)CoSetProxyBlanket(proxy, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                            RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
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

bool ReadText(IWbemClassObject* object, const wchar_t* name, std::u16string& text) {
    ScopedVariant value;
    return GetWmiProperty(object, name, value.get()) && VariantText(*value, text);
}

bool ReadTrue(IWbemClassObject* object, const wchar_t* name) {
    ScopedVariant value;
    if (!GetWmiProperty(object, name, value.get())) return false;
    if ((*value).vt == VT_BOOL) return (*value).boolVal != VARIANT_FALSE;
    ScopedVariant converted;
    if (FAILED(VariantChangeTypeEx(converted.get(), value.get(), LOCALE_INVARIANT, 0, VT_BOOL))) return false;
    return (*converted).boolVal != VARIANT_FALSE;
}

// The IPAddress list, element by element from its lower to its upper bound. nullopt when it is null,
// not an array, or an element cannot be read.
std::optional<std::vector<std::u16string>> ReadTextArray(IWbemClassObject* object, const wchar_t* name) {
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

bool GetWmiProperty(IWbemClassObject* object, const wchar_t* name, VARIANT* value) {
    VariantClear(value);
    return SUCCEEDED(object->Get(name, 0, value, nullptr, nullptr));
}

bool WmiSession::Connect() {
    services_.reset();
    ComRef<IWbemLocator> locator;
    if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                locator.put_void())) ||
        !locator)
        return false;
    ScopedBstr space(L"root\\CIMV2");
    ComRef<IWbemServices> services;
    if (FAILED(locator->ConnectServer(space.get(), nullptr, nullptr, nullptr, WBEM_FLAG_CONNECT_USE_MAX_WAIT,
                                      nullptr, nullptr, services.put())) ||
        !services)
        return false;
    AllowImpersonation(services.get());
    services_ = std::move(services);
    return true;
}

std::chrono::milliseconds WmiSession::NextWait() {
    using std::chrono::milliseconds;
    const auto now = std::chrono::steady_clock::now();
    if (timedOut_ || now >= *deadline_) return milliseconds::zero();
    const auto left = std::chrono::ceil<milliseconds>(*deadline_ - now);
    return std::min(left, bounds_.perItem);
}

bool WmiSession::Walk(const std::u16string& wql, const std::function<bool(IWbemClassObject*)>& visit) {
    if (!services_ || timedOut_) return false;
    if (!deadline_) deadline_ = std::chrono::steady_clock::now() + bounds_.overall;
    ScopedBstr language(L"WQL"), text(W(wql));
    // Forward only: each object is read once, as it comes, and not kept by the enumerator.
    ComRef<IEnumWbemClassObject> items;
    if (FAILED(services_->ExecQuery(language.get(), text.get(),
                                    WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                    items.put())) ||
        !items)
        return false;
    AllowImpersonation(items.get());

    // A query WMI refuses (an unknown class or property) may only fail at its first step. Each object is
    // waited for within the bounds (the query returned at once, semisynchronously): an object that does not
    // come in time ends the walk as a failure, whatever came before, so that another source can answer.
    for (bool first = true;; first = false) {
        const std::chrono::milliseconds wait = NextWait();
        if (wait.count() <= 0) {
            timedOut_ = true;
            return false;
        }
        ComRef<IWbemClassObject> item;
        ULONG returned = 0;
        const HRESULT hr = items->Next(static_cast<LONG>(wait.count()), 1, item.put(), &returned);
        if (hr == WBEM_S_TIMEDOUT && returned == 0) {
            timedOut_ = true;
            return false;
        }
        if (hr != WBEM_S_NO_ERROR || returned != 1) return SUCCEEDED(hr) || !first;
        if (!item) continue;
        if (!visit(item.get())) return true;
    }
}

std::optional<std::vector<ComRef<IWbemClassObject>>> WmiSession::Query(const std::u16string& wql) {
    std::vector<ComRef<IWbemClassObject>> objects;
    const bool walked = Walk(wql, [&objects](IWbemClassObject* object) {
        object->AddRef();
        objects.emplace_back(object);
        return true;
    });
    if (!walked) return std::nullopt;
    return objects;
}

bool WmiSession::WalkAdapters(const std::function<bool(const AdapterRecord&)>& visit) {
    return Walk(u"SELECT * FROM Win32_NetworkAdapter WHERE PhysicalAdapter = True AND NetEnabled = True",
                [&visit](IWbemClassObject* object) {
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
    for (const ComRef<IWbemClassObject>& object : *objects) {
        AdapterConfiguration configuration;
        configuration.ipEnabled = ReadTrue(object.get(), L"IPEnabled");
        if (configuration.ipEnabled) configuration.addresses = ReadTextArray(object.get(), L"IPAddress");
        configurations.push_back(std::move(configuration));
    }
    return configurations;
}

}  // namespace tarnell
