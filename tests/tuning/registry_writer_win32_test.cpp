// The tweak set and its machine record through the system registry, against the test prefix's real
// registry, and the record's machine-wide lock.
#include "tuning/registry_writer_win32.h"

#include <doctest/doctest.h>
#include <windows.h>

#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>

#include "base/machine_lock_win32.h"
#include "base/scoped_win.h"
#include "base/text.h"
#include "base/wide.h"
#include "tuning/tweak_record.h"
#include "tuning/tweaks.h"

using namespace tarnell;

namespace {

const std::wstring kInterfaces = L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces";
const std::wstring kGuid = L"{7A3B0C1D-5E6F-4A1B-8C2D-3E4F5A6B7C8D}";
const std::wstring kAdapterKey = kInterfaces + L"\\" + kGuid;
const std::wstring kMsmq = L"SOFTWARE\\Microsoft\\MSMQ\\Parameters";
const std::wstring kProfile = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Multimedia\\SystemProfile";

struct Value {
    DWORD type;
    DWORD data;
    DWORD size;
};

std::optional<Value> Read(const std::wstring& subkey, const wchar_t* name, REGSAM view = KEY_WOW64_64KEY) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return std::nullopt;
    Value v{};
    v.size = sizeof v.data;
    const LONG rc = RegQueryValueExW(key, name, nullptr, &v.type, reinterpret_cast<BYTE*>(&v.data), &v.size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return std::nullopt;
    return v;
}

void CheckDword(const std::wstring& subkey, const wchar_t* name, DWORD expected) {
    INFO(Utf16ToUtf8(FromWide(name)));
    const std::optional<Value> v = Read(subkey, name);
    REQUIRE_MESSAGE(v.has_value(), "value missing");
    CHECK(v->type == REG_DWORD);
    CHECK(v->size == sizeof(DWORD));
    CHECK(v->data == expected);
}

bool KeyExists(HKEY root, const std::wstring& subkey, REGSAM view = KEY_WOW64_64KEY) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void DeleteTree(const std::wstring& subkey) {
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_ALL_ACCESS | view, &key) !=
            ERROR_SUCCESS)
            continue;
        RegDeleteTreeW(key, nullptr);
        RegCloseKey(key);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), view, 0);
    }
}

void DeleteValue(const std::wstring& subkey, const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key) ==
        ERROR_SUCCESS) {
        RegDeleteValueW(key, name);
        RegCloseKey(key);
    }
}

// Every (key, value name) pair under the interfaces key, the key itself included.
std::set<std::pair<std::wstring, std::wstring>> InterfaceValues() {
    std::set<std::pair<std::wstring, std::wstring>> all;
    auto collect = [&](const std::wstring& subkey) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
            ERROR_SUCCESS)
            return;
        wchar_t name[512];
        for (DWORD i = 0;; ++i) {
            DWORD length = 512;
            if (RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            all.insert({subkey, name});
        }
        RegCloseKey(key);
    };
    collect(kInterfaces);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInterfaces.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) ==
        ERROR_SUCCESS) {
        wchar_t name[512];
        for (DWORD i = 0;; ++i) {
            DWORD length = 512;
            if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            collect(kInterfaces + L"\\" + name);
        }
        RegCloseKey(key);
    }
    return all;
}

const std::array<bool, kTweakCount> kAll = {true, true, true, true, true};
const std::wstring kVorbeck = L"SOFTWARE\\Vorbeck";
const std::wstring kRecord = L"SOFTWARE\\Vorbeck\\Tarnell\\Applied";

// Every byte of a value, or nothing when it is absent.
std::optional<std::pair<DWORD, std::vector<BYTE>>> Raw(const std::wstring& subkey, const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0, size = 0;
    std::optional<std::pair<DWORD, std::vector<BYTE>>> out;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::vector<BYTE> data(size);
        if (RegQueryValueExW(key, name, nullptr, &type, data.data(), &size) == ERROR_SUCCESS)
            out = std::make_pair(type, data);
    }
    RegCloseKey(key);
    return out;
}

void SetRaw(const std::wstring& subkey, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    REQUIRE(RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr) == ERROR_SUCCESS);
    RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

class NoLock final : public RecordLock {
  public:
    bool Enter() override { return true; }
    void Leave() override {}
};

}  // namespace

TEST_CASE("the user's own values come back byte for byte after apply and give back, and no key is left") {
    DeleteTree(kAdapterKey);
    DeleteTree(L"SOFTWARE\\Microsoft\\MSMQ");
    DeleteTree(kVorbeck);
    // The user's own: a DWORD under one per-adapter name, a text under a profile name; the other
    // per-adapter name and the MSMQ key are absent.
    const DWORD mine = 5;
    SetRaw(kAdapterKey, L"TcpAckFrequency", REG_DWORD, &mine, sizeof mine);
    const wchar_t text[] = L"mine";
    SetRaw(kProfile, L"SystemResponsiveness", REG_SZ, text, sizeof text);
    const DWORD throttling = 10;
    SetRaw(kProfile, L"NetworkThrottlingIndex", REG_DWORD, &throttling, sizeof throttling);
    const auto ack = Raw(kAdapterKey, L"TcpAckFrequency");
    const auto responsiveness = Raw(kProfile, L"SystemResponsiveness");
    const auto index = Raw(kProfile, L"NetworkThrottlingIndex");

    SystemMachineRegistry registry;
    NoLock lock;
    TTweakRecord record(registry, lock);
    REQUIRE(record.Apply(kAll, FromWide(kGuid)) == RecordResult::Done);
    CheckDword(kAdapterKey, L"TcpAckFrequency", 1);
    CheckDword(kAdapterKey, L"TcpDelAckTicks", 0);
    CheckDword(kMsmq, L"TCPNoDelay", 1);
    CheckDword(kProfile, L"NetworkThrottlingIndex", 0xFFFFFFFFu);
    CheckDword(kProfile, L"SystemResponsiveness", 0);
    CHECK(KeyExists(HKEY_LOCAL_MACHINE, kRecord));
    CHECK(record.Entries().size() == 5);

    REQUIRE(record.GiveBack() == RecordResult::Done);
    CHECK(Raw(kAdapterKey, L"TcpAckFrequency") == ack);
    CHECK_FALSE(Raw(kAdapterKey, L"TcpDelAckTicks").has_value());
    CHECK(Raw(kProfile, L"SystemResponsiveness") == responsiveness);
    CHECK(Raw(kProfile, L"NetworkThrottlingIndex") == index);
    CHECK_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\MSMQ"));
    CHECK_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kVorbeck));
    CHECK(KeyExists(HKEY_LOCAL_MACHINE, kAdapterKey));  // it existed before
    // Nothing of it in the 32-bit view.
    CHECK_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kRecord, KEY_WOW64_32KEY));

    DeleteTree(kAdapterKey);
}

TEST_CASE("the system registry: removals never create a key, a key goes only when empty") {
    const std::wstring subkey = L"SOFTWARE\\TarnellMachineRegistryTest";
    const std::u16string path = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\TarnellMachineRegistryTest";
    DeleteTree(subkey);
    SystemMachineRegistry registry;

    CHECK(registry.DeleteValue(path + u"\\Deeper", u"Value"));  // nothing there counts as removed
    CHECK_FALSE(KeyExists(HKEY_LOCAL_MACHINE, subkey));
    CHECK_FALSE(registry.KeyExists(path));
    RawRegistryValue value;
    CHECK(registry.ReadValue(path, u"Value", value) == MachineRegistry::Read::Absent);

    const RawRegistryValue binary{kRegBinary, {0, 1, 2, 0xFF}};
    REQUIRE(registry.WriteValue(path + u"\\Deeper", u"Value", binary));
    CHECK(registry.KeyExists(path + u"\\Deeper"));
    REQUIRE(registry.ReadValue(path + u"\\Deeper", u"Value", value) == MachineRegistry::Read::Present);
    CHECK(value == binary);
    CHECK(registry.ValueNames(path + u"\\Deeper") == std::vector<std::u16string>{u"Value"});

    registry.DeleteKeyIfEmpty(path);  // has a subkey
    CHECK(registry.KeyExists(path));
    registry.DeleteKeyIfEmpty(path + u"\\Deeper");  // has a value
    CHECK(registry.KeyExists(path + u"\\Deeper"));
    CHECK(registry.DeleteValue(path + u"\\Deeper", u"Value"));
    registry.DeleteKeyIfEmpty(path + u"\\Deeper");
    registry.DeleteKeyIfEmpty(path);
    CHECK_FALSE(KeyExists(HKEY_LOCAL_MACHINE, subkey));
}

TEST_CASE("a root name not in the table writes and creates nothing") {
    const std::wstring subkey = L"SOFTWARE\\TarnellTuningRootTest";
    DeleteTree(subkey);
    const char16_t* paths[] = {
        u"hkey_local_machine\\SOFTWARE\\TarnellTuningRootTest",
        u"HKLM\\SOFTWARE\\TarnellTuningRootTest",
        u"SOFTWARE\\TarnellTuningRootTest",
        u"\\SOFTWARE\\TarnellTuningRootTest",
    };
    SystemMachineRegistry registry;
    for (const char16_t* path : paths) {
        INFO(Utf16ToUtf8(path));
        WriteRegistryInteger(path, u"Value", 7);
        CHECK_FALSE(registry.WriteValue(path, u"Value", DwordValue(7)));
    }
    CHECK_FALSE(KeyExists(HKEY_LOCAL_MACHINE, subkey));
    CHECK_FALSE(KeyExists(HKEY_LOCAL_MACHINE, subkey, KEY_WOW64_32KEY));
    CHECK_FALSE(KeyExists(HKEY_CURRENT_USER, subkey));

    // The same path with the exact root name does write.
    WriteRegistryInteger(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\TarnellTuningRootTest", u"Value", 7);
    CheckDword(subkey, L"Value", 7);
    DeleteTree(subkey);
}

TEST_CASE("an empty adapter GUID changes no adapter's key, applied or given back") {
    // A neighbour adapter key that must stay as it is.
    WriteRegistryInteger(u"HKEY_LOCAL_MACHINE\\" + FromWide(kAdapterKey), u"Neighbour", 3);
    const auto before = InterfaceValues();
    REQUIRE(before.count({kAdapterKey, L"Neighbour"}) == 1);

    SystemMachineRegistry registry;
    NoLock lock;
    TTweakRecord record(registry, lock);
    REQUIRE(record.Apply(kAll, u"") == RecordResult::Done);
    CHECK(InterfaceValues() == before);
    REQUIRE(record.GiveBack() == RecordResult::Done);
    CHECK(InterfaceValues() == before);

    DeleteTree(kAdapterKey);
}

TEST_CASE("the machine lock: one holder at a time; a holder that ended without releasing hands it on") {
    const wchar_t* name = L"TarnellLockTest";
    ScopedHandle held(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ScopedHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    bool firstHeld = false, abandonedHeld = false;
    std::thread holder([&] {
        TMachineLock lock(name);
        firstHeld = lock.Held();
        SetEvent(held.get());
        WaitForSingleObject(release.get(), 30000);
    });
    REQUIRE(WaitForSingleObject(held.get(), 30000) == WAIT_OBJECT_0);
    {
        TMachineLock busy(name, 0);
        CHECK_FALSE(busy.Held());
    }
    SetEvent(release.get());
    {
        TMachineLock next(name, 30000);  // waits for the holder's release
        CHECK(next.Held());
    }
    holder.join();
    CHECK(firstHeld);

    // A thread that ends while holding it abandons it; the next one gets it at once.
    std::thread([&] {
        auto* leaked = new TMachineLock(name);  // never released: the thread ends holding it
        abandonedHeld = leaked->Held();
    }).join();
    CHECK(abandonedHeld);
    TMachineLock after(name, 0);
    CHECK(after.Held());
}

TEST_CASE(
    "the upgrade's take-over over the system registry: every adapter's key, given back as that version's "
    "Stop") {
    const std::wstring otherAdapter = kInterfaces + L"\\{11111111-2222-3333-4444-555555555555}";
    DeleteTree(kAdapterKey);
    DeleteTree(otherAdapter);
    DeleteTree(L"SOFTWARE\\Microsoft\\MSMQ");
    DeleteTree(kVorbeck);
    // What a version without the record left on: its values on the adapter of then and on another one.
    const DWORD one = 1, zero = 0, minusOne = 0xFFFFFFFFu;
    SetRaw(kAdapterKey, L"TcpAckFrequency", REG_DWORD, &one, sizeof one);
    SetRaw(kAdapterKey, L"TcpDelAckTicks", REG_DWORD, &zero, sizeof zero);
    SetRaw(otherAdapter, L"TcpAckFrequency", REG_DWORD, &one, sizeof one);
    SetRaw(kMsmq, L"TCPNoDelay", REG_DWORD, &one, sizeof one);
    SetRaw(kProfile, L"NetworkThrottlingIndex", REG_DWORD, &minusOne, sizeof minusOne);
    SetRaw(kProfile, L"SystemResponsiveness", REG_DWORD, &zero, sizeof zero);

    SystemMachineRegistry registry;
    NoLock lock;
    TTweakRecord record(registry, lock);
    REQUIRE(record.TakeOver() == RecordResult::Done);
    CHECK(record.State() == RecordState::On);
    CHECK(record.Entries().size() == 6);
    CheckDword(kAdapterKey, L"TcpAckFrequency", 1);  // the take-over changes no value

    REQUIRE(record.GiveBack() == RecordResult::Done);
    CHECK_FALSE(Read(kAdapterKey, L"TcpAckFrequency").has_value());
    CHECK_FALSE(Read(kAdapterKey, L"TcpDelAckTicks").has_value());
    CHECK_FALSE(Read(otherAdapter, L"TcpAckFrequency").has_value());
    CHECK_FALSE(Read(kMsmq, L"TCPNoDelay").has_value());
    CheckDword(kProfile, L"NetworkThrottlingIndex", 10);
    CheckDword(kProfile, L"SystemResponsiveness", 20);
    CHECK_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kVorbeck));

    DeleteTree(kAdapterKey);
    DeleteTree(otherAdapter);
    DeleteTree(L"SOFTWARE\\Microsoft\\MSMQ");
}

TEST_CASE(
    "the record's lock held by another past the bound: nothing is written, the lock never becomes no lock") {
    DeleteTree(kVorbeck);
    DeleteTree(L"SOFTWARE\\Microsoft\\MSMQ");
    ScopedHandle held(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ScopedHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread holder([&] {
        TMachineLock lock(L"TarnellRecord");
        SetEvent(held.get());
        WaitForSingleObject(release.get(), 30000);
    });
    REQUIRE(WaitForSingleObject(held.get(), 30000) == WAIT_OBJECT_0);
    SystemMachineRegistry registry;
    SystemRecordLock lock(200);
    TTweakRecord record(registry, lock);
    const DWORD started = GetTickCount();
    CHECK(record.Apply({false, false, true, false, false}, u"") == RecordResult::Busy);
    const DWORD waited = GetTickCount() - started;
    MESSAGE("waited " << waited << " ms for a 200 ms bound");
    CHECK(waited >= 150);
    CHECK_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kVorbeck));
    CHECK_FALSE(Read(kMsmq, L"TCPNoDelay").has_value());
    SetEvent(release.get());
    holder.join();
    CHECK(record.Apply({false, false, true, false, false}, u"") == RecordResult::Done);
    CHECK(record.GiveBack() == RecordResult::Done);
    CHECK_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kVorbeck));
}
