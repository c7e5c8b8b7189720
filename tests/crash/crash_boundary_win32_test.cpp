// Errors at the window procedures' boundary with crash reporting installed as the program installs it:
// a styled button's click handler that throws reaches the application's error box (title, message, only
// "Close"), the report is kept once, and the program goes on. The report endpoint is a closed loopback
// port, so every report lands in bugreport.txt of the test's Wine prefix.
#include <doctest/doctest.h>
// clang-format off
#include <windows.h>  // before <shlobj.h>
#include <shlobj.h>
// clang-format on

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/error_box_win32.h"
#include "base/shell_open_win32.h"
#include "base/text.h"
#include "base/wide.h"
#include "crash/crash_win32.h"
#include "theme/button_styles.h"
#include "theme/styled_button_win32.h"
#include "update/update_hooks_win32.h"

using namespace tarnell;

namespace {

std::wstring ClassOf(HWND hwnd) {
    wchar_t cls[64] = {};
    GetClassNameW(hwnd, cls, 64);
    return cls;
}

std::string TextOf(HWND hwnd) {
    wchar_t text[512] = {};
    GetWindowTextW(hwnd, text, 512);
    return Utf16ToUtf8(FromWide(text));
}

// What a box showed: its title, the captions of its visible buttons and all its children's texts.
struct SeenBox {
    std::string title;
    std::vector<std::string> buttons;
    std::string texts;
};

// Watches for boxes of this process from another thread, reads each once it has its buttons, and
// answers "Close".
class BoxCloser {
  public:
    BoxCloser() : thread_([this] { Run(); }) {}
    ~BoxCloser() {
        stop_ = true;
        thread_.join();
    }
    std::vector<SeenBox> Seen() {
        std::lock_guard<std::mutex> guard(lock_);
        return seen_;
    }

  private:
    void Run() {
        while (!stop_) {
            HWND box = nullptr;
            EnumWindows(
                [](HWND hwnd, LPARAM lp) -> BOOL {
                    DWORD pid = 0;
                    GetWindowThreadProcessId(hwnd, &pid);
                    if (pid == GetCurrentProcessId() && ClassOf(hwnd) == L"#32770" && IsWindowVisible(hwnd)) {
                        *reinterpret_cast<HWND*>(lp) = hwnd;
                        return FALSE;
                    }
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&box));
            if (box) Answer(box);
            Sleep(50);
        }
    }
    void Answer(HWND box) {
        SeenBox seen;
        for (int attempt = 0; attempt < 100 && seen.buttons.empty(); ++attempt) {
            seen = SeenBox{TextOf(box), {}, {}};
            for (HWND child = FindWindowExW(box, nullptr, nullptr, nullptr); child;
                 child = FindWindowExW(box, child, nullptr, nullptr)) {
                if (ClassOf(child) == L"Button" && IsWindowVisible(child))
                    seen.buttons.push_back(TextOf(child));
                seen.texts += TextOf(child) + "\n";
            }
            if (seen.buttons.empty()) Sleep(50);
        }
        {
            std::lock_guard<std::mutex> guard(lock_);
            seen_.push_back(seen);
        }
        PostMessageW(box, WM_COMMAND, IDCLOSE, 0);
        for (int i = 0; i < 100 && IsWindow(box); ++i) Sleep(50);
    }

    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::vector<SeenBox> seen_;
    std::thread thread_;
};

std::wstring ReportFile() {
    PWSTR base = nullptr;
    REQUIRE(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &base)));
    const std::wstring path = std::wstring(base) + L"\\Tarnell\\bugreport.txt";
    CoTaskMemFree(base);
    return path;
}

std::string ReadReportFile() {
    const std::wstring path = ReportFile();
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

// How many reports in the file carry this exact message line.
int ReportsFiled(const std::string& message) {
    const std::string text = ReadReportFile();
    const std::string line = "\r\n  Message: " + message + "\r\n";
    int count = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++count;
    return count;
}

// Three old reports of 32000 bytes each: 96000 of the file's 100000 bytes.
void FillReportFile() {
    std::string text;
    for (int n = 1; n <= 3; ++n) {
        std::string report = "=== Tarnell crash report ===\r\nold report " + std::to_string(n) + "\r\n";
        report += std::string(32000 - report.size() - 2, '.') + "\r\n";
        text += report;
    }
    HANDLE file = CreateFileW(ReportFile().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE(file != INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
    CloseHandle(file);
    REQUIRE(written == 96000);
}

// Pumps this thread's messages until `done` or the time is up.
template <typename Pred>
bool PumpUntil(Pred done, DWORD timeoutMs) {
    const DWORD end = GetTickCount() + timeoutMs;
    while (!done() && GetTickCount() < end) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
    return done();
}

void PostClick(HWND button) {
    const LPARAM at = MAKELPARAM(20, 10);
    PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(button, WM_LBUTTONUP, 0, at);
}

}  // namespace

TEST_CASE("styled button: a throwing click handler reaches the error box once, and the program goes on") {
    std::vector<std::u16string> opened;
    SetShellOpenHook([&opened](const std::u16string& target) { opened.push_back(target); });
    InstallCrashReporting(
        {u"http://127.0.0.1:9/except.php", u"http://127.0.0.1:9/error", &ShowErrorBox, 2000});
    RegisterVorbeckButtonStyles();

    WNDCLASSEXW wc{sizeof wc};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TarnellCrashTestForm";
    RegisterClassExW(&wc);
    HWND form = CreateWindowExW(0, wc.lpszClassName, L"form", WS_OVERLAPPEDWINDOW, 50, 50, 300, 200, nullptr,
                                nullptr, wc.hInstance, nullptr);
    REQUIRE(form);
    StyledButtonConfig config;
    config.caption = u"Run";
    HWND hwnd = StyledButton::Create(form, 10, 10, 162, 68, config);
    REQUIRE(hwnd);
    int clicks = 0;
    std::string failure = "click handler failed";  // the first of the two messages below
    StyledButton::FromHandle(hwnd)->SetOnClick([&](StyledButton&) {
        ++clicks;
        throw std::runtime_error(failure);
    });

    BoxCloser closer;
    CreateDirectoryW(ReportFile().substr(0, ReportFile().rfind(L'\\')).c_str(), nullptr);
    FillReportFile();
    const std::string first = "click handler failed", second = "click handler failed again";

    PostClick(hwnd);
    REQUIRE(PumpUntil([&] { return closer.Seen().size() == 1 && clicks == 1; }, 30000));
    const SeenBox box = closer.Seen().front();
    CHECK(box.title == "Tarnell");
    CHECK(box.buttons == std::vector<std::string>{"Close"});
    CHECK_MESSAGE(box.texts.find("click handler failed") != std::string::npos, box.texts);
    // Filed within the builder's own 20 s bound: a full report, or the shorter one filed when building
    // stalls.
    CHECK(PumpUntil([&] { return ReportsFiled(first) == 1; }, 40000));
    // The file stays within 100000 bytes: the oldest whole report made room, the others are untouched.
    const std::string filed = ReadReportFile();
    CHECK(filed.size() <= 100000);
    CHECK(filed.rfind("=== Tarnell crash report ===\r\nold report 2\r\n", 0) == 0);
    CHECK(filed.find("old report 1") == std::string::npos);
    CHECK(filed.find("old report 3") != std::string::npos);

    // The program goes on: the same window takes the next click; the same error again shows no box and
    // keeps no second report.
    PostClick(hwnd);
    CHECK(PumpUntil([&] { return clicks == 2; }, 10000));
    PumpUntil([] { return false; }, 2000);
    CHECK(closer.Seen().size() == 1);
    CHECK(ReportsFiled(first) == 1);

    // Another error is another report and another box.
    failure = second;
    PostClick(hwnd);
    CHECK(PumpUntil([&] { return closer.Seen().size() == 2; }, 30000));
    CHECK(PumpUntil([&] { return ReportsFiled(second) == 1; }, 40000));
    CHECK(ReadReportFile().size() <= 100000);
    CHECK(IsWindow(hwnd));
    // "Close" after a handled error only closes the box: no error page.
    CHECK(opened.empty());

    DestroyWindow(form);
    UnregisterButtonStyles();
    SetShellOpenHook(nullptr);
}

TEST_CASE("handled errors: each report is filed within a few seconds, every time") {
    InstallCrashReporting(
        {u"http://127.0.0.1:9/except.php", u"http://127.0.0.1:9/error", &ShowErrorBox, 2000});
    SetCrashHeadless(true);  // no box to close: the reports alone
    CreateDirectoryW(ReportFile().substr(0, ReportFile().rfind(L'\\')).c_str(), nullptr);
    DeleteFileW(ReportFile().c_str());
    // Busy threads beside the builder, as the program has: the builder stops none of them for long.
    std::atomic<bool> stop{false};
    std::vector<std::thread> busy;
    for (int i = 0; i < 3; ++i)
        busy.emplace_back([&stop] {
            while (!stop) {
                std::vector<std::string> churn(64, std::string(256, 'x'));
                HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
                CloseHandle(event);
            }
        });
    DWORD slowest = 0;
    for (int run = 1; run <= 20; ++run) {
        CAPTURE(run);
        const std::string message = "handled error number " + std::to_string(run);
        const DWORD started = GetTickCount();
        try {
            throw std::runtime_error(message);
        } catch (...) {
            ReportHandledException(std::current_exception());
        }
        const bool filed = PumpUntil([&] { return ReportsFiled(message) == 1; }, 30000);
        const DWORD took = GetTickCount() - started;
        slowest = took > slowest ? took : slowest;
        CHECK_MESSAGE(filed, "not filed after " << took << " ms");
        CHECK_MESSAGE(took < 8000, "filed after " << took << " ms");
    }
    MESSAGE("slowest report filed after " << slowest << " ms");
    stop = true;
    for (std::thread& t : busy) t.join();
    SetCrashHeadless(false);
}

namespace {

// Throws from a frame of its own, so the report can be checked for it.
__declspec(noinline) void ThrowFromHere(const std::string& message) {
    throw std::runtime_error(message);
}

// The addresses listed under "Thrown at" in the report with this message.
std::vector<uint64_t> ThrownAtOf(const std::string& message) {
    const std::string text = ReadReportFile();
    const size_t report = text.find("\r\n  Message: " + message + "\r\n");
    std::vector<uint64_t> frames;
    if (report == std::string::npos) return frames;
    size_t at = text.find("\r\nThrown at\r\n", report);
    const size_t next = text.find("=== Tarnell crash report ===", report);
    if (at == std::string::npos || (next != std::string::npos && at > next)) return frames;
    at += 13;
    while (text.compare(at, 6, "    #") == 0 || text.compare(at, 5, "    #") == 0) {
        const size_t hex = text.find("0x", at);
        frames.push_back(std::stoull(text.substr(hex + 2, 16), nullptr, 16));
        at = text.find("\r\n", at) + 2;
    }
    return frames;
}

}  // namespace

TEST_CASE("handled errors: the report says where the exception was thrown, not only where it was caught") {
    InstallCrashReporting(
        {u"http://127.0.0.1:9/except.php", u"http://127.0.0.1:9/error", &ShowErrorBox, 2000});
    SetCrashHeadless(true);
    DeleteFileW(ReportFile().c_str());
    // The thrower's code range, from the unwind tables.
    DWORD64 base = 0;
    PRUNTIME_FUNCTION function =
        RtlLookupFunctionEntry(reinterpret_cast<DWORD64>(&ThrowFromHere), &base, nullptr);
    REQUIRE(function);
    const uint64_t begin = base + function->BeginAddress, end = base + function->EndAddress;

    // Another exception thrown and handled before it, on the same thread, is not taken for it.
    try {
        throw std::logic_error("an earlier error, handled where it was thrown");
    } catch (...) {
    }
    const std::string message = "thrown at a known place";
    try {
        ThrowFromHere(message);
    } catch (...) {
        ReportHandledException(std::current_exception());
    }
    REQUIRE(PumpUntil([&] { return ReportsFiled(message) == 1; }, 30000));
    const std::vector<uint64_t> frames = ThrownAtOf(message);
    REQUIRE_FALSE(frames.empty());
    bool inThrower = false;
    for (uint64_t frame : frames) inThrower = inThrower || (frame >= begin && frame < end);
    CHECK_MESSAGE(inThrower, "no frame of the thrower among " << frames.size() << " frames");
    SetCrashHeadless(false);
}
