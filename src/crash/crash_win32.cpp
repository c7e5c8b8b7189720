#include "crash/crash_win32.h"

#include <atomic>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>
#if defined(__GNUC__)
#include <cxxabi.h>
#endif
#include <psapi.h>

#include "base/error_boundary_win32.h"
#include "base/shell_link.h"
#include "base/shell_open_win32.h"
#include "base/text.h"
#include "base/ui_task.h"
#include "crash/crash_internal_win32.h"
#include "crash/crash_report.h"

namespace tarnell {

namespace {

using crash::Request;

// Codes the GCC unwinder raises while it looks for a handler. One that reaches the top unhandled is
// continued, as the C runtime's own filter does, so that the runtime calls std::terminate with the
// exception still current and the report can name its type and message.
constexpr DWORD kGccThrow = 0x20474343, kGccUnwind = 0x21474343, kGccForced = 0x22474343;
constexpr DWORD kBuilderFaulted = 0xDEAD;
constexpr DWORD kBuildTimeoutMs = 20000;
constexpr DWORD kReportWaitAtExitMs = 30000;
constexpr size_t kSlots = 8;
// Fail-fast, what abort() ends a process with on current Windows; apart from the command line's codes.
constexpr UINT kCppExitCode = 0xC0000409;

CrashSettings* g_settings = nullptr;  // set once at installation, never freed
CrashOnce g_once;
std::mutex g_buildLock;  // one report is collected at a time
std::mutex g_dumpLock;   // one minidump is written at a time
std::atomic<bool> g_fatal{false};
std::atomic<DWORD> g_crashThreadId{0};
std::atomic<DWORD> g_boxThreadId{0};
HANDLE g_wake = nullptr;
std::atomic<Request*> g_slots[kSlots];
std::atomic<bool> g_headless{false};
HANDLE g_boxUp = nullptr;  // set once the fatal error box is shown, or a headless end has begun
wchar_t
    g_reportFile[MAX_PATH];  // bugreport.txt, worked out at installation: the fatal path allocates nothing
constexpr DWORD kHeadlessReportWaitMs = 10000;

std::string TypeName(const std::type_info& type) {
#if defined(__GNUC__)
    int status = 0;
    char* readable = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    if (status == 0 && readable) {
        std::string name = readable;
        std::free(readable);
        return name;
    }
    std::free(readable);
#endif
    return type.name();
}

void Describe(std::exception_ptr error, std::string& type, std::string& message) {
    type = "unknown C++ exception";
    message = "Unknown error";
    try {
        if (error) std::rethrow_exception(error);
    } catch (const std::exception& e) {
        type = TypeName(typeid(e));
        message = e.what();
    } catch (...) {
    }
}

// ----- sending -------------------------------------------------------------------------------------

std::mutex g_workLock;
std::vector<HANDLE> g_work;  // report threads still building or sending

void TrackWork(HANDLE thread) {
    std::lock_guard<std::mutex> guard(g_workLock);
    g_work.push_back(thread);
}

// Waits until every report thread started so far, and those they start, has ended, or the time is up.
void WaitForReports(DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        HANDLE pending = nullptr;
        {
            std::lock_guard<std::mutex> guard(g_workLock);
            for (HANDLE thread : g_work) {
                if (WaitForSingleObject(thread, 0) == WAIT_TIMEOUT) {
                    pending = thread;
                    break;
                }
            }
        }
        const ULONGLONG now = GetTickCount64();
        if (!pending || now >= end) return;
        WaitForSingleObject(pending, DWORD(end - now));
    }
}

struct SendJob {
    std::string report;
};

DWORD WINAPI SendThread(void* param) {
    std::unique_ptr<SendJob> job(static_cast<SendJob*>(param));
    bool sent = false;
    try {
        sent = IsShellSafeUrl(g_settings->reportUrl) &&
               crash::PostReport(g_settings->reportUrl, job->report, g_settings->sendTimeoutMs);
    } catch (...) {
    }
    if (!sent) crash::AppendToReportFile(job->report);
    return 0;
}

// Never blocks the box: the report goes out on a thread of its own and lands in the file if it could not.
void StartSend(std::string report) {
    auto* job = new SendJob{std::move(report)};
    HANDLE thread = CreateThread(nullptr, 0, SendThread, job, 0, nullptr);
    if (!thread) {
        crash::AppendToReportFile(job->report);
        delete job;
        return;
    }
    TrackWork(thread);
}

// ----- building ------------------------------------------------------------------------------------

// Builder threads, known to the filter by id (no thread-local storage: reading it may allocate, and the
// filter runs on whatever stack a fault left).
std::atomic<DWORD> g_builders[kSlots];

bool IsBuilder(DWORD id) {
    for (auto& builder : g_builders)
        if (builder.load() == id) return true;
    return false;
}

struct BuilderMark {
    std::atomic<DWORD>* slot = nullptr;
    BuilderMark() {
        for (auto& builder : g_builders) {
            DWORD expected = 0;
            if (builder.compare_exchange_strong(expected, GetCurrentThreadId())) {
                slot = &builder;
                return;
            }
        }
    }
    ~BuilderMark() {
        if (slot) slot->store(0);
    }
};

// One report in the making. It owns copies of everything the request pointed at, so the thread that
// asked for it may go on (or away) at once.
struct ReportJob {
    EXCEPTION_RECORD record{};
    std::unique_ptr<CONTEXT> context = std::make_unique<CONTEXT>();
    EXCEPTION_POINTERS pointers{};
    std::string type, message;
    Request request;
    HANDLE textReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::string text;

    explicit ReportJob(const Request& from) {
        const EXCEPTION_POINTERS* p = from.pointers;
        if (p && p->ExceptionRecord) record = *p->ExceptionRecord;
        record.ExceptionRecord = nullptr;
        if (p && p->ContextRecord) *context = *p->ContextRecord;
        pointers = {&record, context.get()};
        type = from.type ? from.type : "";
        message = from.message ? from.message : "";
        request = from;
        request.pointers = &pointers;
        request.type = type.c_str();
        request.message = message.c_str();
    }
    ~ReportJob() {
        if (textReady) CloseHandle(textReady);
    }
};

// On the builder thread: the text first, handed out as soon as it exists, then the minidump.
DWORD WINAPI BuildThread(void* param) {
    auto* job = static_cast<ReportJob*>(param);
    const BuilderMark mark;
    // A minidump only where the process ends: it takes seconds under dbghelp's own lock, and a handled
    // error's report must not wait behind it.
    const bool fatal = job->request.structured || g_fatal.load();
    const std::wstring folder = fatal ? CrashFolder() : std::wstring();
    const std::wstring dump = folder.empty() ? folder : folder + L"\\tarnell.dmp";
    {
        std::lock_guard<std::mutex> guard(g_buildLock);  // dbghelp's symbols serve one caller at a time
        CrashReport report = crash::DescribeRequest(job->request);
        crash::CollectProcessState(job->request, report, dump);
        job->text = FormatCrashReport(report);
    }
    SetEvent(job->textReady);
    if (dump.empty()) return 0;
    std::lock_guard<std::mutex> dumping(g_dumpLock);
    crash::WriteDump(job->request, dump);
    return 0;
}

// Supervises one builder: a builder that faults (see TopLevelFilter) or hangs is given up on, and the
// report falls back to the exception's own part. Either way one report is sent.
DWORD WINAPI SuperviseThread(void* param) {
    std::unique_ptr<ReportJob> job(static_cast<ReportJob*>(param));
    HANDLE builder = CreateThread(nullptr, 1024 * 1024, BuildThread, job.get(), 0, nullptr);
    bool ready = false;
    if (builder) {
        HANDLE waits[2] = {job->textReady, builder};
        const DWORD r = WaitForMultipleObjects(2, waits, FALSE, kBuildTimeoutMs);
        ready = r == WAIT_OBJECT_0 || WaitForSingleObject(job->textReady, 0) == WAIT_OBJECT_0;
    }
    if (ready) {
        StartSend(job->text);
    } else {
        StartSend(FormatCrashReport(crash::DescribeRequest(job->request)));
    }
    // A builder still at work (the minidump, or stuck) keeps using the job: it is left to it.
    if (builder && WaitForSingleObject(builder, 0) != WAIT_OBJECT_0) job.release();
    if (builder) CloseHandle(builder);
    return 0;
}

void StartReport(const Request& request) {
    auto* job = new ReportJob(request);
    HANDLE thread = CreateThread(nullptr, 0, SuperviseThread, job, 0, nullptr);
    if (!thread) {
        StartSend(FormatCrashReport(crash::DescribeRequest(job->request)));
        delete job;
        return;
    }
    TrackWork(thread);
}

bool FirstTime(const Request& request) {
    const EXCEPTION_RECORD* record = request.pointers ? request.pointers->ExceptionRecord : nullptr;
    const uint32_t code = record ? record->ExceptionCode : 0;
    const uint64_t address = record ? reinterpret_cast<uintptr_t>(record->ExceptionAddress) : 0;
    return g_once.First(request.structured, code, address, request.type, request.message);
}

// ----- the box -------------------------------------------------------------------------------------

void ShowBox(const std::u16string& message) {
    if (g_settings && g_settings->showBox) {
        g_settings->showBox(message);
        return;
    }
    MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(message.c_str()), L"Tarnell", MB_OK | MB_ICONERROR);
}

struct FatalBox {
    std::u16string message;
    UINT exitCode;
};

// The close-application action: the error page through the shell, the reports out, the process ended.
[[noreturn]] void CloseApplication(UINT exitCode) {
    try {
        ShellOpen(g_settings->errorPageUrl);
    } catch (...) {
    }
    WaitForReports(kReportWaitAtExitMs);
    // A minidump still being written gets a little longer; the process must end all the same.
    for (int step = 0; step < 100 && !g_dumpLock.try_lock(); ++step) Sleep(100);
    TerminateProcess(GetCurrentProcess(), exitCode);
    ExitProcess(exitCode);
}

// Tells the faulting thread that the box is on the screen: from then on a person ends the process.
LRESULT CALLBACK BoxShownHook(int code, WPARAM wp, LPARAM lp) {
    // The box's window exists: what the crash thread needed from the heap and the loader, it got.
    if (code == HCBT_CREATEWND && g_boxUp) SetEvent(g_boxUp);
    return CallNextHookEx(nullptr, code, wp, lp);
}

DWORD WINAPI FatalBoxThread(void* param) {
    std::unique_ptr<FatalBox> box(static_cast<FatalBox*>(param));
    HHOOK hook = SetWindowsHookExW(WH_CBT, BoxShownHook, nullptr, GetCurrentThreadId());
    try {
        ShowBox(box->message);
    } catch (...) {
    }
    if (hook) UnhookWindowsHookEx(hook);
    CloseApplication(box->exitCode);
}

// Without a window: the reports filed and sent within a bound, then the process ends with the command
// line's code for an error.
[[noreturn]] void EndHeadless() {
    WaitForReports(kHeadlessReportWaitMs);
    TerminateProcess(GetCurrentProcess(), kCrashExitCode);
    ExitProcess(kCrashExitCode);
}

// On the crash thread: report a fatal exception, once per distinct error; the first fatal one also gets
// the box, at once. Every fatal error ends the process, even one whose report an earlier handled error
// of the same kind already made.
void HandleFatal(const Request& request) {
    const bool first = FirstTime(request);
    if (!g_fatal.exchange(true)) {
        if (g_headless.load()) {
            if (g_boxUp) SetEvent(g_boxUp);  // no box will come: the faulting thread need not wait for one
            if (first) StartReport(request);
            EndHeadless();
        }
        std::string message = request.message ? request.message : "";
        if (request.structured) message = crash::DescribeRequest(request).message;
        const DWORD code = request.structured && request.pointers
                               ? request.pointers->ExceptionRecord->ExceptionCode
                               : kCppExitCode;
        auto* box = new FatalBox{Utf8ToUtf16(message), UINT(code)};
        DWORD id = 0;
        HANDLE thread = CreateThread(nullptr, 0, FatalBoxThread, box, CREATE_SUSPENDED, &id);
        if (thread) {
            g_boxThreadId = id;
            ResumeThread(thread);
            CloseHandle(thread);
        } else {
            if (first) StartReport(request);
            FatalBoxThread(box);
        }
    }
    if (first) StartReport(request);
}

DWORD WINAPI CrashThreadMain(void*) {
#if defined(TARNELL_TEST_HOOKS)
    // Test builds only: a crash thread stuck for good, as behind a lock a faulting thread holds.
    wchar_t stall[4] = {};
    if (GetEnvironmentVariableW(L"TARNELL_TEST_CRASH_THREAD_STALLS", stall, 4) && stall[0] == L'1') {
        WaitForSingleObject(g_wake, INFINITE);
        Sleep(INFINITE);
    }
#endif
    for (;;) {
        WaitForSingleObject(g_wake, INFINITE);
        for (auto& slot : g_slots) {
            if (Request* request = slot.exchange(nullptr)) {
                try {
                    HandleFatal(*request);
                } catch (...) {
                }
            }
        }
    }
}

// Stack-buffer text for the short report: no allocation, no formatting library.
struct ShortText {
    char text[768];
    size_t length = 0;
    void Add(const char* piece) {
        while (*piece && length + 1 < sizeof text) text[length++] = *piece++;
    }
    void AddWide(const wchar_t* piece) {
        for (; *piece && length + 1 < sizeof text; ++piece)
            text[length++] = *piece < 128 ? char(*piece) : '?';
    }
    void AddNumber(unsigned long long value, unsigned base, int minDigits = 1) {
        char digits[24];
        int n = 0;
        do {
            digits[n++] = "0123456789ABCDEF"[value % base];
            value /= base;
        } while (value && n < 24);
        while (n < minDigits && n < 24) digits[n++] = '0';
        while (n > 0 && length + 1 < sizeof text) text[length++] = digits[--n];
    }
};

// The last resort, on the faulting thread, with no heap of its own: time, code, module+offset and thread
// appended to bugreport.txt from stack buffers with WriteFile. No loader lock either: the module is found
// through VirtualQuery and the name of the file mapped there.
void WriteShortReport(DWORD code, const void* address, DWORD threadId) {
    if (!g_reportFile[0]) return;
    wchar_t module[MAX_PATH] = L"?";
    uintptr_t offset = reinterpret_cast<uintptr_t>(address);
    MEMORY_BASIC_INFORMATION mbi{};
    if (address && VirtualQuery(address, &mbi, sizeof mbi) && mbi.AllocationBase) {
        offset -= reinterpret_cast<uintptr_t>(mbi.AllocationBase);
        wchar_t mapped[MAX_PATH] = {};
        if (K32GetMappedFileNameW(GetCurrentProcess(), mbi.AllocationBase, mapped, MAX_PATH)) {
            const wchar_t* name = mapped;
            for (const wchar_t* p = mapped; *p; ++p)
                if (*p == L'\\' || *p == L'/') name = p + 1;
            lstrcpynW(module, name, MAX_PATH);
        }
    }
    SYSTEMTIME t;
    GetSystemTime(&t);
    ShortText line;
    line.Add("\r\n==== Tarnell crash (short report: the full report could not be made in time)\r\nTime: ");
    line.AddNumber(t.wYear, 10, 4);
    line.Add("-");
    line.AddNumber(t.wMonth, 10, 2);
    line.Add("-");
    line.AddNumber(t.wDay, 10, 2);
    line.Add(" ");
    line.AddNumber(t.wHour, 10, 2);
    line.Add(":");
    line.AddNumber(t.wMinute, 10, 2);
    line.Add(":");
    line.AddNumber(t.wSecond, 10, 2);
    line.Add(" UTC\r\nException: code 0x");
    line.AddNumber(code, 16, 8);
    line.Add(" at ");
    line.AddWide(module);
    line.Add("+0x");
    line.AddNumber(offset, 16);
    line.Add("\r\nThread: ");
    line.AddNumber(threadId, 10);
    line.Add("\r\n");
    // The folder may not exist yet: made here, next to the file.
    wchar_t folder[MAX_PATH];
    lstrcpynW(folder, g_reportFile, MAX_PATH);
    for (wchar_t* p = folder + lstrlenW(folder); p > folder; --p) {
        if (*p == L'\\') {
            *p = 0;
            break;
        }
    }
    CreateDirectoryW(folder, nullptr);
    HANDLE file = CreateFileW(g_reportFile, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line.text, DWORD(line.length), &written, nullptr);
    CloseHandle(file);
}

// Hands the request to the crash thread and never returns: the faulting thread stays parked, keeping the
// record and context the report reads alive, until the process ends. The crash thread allocates (the
// report, the box) while this thread may hold the heap's or the loader's lock: when no box has appeared
// within kFatalBoxBoundMs, this thread writes the short report and ends the process itself.
[[noreturn]] void SubmitAndPark(Request* request, UINT exitCode) {
    bool queued = false;
    if (g_wake && g_crashThreadId.load() != GetCurrentThreadId()) {
        for (auto& slot : g_slots) {
            Request* expected = nullptr;
            if (slot.compare_exchange_strong(expected, request)) {
                queued = true;
                break;
            }
        }
    }
    if (queued) {
        SetEvent(g_wake);
        if (!g_boxUp || WaitForSingleObject(g_boxUp, kFatalBoxBoundMs) == WAIT_OBJECT_0) {
            for (;;) Sleep(INFINITE);
        }
    }
    // No box in time, or the crash thread itself failed or is missing.
    const EXCEPTION_RECORD* record = request->pointers ? request->pointers->ExceptionRecord : nullptr;
    WriteShortReport(record ? record->ExceptionCode : exitCode, record ? record->ExceptionAddress : nullptr,
                     GetCurrentThreadId());
    const UINT code = g_headless.load() ? kCrashExitCode : exitCode;
    TerminateProcess(GetCurrentProcess(), code);
    ExitProcess(code);
}

LONG WINAPI TopLevelFilter(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    const DWORD code = record->ExceptionCode;
    if ((code == kGccThrow || code == kGccUnwind || code == kGccForced) &&
        !(record->ExceptionFlags & EXCEPTION_NONCONTINUABLE))
        return EXCEPTION_CONTINUE_EXECUTION;
    const DWORD self = GetCurrentThreadId();
    if (IsBuilder(self)) ExitThread(kBuilderFaulted);
    if (self == g_boxThreadId.load()) {
        // The box or the close-application action faulted: end as that action would have.
        TerminateProcess(GetCurrentProcess(), code);
    }
    // Kept small: after a stack overflow this runs on what is left of the faulting thread's stack.
    Request request;
    request.structured = true;
    request.pointers = pointers;
    request.threadId = self;
    SubmitAndPark(&request, code);
}

// A stack overflow is taken before any frame-based handler: the search for one, and the unhandled-
// exception filter at its end, would need more stack than the overflowed thread has left.
LONG WINAPI StackOverflowHandler(EXCEPTION_POINTERS* pointers) {
    if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW)
        return EXCEPTION_CONTINUE_SEARCH;
    return TopLevelFilter(pointers);
}

// A C++-level fatal error on the current thread (std::terminate, a pure virtual call, an invalid
// parameter): its registers are taken here and reported like a structured exception's.
[[noreturn]] void FatalHere(const char* type, const char* message) {
    auto context = std::make_unique<CONTEXT>();
    RtlCaptureContext(context.get());
    EXCEPTION_RECORD record{};
#if defined(_M_X64) || defined(__x86_64__)
    record.ExceptionAddress = reinterpret_cast<void*>(context->Rip);
#elif defined(_M_IX86) || defined(__i386__)
    record.ExceptionAddress = reinterpret_cast<void*>(context->Eip);
#endif
    EXCEPTION_POINTERS pointers{&record, context.get()};
    Request request;
    request.pointers = &pointers;
    request.threadId = GetCurrentThreadId();
    request.type = type;
    request.message = message;
    SubmitAndPark(&request, kCppExitCode);
}

[[noreturn]] void OnTerminate() {
    std::string type = "std::terminate", message = "The program called std::terminate.";
    if (std::exception_ptr error = std::current_exception()) Describe(error, type, message);
    FatalHere(type.c_str(), message.c_str());
}

void __cdecl OnPureCall() {
    FatalHere("pure virtual call", "A pure virtual function was called.");
}

void __cdecl OnInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, uintptr_t) {
    FatalHere("invalid parameter", "A C runtime function was called with an invalid parameter.");
}

void OnHandOverError(std::exception_ptr error) {
    ReportHandledException(error);
}

}  // namespace

void ReportHandledException(std::exception_ptr error) {
    if (!error || g_fatal.load()) return;
    std::string type, message;
    Describe(error, type, message);
    if (!g_once.First(false, 0, 0, type, message)) return;  // no second box, no second report

    auto context = std::make_unique<CONTEXT>();
    RtlCaptureContext(context.get());
    EXCEPTION_RECORD record{};
#if defined(_M_X64) || defined(__x86_64__)
    record.ExceptionAddress = reinterpret_cast<void*>(context->Rip);
#elif defined(_M_IX86) || defined(__i386__)
    record.ExceptionAddress = reinterpret_cast<void*>(context->Eip);
#endif
    EXCEPTION_POINTERS pointers{&record, context.get()};
    Request request;
    request.pointers = &pointers;
    request.threadId = GetCurrentThreadId();
    request.type = type.c_str();
    request.message = message.c_str();
    if (g_settings) StartReport(request);
    if (!g_headless.load()) ShowBox(Utf8ToUtf16(message));
}

void SetCrashHeadless(bool headless) {
    g_headless = headless;
}

void InstallCrashReporting(const CrashSettings& settings) {
    if (g_settings) return;
    g_settings = new CrashSettings(settings);
    g_wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    g_boxUp = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // The short report's file, for a fatal path that may not allocate; the folder is made then, if need be.
    wchar_t base[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", base, MAX_PATH);
    if (n > 0 && n + 32 < MAX_PATH) {
        lstrcpynW(g_reportFile, base, MAX_PATH);
        lstrcatW(g_reportFile, L"\\Tarnell\\bugreport.txt");
    }
    DWORD id = 0;
    // Created now, while all is well: after a stack overflow or a heap fault no thread could be started.
    HANDLE thread =
        g_wake ? CreateThread(nullptr, 256 * 1024, CrashThreadMain, nullptr, CREATE_SUSPENDED, &id) : nullptr;
    if (thread) {
        g_crashThreadId = id;
        ResumeThread(thread);
        CloseHandle(thread);
    }
    // Room for the filter on this thread after a stack overflow.
    ULONG guarantee = 64 * 1024;
    SetThreadStackGuarantee(&guarantee);
    SetUnhandledExceptionFilter(TopLevelFilter);
    AddVectoredExceptionHandler(1, StackOverflowHandler);
    std::set_terminate(OnTerminate);
    _set_purecall_handler(OnPureCall);
    _set_invalid_parameter_handler(OnInvalidParameter);
    SetUnhandledErrorHandler(&ReportHandledException);
    SetUiTaskErrorHandler(&OnHandOverError);
}

}  // namespace tarnell

#if defined(TARNELL_TEST_HOOKS)
// Test builds only: a thread started here from outside (CreateRemoteThread) throws a C++ exception that
// nothing catches, as a worker thread's bug would.
extern "C" __declspec(dllexport) DWORD WINAPI TarnellTestThrow(void*) {
    throw std::runtime_error("Test exception thrown on a thread of its own");
}

// The same error thrown inside a task handed to the UI thread, where the hand-over's boundary catches it:
// a handled error first, so that the fatal one after it has a key already used.
extern "C" __declspec(dllexport) DWORD WINAPI TarnellTestThrowOnUiThread(void*) {
    tarnell::RunOnUiThread([] { throw std::runtime_error("Test exception thrown on a thread of its own"); });
    return 0;
}
#endif
