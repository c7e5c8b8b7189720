// Registry paths and the tweak catalogue with its apply actions.
#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "tuning/registry_path.h"
#include "tuning/tweaks.h"

using namespace tarnell;

namespace {

struct Call {
    bool write;
    std::u16string path;
    std::u16string name;
    int32_t value;
    bool operator==(const Call&) const = default;
};

std::string Show(const Call& c) {
    return (c.write ? "write " : "delete ") + Utf16ToUtf8(c.path) + " | " + Utf16ToUtf8(c.name) +
           (c.write ? " = " + std::to_string(c.value) : std::string());
}

class RecordingWriter final : public RegistryWriter {
  public:
    std::vector<Call> calls;
    void WriteInteger(const std::u16string& path, const std::u16string& name, int32_t value) override {
        calls.push_back({true, path, name, value});
    }
};

void CheckCalls(const std::vector<Call>& actual, const std::vector<Call>& expected) {
    REQUIRE(actual.size() == expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        INFO("call " << i << ": " << Show(actual[i]) << "  expected: " << Show(expected[i]));
        CHECK(actual[i] == expected[i]);
    }
}

const std::u16string kGuid = u"{4D36E972-e325-11CE-BFC1-08002BE10318}";
const std::u16string kAdapterKey =
    u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\"
    u"{4D36E972-e325-11CE-BFC1-08002BE10318}";
const std::u16string kMsmq = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSMQ\\Parameters";
const std::u16string kProfile =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Multimedia\\SystemProfile";

const std::vector<Call> kApplyAll = {
    {true, kAdapterKey, u"TcpAckFrequency", 1},
    {true, kAdapterKey, u"TcpDelAckTicks", 0},
    {true, kMsmq, u"TCPNoDelay", 1},
    {true, kProfile, u"NetworkThrottlingIndex", -1},
    {true, kProfile, u"SystemResponsiveness", 0},
};

}  // namespace

TEST_CASE("GetRootKey: exact, case-sensitive names give 0x80000000 + index, anything else 0") {
    struct Case {
        std::u16string name;
        uint32_t expected;
    };
    const Case cases[] = {
        {u"HKEY_CLASSES_ROOT", 0x80000000u},
        {u"HKEY_CURRENT_USER", 0x80000001u},
        {u"HKEY_LOCAL_MACHINE", 0x80000002u},
        {u"HKEY_USERS", 0x80000003u},
        {u"HKEY_PERFORMANCE_DATA", 0x80000004u},
        {u"HKEY_CURRENT_CONFIG", 0x80000005u},
        {u"HKEY_DYN_DATA", 0x80000006u},
        {u"hkey_local_machine", 0},
        {u"HKEY_Local_Machine", 0},
        {u"HKLM", 0},
        {u"HKEY_LOCAL_MACHINE ", 0},
        {u"HKEY_LOCAL", 0},
        {u"", 0},
        {u"HKEY_LOCAL_MACHINE\\SOFTWARE", 0},
    };
    for (const Case& c : cases) {
        INFO(Utf16ToUtf8(c.name));
        CHECK(GetRootKey(c.name) == c.expected);
    }
}

TEST_CASE("SplitRegistryPath splits at the first backslash only") {
    struct Case {
        std::u16string path, root, subkey;
    };
    const Case cases[] = {
        {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSMQ\\Parameters", u"HKEY_LOCAL_MACHINE",
         u"SOFTWARE\\Microsoft\\MSMQ\\Parameters"},
        {u"HKEY_CURRENT_USER\\Software", u"HKEY_CURRENT_USER", u"Software"},
        {u"NoBackslash", u"", u"NoBackslash"},
        {u"", u"", u""},
        {u"\\Leading", u"", u"Leading"},
        {u"HKEY_USERS\\", u"HKEY_USERS", u""},
        {u"A\\\\B\\", u"A", u"\\B\\"},
    };
    for (const Case& c : cases) {
        INFO(Utf16ToUtf8(c.path));
        const RegistryPathParts parts = SplitRegistryPath(c.path);
        CHECK(parts.root == c.root);
        CHECK(parts.subkey == c.subkey);
    }
}

TEST_CASE("tweak catalogue rows, in order") {
    struct Row {
        TweakOption option;
        const char16_t* settingsKey;
        const char16_t* valueName;
        int32_t apply;
        bool revertRemoves;
        int32_t revert;
    };
    const Row rows[kTweakCount] = {
        {TweakOption::TcpAckFrequency, u"tcpackfrequency", u"TcpAckFrequency", 1, true, 0},
        {TweakOption::TcpDelAckTick, u"tcpdelacktick", u"TcpDelAckTicks", 0, true, 0},
        {TweakOption::TcpNoDelay, u"tcpnodelay", u"TCPNoDelay", 1, true, 0},
        {TweakOption::NetworkThrottlingIndex, u"networkthrottleindex", u"NetworkThrottlingIndex", -1, false,
         10},
        {TweakOption::SystemResponsiveness, u"systemresponsiveness", u"SystemResponsiveness", 0, false, 20},
    };
    const auto& catalogue = TweakCatalogue();
    for (size_t i = 0; i < kTweakCount; ++i) {
        INFO("row " << i);
        const Tweak& t = catalogue[i];
        CHECK(t.option == rows[i].option);
        CHECK(std::u16string(t.settingsKey) == rows[i].settingsKey);
        CHECK(std::u16string(t.valueName) == rows[i].valueName);
        CHECK(t.applyValue == rows[i].apply);
        CHECK(t.revertRemoves == rows[i].revertRemoves);
        if (!t.revertRemoves) CHECK(t.revertValue == rows[i].revert);
    }
    CHECK(static_cast<uint32_t>(catalogue[3].applyValue) == 0xFFFFFFFFu);
    CHECK(std::u16string(kInterfacesKeyPath).back() == u'\\');
}

TEST_CASE("ApplyTweaks writes the enabled tweaks in catalogue order, GUID appended unchanged") {
    SUBCASE("all five") {
        RecordingWriter w;
        ApplyTweaks({true, true, true, true, true}, kGuid, w);
        CheckCalls(w.calls, kApplyAll);
    }
    SUBCASE("each one alone") {
        for (size_t only = 0; only < kTweakCount; ++only) {
            INFO("enabled: " << only);
            std::array<bool, kTweakCount> enabled{};
            enabled[only] = true;
            RecordingWriter w;
            ApplyTweaks(enabled, kGuid, w);
            CheckCalls(w.calls, {kApplyAll[only]});
        }
    }
    SUBCASE("none") {
        RecordingWriter w;
        ApplyTweaks({}, kGuid, w);
        CHECK(w.calls.empty());
    }
    SUBCASE("first and last: order kept") {
        RecordingWriter w;
        ApplyTweaks({true, false, false, false, true}, kGuid, w);
        CheckCalls(w.calls, {kApplyAll[0], kApplyAll[4]});
    }
}

TEST_CASE("an empty adapter GUID leaves the per-adapter tweaks out, so no interface key is touched") {
    RecordingWriter apply;
    ApplyTweaks({true, true, true, true, true}, u"", apply);
    CheckCalls(apply.calls, {kApplyAll[2], kApplyAll[3], kApplyAll[4]});
}
