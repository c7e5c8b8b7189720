// Catching: the filters and handlers that see an error, the place a C++ exception was thrown, the crash
// thread that takes a fatal error off the faulting thread, and the last-resort short report.
#include <windows.h>

#include <psapi.h>

#include <atomic>
#include <cstdlib>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <typeinfo>
#if defined(__GNUC__)
#include <cxxabi.h>
#endif

#include "base/error_boundary_win32.h"
#include "base/text.h"
#include "base/ui_task_win32.h"
#include "crash/crash_internal_win32.h"
#include "crash/crash_report.h"
#include "crash/crash_win32.h"

namespace tarnell {

namespace {

using crash::Request;

// Codes the GCC unwinder raises while it looks for a handler. One that reaches the top unhandled is
// continued, as the C runtime's own filter does, so that the runtime calls std::terminate with the
// exception still current and the report can name its type and message.
constexpr DWORD kGccThrow = 0x20474343, kGccUnwind = 0x21474343, kGccForced = 0x22474343;
// What the Visual C++ runtime raises for a throw.
constexpr DWORD kMsvcThrow = 0xE06D7363;
constexpr size_t kSlots = 8;

CrashSettings* g_settings = nullptr;  // set once at installation, never freed
CrashOnce g_once;
std::atomic<bool> g_fatal{false};  // a fatal error is ending the process
std::atomic<bool> g_headless{false};
std::atomic<DWORD> g_crashThreadId{0};
HANDLE g_wake = nullptr;
HANDLE g_boxUp = nullptr;  // set once the fatal error box exists, or a headless end has begun
std::atomic<Request*> g_slots[kSlots];

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

// ----- where a C++ exception was thrown --------------------------------------------------------------

// The most recent throw of this thread: the return addresses at the raise. A boundary's report names the
// throw site from here, not the place it was caught after unwinding. A rethrow counts as a throw of its
// own (what a rethrow raises cannot be told apart from a new exception at a reused address).
struct ThrowSite {
    unsigned count = 0;
    void* frames[crash::kThrowFrames];
};
thread_local ThrowSite t_throwSite;

// Walks the stack from the raise's own context with the unwind tables, on this thread's own stack.
unsigned WalkFrom(const CONTEXT& start, void** frames, unsigned capacity) {
#if defined(_M_X64) || defined(__x86_64__)
    CONTEXT context = start;
    unsigned count = 0;
    while (count < capacity && context.Rip) {
        frames[count++] = reinterpret_cast<void*>(context.Rip);
        DWORD64 imageBase = 0;
        PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &imageBase, nullptr);
        if (function) {
            void* handlerData = nullptr;
            DWORD64 establisher = 0;
            RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, context.Rip, function, &context, &handlerData,
                             &establisher, nullptr);
        } else {
            // A leaf function: its return address is on top of the stack.
            context.Rip = *reinterpret_cast<const DWORD64*>(context.Rsp);
            context.Rsp += 8;
        }
    }
    return count;
#else
    (void)start;
    return RtlCaptureStackBackTrace(0, capacity, frames, nullptr);
#endif
}

// First chance, before any handler runs: keeps the throw's stack.
LONG WINAPI RecordThrow(EXCEPTION_POINTERS* pointers) {
    const DWORD code = pointers->ExceptionRecord->ExceptionCode;
    if (code != kGccThrow && code != kMsvcThrow) return EXCEPTION_CONTINUE_SEARCH;
    ThrowSite& site = t_throwSite;
    site.count = WalkFrom(*pointers->ContextRecord, site.frames, crash::kThrowFrames);
    return EXCEPTION_CONTINUE_SEARCH;
}

// ----- fatal errors: the crash thread ----------------------------------------------------------------

bool FirstTime(const Request& request) {
    const EXCEPTION_RECORD* record = request.pointers ? request.pointers->ExceptionRecord : nullptr;
    const uint32_t code = record ? record->ExceptionCode : 0;
    const uint64_t address = record ? reinterpret_cast<uintptr_t>(record->ExceptionAddress) : 0;
    return g_once.First(request.structured, code, address, request.type, request.message);
}

// On the crash thread (a small stack): decides, starts the report and the box, and returns. Every fatal
// error ends the process, even one whose report an earlier handled error of the same kind already made.
void HandleFatal(const Request& request) {
    CrashCircumstances circumstances;
    circumstances.origin = request.structured ? CrashOrigin::Structured : CrashOrigin::CppFatal;
    const EXCEPTION_RECORD* record = request.pointers ? request.pointers->ExceptionRecord : nullptr;
    circumstances.code = record ? record->ExceptionCode : 0;
    circumstances.headless = g_headless.load();
    circumstances.firstOfItsKind = FirstTime(request);
    circumstances.processEnding = g_fatal.exchange(true);
    const CrashDecision decision = DecideCrash(circumstances);

    if (decision.report) crash::StartReport(request, decision.dump);
    if (circumstances.processEnding) return;  // the first fatal error's box or headless end ends it
    if (!decision.box) {
        if (g_boxUp) SetEvent(g_boxUp);  // no box will come: the faulting thread need not wait for one
        crash::EndHeadless();
    }
    // Without a thread for the box, the faulting thread's bound ends the process with the short report.
    crash::StartFatalBox(request, decision, g_boxUp);
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

// ----- the short report ------------------------------------------------------------------------------

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
// appended to bugreport.txt from stack buffers with WriteFile (or written to a second file beside it, as
// a full report would be). No loader lock either: the module is found through VirtualQuery and the name of
// the file mapped there.
void WriteShortReport(DWORD code, const void* address, DWORD threadId) {
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
    // "2026-12-10 15:54:19 UTC"
    const struct {
        WORD value;
        int digits;
        const char* after;
    } time[] = {{t.wYear, 4, "-"}, {t.wMonth, 2, "-"},  {t.wDay, 2, " "},
                {t.wHour, 2, ":"}, {t.wMinute, 2, ":"}, {t.wSecond, 2, " UTC"}};
    for (const auto& part : time) {
        line.AddNumber(part.value, 10, part.digits);
        line.Add(part.after);
    }
    line.Add("\r\nException: code 0x");
    line.AddNumber(code, 16, 8);
    line.Add(" at ");
    line.AddWide(module);
    line.Add("+0x");
    line.AddNumber(offset, 16);
    line.Add("\r\nThread: ");
    line.AddNumber(threadId, 10);
    line.Add("\r\n");
    // The folder may not exist yet: made and checked here, as for any report.
    OwnFolder folder;
    if (!crash::OpenReportFolder(folder)) return;
    HANDLE file = folder.OpenFile(crash::kReportName, true);
    if (file != INVALID_HANDLE_VALUE) {
        LARGE_INTEGER end{};
        if (!SetFilePointerEx(file, end, nullptr, FILE_END)) {
            CloseHandle(file);
            file = INVALID_HANDLE_VALUE;
        }
    }
    if (file == INVALID_HANDLE_VALUE) file = folder.CreateNew(crash::kReportName);
    if (file == INVALID_HANDLE_VALUE) {
        wchar_t name[MAX_PATH];
        file = folder.CreateUnique(crash::kReportStem, L".txt", name);
    }
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line.text, DWORD(line.length), &written, nullptr);
    CloseHandle(file);
}

// ----- the faulting thread ---------------------------------------------------------------------------

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
    if (crash::IsBuilderThread(self)) ExitThread(crash::kBuilderFaulted);
    if (self == crash::FatalBoxThreadId()) {
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

// The registers of the place this is called from, as a structured exception's would be.
struct HereContext {
    std::unique_ptr<CONTEXT> context = std::make_unique<CONTEXT>();
    EXCEPTION_RECORD record{};
    EXCEPTION_POINTERS pointers{};
    HereContext() {
        RtlCaptureContext(context.get());
#if defined(_M_X64) || defined(__x86_64__)
        record.ExceptionAddress = reinterpret_cast<void*>(context->Rip);
#elif defined(_M_IX86) || defined(__i386__)
        record.ExceptionAddress = reinterpret_cast<void*>(context->Eip);
#endif
        pointers = {&record, context.get()};
    }
};

// A C++-level fatal error on the current thread (std::terminate, a pure virtual call, an invalid
// parameter): its registers are taken here and reported like a structured exception's.
[[noreturn]] void FatalHere(const char* type, const char* message) {
    HereContext here;
    Request request;
    request.pointers = &here.pointers;
    request.threadId = GetCurrentThreadId();
    request.type = type;
    request.message = message;
    SubmitAndPark(&request, kCppFatalExitCode);
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

namespace crash {

const CrashSettings& Settings() {
    static const CrashSettings none;  // before installation: no endpoint, no page, the system's box
    return g_settings ? *g_settings : none;
}

bool Headless() {
    return g_headless.load();
}

}  // namespace crash

void ReportHandledException(std::exception_ptr error) {
    if (!error) return;
    // Taken before anything below throws again on this thread.
    const ThrowSite site = t_throwSite;
    std::string type, message;
    Describe(error, type, message);
    CrashCircumstances circumstances;
    circumstances.origin = CrashOrigin::Boundary;
    circumstances.headless = g_headless.load();
    circumstances.processEnding = g_fatal.load();
    circumstances.firstOfItsKind = !circumstances.processEnding && g_once.First(false, 0, 0, type, message);
    const CrashDecision decision = DecideCrash(circumstances);

    if (decision.report && g_settings) {
        HereContext here;
        Request request;
        request.pointers = &here.pointers;
        request.threadId = GetCurrentThreadId();
        request.type = type.c_str();
        request.message = message.c_str();
        request.thrownAt = site.frames;
        request.thrownAtCount = site.count;
        crash::StartReport(request, decision.dump);
    }
    if (decision.box) crash::ShowBox(Utf8ToUtf16(message));
}

void SetCrashHeadless(bool headless) {
    g_headless = headless;
}

void InstallCrashReporting(const CrashSettings& settings) {
    if (g_settings) return;
    g_settings = new CrashSettings(settings);
    g_wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    g_boxUp = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    crash::SetReportFilePath();
    DWORD id = 0;
    // Created now, while all is well: after a stack overflow or a heap fault no thread could be started.
    // It only decides and starts other threads, so a small reservation is enough.
    HANDLE thread = g_wake ? CreateThread(nullptr, 64 * 1024, CrashThreadMain, nullptr,
                                          CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, &id)
                           : nullptr;
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
    AddVectoredExceptionHandler(0, RecordThrow);
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
