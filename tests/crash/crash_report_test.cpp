#include "crash/crash_report.h"

#include <doctest/doctest.h>

#include <string>
#include <vector>

using namespace tarnell;

namespace {

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        REQUIRE(end != std::string::npos);  // every line ends in CR LF
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

CrashReport AccessViolation() {
    CrashReport r;
    r.time = "2026-12-10 15:54:19 UTC";
    r.programVersion = "1.0.0.0";
    r.windowsVersion = "10.0.19045";
    r.structured = true;
    r.code = 0xC0000005u;
    r.message = "Access violation at address 0x0000000140001234 in tarnell.exe+0x1234.";
    r.address = 0x140001234ull;
    r.module = "tarnell.exe";
    r.offset = 0x1234;
    r.threadId = 42;
    r.codeStart = 0x140001230ull;
    r.codeBytes = {0x48, 0x83, 0xEC, 0x28, 0x8B, 0x04, 0x25, 0x10, 0x00,
                   0x00, 0x00, 0x90, 0x90, 0x90, 0x90, 0xC3, 0xCC};
    CrashThread faulting;
    faulting.id = 42;
    faulting.faulting = true;
    faulting.registers = {{"RAX", 1}, {"RBX", 2}, {"RCX", 3}, {"RDX", 4}, {"RIP", 0x140001234ull}};
    faulting.frames = {{0x140001234ull, "tarnell.exe", 0x1234, ""},
                       {0x7FFB00002000ull, "kernel32.dll", 0x2000, "BaseThreadInitThunk"},
                       {0x10, "", 0, ""}};
    CrashThread other;
    other.id = 7;
    other.note = "registers not readable";
    r.threads = {faulting, other};
    r.modules = {{"C:\\Program Files\\Tarnell\\tarnell.exe", 0x140000000ull, 0x9A000, "1.0.0.0"},
                 {"C:\\windows\\system32\\ntdll.dll", 0x7FFB10000000ull, 0x1F0000, ""}};
    r.processes = {{4, "System"}, {1234, "tarnell.exe"}};
    r.minidump = "C:\\Users\\u\\AppData\\Local\\Tarnell\\tarnell.dmp";
    return r;
}

}  // namespace

TEST_CASE("FormatCrashReport: a structured exception, every section in order") {
    const std::vector<std::string> expected = {
        "=== Tarnell crash report ===",
        "Time: 2026-12-10 15:54:19 UTC",
        "Program: Tarnell 1.0.0.0",
        "Windows: 10.0.19045",
        "",
        "Exception",
        "  Code: 0xC0000005 EXCEPTION_ACCESS_VIOLATION",
        "  Message: Access violation at address 0x0000000140001234 in tarnell.exe+0x1234.",
        "  Address: 0x0000000140001234 tarnell.exe+0x1234",
        "  Thread: 42",
        "  Minidump: C:\\Users\\u\\AppData\\Local\\Tarnell\\tarnell.dmp",
        "",
        "Code around 0x0000000140001234",
        "  0x0000000140001230: 48 83 EC 28>8B 04 25 10 00 00 00 90 90 90 90 C3",
        "  0x0000000140001240: CC",
        "",
        "Threads (2)",
        "  Thread 42 (faulting)",
        "    RAX   = 0x0000000000000001  RBX   = 0x0000000000000002  RCX   = 0x0000000000000003  RDX   = "
        "0x0000000000000004",
        "    RIP   = 0x0000000140001234",
        "    #00 0x0000000140001234 tarnell.exe!0x1234",
        "    #01 0x00007FFB00002000 kernel32.dll!0x2000 BaseThreadInitThunk",
        "    #02 0x0000000000000010 (no module)",
        "  Thread 7",
        "    registers not readable",
        "",
        "Modules (2)",
        "  0x0000000140000000 0x9A000 1.0.0.0 C:\\Program Files\\Tarnell\\tarnell.exe",
        "  0x00007FFB10000000 0x1F0000 - C:\\windows\\system32\\ntdll.dll",
        "",
        "Processes (2)",
        "  4 System",
        "  1234 tarnell.exe",
        "",
    };
    CHECK(LinesOf(FormatCrashReport(AccessViolation())) == expected);
}

TEST_CASE("FormatCrashReport: a C++ exception names its type; unreadable code and no dump are said") {
    CrashReport r = AccessViolation();
    r.structured = false;
    r.type = "std::runtime_error";
    r.message = "settings value has the wrong type";
    r.module.clear();
    r.codeBytes.clear();
    r.minidump.clear();
    const std::vector<std::string> lines = LinesOf(FormatCrashReport(r));
    REQUIRE(lines.size() > 13);
    CHECK(lines[5] == "Exception");
    CHECK(lines[6] == "  Type: std::runtime_error");
    CHECK(lines[7] == "  Message: settings value has the wrong type");
    CHECK(lines[8] == "  Address: 0x0000000140001234 (no module)");
    CHECK(lines[9] == "  Thread: 42");
    CHECK(lines[10] == "");
    CHECK(lines[11] == "Code around 0x0000000140001234");
    CHECK(lines[12] == "  (not readable)");
}

TEST_CASE("FormatCrashReport: the log's last lines close the report, each indented; no log, no section") {
    CrashReport r = AccessViolation();
    CHECK(FormatCrashReport(r).find("Log (last lines)") == std::string::npos);
    r.logTail =
        "2026-12-11 07:05:09.042Z start: Tarnell 1.0.0.0\r\n2026-12-11 07:05:10.100Z adapter: eth0\r\n";
    const std::string text = FormatCrashReport(r);
    const std::string section =
        "\r\nLog (last lines)\r\n"
        "  2026-12-11 07:05:09.042Z start: Tarnell 1.0.0.0\r\n"
        "  2026-12-11 07:05:10.100Z adapter: eth0\r\n"
        "\r\n";
    REQUIRE(text.size() > section.size());
    CHECK(text.compare(text.size() - section.size(), section.size(), section) == 0);
}

TEST_CASE("StructuredMessage: the box's text for each kind of fault") {
    struct Case {
        uint32_t code;
        std::vector<uint64_t> info;
        const char* expected;
    };
    const Case cases[] = {
        {0xC0000005u,
         {0, 0x10},
         "Access violation at address 0x0000000000401000 in tarnell.exe+0x1000. Read of address "
         "0x0000000000000010."},
        {0xC0000005u,
         {1, 0xDEAD},
         "Access violation at address 0x0000000000401000 in tarnell.exe+0x1000. Write to address "
         "0x000000000000DEAD."},
        {0xC0000005u,
         {8, 0x401000},
         "Access violation at address 0x0000000000401000 in tarnell.exe+0x1000. Execution of address "
         "0x0000000000401000."},
        {0xC00000FDu, {}, "Stack overflow at address 0x0000000000401000 in tarnell.exe+0x1000."},
        {0xC0000094u, {}, "Integer division by zero at address 0x0000000000401000 in tarnell.exe+0x1000."},
        {0xC000001Du, {}, "Illegal instruction at address 0x0000000000401000 in tarnell.exe+0x1000."},
        {0xE0001234u, {}, "Exception 0xE0001234 at address 0x0000000000401000 in tarnell.exe+0x1000."},
        {0xC0000409u,
         {},
         "Exception 0xC0000409 (STATUS_STACK_BUFFER_OVERRUN) at address 0x0000000000401000 in "
         "tarnell.exe+0x1000."},
    };
    for (const Case& c : cases) {
        CAPTURE(c.code);
        CHECK(StructuredMessage(c.code, 0x401000, "tarnell.exe+0x1000", c.info) == c.expected);
    }
}

namespace {

// A report of exactly `size` bytes whose first line is the header and whose body names it.
std::string ReportOfSize(const std::string& name, size_t size) {
    std::string text = std::string(kCrashReportHeader) + "\r\n" + name + "\r\n";
    REQUIRE(size >= text.size() + 2);
    text += std::string(size - text.size() - 2, 'x') + "\r\n";
    return text;
}

}  // namespace

TEST_CASE("AppendCapped: the file stays within 100000 bytes, oldest whole reports go first") {
    const std::string a = ReportOfSize("A", 40000), b = ReportOfSize("B", 30000),
                      c = ReportOfSize("C", 30000), d = ReportOfSize("D", 45000);
    // 60000 bytes whose second line quotes the header: cutting there would keep the rest of this report.
    std::string embedded = std::string(kCrashReportHeader) + "\r\nquoted: " + kCrashReportHeader + "\r\n";
    embedded += std::string(60000 - embedded.size() - 2, 'y') + "\r\n";
    const std::string small = ReportOfSize("G", 10005);
    struct Case {
        const char* name;
        std::string existing;
        std::string report;
        std::string expected;
    };
    const Case cases[] = {
        {"empty file", "", a, a},
        {"fits", a + b, c, a + b + c},  // exactly 100000 bytes
        {"one old report goes", a + b + c, ReportOfSize("D", 40000), b + c + ReportOfSize("D", 40000)},
        {"the two oldest go when one is not enough", a + b + c, d, c + d},
        {"two old reports go", a + b + c, ReportOfSize("E", 70000), c + ReportOfSize("E", 70000)},
        {"every old report goes", a + b, ReportOfSize("F", 99000), ReportOfSize("F", 99000)},
        {"foreign text before the first report is the oldest part", "junk\r\n" + b + c, d, c + d},
        {"a header inside a line does not start a report", embedded + b, small, b + small},
    };
    for (const Case& c : cases) {
        CAPTURE(std::string(c.name));
        const std::string result = AppendCapped(c.existing, c.report);
        CHECK(result.size() <= kCrashFileCap);
        CHECK(result.size() == c.expected.size());
        CHECK((result == c.expected));  // not printed: the texts are long
    }
    CHECK(kCrashFileCap == 100000);
}

TEST_CASE("AppendCapped: a report larger than the cap alone is cut at a line end and marked") {
    std::string big = std::string(kCrashReportHeader) + "\r\n";
    while (big.size() < 150000) big += "frame line of some length\r\n";
    const std::string result = AppendCapped(ReportOfSize("A", 1000), big);
    CHECK(result.size() <= kCrashFileCap);
    CHECK(result.rfind(kCrashReportHeader, 0) == 0);
    const std::string mark = "[report cut at 100000 bytes]\r\n";
    REQUIRE(result.size() > mark.size());
    CHECK(result.substr(result.size() - mark.size()) == mark);
    const std::string kept = result.substr(0, result.size() - mark.size());
    CHECK(big.compare(0, kept.size(), kept) == 0);
    CHECK(kept.substr(kept.size() - 2) == "\r\n");
}

TEST_CASE("CrashOnce: a repeated exception is reported once per run") {
    struct Event {
        bool structured;
        uint32_t code;
        uint64_t address;
        const char* type;
        const char* message;
        bool first;
    };
    const Event events[] = {
        {true, 0xC0000005u, 0x1000, "", "", true},
        {true, 0xC0000005u, 0x1000, "", "other text", false},  // same code and address
        {true, 0xC0000005u, 0x1004, "", "", true},             // another address
        {true, 0xC00000FDu, 0x1000, "", "", true},             // another code
        {false, 0, 0, "std::runtime_error", "paint failed", true},
        {false, 0, 0x5555, "std::runtime_error", "paint failed", false},  // same type and message
        {false, 0, 0, "std::runtime_error", "paint failed twice", true},
        {false, 0, 0, "std::logic_error", "paint failed", true},
        {false, 0xC0000005u, 0x1000, "", "", true},  // a C++ key never equals a structured one
    };
    CrashOnce once;
    for (const Event& e : events) {
        CAPTURE(e.code);
        CAPTURE(std::string(e.message));
        CHECK(once.First(e.structured, e.code, e.address, e.type, e.message) == e.first);
    }
}

TEST_CASE("FormatCrashReport: where a C++ exception was thrown comes after the exception, before the code") {
    CrashReport r = AccessViolation();
    r.structured = false;
    r.type = "std::runtime_error";
    r.thrownAt = {{0x7B01A2B0ull, "kernelbase.dll", 0x1A2B0, "RaiseException+0x60"},
                  {0x140004321ull, "tarnell.exe", 0x4321, ""}};
    const std::vector<std::string> lines = LinesOf(FormatCrashReport(r));
    REQUIRE(lines.size() > 16);
    CHECK(lines[10] == "  Minidump: C:\\Users\\u\\AppData\\Local\\Tarnell\\tarnell.dmp");
    CHECK(lines[11] == "");
    CHECK(lines[12] == "Thrown at");
    CHECK(lines[13] == "    #00 0x000000007B01A2B0 kernelbase.dll!0x1A2B0 RaiseException+0x60");
    CHECK(lines[14] == "    #01 0x0000000140004321 tarnell.exe!0x4321");
    CHECK(lines[15] == "");
    CHECK(lines[16] == "Code around 0x0000000140001234");
}

TEST_CASE("AppendCapped: each cap gets its own cut marker") {
    std::string big = std::string(kCrashReportHeader) + "\r\n";
    while (big.size() < 5000) big += "frame line of some length\r\n";
    for (const size_t cap : {4000u, 3000u, 100000u}) {
        CAPTURE(cap);
        const std::string result = AppendCapped("", big, cap);
        CHECK(result.size() <= cap);
        if (cap < big.size()) {
            const std::string mark = "[report cut at " + std::to_string(cap) + " bytes]\r\n";
            CHECK(result.substr(result.size() - mark.size()) == mark);
            CHECK(CappedReport(big, cap) == result);
        } else {
            CHECK(result == big);
        }
    }
}

TEST_CASE("RemoveFiledReport: a sent report leaves the file, nothing else does") {
    const std::string a = ReportOfSize("A", 300), b = ReportOfSize("B", 300), c = ReportOfSize("C", 300);
    struct Case {
        const char* name;
        std::string contents;
        std::string filed;
        bool removed;
        std::string after;
    };
    const Case cases[] = {
        {"alone", a, a, true, ""},
        {"first of three", a + b + c, a, true, b + c},
        {"in the middle", a + b + c, b, true, a + c},
        {"the last", a + b + c, c, true, a + b},
        {"twice filed: the first goes", a + b + a, a, true, b + a},
        {"not there (the file was cut since)", b + c, a, false, b + c},
        {"only inside a line", "x" + a, a, false, "x" + a},
        {"empty report", a, "", false, a},
    };
    for (const Case& c : cases) {
        CAPTURE(std::string(c.name));
        std::string contents = c.contents;
        CHECK(RemoveFiledReport(contents, c.filed) == c.removed);
        CHECK((contents == c.after));
    }
}

TEST_CASE("DecideCrash: what each kind of error leads to") {
    using O = CrashOrigin;
    struct Case {
        const char* name;
        CrashCircumstances in;
        CrashDecision out;
    };
    const Case cases[] = {
        {"boundary error, first", {.origin = O::Boundary}, {.report = true, .box = true}},
        {"boundary error, again: no box, no report", {.origin = O::Boundary, .firstOfItsKind = false}, {}},
        {"boundary error in a command: a report, no box",
         {.origin = O::Boundary, .headless = true},
         {.report = true}},
        {"boundary error while a fatal one ends the process",
         {.origin = O::Boundary, .processEnding = true},
         {}},
        {"access violation",
         {.origin = O::Structured, .code = 0xC0000005u},
         {.report = true,
          .dump = true,
          .box = true,
          .endsProcess = true,
          .errorPage = true,
          .exitCode = 0xC0000005u}},
        {"stack overflow",
         {.origin = O::Structured, .code = 0xC00000FDu},
         {.report = true,
          .dump = true,
          .box = true,
          .endsProcess = true,
          .errorPage = true,
          .exitCode = 0xC00000FDu}},
        {"std::terminate",
         {.origin = O::CppFatal},
         {.report = true,
          .dump = true,
          .box = true,
          .endsProcess = true,
          .errorPage = true,
          .exitCode = 0xC0000409u}},
        {"fatal error already reported as a boundary error: a box all the same, and the end",
         {.origin = O::CppFatal, .firstOfItsKind = false},
         {.box = true, .endsProcess = true, .errorPage = true, .exitCode = 0xC0000409u}},
        {"fatal error in a command: no box, no page, exit code 6",
         {.origin = O::Structured, .code = 0xC0000005u, .headless = true},
         {.report = true, .dump = true, .endsProcess = true, .exitCode = 6}},
        {"a second fatal error while the first ends the process: its report only",
         {.origin = O::Structured, .code = 0xC0000094u, .processEnding = true},
         {.report = true, .dump = true, .endsProcess = true}},
        {"the same fatal error again while ending: nothing more",
         {.origin = O::Structured, .code = 0xC0000005u, .firstOfItsKind = false, .processEnding = true},
         {.endsProcess = true}},
    };
    for (const Case& c : cases) {
        CAPTURE(std::string(c.name));
        const CrashDecision d = DecideCrash(c.in);
        CHECK(d.report == c.out.report);
        CHECK(d.dump == c.out.dump);
        CHECK(d.box == c.out.box);
        CHECK(d.endsProcess == c.out.endsProcess);
        CHECK(d.errorPage == c.out.errorPage);
        CHECK(d.exitCode == c.out.exitCode);
    }
}
