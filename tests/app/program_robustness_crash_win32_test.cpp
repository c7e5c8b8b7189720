// Crash reporting driven from outside: faults caused in the running program, the box, the report and
// the end of the process.
#include "program_robustness_win32.h"

using namespace tarnell;
using namespace tarnell::e2e;

namespace {

enum class Fault { AccessViolation, CppException, StackOverflow };

// The exported test hook's address inside the running program (e2e builds only): the program's image
// base there plus the hook's offset in the file's export table.
uintptr_t RemoteTestHook(const Program& program, const char* name = "TarnellTestThrow") {
    HMODULE image =
        LoadLibraryExW(PathFromEnv("TARNELL_PROGRAM").c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    REQUIRE(image);
    const auto* base = reinterpret_cast<const BYTE*>(reinterpret_cast<uintptr_t>(image) & ~uintptr_t(3));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    REQUIRE(dir.VirtualAddress != 0);
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    const auto* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
    const auto* functions = reinterpret_cast<const DWORD*>(base + exports->AddressOfFunctions);
    DWORD rva = 0;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        if (std::strcmp(reinterpret_cast<const char*>(base + names[i]), name) == 0)
            rva = functions[ordinals[i]];
    }
    FreeLibrary(image);
    REQUIRE(rva != 0);

    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, program.pi.dwProcessId);
    REQUIRE(snapshot != INVALID_HANDLE_VALUE);
    MODULEENTRY32W module{};
    module.dwSize = sizeof module;
    REQUIRE(Module32FirstW(snapshot, &module));  // the first module is the program itself
    CloseHandle(snapshot);
    return reinterpret_cast<uintptr_t>(module.modBaseAddr) + rva;
}

// Starts a thread in the program that faults: at an unmapped address, in the test hook that throws, or
// in five bytes of code that call themselves until the stack runs out. The same start address each time.
class FaultInjector {
  public:
    FaultInjector(const Program& program, Fault fault) : process_(program.pi.hProcess) {
        switch (fault) {
            case Fault::AccessViolation:
                start_ = 0x10;
                break;
            case Fault::CppException:
                start_ = RemoteTestHook(program);
                break;
            case Fault::StackOverflow: {
                void* code =
                    VirtualAllocEx(process_, nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
                REQUIRE(code);
                const BYTE callSelf[] = {0xE8, 0xFB, 0xFF, 0xFF, 0xFF};  // call rel32 -5
                REQUIRE(WriteProcessMemory(process_, code, callSelf, sizeof callSelf, nullptr));
                start_ = reinterpret_cast<uintptr_t>(code);
                break;
            }
        }
    }
    void Fire() {
        HANDLE thread = CreateRemoteThread(
            process_, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(start_), nullptr, 0, nullptr);
        REQUIRE(thread);
        CloseHandle(thread);
    }

  private:
    HANDLE process_;
    uintptr_t start_ = 0;
};

std::wstring ReportFile() {
    PWSTR base = nullptr;
    REQUIRE(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &base)));
    std::wstring path = std::wstring(base) + L"\\Tarnell\\bugreport.txt";
    CoTaskMemFree(base);
    return path;
}

int ReportsIn(const std::string& text) {
    int count = 0;
    for (const std::string& line : Lines(text)) count += line == "=== Tarnell crash report ===";
    return count;
}

// The reports the loopback fixture received, in order.
std::vector<std::string> ReceivedReports() {
    const std::wstring dir = PathFromEnv("TARNELL_LOOPBACK_DIR") + L"\\reports\\";
    std::vector<std::string> reports;
    for (int n = 1;; ++n) {
        const std::wstring path = dir + std::to_wstring(n) + L".txt";
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) break;
        reports.push_back(ReadWholeFile(path));
    }
    return reports;
}

void SetReportMode(const std::string& mode) {
    const std::wstring path = PathFromEnv("TARNELL_LOOPBACK_DIR") + L"\\report_mode";
    if (mode.empty()) {
        DeleteFileW(path.c_str());
    } else {
        REQUIRE(WriteWholeFile(path, mode));
    }
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST_CASE("program: crash faults from outside show the Close box, report once, open the error page and end") {
    struct Case {
        const char* name;
        Fault fault;
        const char* boxText;     // in the box
        const char* reportLine;  // in the report's exception section
    };
    const Case cases[] = {
        {"access violation", Fault::AccessViolation, "Access violation at address 0x0000000000000010",
         "  Code: 0xC0000005 EXCEPTION_ACCESS_VIOLATION"},
        {"C++ exception on a thread", Fault::CppException, "Test exception thrown on a thread of its own",
         "  Type: std::runtime_error"},
        {"stack overflow", Fault::StackOverflow, "Stack overflow at address",
         "  Code: 0xC00000FD EXCEPTION_STACK_OVERFLOW"},
    };
    Loopback loopback;
    loopback.SetServiceAnswer("{}");
    RecordingShell shell;
    const std::string errorPage = std::string(std::getenv("TARNELL_LOOPBACK_URL")) + "/error";
    for (const Case& c : cases) {
        for (const bool endpointUp : {true, false}) {
            CAPTURE(std::string(c.name));
            CAPTURE(endpointUp);
            SetReportMode(endpointUp ? "" : "drop");
            shell.Clear();
            const size_t reportsBefore = ReceivedReports().size();
            DeleteFileW(ReportFile().c_str());  // a file near its cap would not grow by a whole report
            const int filedBefore = 0;

            Program program;
            REQUIRE(program.WaitForWindow());
            FaultInjector injector(program, c.fault);
            injector.Fire();
            HWND box = nullptr;
            const bool shown = WaitUntil(
                [&] {
                    const std::vector<HWND> boxes = VisibleBoxes(program.pi.dwProcessId);
                    box = boxes.empty() ? nullptr : boxes.front();
                    return box != nullptr;
                },
                30000);
            const std::string state =
                program.Running() ? "no box; the program is still running" : "no box; the program is gone";
            CHECK_MESSAGE(shown, state);
            if (!shown) continue;
            CHECK(TextOf(box) == "Tarnell");
            const BoxContent content = ReadBox(box);
            CHECK(content.buttons == std::vector<std::wstring>{L"Close"});
            const std::string texts = Utf16ToUtf8(FromWide(content.texts));
            CHECK_MESSAGE(Contains(texts, c.boxText), texts);

            // The same fault again while the box is up: no second box, no second report.
            injector.Fire();
            Sleep(3000);
            CHECK(VisibleBoxes(program.pi.dwProcessId).size() == 1);
            CHECK(program.Running());

            PostMessageW(box, WM_COMMAND, IDCLOSE, 0);
            CHECK(program.WaitForExit(30000));
            CHECK_FALSE(CrashHandlerRunning());
            WaitUntil([&] { return !shell.Targets().empty(); }, 10000);  // the shell starts the recorder
            const std::vector<std::string> opened = shell.Targets();
            CHECK_MESSAGE((opened == std::vector<std::string>{errorPage}),
                          (opened.empty() ? std::string("nothing") : opened[0]));

            const std::vector<std::string> received = ReceivedReports();
            const std::string filed = ReadWholeFile(ReportFile());
            if (endpointUp) {
                REQUIRE(received.size() == reportsBefore + 1);
                CHECK(ReportsIn(filed) == filedBefore);
                const std::string& report = received.back();
                CHECK(report.rfind("=== Tarnell crash report ===\r\n", 0) == 0);
                CHECK(Contains(report, std::string(c.reportLine) + "\r\n"));
                CHECK(Contains(report, "Program: Tarnell " TARNELL_VERSION_TEXT));
                CHECK(Contains(report, " (faulting)\r\n"));
                CHECK(Contains(report, "Threads ("));
                CHECK(Contains(report, "\\tarnell.exe\r\n"));  // the program among the modules
                CHECK(Contains(report, "Processes ("));
                CHECK(Contains(report, " app_program_robustness_win32_test.exe\r\n"));  // another process
                CHECK(Contains(report, "\\Tarnell\\tarnell.dmp\r\n"));
            } else {
                CHECK(received.size() == reportsBefore);
                CHECK(ReportsIn(filed) == filedBefore + 1);
                CHECK(Contains(filed, std::string(c.reportLine) + "\r\n"));
                CHECK(filed.size() <= 100000);
            }
        }
    }
    SetReportMode("");
}

namespace {

void StartRemoteThread(const Program& program, uintptr_t start) {
    HANDLE thread = CreateRemoteThread(program.pi.hProcess, nullptr, 0,
                                       reinterpret_cast<LPTHREAD_START_ROUTINE>(start), nullptr, 0, nullptr);
    REQUIRE(thread);
    CloseHandle(thread);
}

bool HasVisibleWindow(DWORD pid) {
    std::pair<DWORD, bool> search{pid, false};
    EnumWindows(
        [](HWND hwnd, LPARAM lp) -> BOOL {
            auto* s = reinterpret_cast<std::pair<DWORD, bool>*>(lp);
            DWORD owner = 0;
            GetWindowThreadProcessId(hwnd, &owner);
            if (owner == s->first && IsWindowVisible(hwnd)) s->second = true;
            return !s->second;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.second;
}

// A handled error on the UI thread (the test build's hook), its box answered "Close".
void HandledErrorClosed(const Program& program) {
    StartRemoteThread(program, RemoteTestHook(program, "TarnellTestThrowOnUiThread"));
    HWND box = WaitForBox(program.pi.dwProcessId, 30000);
    REQUIRE(box);
    PostMessageW(box, WM_COMMAND, IDCLOSE, 0);
    REQUIRE(WaitUntil([&] { return VisibleBoxes(program.pi.dwProcessId).empty(); }, 10000));
}

// Sets an environment variable for the programs this test starts, and takes it away again.
struct ScopedEnvironment {
    const wchar_t* name;
    ScopedEnvironment(const wchar_t* n, const wchar_t* value) : name(n) { SetEnvironmentVariableW(n, value); }
    ~ScopedEnvironment() { SetEnvironmentVariableW(name, nullptr); }
};

}  // namespace

TEST_CASE(
    "program: crash ends: every fatal error ends the process, within a bound, and never waits for nobody") {
    Loopback loopback;
    loopback.SetServiceAnswer("{}");
    RecordingShell shell;
    SetReportMode("");

    SUBCASE("a handled error, then the same error as a fatal one: a box again, and Close ends the process") {
        Program program;
        REQUIRE(program.WaitForWindow());
        HandledErrorClosed(program);
        CHECK(program.Running());  // a handled error: the program goes on

        StartRemoteThread(program, RemoteTestHook(program));
        HWND fatal = WaitForBox(program.pi.dwProcessId, 30000);
        CHECK_MESSAGE(fatal,
                      (program.Running() ? "no box; the program hangs" : "no box; the program is gone"));
        if (fatal) {
            PostMessageW(fatal, WM_COMMAND, IDCLOSE, 0);
            CHECK(program.WaitForExit(30000));
        }
    }
    SUBCASE(
        "Close while the endpoint holds the report: the window and the guard go at once, the report is "
        "already filed, and the process ends within the bound") {
        SetReportMode("hang");
        DeleteFileW(ReportFile().c_str());
        const size_t logStart = loopback.Size();
        Program program;
        REQUIRE(program.WaitForWindow());
        StartRemoteThread(program, RemoteTestHook(program));
        HWND box = WaitForBox(program.pi.dwProcessId, 30000);
        REQUIRE(box);
        // The endpoint took the report and does not answer; it is in the file all the same.
        REQUIRE(WaitUntil([&] { return loopback.Count(logStart, "/except.php held") == 1; }, 30000));
        CHECK(ReportsIn(ReadWholeFile(ReportFile())) == 1);

        PostMessageW(box, WM_COMMAND, IDCLOSE, 0);
        const DWORD closed = GetTickCount();
        const bool hidden =
            WaitUntil([&] { return !program.Running() || !IsWindowVisible(program.form); }, 5000);
        const DWORD hiddenAfter = GetTickCount() - closed;
        const bool released = WaitUntil(
            [&] {
                HANDLE guard = OpenMutexW(SYNCHRONIZE, FALSE, L"TarnellMutex");
                if (guard) CloseHandle(guard);
                return guard == nullptr;
            },
            5000);
        const DWORD releasedAfter = GetTickCount() - closed;
        const bool ended = program.WaitForExit(60000);
        const DWORD endedAfter = GetTickCount() - closed;
        MESSAGE("after Close: window gone " << hiddenAfter << " ms, guard released " << releasedAfter
                                            << " ms, process ended " << endedAfter << " ms");
        CHECK(hidden);
        CHECK(released);
        CHECK(ended);
        CHECK(endedAfter < 15000);  // the bound is 10 s
        const std::string filed = ReadWholeFile(ReportFile());
        CHECK(ReportsIn(filed) == 1);  // not sent: it stays in the file
        CHECK(Contains(filed, "  Message: Test exception thrown on a thread of its own\r\n"));
        SetReportMode("");
    }
    SUBCASE(
        "a handled error's report in flight when the window is closed: filed, and the exit waits a bound") {
        SetReportMode("hang");
        DeleteFileW(ReportFile().c_str());
        Program program;
        REQUIRE(program.WaitForWindow());
        HandledErrorClosed(program);
        PostMessageW(program.form, WM_CLOSE, 0, 0);
        const DWORD closed = GetTickCount();
        CHECK(program.WaitForExit(60000));
        MESSAGE("the process ended " << GetTickCount() - closed << " ms after the window was closed");
        const std::string filed = ReadWholeFile(ReportFile());
        CHECK(ReportsIn(filed) == 1);
        CHECK(Contains(filed, "  Message: Test exception thrown on a thread of its own\r\n"));
        // Where it was thrown, not only where the hand-over caught it.
        CHECK(Contains(filed, "\r\nThrown at\r\n"));
        SetReportMode("");
    }
    SUBCASE("the crash thread stuck: the faulting thread ends the process itself with a short report") {
        DeleteFileW(ReportFile().c_str());
        ScopedEnvironment stall(L"TARNELL_TEST_CRASH_THREAD_STALLS", L"1");
        Program program;
        REQUIRE(program.WaitForWindow());
        const DWORD fired = GetTickCount();
        StartRemoteThread(program, 0x10);
        DWORD code = 0;
        REQUIRE(program.WaitForExit(60000, &code));
        MESSAGE("ended " << GetTickCount() - fired << " ms after the fault");
        CHECK(code == 0xC0000005);
        const std::string filed = ReadWholeFile(ReportFile());
        CHECK_MESSAGE(Contains(filed, "short report"), filed);
        CHECK(Contains(filed, "Exception: code 0xC0000005 at "));
    }
    SUBCASE("a fatal error in a command: no window at all, the report out, and the command's error code") {
        SetReportMode("drop");
        DeleteFileW(ReportFile().c_str());
        ScopedEnvironment fault(L"TARNELL_TEST_COMMAND_FAULT", L"1");
        const std::wstring path = PathFromEnv("TARNELL_PROGRAM");
        std::wstring commandLine = L"\"" + path + L"\" --revert";
        STARTUPINFOW si{sizeof si};
        PROCESS_INFORMATION pi{};
        REQUIRE(CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &si, &pi));
        bool windowSeen = false;
        const DWORD started = GetTickCount();
        while (WaitForSingleObject(pi.hProcess, 20) == WAIT_TIMEOUT && GetTickCount() - started < 60000)
            windowSeen = windowSeen || HasVisibleWindow(pi.dwProcessId);
        DWORD code = 0;
        const bool ended = WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0;
        GetExitCodeProcess(pi.hProcess, &code);
        if (!ended) TerminateProcess(pi.hProcess, 1);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        MESSAGE("the command ended after " << GetTickCount() - started << " ms");
        CHECK(ended);
        CHECK_FALSE(windowSeen);
        CHECK(code == 6);
        CHECK(ReportsIn(ReadWholeFile(ReportFile())) == 1);
        CHECK(shell.Targets().empty());  // no error page either
        SetReportMode("");
    }
}

TEST_CASE(
    "program: a fatal error with links planted in the report folder and the endpoint redirecting to another "
    "host: nothing foreign is written, the report stays filed and goes nowhere else") {
    Loopback loopback;
    loopback.SetServiceAnswer("{}");
    RecordingShell shell;
    SetReportMode("redirect");
    const std::wstring report = ReportFile();
    const std::wstring folder = report.substr(0, report.rfind(L'\\'));
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring dump = folder + L"\\tarnell.dmp";
    // Two files of someone else's, each with a second name in the folder where the program writes.
    const std::wstring foreignDir = PathFromEnv("TARNELL_LOOPBACK_DIR") + L"\\foreign";
    CreateDirectoryW(foreignDir.c_str(), nullptr);
    const std::wstring foreignDump = foreignDir + L"\\dump-target.bin",
                       foreignReport = foreignDir + L"\\report-target.txt";
    const std::string dumpBytes(2600000, 'D'), reportBytes = "someone else's notes\r\n";
    for (const std::wstring& path : {dump, report}) DeleteFileW(path.c_str());
    REQUIRE(WriteWholeFile(foreignDump, dumpBytes));
    REQUIRE(WriteWholeFile(foreignReport, reportBytes));
    REQUIRE(CreateHardLinkW(dump.c_str(), foreignDump.c_str(), nullptr));
    REQUIRE(CreateHardLinkW(report.c_str(), foreignReport.c_str(), nullptr));
    const size_t reportsBefore = ReceivedReports().size();
    const size_t logStart = loopback.Size();

    Program program;
    REQUIRE(program.WaitForWindow());
    FaultInjector(program, Fault::AccessViolation).Fire();
    HWND box = WaitForBox(program.pi.dwProcessId, 30000);
    REQUIRE(box);
    REQUIRE(WaitUntil([&] { return loopback.Count(logStart, "/except.php redirected") == 1; }, 30000));
    PostMessageW(box, WM_COMMAND, IDCLOSE, 0);
    CHECK(program.WaitForExit(30000));

    CHECK(ReadWholeFile(foreignDump) == dumpBytes);
    CHECK(ReadWholeFile(foreignReport) == reportBytes);
    const std::string filed = ReadWholeFile(report);
    CHECK(ReportsIn(filed) == 1);
    CHECK_FALSE(Contains(filed, "someone else's notes"));
    // The name holds the program's own minidump now, or, when the process ended before the dump was
    // done, still the link: never the foreign file rewritten.
    const std::string written = ReadWholeFile(dump);
    MESSAGE("tarnell.dmp: " << std::string(written == dumpBytes ? "still the planted link" : "a minidump"));
    if (written != dumpBytes) CHECK(written.rfind("MDMP", 0) == 0);
    CHECK(ReceivedReports().size() == reportsBefore);     // not saved where the redirect pointed
    CHECK(loopback.Count(logStart, "/except.php") == 1);  // the redirected post, nothing after it
    SetReportMode("");
}
