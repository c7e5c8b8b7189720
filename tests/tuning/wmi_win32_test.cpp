// The WMI adapter query's walk, driven through stand-ins for the services object, its query results,
// their enumerators and the adapter and configuration objects, answering as Windows does. (Wine's WMI
// has no usable adapter class.)
#include "tuning/wmi_win32.h"

#include <doctest/doctest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "tuning/network.h"
#include "tuning/network_win32.h"

using namespace tarnell;

namespace {

// An automation object answering a fixed set of names; references are counted, never freed (the test
// owns every object).
class FakeObject : public IDispatch {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (count != 1) return E_INVALIDARG;
        const std::vector<std::wstring> known = Names();
        for (size_t i = 0; i < known.size(); ++i) {
            if (_wcsicmp(known[i].c_str(), names[0]) == 0) {
                ids[0] = static_cast<DISPID>(i + 1);
                return S_OK;
            }
        }
        ids[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT*) override {
        if (id == DISPID_NEWENUM) return Call(L"_NewEnum", params, result);
        const std::vector<std::wstring> known = Names();
        if (id < 1 || static_cast<size_t>(id) > known.size()) return DISP_E_MEMBERNOTFOUND;
        return Call(known[id - 1], params, result);
    }
    ULONG refs() const { return refs_; }

  protected:
    virtual std::vector<std::wstring> Names() const = 0;
    virtual HRESULT Call(const std::wstring& name, DISPPARAMS* params, VARIANT* result) = 0;

  private:
    ULONG refs_ = 1;
};

void SetText(VARIANT* v, const std::wstring& text) {
    v->vt = VT_BSTR;
    v->bstrVal = SysAllocString(text.c_str());
}

// A Win32_NetworkAdapter object.
struct AdapterObject final : FakeObject {
    std::optional<int> index;
    std::wstring connection, name, guid;

    std::vector<std::wstring> Names() const override {
        return {L"Index", L"NetConnectionID", L"Name", L"GUID"};
    }
    HRESULT Call(const std::wstring& property, DISPPARAMS*, VARIANT* result) override {
        if (property == L"Index") {
            if (index) {
                result->vt = VT_I4;
                result->lVal = *index;
            } else {
                result->vt = VT_NULL;
            }
        } else {
            SetText(result, property == L"NetConnectionID" ? connection : property == L"Name" ? name : guid);
        }
        return S_OK;
    }
};

// A Win32_NetworkAdapterConfiguration object.
struct ConfigurationObject final : FakeObject {
    bool ipEnabled = true;
    std::vector<std::wstring> addresses;

    std::vector<std::wstring> Names() const override { return {L"IPEnabled", L"IPAddress"}; }
    HRESULT Call(const std::wstring& property, DISPPARAMS*, VARIANT* result) override {
        if (property == L"IPEnabled") {
            result->vt = VT_BOOL;
            result->boolVal = ipEnabled ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        }
        SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(addresses.size()));
        for (LONG i = 0; i < static_cast<LONG>(addresses.size()); ++i) {
            BSTR text = SysAllocString(addresses[i].c_str());
            SafeArrayPutElement(array, &i, text);
            SysFreeString(text);
        }
        result->vt = VT_ARRAY | VT_BSTR;
        result->parray = array;
        return S_OK;
    }
};

// One answer of IEnumVARIANT.Next: an object (S_OK), the end (S_FALSE) or an error.
struct Step {
    HRESULT answer;
    IDispatch* item = nullptr;
};

class Enumerator final : public IEnumVARIANT {
  public:
    explicit Enumerator(std::vector<Step> steps) : steps_(std::move(steps)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IEnumVARIANT) {
            *out = static_cast<IEnumVARIANT*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) override {
        ++nextCalls;
        REQUIRE(count == 1);
        if (fetched) *fetched = 0;
        // Past the script the enumeration has ended.
        const Step step = position_ < steps_.size() ? steps_[position_++] : Step{S_FALSE};
        if (step.answer != S_OK) return step.answer;
        step.item->AddRef();
        items[0].vt = VT_DISPATCH;
        items[0].pdispVal = step.item;
        if (fetched) *fetched = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT**) override { return E_NOTIMPL; }

    int nextCalls = 0;

  private:
    std::vector<Step> steps_;
    size_t position_ = 0;
    ULONG refs_ = 1;
};

// An SWbemObjectSet: only its enumerator is used.
struct Collection final : FakeObject {
    Enumerator* enumerator = nullptr;
    std::vector<std::wstring> Names() const override { return {}; }
    HRESULT Call(const std::wstring& name, DISPPARAMS*, VARIANT* result) override {
        if (name != L"_NewEnum") return DISP_E_MEMBERNOTFOUND;
        enumerator->AddRef();
        result->vt = VT_UNKNOWN;
        result->punkVal = enumerator;
        return S_OK;
    }
};

// An SWbemServices: ExecQuery answers the adapter query and one configuration query per adapter index.
struct Services final : FakeObject {
    HRESULT execAnswer = S_OK;  // for the adapter query
    Collection* adapters = nullptr;
    std::map<std::wstring, Collection*> configurationsByIndex;
    std::vector<std::wstring> queries;

    std::vector<std::wstring> Names() const override { return {L"ExecQuery"}; }
    HRESULT Call(const std::wstring&, DISPPARAMS* params, VARIANT* result) override {
        REQUIRE(params->cArgs == 1);
        REQUIRE(params->rgvarg[0].vt == VT_BSTR);
        const std::wstring query = params->rgvarg[0].bstrVal;
        queries.push_back(query);
        Collection* collection = nullptr;
        const std::wstring configurationPrefix =
            L"SELECT * FROM Win32_NetworkAdapterConfiguration WHERE Index = ";
        if (query.rfind(configurationPrefix, 0) == 0) {
            auto it = configurationsByIndex.find(query.substr(configurationPrefix.size()));
            if (it == configurationsByIndex.end()) return E_FAIL;
            collection = it->second;
        } else {
            if (execAnswer != S_OK) return execAnswer;
            collection = adapters;
        }
        collection->AddRef();
        result->vt = VT_DISPATCH;
        result->pdispVal = collection;
        return S_OK;
    }
};

const wchar_t kAdapterQuery[] =
    L"SELECT * FROM Win32_NetworkAdapter WHERE PhysicalAdapter = True AND NetEnabled = True";
constexpr HRESULT kInvalidQuery = static_cast<HRESULT>(0x80041017);  // WBEM_E_INVALID_QUERY
constexpr HRESULT kCallFailed = static_cast<HRESULT>(0x80041001);    // WBEM_E_FAILED

}  // namespace

TEST_CASE("the WMI adapter walk: each adapter checked as it comes, the stand-in only when WMI fails") {
    REQUIRE(SUCCEEDED(CoInitialize(nullptr)));
    {
        AdapterObject virtualNic, nullIndex, nicOne, nicTwo;
        virtualNic.index = 1;
        virtualNic.connection = L"vEthernet (Default Switch)";
        virtualNic.name = L"Hyper-V Virtual Ethernet Adapter";
        virtualNic.guid = L"{11111111-2222-3333-4444-555555555555}";
        nullIndex.connection = L"Ethernet 5";
        nullIndex.name = L"Removed NIC";
        nullIndex.guid = L"{55555555-2222-3333-4444-555555555555}";
        nicOne.index = 7;
        nicOne.connection = L"Ethernet";
        nicOne.name = L"NIC One";
        nicOne.guid = L"{4d36e972-e325-11ce-bfc1-08002be10318}";
        nicTwo.index = 9;
        nicTwo.connection = L"";
        nicTwo.name = L"NIC Two";
        nicTwo.guid = L"{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}";

        ConfigurationObject configOne, configTwo;
        configOne.addresses = {L"fe80::7", L"192.168.1.7"};
        configTwo.addresses = {L"10.0.0.9"};

        struct Case {
            const char* what;
            HRESULT execAnswer;
            std::vector<Step> steps;
            AdapterSource source;
            std::optional<std::u16string> found;  // display name, for the WMI source
            std::optional<std::u16string> ip;
            int nextCalls;
            std::vector<std::wstring> configurationQueries;  // after the adapter query
        };
        const Case cases[] = {
            {"an error after a qualifying adapter: that adapter, found before the error",
             S_OK,
             {{S_OK, &nicOne}, {kCallFailed}},
             AdapterSource::Wmi,
             u"Ethernet (NIC One)",
             u"192.168.1.7",
             1,
             {L"7"}},
            {"an error after an adapter that does not qualify: WMI answered, no stand-in",
             S_OK,
             {{S_OK, &virtualNic}, {kCallFailed}},
             AdapterSource::Wmi,
             std::nullopt,
             std::nullopt,
             2,
             {}},
            {"two qualifying adapters: the first, and the walk stops there",
             S_OK,
             {{S_OK, &virtualNic}, {S_OK, &nicOne}, {S_OK, &nicTwo}, {S_FALSE}},
             AdapterSource::Wmi,
             u"Ethernet (NIC One)",
             u"192.168.1.7",
             2,
             {L"7"}},
            {"an adapter without an index is passed over",
             S_OK,
             {{S_OK, &nullIndex}, {S_OK, &nicTwo}, {S_FALSE}},
             AdapterSource::Wmi,
             u"NIC Two",
             u"10.0.0.9",
             2,
             {L"9"}},
            {"no adapters: WMI answered, no stand-in",
             S_OK,
             {{S_FALSE}},
             AdapterSource::Wmi,
             std::nullopt,
             std::nullopt,
             1,
             {}},
            {"the query fails at its first step: WMI failed",
             S_OK,
             {{kInvalidQuery}},
             AdapterSource::IpHelper,
             std::nullopt,
             std::nullopt,
             1,
             {}},
            {"the query is refused: WMI failed",
             kInvalidQuery,
             {},
             AdapterSource::IpHelper,
             std::nullopt,
             std::nullopt,
             0,
             {}},
        };
        for (const Case& c : cases) {
            INFO(std::string(c.what));
            Enumerator adapterWalk(c.steps), configWalkOne({{S_OK, &configOne}, {S_FALSE}}),
                configWalkTwo({{S_OK, &configTwo}, {S_FALSE}});
            Collection adapterSet, configSetOne, configSetTwo;
            adapterSet.enumerator = &adapterWalk;
            configSetOne.enumerator = &configWalkOne;
            configSetTwo.enumerator = &configWalkTwo;
            Services services;
            services.execAnswer = c.execAnswer;
            services.adapters = &adapterSet;
            services.configurationsByIndex = {{L"7", &configSetOne}, {L"9", &configSetTwo}};
            services.AddRef();  // the session's own reference

            Discovery discovery;
            {
                WmiSession wmi{ComRef<IDispatch>(&services)};
                SystemAdapters system(wmi, true);
                discovery = DiscoverActiveAdapter(system);
            }
            CHECK(discovery.source == c.source);
            CHECK(adapterWalk.nextCalls == c.nextCalls);
            REQUIRE_FALSE(services.queries.empty());
            CHECK(services.queries[0] == kAdapterQuery);
            std::vector<std::wstring> configurationQueries;
            for (size_t i = 1; i < services.queries.size(); ++i) {
                const std::wstring prefix = L"SELECT * FROM Win32_NetworkAdapterConfiguration WHERE Index = ";
                REQUIRE(services.queries[i].rfind(prefix, 0) == 0);
                configurationQueries.push_back(services.queries[i].substr(prefix.size()));
            }
            CHECK(configurationQueries == c.configurationQueries);
            if (c.source == AdapterSource::Wmi) {
                REQUIRE(discovery.adapter.has_value() == c.found.has_value());
                if (c.found) {
                    CHECK(discovery.adapter->name == *c.found);
                    CHECK(discovery.adapter->ip == *c.ip);
                }
            }
            // Every reference the walk took was given back.
            CHECK(services.refs() == 1);
            CHECK(adapterSet.refs() == 1);
            CHECK(nicOne.refs() == 1);
            CHECK(virtualNic.refs() == 1);
        }
    }
    CoUninitialize();
}
