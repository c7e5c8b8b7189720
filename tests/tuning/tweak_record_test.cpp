// The machine's record of what the tweak set changed: applying writes each value down first, giving
// back restores exactly what was there, over a registry held in memory.
#include "tuning/tweak_record.h"

#include <doctest/doctest.h>

#include <array>
#include <string>
#include <vector>

#include "fake_machine_registry.h"

using namespace tarnell;
using namespace tarnell::test;

namespace {

constexpr std::array<bool, kTweakCount> kAll = {true, true, true, true, true};
constexpr std::array<bool, kTweakCount> kNone = {};

const std::u16string kRecordKey = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorbeck\\Tarnell\\Applied";

RawRegistryValue Sz(const char* ascii) {
    RawRegistryValue v{kRegSz, {}};
    for (const char* p = ascii; *p; ++p) {
        v.data.push_back(uint8_t(*p));
        v.data.push_back(0);
    }
    v.data.push_back(0);
    v.data.push_back(0);
    return v;
}

struct Rig {
    FakeMachineRegistry registry = FakeMachineRegistry::Fresh();
    FakeRecordLock lock;
    TTweakRecord record{registry, lock};
    Rig() { registry.lockHeld = &lock.held; }
};

void CheckSame(const FakeMachineRegistry& actual, const FakeMachineRegistry& expected) {
    INFO(actual.Diff(expected));
    CHECK(actual == expected);
}

}  // namespace

TEST_CASE("Apply writes what the tweaks write, and a record naming the earlier state of each value") {
    Rig rig;
    rig.registry.Set(kAdapterKey, u"TcpAckFrequency", DwordValue(2));  // the user's own
    REQUIRE(rig.record.Apply(kAll, kTestGuid));

    CHECK(*rig.registry.Get(kAdapterKey, u"TcpAckFrequency") == DwordValue(1));
    CHECK(*rig.registry.Get(kAdapterKey, u"TcpDelAckTicks") == DwordValue(0));
    CHECK(*rig.registry.Get(kMsmqKey, u"TCPNoDelay") == DwordValue(1));
    CHECK(*rig.registry.Get(kProfileKey, u"NetworkThrottlingIndex") == DwordValue(0xFFFFFFFFu));
    CHECK(*rig.registry.Get(kProfileKey, u"SystemResponsiveness") == DwordValue(0));
    CHECK(rig.record.Present());
    CHECK(rig.registry.HasKey(kRecordKey));
    CHECK(rig.registry.changesOutsideLock == 0);

    const std::vector<TRecordEntry> entries = rig.record.Entries();
    REQUIRE(entries.size() == 5);
    CHECK(entries[0].keyPath == kAdapterKey);
    CHECK(entries[0].valueName == u"TcpAckFrequency");
    CHECK(entries[0].existed);
    CHECK(entries[0].before == DwordValue(2));
    CHECK(entries[0].written == DwordValue(1));
    CHECK(entries[0].createdKey.empty());
    CHECK_FALSE(entries[1].existed);
    // MSMQ did not exist at all: the topmost level created for the value is MSMQ itself.
    CHECK(entries[2].keyPath == kMsmqKey);
    CHECK(entries[2].createdKey == u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSMQ");
    CHECK(entries[3].before == DwordValue(10));
    CHECK(entries[4].before == DwordValue(20));
}

// Rows: the earlier state of the per-adapter value and of the MSMQ value; what happened since; whether
// the switch was on at Start. Every row must end with the machine exactly as before Start, apart from a
// change someone else made since.
TEST_CASE("GiveBack restores each earlier state exactly, leaves later changes, touches nothing else") {
    enum class Earlier { Absent, UserDword, UserText, KeyAbsent };
    struct Row {
        const char* name;
        Earlier earlier;
        bool switchOn;
        bool changedSince;
    };
    const Row rows[] = {
        {.name = "absent, on, unchanged",
         .earlier = Earlier::Absent,
         .switchOn = true,
         .changedSince = false},
        {.name = "absent, on, changed", .earlier = Earlier::Absent, .switchOn = true, .changedSince = true},
        {.name = "absent, off", .earlier = Earlier::Absent, .switchOn = false, .changedSince = false},
        {.name = "user's dword, on, unchanged",
         .earlier = Earlier::UserDword,
         .switchOn = true,
         .changedSince = false},
        {.name = "user's dword, on, changed",
         .earlier = Earlier::UserDword,
         .switchOn = true,
         .changedSince = true},
        {.name = "user's dword, off",
         .earlier = Earlier::UserDword,
         .switchOn = false,
         .changedSince = false},
        {.name = "user's text, on, unchanged",
         .earlier = Earlier::UserText,
         .switchOn = true,
         .changedSince = false},
        {.name = "user's text, on, changed",
         .earlier = Earlier::UserText,
         .switchOn = true,
         .changedSince = true},
        {.name = "user's text, off", .earlier = Earlier::UserText, .switchOn = false, .changedSince = false},
        {.name = "key absent, on, unchanged",
         .earlier = Earlier::KeyAbsent,
         .switchOn = true,
         .changedSince = false},
        {.name = "key absent, on, changed",
         .earlier = Earlier::KeyAbsent,
         .switchOn = true,
         .changedSince = true},
        {.name = "key absent, off", .earlier = Earlier::KeyAbsent, .switchOn = false, .changedSince = false},
    };
    // The per-adapter TcpDelAckTicks (row 2) and the MSMQ TCPNoDelay (row 3) carry the row's state; the
    // other three switches stay on so each row also gives back values beside it.
    for (const Row& row : rows) {
        INFO(row.name);
        Rig rig;
        switch (row.earlier) {
            case Earlier::Absent:
                rig.registry.AddKey(kMsmqKey);
                break;
            case Earlier::UserDword:
                rig.registry.Set(kAdapterKey, u"TcpDelAckTicks", DwordValue(3));
                rig.registry.Set(kMsmqKey, u"TCPNoDelay", DwordValue(0));
                break;
            case Earlier::UserText:
                rig.registry.Set(kAdapterKey, u"TcpDelAckTicks", Sz("mine"));
                rig.registry.Set(kMsmqKey, u"TCPNoDelay", Sz("mine too"));
                break;
            case Earlier::KeyAbsent:
                rig.registry.RemoveKeyTree(kAdapterKey);
                rig.registry.AddKey(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSMQ");  // Parameters absent
                break;
        }
        const FakeMachineRegistry before = rig.registry;
        std::array<bool, kTweakCount> enabled = kAll;
        enabled[1] = enabled[2] = row.switchOn;
        REQUIRE(rig.record.Apply(enabled, kTestGuid));

        FakeMachineRegistry expected = before;
        if (row.changedSince) {
            rig.registry.Set(kAdapterKey, u"TcpDelAckTicks", DwordValue(7));
            rig.registry.Set(kMsmqKey, u"TCPNoDelay", DwordValue(7));
            expected.Set(kAdapterKey, u"TcpDelAckTicks", DwordValue(7));
            expected.Set(kMsmqKey, u"TCPNoDelay", DwordValue(7));
        }
        REQUIRE(rig.record.GiveBack());
        CheckSame(rig.registry, expected);
        CHECK_FALSE(rig.record.Present());
        CHECK(rig.registry.changesOutsideLock == 0);
    }
}

TEST_CASE("A second apply keeps the first entries: the earlier state is never the tweak set's own value") {
    Rig rig;
    rig.registry.Set(kMsmqKey, u"TCPNoDelay", DwordValue(5));
    const FakeMachineRegistry before = rig.registry;
    SUBCASE("same adapter twice") {
        REQUIRE(rig.record.Apply(kAll, kTestGuid));
        REQUIRE(rig.record.Apply(kAll, kTestGuid));
    }
    SUBCASE("the GUID in another letter case, as another discovery may spell it") {
        REQUIRE(rig.record.Apply(kAll, kTestGuid));
        REQUIRE(rig.record.Apply(kAll, AsciiLowerCase(kTestGuid)));
    }
    SUBCASE("first some switches, then all, then on another adapter") {
        REQUIRE(rig.record.Apply({false, false, true, false, true}, kTestGuid));
        REQUIRE(rig.record.Apply(kAll, kTestGuid));
        REQUIRE(rig.record.Apply(kAll, kOtherGuid));
        CHECK(*rig.registry.Get(kOtherAdapterKey, u"TcpAckFrequency") == DwordValue(1));
    }
    CHECK(rig.record.Entries().size() >= 5);
    REQUIRE(rig.record.GiveBack());
    CheckSame(rig.registry, before);
}

TEST_CASE("GiveBack with no record changes nothing and says so") {
    Rig rig;
    rig.registry.Set(kProfileKey, u"NetworkThrottlingIndex",
                     DwordValue(0xFFFFFFFFu));  // someone else's tweak
    const FakeMachineRegistry before = rig.registry;
    CHECK_FALSE(rig.record.GiveBack());
    CheckSame(rig.registry, before);
    CHECK_FALSE(rig.registry.HasKey(kMsmqKey));
}

TEST_CASE("Start with every switch off is still a record: the tweak set is on until given back") {
    Rig rig;
    const FakeMachineRegistry before = rig.registry;
    REQUIRE(rig.record.Apply(kNone, kTestGuid));
    CHECK(rig.record.Present());
    CHECK(rig.record.Entries().empty());
    REQUIRE(rig.record.GiveBack());
    CHECK_FALSE(rig.record.Present());
    CheckSame(rig.registry, before);
}

TEST_CASE("Killed at any step of an apply: giving back yields the earlier machine exactly") {
    // The process ends just before, or just after, the k-th change of a tweak value (not of the record).
    for (bool afterTheChange : {false, true}) {
        for (int killAt = 1; killAt <= 5; ++killAt) {
            INFO("killed " << (afterTheChange ? "after" : "before") << " tweak value " << killAt);
            Rig rig;
            rig.registry.Set(kAdapterKey, u"TcpAckFrequency",
                             DwordValue(1));  // already what the tweak writes
            rig.registry.Set(kProfileKey, u"SystemResponsiveness", Sz("odd"));
            const FakeMachineRegistry before = rig.registry;
            int tweakChanges = 0;
            auto kill = [&](const std::u16string& path, const std::u16string&) {
                if (AsciiLowerCase(path).rfind(AsciiLowerCase(kRecordKey), 0) == 0) return;
                if (++tweakChanges == killAt) throw Killed();
            };
            (afterTheChange ? rig.registry.afterChange : rig.registry.beforeChange) = kill;
            CHECK_THROWS_AS(rig.record.Apply(kAll, kTestGuid), Killed);
            CHECK_FALSE(rig.lock.held);
            rig.registry.beforeChange = nullptr;
            rig.registry.afterChange = nullptr;

            FakeRecordLock lock;
            TTweakRecord next(rig.registry, lock);  // a later process
            CHECK(next.Present());
            REQUIRE(next.GiveBack());
            CheckSame(rig.registry, before);
        }
    }
}

TEST_CASE(
    "A value that cannot be read is neither written down nor changed, and a kept entry is tried again") {
    Rig rig;
    rig.registry.Set(kMsmqKey, u"TCPNoDelay", DwordValue(9));
    rig.registry.unreadable = AsciiLowerCase(kMsmqKey + u"\\TCPNoDelay");
    REQUIRE(rig.record.Apply(kAll, kTestGuid));
    CHECK(*rig.registry.Get(kMsmqKey, u"TCPNoDelay") == DwordValue(9));
    CHECK(rig.record.Entries().size() == 4);

    // Now the profile value cannot be read while giving back: its entry stays, so does the record.
    rig.registry.unreadable = AsciiLowerCase(kProfileKey + u"\\SystemResponsiveness");
    REQUIRE(rig.record.GiveBack());
    CHECK(rig.record.Present());
    REQUIRE(rig.record.Entries().size() == 1);
    CHECK(rig.record.Entries()[0].valueName == u"SystemResponsiveness");
    rig.registry.unreadable.clear();
    REQUIRE(rig.record.GiveBack());
    CHECK_FALSE(rig.record.Present());
    CHECK(*rig.registry.Get(kProfileKey, u"SystemResponsiveness") == DwordValue(20));
}

TEST_CASE("Damaged or foreign values in the record are dropped, never acted on") {
    Rig rig;
    REQUIRE(rig.record.Apply({true, false, false, false, false}, kTestGuid));
    // A torn entry, an entry stored under another value's name, and a value of the wrong type.
    rig.registry.Set(kRecordKey, kMsmqKey + u"\\TCPNoDelay", RawRegistryValue{kRegBinary, {1, 0, 1}});
    TRecordEntry forged;
    forged.keyPath = kProfileKey;
    forged.valueName = u"SystemResponsiveness";
    forged.written = DwordValue(20);
    rig.registry.Set(kRecordKey, kProfileKey + u"\\NetworkThrottlingIndex",
                     RawRegistryValue{kRegBinary, EncodeRecordEntry(forged)});
    rig.registry.Set(kRecordKey, u"Note", Sz("hello"));
    CHECK(rig.record.Entries().size() == 1);

    REQUIRE(rig.record.GiveBack());
    CHECK_FALSE(rig.record.Present());
    CHECK(rig.registry.Get(kAdapterKey, u"TcpAckFrequency") == nullptr);
    CHECK(*rig.registry.Get(kProfileKey, u"SystemResponsiveness") == DwordValue(20));
    CHECK(*rig.registry.Get(kProfileKey, u"NetworkThrottlingIndex") == DwordValue(10));
}

TEST_CASE("The record's keys go with it unless something else keeps them") {
    Rig rig;
    SUBCASE("nothing else: the maker's key goes too") {
        REQUIRE(rig.record.Apply(kAll, kTestGuid));
        REQUIRE(rig.record.GiveBack());
        CHECK_FALSE(rig.registry.HasKey(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorbeck"));
    }
    SUBCASE("the installer's version keeps the program's key") {
        rig.registry.Set(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorbeck\\Tarnell", u"InstalledVersion", Sz("1.0.2"));
        REQUIRE(rig.record.Apply(kAll, kTestGuid));
        REQUIRE(rig.record.GiveBack());
        CHECK_FALSE(rig.registry.HasKey(kRecordKey));
        CHECK(rig.registry.Get(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorbeck\\Tarnell", u"InstalledVersion") !=
              nullptr);
    }
}

TEST_CASE("Adopt takes over what a version without the record applied, to be given back as it would have") {
    Rig rig;
    // That version's Start with four switches on, on a machine where MSMQ\Parameters already existed.
    rig.registry.Set(kAdapterKey, u"TcpAckFrequency", DwordValue(1));
    rig.registry.Set(kMsmqKey, u"TCPNoDelay", DwordValue(1));
    rig.registry.Set(kProfileKey, u"NetworkThrottlingIndex", DwordValue(0xFFFFFFFFu));
    rig.registry.Set(kProfileKey, u"SystemResponsiveness", DwordValue(0));
    rig.registry.Set(kAdapterKey, u"TcpDelAckTicks", DwordValue(2));  // the user's, not the tweak's 0

    rig.record.Adopt(kTestGuid);
    CHECK(rig.record.Present());
    CHECK(rig.record.Entries().size() == 4);
    rig.record.Adopt(kTestGuid);  // a second time changes nothing
    CHECK(rig.record.Entries().size() == 4);

    REQUIRE(rig.record.GiveBack());
    CHECK(rig.registry.Get(kAdapterKey, u"TcpAckFrequency") == nullptr);
    CHECK(*rig.registry.Get(kAdapterKey, u"TcpDelAckTicks") == DwordValue(2));
    CHECK(rig.registry.Get(kMsmqKey, u"TCPNoDelay") == nullptr);
    CHECK(rig.registry.HasKey(kMsmqKey));  // it existed: it stays
    CHECK(*rig.registry.Get(kProfileKey, u"NetworkThrottlingIndex") == DwordValue(10));
    CHECK(*rig.registry.Get(kProfileKey, u"SystemResponsiveness") == DwordValue(20));
    CHECK(rig.registry.changesOutsideLock == 0);
}

TEST_CASE("Adopt on a machine with none of the tweak values starts no record") {
    Rig rig;
    const FakeMachineRegistry before = rig.registry;
    rig.record.Adopt(kTestGuid);
    CHECK_FALSE(rig.record.Present());
    CheckSame(rig.registry, before);
}

TEST_CASE("Record entries: encoded and decoded whole; anything malformed is refused") {
    TRecordEntry entry;
    entry.keyPath = kMsmqKey;
    entry.valueName = u"TCPNoDelay";
    entry.sequence = 0x01020304;
    entry.existed = true;
    entry.before = Sz("\xEC\x95\x88");  // bytes above 0x7F survive
    entry.written = DwordValue(1);
    const std::vector<uint8_t> bytes = EncodeRecordEntry(entry);
    REQUIRE(DecodeRecordEntry(bytes) == entry);

    TRecordEntry created = entry;
    created.existed = false;
    created.before = {};
    created.createdKey = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSMQ";
    REQUIRE(DecodeRecordEntry(EncodeRecordEntry(created)) == created);

    struct Bad {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    std::vector<uint8_t> trailing = bytes;
    trailing.push_back(0);
    std::vector<uint8_t> format = bytes;
    format[0] = 2;
    std::vector<uint8_t> flags = bytes;
    flags[1] = 0x80;
    std::vector<uint8_t> huge = bytes;
    huge[10] = huge[11] = huge[12] = huge[13] = 0xFF;  // the written value's length
    TRecordEntry outside = created;
    outside.createdKey = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Micro";  // not a level of the value's key
    TRecordEntry noKey = entry;
    noKey.keyPath.clear();
    const Bad bad[] = {
        {"empty", {}},
        {"cut short", std::vector<uint8_t>(bytes.begin(), bytes.end() - 1)},
        {"trailing byte", trailing},
        {"unknown format", format},
        {"unknown flag", flags},
        {"length beyond the data", huge},
        {"created key not above the value's key", EncodeRecordEntry(outside)},
        {"no key path", EncodeRecordEntry(noKey)},
    };
    for (const Bad& b : bad) {
        INFO(b.name);
        CHECK_FALSE(DecodeRecordEntry(b.bytes).has_value());
    }
}
