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
    REQUIRE(rig.record.Apply(kAll, kTestGuid) == RecordResult::Done);

    CHECK(*rig.registry.Get(kAdapterKey, u"TcpAckFrequency") == DwordValue(1));
    CHECK(*rig.registry.Get(kAdapterKey, u"TcpDelAckTicks") == DwordValue(0));
    CHECK(*rig.registry.Get(kMsmqKey, u"TCPNoDelay") == DwordValue(1));
    CHECK(*rig.registry.Get(kProfileKey, u"NetworkThrottlingIndex") == DwordValue(0xFFFFFFFFu));
    CHECK(*rig.registry.Get(kProfileKey, u"SystemResponsiveness") == DwordValue(0));
    CHECK(rig.record.State() == RecordState::On);
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
        REQUIRE(rig.record.Apply(enabled, kTestGuid) == RecordResult::Done);

        FakeMachineRegistry expected = before;
        if (row.changedSince) {
            rig.registry.Set(kAdapterKey, u"TcpDelAckTicks", DwordValue(7));
            rig.registry.Set(kMsmqKey, u"TCPNoDelay", DwordValue(7));
            expected.Set(kAdapterKey, u"TcpDelAckTicks", DwordValue(7));
            expected.Set(kMsmqKey, u"TCPNoDelay", DwordValue(7));
        }
        REQUIRE(rig.record.GiveBack() == RecordResult::Done);
        CheckSame(rig.registry, expected);
        CHECK(rig.record.State() == RecordState::Off);
        CHECK(rig.registry.changesOutsideLock == 0);
    }
}

TEST_CASE("A second apply keeps the first entries: the earlier state is never the tweak set's own value") {
    Rig rig;
    rig.registry.Set(kMsmqKey, u"TCPNoDelay", DwordValue(5));
    const FakeMachineRegistry before = rig.registry;
    SUBCASE("same adapter twice") {
        REQUIRE(rig.record.Apply(kAll, kTestGuid) == RecordResult::Done);
        REQUIRE(rig.record.Apply(kAll, kTestGuid) == RecordResult::Done);
    }
    SUBCASE("the GUID in another letter case, as another discovery may spell it") {
        REQUIRE(rig.record.Apply(kAll, kTestGuid) == RecordResult::Done);
        REQUIRE(rig.record.Apply(kAll, AsciiLowerCase(kTestGuid)) == RecordResult::Done);
    }
    SUBCASE("first some switches, then all, then on another adapter") {
        REQUIRE(rig.record.Apply({false, false, true, false, true}, kTestGuid) == RecordResult::Done);
        REQUIRE(rig.record.Apply(kAll, kTestGuid) == RecordResult::Done);
        REQUIRE(rig.record.Apply(kAll, kOtherGuid) == RecordResult::Done);
        CHECK(*rig.registry.Get(kOtherAdapterKey, u"TcpAckFrequency") == DwordValue(1));
    }
    CHECK(rig.record.Entries().size() >= 5);
    REQUIRE(rig.record.GiveBack() == RecordResult::Done);
    CheckSame(rig.registry, before);
}

TEST_CASE("GiveBack with no record changes nothing and says so") {
    Rig rig;
    rig.registry.Set(kProfileKey, u"NetworkThrottlingIndex",
                     DwordValue(0xFFFFFFFFu));  // someone else's tweak
    const FakeMachineRegistry before = rig.registry;
    CHECK(rig.record.GiveBack() == RecordResult::Nothing);
    CheckSame(rig.registry, before);
    CHECK_FALSE(rig.registry.HasKey(kMsmqKey));
}

TEST_CASE("A record without entries is off: every switch off writes none, and one cut short is cleared") {
    Rig rig;
    const FakeMachineRegistry before = rig.registry;
    CHECK(rig.record.Apply(kNone, kTestGuid) == RecordResult::Nothing);
    CHECK_FALSE(rig.registry.HasKey(kRecordKey));
    CheckSame(rig.registry, before);

    // A kill right after "Format" was written leaves a record with nothing in it.
    rig.registry.Set(kRecordKey, u"Format", DwordValue(1));
    CHECK(rig.record.State() == RecordState::Off);
    CHECK(rig.record.GiveBack() == RecordResult::Nothing);
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
            CHECK_THROWS_AS((void)rig.record.Apply(kAll, kTestGuid), Killed);
            CHECK_FALSE(rig.lock.held);
            rig.registry.beforeChange = nullptr;
            rig.registry.afterChange = nullptr;

            FakeRecordLock lock;
            TTweakRecord next(rig.registry, lock);  // a later process
            CHECK(next.State() == RecordState::On);
            REQUIRE(next.GiveBack() == RecordResult::Done);
            CheckSame(rig.registry, before);
        }
    }
}

TEST_CASE(
    "A value that cannot be read is neither written down nor changed, and a kept entry is tried again") {
    Rig rig;
    rig.registry.Set(kMsmqKey, u"TCPNoDelay", DwordValue(9));
    rig.registry.unreadable = AsciiLowerCase(kMsmqKey + u"\\TCPNoDelay");
    REQUIRE(rig.record.Apply(kAll, kTestGuid) == RecordResult::Done);
    CHECK(*rig.registry.Get(kMsmqKey, u"TCPNoDelay") == DwordValue(9));
    CHECK(rig.record.Entries().size() == 4);

    // Now the profile value cannot be read while giving back: its entry stays, so does the record.
    rig.registry.unreadable = AsciiLowerCase(kProfileKey + u"\\SystemResponsiveness");
    REQUIRE(rig.record.GiveBack() == RecordResult::Done);
    CHECK(rig.record.State() == RecordState::On);
    REQUIRE(rig.record.Entries().size() == 1);
    CHECK(rig.record.Entries()[0].valueName == u"SystemResponsiveness");
    rig.registry.unreadable.clear();
    REQUIRE(rig.record.GiveBack() == RecordResult::Done);
    CHECK(rig.record.State() == RecordState::Off);
    CHECK(*rig.registry.Get(kProfileKey, u"SystemResponsiveness") == DwordValue(20));
}

TEST_CASE("Damaged or foreign values in the record are dropped, never acted on") {
    Rig rig;
    REQUIRE(rig.record.Apply({true, false, false, false, false}, kTestGuid) == RecordResult::Done);
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

    REQUIRE(rig.record.GiveBack() == RecordResult::Done);
    CHECK(rig.record.State() == RecordState::Off);
    CHECK(rig.registry.Get(kAdapterKey, u"TcpAckFrequency") == nullptr);
    CHECK(*rig.registry.Get(kProfileKey, u"SystemResponsiveness") == DwordValue(20));
    CHECK(*rig.registry.Get(kProfileKey, u"NetworkThrottlingIndex") == DwordValue(10));
}

TEST_CASE("The record's keys go with it unless something else keeps them") {
    Rig rig;
    SUBCASE("nothing else: the maker's key goes too") {
        REQUIRE(rig.record.Apply(kAll, kTestGuid) == RecordResult::Done);
        REQUIRE(rig.record.GiveBack() == RecordResult::Done);
        CHECK_FALSE(rig.registry.HasKey(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorbeck"));
    }
    SUBCASE("the installer's version keeps the program's key") {
        rig.registry.Set(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorbeck\\Tarnell", u"InstalledVersion", Sz("1.0.2"));
        REQUIRE(rig.record.Apply(kAll, kTestGuid) == RecordResult::Done);
        REQUIRE(rig.record.GiveBack() == RecordResult::Done);
        CHECK_FALSE(rig.registry.HasKey(kRecordKey));
        CHECK(rig.registry.Get(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorbeck\\Tarnell", u"InstalledVersion") !=
              nullptr);
    }
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

namespace {

// What a version without the record left when it was on: its apply values, on the adapter it ran on.
void OldVersionApplied(FakeMachineRegistry& machine, const std::u16string& adapterKey) {
    machine.Set(adapterKey, u"TcpAckFrequency", DwordValue(1));
    machine.Set(adapterKey, u"TcpDelAckTicks", DwordValue(0));
    machine.Set(kMsmqKey, u"TCPNoDelay", DwordValue(1));
    machine.Set(kProfileKey, u"NetworkThrottlingIndex", DwordValue(0xFFFFFFFFu));
    machine.Set(kProfileKey, u"SystemResponsiveness", DwordValue(0));
}

// What that version's Stop would have left: the three values removed, the two profile values 10 and 20.
void OldVersionStopped(FakeMachineRegistry& machine, const std::u16string& adapterKey) {
    machine.Remove(adapterKey, u"TcpAckFrequency");
    machine.Remove(adapterKey, u"TcpDelAckTicks");
    machine.Remove(kMsmqKey, u"TCPNoDelay");
    machine.Set(kProfileKey, u"NetworkThrottlingIndex", DwordValue(10));
    machine.Set(kProfileKey, u"SystemResponsiveness", DwordValue(20));
}

void Plant(FakeMachineRegistry& machine, const TRecordEntry& entry) {
    machine.Set(kRecordKey, RecordEntryName(entry.keyPath, entry.valueName),
                RawRegistryValue{kRegBinary, EncodeRecordEntry(entry)});
}

}  // namespace

TEST_CASE(
    "TakeOver writes down, machine-wide, what a version without the record applied; given back as its Stop") {
    enum class Before { OnTwoAdapters, Nothing, RecordOn, Foreign, Busy, NotAnAdapterKey };
    struct Row {
        const char* name;
        Before before;
        RecordResult result;
    };
    const Row rows[] = {
        {"on, on the adapter of then and on another one", Before::OnTwoAdapters, RecordResult::Done},
        {"nothing applied", Before::Nothing, RecordResult::Nothing},
        {"a record is on already", Before::RecordOn, RecordResult::Nothing},
        {"a newer version's record", Before::Foreign, RecordResult::Foreign},
        {"another writer holds the lock", Before::Busy, RecordResult::Busy},
        {"a key under Interfaces that no adapter has", Before::NotAnAdapterKey, RecordResult::Nothing},
    };
    for (const Row& row : rows) {
        INFO(row.name);
        Rig rig;
        FakeMachineRegistry afterStop = rig.registry;
        switch (row.before) {
            case Before::OnTwoAdapters:
                OldVersionApplied(rig.registry, kAdapterKey);
                rig.registry.Set(kOtherAdapterKey, u"TcpAckFrequency", DwordValue(1));
                rig.registry.Set(kOtherAdapterKey, u"TcpDelAckTicks",
                                 DwordValue(5));  // not its 0: the user's
                afterStop = rig.registry;
                OldVersionStopped(afterStop, kAdapterKey);
                afterStop.Remove(kOtherAdapterKey, u"TcpAckFrequency");
                afterStop.RemoveKeyTree(kRecordKey);
                break;
            case Before::Nothing:
                break;
            case Before::RecordOn:
                REQUIRE(rig.record.Apply({false, false, true, false, false}, kTestGuid) ==
                        RecordResult::Done);
                OldVersionApplied(rig.registry, kAdapterKey);
                break;
            case Before::Foreign:
                OldVersionApplied(rig.registry, kAdapterKey);
                rig.registry.Set(kRecordKey, u"Format", DwordValue(2));
                break;
            case Before::Busy:
                OldVersionApplied(rig.registry, kAdapterKey);
                rig.lock.busy = true;
                break;
            case Before::NotAnAdapterKey:
                rig.registry.Set(kInterfaces + u"\\Tunnel", u"TcpAckFrequency", DwordValue(1));
                break;
        }
        const FakeMachineRegistry before = rig.registry;
        CHECK(rig.record.TakeOver() == row.result);
        CHECK(rig.registry.changesOutsideLock == 0);
        if (row.result != RecordResult::Done) {
            CheckSame(rig.registry, before);
            continue;
        }
        // Only the record changed; then giving back does what that version's Stop would have.
        CHECK(rig.record.State() == RecordState::On);
        CHECK(rig.record.Entries().size() == 6);  // five on the adapter of then, one on the other
        CHECK(rig.record.TakeOver() == RecordResult::Nothing);  // once
        FakeMachineRegistry withoutRecord = rig.registry;
        withoutRecord.RemoveKeyTree(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorbeck");
        CheckSame(withoutRecord, before);
        REQUIRE(rig.record.GiveBack() == RecordResult::Done);
        CheckSame(rig.registry, afterStop);
    }
}

TEST_CASE(
    "Killed at any step of a take-over: no record or a whole one, and the next take-over completes it") {
    int total = 0;
    {
        Rig rig;
        OldVersionApplied(rig.registry, kAdapterKey);
        rig.registry.afterChange = [&](const std::u16string&, const std::u16string&) { ++total; };
        REQUIRE(rig.record.TakeOver() == RecordResult::Done);
    }
    REQUIRE(total >= 6);  // five entries and "Format"
    for (int killAt = 1; killAt <= total; ++killAt) {
        for (bool afterTheChange : {false, true}) {
            INFO("killed " << (afterTheChange ? "after" : "before") << " change " << killAt);
            Rig rig;
            OldVersionApplied(rig.registry, kAdapterKey);
            FakeMachineRegistry afterStop = rig.registry;
            OldVersionStopped(afterStop, kAdapterKey);
            int changes = 0;
            auto kill = [&](const std::u16string&, const std::u16string&) {
                if (++changes == killAt) throw Killed();
            };
            (afterTheChange ? rig.registry.afterChange : rig.registry.beforeChange) = kill;
            CHECK_THROWS_AS((void)rig.record.TakeOver(), Killed);
            rig.registry.beforeChange = nullptr;
            rig.registry.afterChange = nullptr;

            FakeRecordLock lock;
            TTweakRecord next(rig.registry, lock);
            const RecordState state = next.State();
            // Whole, or none at all: a record that is on names all five values.
            if (state == RecordState::On) CHECK(next.Entries().size() == 5);
            if (state == RecordState::Off) CHECK(next.GiveBack() == RecordResult::Nothing);
            // The installer's step run again finishes the job; giving back is then that version's Stop.
            const RecordResult again = next.TakeOver();
            CHECK(again == (state == RecordState::On ? RecordResult::Nothing : RecordResult::Done));
            REQUIRE(next.GiveBack() == RecordResult::Done);
            CheckSame(rig.registry, afterStop);
        }
    }
}

TEST_CASE("Entries a take-over never finished are nothing: the next apply clears them before writing") {
    Rig rig;
    TRecordEntry leftover;
    leftover.keyPath = kProfileKey;
    leftover.valueName = u"SystemResponsiveness";
    leftover.existed = true;
    leftover.before = DwordValue(20);
    leftover.written = DwordValue(0);
    leftover.sequence = 1;
    Plant(rig.registry, leftover);  // no "Format": never committed
    CHECK(rig.record.State() == RecordState::Off);

    REQUIRE(rig.record.Apply({false, false, true, false, false}, kTestGuid) == RecordResult::Done);
    REQUIRE(rig.record.Entries().size() == 1);
    CHECK(rig.record.Entries()[0].valueName == u"TCPNoDelay");
    REQUIRE(rig.record.GiveBack() == RecordResult::Done);
    CHECK(*rig.registry.Get(kProfileKey, u"SystemResponsiveness") == DwordValue(20));  // never touched
}

TEST_CASE(
    "A value changed by hand while on belongs to the user: a second apply records it, giving back returns "
    "it") {
    struct Row {
        const char* name;
        bool removedByHand;  // else set to 7
    };
    for (const Row& row : {Row{"set to 7", false}, Row{"removed", true}}) {
        INFO(row.name);
        Rig rig;
        rig.registry.Set(kAdapterKey, u"TcpAckFrequency", DwordValue(2));
        REQUIRE(rig.record.Apply(kAll, kTestGuid) == RecordResult::Done);

        FakeMachineRegistry expected = rig.registry;
        if (row.removedByHand) {
            rig.registry.Remove(kAdapterKey, u"TcpAckFrequency");
        } else {
            rig.registry.Set(kAdapterKey, u"TcpAckFrequency", DwordValue(7));
        }
        REQUIRE(rig.record.Apply(kAll, kTestGuid) == RecordResult::Done);
        CHECK(*rig.registry.Get(kAdapterKey, u"TcpAckFrequency") == DwordValue(1));  // applied again

        REQUIRE(rig.record.GiveBack() == RecordResult::Done);
        if (row.removedByHand) {
            CHECK(rig.registry.Get(kAdapterKey, u"TcpAckFrequency") == nullptr);
        } else {
            CHECK(*rig.registry.Get(kAdapterKey, u"TcpAckFrequency") == DwordValue(7));
        }
        // Everything else as before the first apply.
        expected.Remove(kAdapterKey, u"TcpAckFrequency");
        FakeMachineRegistry actual = rig.registry;
        actual.Remove(kAdapterKey, u"TcpAckFrequency");
        FakeMachineRegistry first = FakeMachineRegistry::Fresh();
        CheckSame(actual, first);
    }
}

TEST_CASE("Give-back acts only on the catalogue's own values: any other entry is dropped without writing") {
    struct Row {
        const char* name;
        TRecordEntry entry;
    };
    auto entry = [](std::u16string key, std::u16string name, RawRegistryValue written,
                    RawRegistryValue before, std::u16string created = u"") {
        TRecordEntry e;
        e.keyPath = std::move(key);
        e.valueName = std::move(name);
        e.written = std::move(written);
        e.existed = !before.data.empty() || before.type != 0;
        e.before = std::move(before);
        e.createdKey = std::move(created);
        e.sequence = 1;
        return e;
    };
    const std::u16string run = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    const std::u16string userAdapter =
        u"HKEY_CURRENT_USER\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters"
        u"\\Interfaces\\" +
        kTestGuid;
    const Row rows[] = {
        {"another root (HKCU)", entry(userAdapter, u"TcpAckFrequency", DwordValue(1), DwordValue(9))},
        {"another key (Run)", entry(run, u"TcpAckFrequency", DwordValue(1), Sz("C:\\\\evil.exe"))},
        {"another value in the adapter's key", entry(kAdapterKey, u"DhcpIPAddress", DwordValue(1), Sz("x"))},
        {"a tweak's name in another tweak's key",
         entry(kMsmqKey, u"TcpAckFrequency", DwordValue(1), DwordValue(9))},
        {"an interface key that is no GUID",
         entry(kInterfaces + u"\\Tunnel", u"TcpAckFrequency", DwordValue(1), DwordValue(9))},
        {"written is not the tweak's value", entry(kMsmqKey, u"TCPNoDelay", DwordValue(5), DwordValue(9))},
        {"before of 1 MiB", entry(kAdapterKey, u"TcpAckFrequency", DwordValue(1),
                                  RawRegistryValue{kRegBinary, std::vector<uint8_t>(1u << 20, 0xAB)})},
        {"before of an odd type",
         entry(kAdapterKey, u"TcpAckFrequency", DwordValue(1), RawRegistryValue{9, {1, 2, 3, 4}})},
        {"before a DWORD of 3 bytes",
         entry(kAdapterKey, u"TcpAckFrequency", DwordValue(1), RawRegistryValue{kRegDword, {1, 2, 3}})},
        {"created key above the tweak's own",
         entry(kMsmqKey, u"TCPNoDelay", DwordValue(1), {}, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft")},
        {"created key above an adapter's key",
         entry(kAdapterKey, u"TcpAckFrequency", DwordValue(1), {}, kInterfaces)},
    };
    for (const Row& row : rows) {
        INFO(row.name);
        Rig rig;
        // The value the entry names holds what the entry says was written, as a give-back would want.
        rig.registry.Set(row.entry.keyPath, row.entry.valueName, row.entry.written);
        rig.registry.AddKey(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");
        rig.registry.Set(kRecordKey, u"Format", DwordValue(1));
        Plant(rig.registry, row.entry);
        FakeMachineRegistry expected = rig.registry;
        expected.RemoveKeyTree(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorbeck");

        CHECK(rig.record.Entries().empty());
        CHECK(rig.record.State() == RecordState::Off);
        CHECK(rig.record.GiveBack() == RecordResult::Nothing);
        CheckSame(rig.registry, expected);
    }
}

TEST_CASE("Apply leaves a value it could not give back: one too large or of an odd type is not changed") {
    Rig rig;
    rig.registry.Set(kAdapterKey, u"TcpAckFrequency",
                     RawRegistryValue{kRegBinary, std::vector<uint8_t>(4096, 1)});
    rig.registry.Set(kMsmqKey, u"TCPNoDelay", Sz("1"));  // a short text: kept and given back
    const FakeMachineRegistry before = rig.registry;
    REQUIRE(rig.record.Apply(kAll, kTestGuid) == RecordResult::Done);
    CHECK(rig.registry.Get(kAdapterKey, u"TcpAckFrequency")->data.size() == 4096);
    CHECK(*rig.registry.Get(kMsmqKey, u"TCPNoDelay") == DwordValue(1));
    REQUIRE(rig.record.GiveBack() == RecordResult::Done);
    CheckSame(rig.registry, before);
}

TEST_CASE("A record of another format is left exactly as it is, by every operation") {
    Rig rig;
    OldVersionApplied(rig.registry, kAdapterKey);
    rig.registry.Set(kRecordKey, u"Format", DwordValue(2));
    rig.registry.Set(kRecordKey, kAdapterKey + u"\\TcpAckFrequency", RawRegistryValue{kRegBinary, {2, 9, 9}});
    rig.registry.Set(kRecordKey, u"Adapters", Sz("newer layout"));
    const FakeMachineRegistry before = rig.registry;

    CHECK(rig.record.State() == RecordState::Foreign);
    CHECK(rig.record.Apply(kAll, kTestGuid) == RecordResult::Foreign);
    CHECK(rig.record.GiveBack() == RecordResult::Foreign);
    CHECK(rig.record.TakeOver() == RecordResult::Foreign);
    CheckSame(rig.registry, before);

    // Any "Format" but this version's own DWORD 1 is another format.
    for (const RawRegistryValue& format : {Sz("1"), RawRegistryValue{kRegDword, {1, 0, 0}}, DwordValue(0)}) {
        rig.registry.Set(kRecordKey, u"Format", format);
        CHECK(rig.record.State() == RecordState::Foreign);
        CHECK(rig.record.GiveBack() == RecordResult::Foreign);
    }
}

TEST_CASE(
    "Durable before the change: entries flushed before the first value, values flushed before entries go") {
    Rig rig;
    REQUIRE(rig.record.Apply(kAll, kTestGuid) == RecordResult::Done);
    const std::u16string record = AsciiLowerCase(kRecordKey);
    auto isRecord = [&](const std::u16string& line) { return line.find(record) != std::u16string::npos; };
    auto position = [&](auto predicate) {
        const auto& j = rig.registry.journal;
        return size_t(std::find_if(j.begin(), j.end(), predicate) - j.begin());
    };
    {
        const auto& j = rig.registry.journal;
        const size_t flush = position([&](const std::u16string& l) { return l == u"flush " + record; });
        const size_t firstValue =
            position([&](const std::u16string& l) { return l.rfind(u"write ", 0) == 0 && !isRecord(l); });
        REQUIRE(flush < j.size());
        REQUIRE(firstValue < j.size());
        CHECK(flush < firstValue);
        // Every entry is written before the flush.
        for (size_t i = flush; i < j.size(); ++i) {
            INFO(Utf16ToUtf8(j[i]));
            CHECK_FALSE((j[i].rfind(u"write ", 0) == 0 && isRecord(j[i])));
        }
    }

    rig.registry.journal.clear();
    REQUIRE(rig.record.GiveBack() == RecordResult::Done);
    const auto& j = rig.registry.journal;
    const size_t firstEntryGone =
        position([&](const std::u16string& l) { return l.rfind(u"delete ", 0) == 0 && isRecord(l); });
    REQUIRE(firstEntryGone < j.size());
    for (const std::u16string& key : {kAdapterKey, kMsmqKey, kProfileKey}) {
        INFO(Utf16ToUtf8(key));
        const size_t flush =
            position([&](const std::u16string& l) { return l == u"flush " + AsciiLowerCase(key); });
        const size_t lastValue = [&] {
            size_t last = 0;
            for (size_t i = 0; i < j.size(); ++i)
                if (!isRecord(j[i]) && j[i].find(AsciiLowerCase(key)) != std::u16string::npos &&
                    j[i].rfind(u"flush ", 0) != 0)
                    last = i;
            return last;
        }();
        CHECK(lastValue < flush);
        CHECK(flush < firstEntryGone);
    }
}

TEST_CASE("A lock held past its bound never becomes no lock: nothing changes") {
    Rig rig;
    REQUIRE(rig.record.Apply({true, false, false, false, false}, kTestGuid) == RecordResult::Done);
    OldVersionApplied(rig.registry, kOtherAdapterKey);
    const FakeMachineRegistry before = rig.registry;
    rig.lock.busy = true;
    CHECK(rig.record.Apply(kAll, kTestGuid) == RecordResult::Busy);
    CHECK(rig.record.GiveBack() == RecordResult::Busy);
    CHECK(rig.record.TakeOver() == RecordResult::Busy);
    CheckSame(rig.registry, before);
    CHECK(rig.record.State() == RecordState::On);  // reading needs no lock
}

TEST_CASE("The record tells each value written, given back or left, and each refusal, one line each") {
    FakeMachineRegistry registry = FakeMachineRegistry::Fresh();
    FakeRecordLock lock;
    std::vector<std::string> lines;
    TTweakRecord record(registry, lock,
                        [&](const std::u16string& line) { lines.push_back(Utf16ToUtf8(line)); });
    const std::string adapter = Utf16ToUtf8(kAdapterKey);
    const std::string profile = Utf16ToUtf8(kProfileKey);

    registry.Set(kAdapterKey, u"TcpAckFrequency", DwordValue(2));
    REQUIRE(record.Apply({true, false, false, false, true}, kTestGuid) == RecordResult::Done);
    CHECK(lines ==
          std::vector<std::string>{
              "wrote " + adapter + "\\TcpAckFrequency: DWORD 2 (0x00000002) -> DWORD 1 (0x00000001)",
              "wrote " + profile + "\\SystemResponsiveness: DWORD 20 (0x00000014) -> DWORD 0 (0x00000000)",
          });

    lines.clear();
    registry.Set(kProfileKey, u"SystemResponsiveness", DwordValue(7));  // by hand since
    REQUIRE(record.GiveBack() == RecordResult::Done);
    CHECK(lines ==
          std::vector<std::string>{
              "left " + profile + "\\SystemResponsiveness: changed since (now DWORD 7 (0x00000007))",
              "gave back " + adapter + "\\TcpAckFrequency: DWORD 1 (0x00000001) -> DWORD 2 (0x00000002)",
          });

    lines.clear();
    lock.busy = true;
    CHECK(record.Apply({true, false, false, false, false}, kTestGuid) == RecordResult::Busy);
    CHECK(lines ==
          std::vector<std::string>{"record: another writer kept the lock past its bound; nothing changed"});
}
