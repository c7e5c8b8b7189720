// What --status tells, over the real record on a registry held in memory: the words for a person and the
// table for a script, typed here from what each case wrote.
#include "app/status_report.h"

#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "../tuning/fake_machine_registry.h"
#include "base/text.h"
#include "tuning/network.h"

using namespace tarnell;
using namespace tarnell::test;

namespace {

std::string U8(const std::u16string& s) {
    return Utf16ToUtf8(s);
}

std::u16string NameOf(const std::u16string& guid) {
    return GuidTextEquals(guid, kTestGuid) ? u"Ethernet (Intel Gigabit)" : u"";
}

struct Rig {
    FakeMachineRegistry registry = FakeMachineRegistry::Fresh();
    FakeRecordLock lock;
    TTweakRecord record{registry, lock};
    std::string Text() { return U8(StatusText(record.State(), record.Inspect(), NameOf)); }
    std::string Table() { return U8(StatusTable(record.State(), record.Inspect(), NameOf)); }
};

const std::string kAdapter = U8(kAdapterKey);
const std::string kMsmq = U8(kMsmqKey);

// The table's lines split at tabs.
std::vector<std::vector<std::string>> Rows(const std::string& table) {
    std::vector<std::vector<std::string>> rows;
    size_t start = 0;
    while (start < table.size()) {
        const size_t end = table.find("\r\n", start);
        REQUIRE(end != std::string::npos);
        std::vector<std::string> fields;
        const std::string line = table.substr(start, end - start);
        size_t f = 0;
        for (;;) {
            const size_t tab = line.find('\t', f);
            fields.push_back(line.substr(f, tab - f));
            if (tab == std::string::npos) break;
            f = tab + 1;
        }
        rows.push_back(fields);
        start = end + 2;
    }
    return rows;
}

}  // namespace

TEST_CASE("--status in words: off, then each value after an apply, a hand change and a give-back") {
    Rig rig;
    CHECK(rig.Text() == "Tarnell's tweak set is off: the machine's record holds nothing to give back.\r\n");

    rig.registry.Set(kAdapterKey, u"TcpAckFrequency", DwordValue(2));  // the user's own
    REQUIRE(rig.record.Apply({true, false, true, false, false}, kTestGuid) == RecordResult::Done);
    const std::string applied =
        "Tarnell's tweak set is on. The machine's record holds 2 values (newest last):\r\n"
        "\r\n" +
        kAdapter +
        "\\TcpAckFrequency\r\n"
        "  adapter:   Ethernet (Intel Gigabit)\r\n"
        "  before:    DWORD 2 (0x00000002)\r\n"
        "  written:   DWORD 1 (0x00000001)\r\n"
        "  now:       DWORD 1 (0x00000001)\r\n"
        "  give-back: restores the value before (unchanged since)\r\n"
        "\r\n" +
        kMsmq +
        "\\TCPNoDelay\r\n"
        "  before:    absent\r\n"
        "  written:   DWORD 1 (0x00000001)\r\n"
        "  now:       DWORD 1 (0x00000001)\r\n"
        "  give-back: restores the value before (unchanged since)\r\n";
    CHECK(rig.Text() == applied);

    rig.registry.Set(kMsmqKey, u"TCPNoDelay", RawRegistryValue{kRegSz, {'o', 0, 'n', 0, '\t', 0, 0, 0}});
    const std::string changed = applied.substr(0, applied.rfind("  now:")) +
                                "  now:       SZ \"on\\u0009\"\r\n"
                                "  give-back: leaves it as it is now (changed since)\r\n";
    CHECK(rig.Text() == changed);

    REQUIRE(rig.record.GiveBack() == RecordResult::Done);
    CHECK(rig.Text() == "Tarnell's tweak set is off: the machine's record holds nothing to give back.\r\n");
}

TEST_CASE("--status --tsv: one line per value that a script splits at tabs and reads back") {
    Rig rig;
    REQUIRE(Rows(rig.Table()) ==
            std::vector<std::vector<std::string>>{
                {"state", "off"}, {"key", "name", "adapter", "before", "written", "now", "give-back"}});

    rig.registry.Set(kProfileKey, u"NetworkThrottlingIndex", DwordValue(70));
    REQUIRE(rig.record.Apply({true, false, false, true, false}, kTestGuid) == RecordResult::Done);
    rig.registry.Remove(kAdapterKey, u"TcpAckFrequency");  // removed by hand since
    const std::vector<std::vector<std::string>> rows = Rows(rig.Table());
    CHECK(rows == std::vector<std::vector<std::string>>{
                      {"state", "on"},
                      {"key", "name", "adapter", "before", "written", "now", "give-back"},
                      {kAdapter, "TcpAckFrequency", "Ethernet (Intel Gigabit)", "absent", "dword:1", "absent",
                       "leave"},
                      {U8(kProfileKey), "NetworkThrottlingIndex", "", "dword:70", "dword:4294967295",
                       "dword:4294967295", "restore"},
                  });

    rig.registry.Set(kRecordKeyPath, u"Format", DwordValue(2));
    CHECK(Rows(rig.Table()).front() == std::vector<std::string>{"state", "foreign"});
    CHECK(Rows(rig.Table()).size() == 2);
}

TEST_CASE("Registry values in words and as fields, every kind a record may hold") {
    struct Row {
        RawRegistryValue value;
        const char* words;
        const char* field;
    };
    const Row rows[] = {
        {DwordValue(0xFFFFFFFFu), "DWORD 4294967295 (0xFFFFFFFF)", "dword:4294967295"},
        {RawRegistryValue{kRegQword, {1, 0, 0, 0, 0, 0, 0, 1}},
         "QWORD 72057594037927937 (0x0100000000000001)", "qword:72057594037927937"},
        {RawRegistryValue{kRegSz, {'1', 0, 0, 0}}, "SZ \"1\"", "sz:1"},
        {RawRegistryValue{kRegExpandSz, {'%', 0, 'x', 0, 0, 0}}, "EXPAND_SZ \"%x\"", "expand_sz:%x"},
        {RawRegistryValue{kRegMultiSz, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}}, "MULTI_SZ \"a\" \"b\"",
         "multi_sz:a\\u0000b"},
        {RawRegistryValue{kRegBinary, {0x01, 0xAB}}, "BINARY 01 AB", "binary:01AB"},
        {RawRegistryValue{kRegBinary, {}}, "BINARY, no bytes", "binary:"},
        {RawRegistryValue{kRegDword, {1, 2, 3}}, "DWORD 01 02 03", "type4:010203"},  // a torn DWORD
        {RawRegistryValue{9, {7}}, "type 9 07", "type9:07"},
    };
    for (const Row& row : rows) {
        CAPTURE(row.words);
        CHECK(U8(RegistryValueText(row.value)) == row.words);
        CHECK(U8(RegistryValueField(row.value)) == row.field);
    }
}
