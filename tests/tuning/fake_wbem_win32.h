// Stand-ins for WMI's services object, its query enumerators and the objects they yield, answering as
// Windows' WMI does: properties as the CIM types come out through IWbemClassObject::Get (uint32 as VT_I4,
// strings as VT_BSTR or VT_NULL when unset, string arrays as VT_ARRAY | VT_BSTR or VT_NULL, booleans as
// VT_BOOL), an unknown property WBEM_E_NOT_FOUND, the end of a walk WBEM_S_FALSE with nothing returned.
// (Wine's WMI cannot stand in: its adapter class has no NetEnabled, so the adapter query always fails.)
// References are counted and never free anything: the test owns every object.
#pragma once

// clang-format off
#include <windows.h>
#include <wbemidl.h>
// clang-format on

#include <doctest/doctest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarnell::test {

template <typename Interface>
class FakeUnknown : public Interface {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        // Nothing else: CoSetProxyBlanket asks for IClientSecurity, which an object in this process lacks.
        if (iid == IID_IUnknown || iid == __uuidof(Interface)) {
            *out = static_cast<Interface*>(this);
            this->AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
    ULONG refs() const { return refs_; }

  private:
    ULONG refs_ = 1;
};

// A WMI object (an instance of Win32_NetworkAdapter or Win32_NetworkAdapterConfiguration): only Get.
class FakeWbemObject final : public FakeUnknown<IWbemClassObject> {
  public:
    FakeWbemObject() = default;
    ~FakeWbemObject() {
        for (auto& [name, value] : properties_) VariantClear(&value);
    }
    FakeWbemObject(const FakeWbemObject&) = delete;
    FakeWbemObject& operator=(const FakeWbemObject&) = delete;

    FakeWbemObject& SetNull(const std::wstring& name) {
        Slot(name).vt = VT_NULL;
        return *this;
    }
    FakeWbemObject& Set(const std::wstring& name, int value) {
        VARIANT& v = Slot(name);
        v.vt = VT_I4;
        v.lVal = value;
        return *this;
    }
    FakeWbemObject& Set(const std::wstring& name, const wchar_t* text) {
        VARIANT& v = Slot(name);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(text);
        return *this;
    }
    FakeWbemObject& SetBool(const std::wstring& name, bool value) {
        VARIANT& v = Slot(name);
        v.vt = VT_BOOL;
        v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
        return *this;
    }
    FakeWbemObject& Set(const std::wstring& name, const std::vector<std::wstring>& texts) {
        SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(texts.size()));
        for (LONG i = 0; i < static_cast<LONG>(texts.size()); ++i) {
            BSTR text = SysAllocString(texts[static_cast<size_t>(i)].c_str());
            SafeArrayPutElement(array, &i, text);
            SysFreeString(text);
        }
        VARIANT& v = Slot(name);
        v.vt = VT_ARRAY | VT_BSTR;
        v.parray = array;
        return *this;
    }

    HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE*, LONG*) override {
        REQUIRE(flags == 0);
        for (auto& [known, stored] : properties_)
            if (_wcsicmp(known.c_str(), name) == 0) return value ? VariantCopy(value, &stored) : S_OK;
        return WBEM_E_NOT_FOUND;
    }

    HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Put(LPCWSTR, LONG, VARIANT*, CIMTYPE) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Next(LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE EndEnumeration() override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetObjectText(LONG, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG, IWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE SpawnInstance(LONG, IWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CompareTo(LONG, IWbemClassObject*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR, LONG, IWbemClassObject**, IWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }

  private:
    VARIANT& Slot(const std::wstring& name) {
        VARIANT& v = properties_[name];
        VariantClear(&v);
        return v;
    }
    std::map<std::wstring, VARIANT> properties_;
};

// A WMI that never produces the answer (a hung provider, a damaged repository).
inline constexpr DWORD kNeverAnswers = INFINITE;
// Where a stand-in that never answers gives up all the same when asked to wait for ever, so that a walk
// without a bound ends the test instead of hanging it.
inline constexpr DWORD kInfiniteWaitGuardMs = 30000;

// One answer of IEnumWbemClassObject::Next: an object (WBEM_S_NO_ERROR), the end (WBEM_S_FALSE) or an
// error, ready `delayMs` after it is first asked for (kNeverAnswers: never).
struct WbemStep {
    HRESULT answer;
    IWbemClassObject* item = nullptr;
    DWORD delayMs = 0;
};

// Semisynchronous enumeration as Windows' WMI does it: Next waits up to its time-out for the next answer
// and, when that is not ready by then, returns WBEM_S_TIMEDOUT with nothing; the answer keeps coming and
// a later Next may still get it.
class FakeWbemEnumerator final : public FakeUnknown<IEnumWbemClassObject> {
  public:
    explicit FakeWbemEnumerator(std::vector<WbemStep> steps)
        : steps_(std::move(steps)), never_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~FakeWbemEnumerator() { CloseHandle(never_); }
    FakeWbemEnumerator(const FakeWbemEnumerator&) = delete;
    FakeWbemEnumerator& operator=(const FakeWbemEnumerator&) = delete;

    HRESULT STDMETHODCALLTYPE Next(LONG timeout, ULONG count, IWbemClassObject** items,
                                   ULONG* returned) override {
        ++nextCalls;
        timeouts.push_back(timeout);
        REQUIRE(count == 1);
        REQUIRE(returned != nullptr);
        *returned = 0;
        // Past the script the enumeration has ended.
        if (position_ >= steps_.size()) return WBEM_S_FALSE;
        WbemStep& next = steps_[position_];
        if (next.delayMs != 0) {
            const DWORD asked = timeout == LONG(WBEM_INFINITE) ? INFINITE : DWORD(timeout);
            const DWORD waited = std::min({asked, next.delayMs, kInfiniteWaitGuardMs});
            // WMI blocks the caller meanwhile; nothing ever signals this event.
            WaitForSingleObject(never_, waited);
            if (next.delayMs != kNeverAnswers) next.delayMs -= waited;
            if (next.delayMs != 0) return WBEM_S_TIMEDOUT;
        }
        const WbemStep step = steps_[position_++];
        if (step.answer != WBEM_S_NO_ERROR) return step.answer;
        step.item->AddRef();
        items[0] = step.item;
        *returned = 1;
        return WBEM_S_NO_ERROR;
    }
    HRESULT STDMETHODCALLTYPE Reset() override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE NextAsync(ULONG, IWbemObjectSink*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Skip(LONG, ULONG) override { return WBEM_E_NOT_SUPPORTED; }

    int nextCalls = 0;
    std::vector<LONG> timeouts;  // of each Next, in order

  private:
    std::vector<WbemStep> steps_;
    size_t position_ = 0;
    HANDLE never_;
};

// The services object of root\CIMV2: ExecQuery answers each query from `answer`, which gives either an
// enumerator or a failure for the query text.
class FakeWbemServices final : public FakeUnknown<IWbemServices> {
  public:
    struct Answer {
        HRESULT result = WBEM_S_NO_ERROR;
        FakeWbemEnumerator* items = nullptr;
    };
    std::function<Answer(const std::wstring& query)> answer;
    std::vector<std::wstring> queries;

    HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR language, const BSTR query, LONG flags,
                                        IWbemContext* context, IEnumWbemClassObject** items) override {
        CHECK(std::wstring(language) == L"WQL");
        CHECK(context == nullptr);
        // Semisynchronous and forward-only, as the walk reads each object once.
        CHECK(flags == (WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY));
        *items = nullptr;
        queries.emplace_back(query);
        const Answer a = answer(queries.back());
        if (FAILED(a.result)) return a.result;
        a.items->AddRef();
        *items = a.items;
        return WBEM_S_NO_ERROR;
    }

    HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**,
                                            IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG, IWbemObjectSink**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject**,
                                        IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject*, LONG, IWbemContext*,
                                            IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR, LONG, IWbemContext*,
                                              IEnumWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR, LONG, IWbemContext*,
                                                   IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject*, LONG, IWbemContext*,
                                          IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*,
                                               IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR, LONG, IWbemContext*,
                                                  IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR, LONG, IWbemContext*,
                                                 IEnumWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*,
                                                      IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                             IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                                    IEnumWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                                         IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                         IWbemClassObject**, IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                              IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
};

}  // namespace tarnell::test
