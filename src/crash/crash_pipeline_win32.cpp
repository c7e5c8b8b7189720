// The report pipeline: a report is built on a builder thread of its own (the text first, then the
// minidump), filed in bugreport.txt, then posted through the program's HTTP client and taken out of the
// file once the endpoint has it, so ending the process at any moment loses nothing that was filed.
// Collecting reads memory through ReadProcessMemory or the system's own snapshot functions, so a damaged
// stack or a freed module gives a shorter report, never a second fault. dbghelp is loaded from the system
// folder at run time.
// clang-format off
#include <windows.h>  // before <tlhelp32.h>, <dbghelp.h> and <shlobj.h>
#include <tlhelp32.h>
#include <dbghelp.h>
#include <shlobj.h>
// clang-format on
#include <psapi.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "base/file_version_win32.h"
#include "base/http_win32.h"
#include "base/shell_link.h"
#include "base/text.h"
#include "base/ui_task_win32.h"
#include "base/wide.h"
#include "crash/crash_internal_win32.h"
#include "crash/crash_report.h"
#include "crash/crash_win32.h"

namespace tarnell {

namespace crash {

namespace {

constexpr size_t kMaxFrames = 64;
constexpr uint64_t kCodeBefore = 16, kCodeAfter = 16;
// A builder that has not made the text by then is given up on: the exception's own part is filed. Well
// inside kCloseBoundMs, so a report is filed before the process can end.
constexpr DWORD kBuildTimeoutMs = 6000;
constexpr size_t kBuilderSlots = 8;
constexpr wchar_t kDumpName[] = L"tarnell.dmp";

wchar_t g_reportFile[MAX_PATH];  // bugreport.txt, worked out at installation
std::mutex g_fileLock;           // one change of the report file at a time
std::mutex g_buildLock;          // dbghelp's symbols serve one caller at a time
std::mutex g_dumpLock;           // one minidump is written at a time
HANDLE g_noDump = nullptr;       // set while no minidump is being written
std::atomic<DWORD> g_builders[kBuilderSlots];

std::string Narrow(const std::wstring& s) {
    return Utf16ToUtf8(FromWide(s));
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The base of the image holding `address`, 0 for none. No loader lock: the memory manager answers.
DWORD64 ImageBaseOf(uint64_t address) {
    MEMORY_BASIC_INFORMATION mbi{};
    if (!address ||
        !VirtualQuery(reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), &mbi, sizeof mbi))
        return 0;
    return mbi.Type == MEM_IMAGE ? reinterpret_cast<uintptr_t>(mbi.AllocationBase) : 0;
}

// Module file name and offset for an address, without the loader: the name of the file mapped there.
bool ModuleOf(uint64_t address, std::string& name, uint64_t& offset) {
    const DWORD64 base = ImageBaseOf(address);
    if (!base) return false;
    wchar_t mapped[MAX_PATH] = {};
    if (!K32GetMappedFileNameW(GetCurrentProcess(), reinterpret_cast<void*>(static_cast<uintptr_t>(base)),
                               mapped, MAX_PATH))
        return false;
    name = FileNameOf(Narrow(mapped));
    offset = address - base;
    return true;
}

// The walk's own view of the unwind tables and module bases, so dbghelp need not have loaded the
// modules (it is not asked to invade the process).
PVOID CALLBACK FunctionTableOf(HANDLE, DWORD64 address) {
#if defined(_M_X64) || defined(__x86_64__)
    DWORD64 base = 0;
    return RtlLookupFunctionEntry(address, &base, nullptr);
#else
    (void)address;
    return nullptr;
#endif
}

DWORD64 CALLBACK ModuleBaseOf(HANDLE, DWORD64 address) {
    return ImageBaseOf(address);
}

std::string TimeText() {
    SYSTEMTIME t;
    GetSystemTime(&t);
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u:%02u:%02u UTC", t.wYear, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond);
    return buffer;
}

std::string WindowsVersionText() {
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    using WineVersionFn = const char*(CDECL*)();
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll) return "unknown";
    std::string text = "unknown";
    auto getVersion =
        reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (getVersion && getVersion(&info) == 0) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%lu.%lu.%lu", info.dwMajorVersion, info.dwMinorVersion,
                      info.dwBuildNumber);
        text = buffer;
    }
    // Reports from Wine say so: its behaviour differs from the version it imitates.
    auto wine =
        reinterpret_cast<WineVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
    if (wine) text += std::string(" (Wine ") + wine() + ")";
    return text;
}

void ReadCode(CrashReport& report) {
    const uint64_t start = report.address > kCodeBefore ? report.address - kCodeBefore : 0;
    for (uint64_t from : {start, report.address}) {
        std::vector<uint8_t> bytes(size_t(report.address + kCodeAfter - from));
        SIZE_T read = 0;
        if (ReadProcessMemory(GetCurrentProcess(),
                              reinterpret_cast<const void*>(static_cast<uintptr_t>(from)), bytes.data(),
                              bytes.size(), &read) &&
            read == bytes.size()) {
            report.codeStart = from;
            report.codeBytes = std::move(bytes);
            return;
        }
    }
}

std::vector<std::pair<std::string, uint64_t>> RegistersOf(const CONTEXT& c) {
#if defined(_M_X64) || defined(__x86_64__)
    return {{"RAX", c.Rax}, {"RBX", c.Rbx}, {"RCX", c.Rcx},      {"RDX", c.Rdx}, {"RSI", c.Rsi},
            {"RDI", c.Rdi}, {"RBP", c.Rbp}, {"RSP", c.Rsp},      {"R8", c.R8},   {"R9", c.R9},
            {"R10", c.R10}, {"R11", c.R11}, {"R12", c.R12},      {"R13", c.R13}, {"R14", c.R14},
            {"R15", c.R15}, {"RIP", c.Rip}, {"EFLAGS", c.EFlags}};
#elif defined(_M_IX86) || defined(__i386__)
    return {{"EAX", c.Eax}, {"EBX", c.Ebx}, {"ECX", c.Ecx}, {"EDX", c.Edx}, {"ESI", c.Esi},
            {"EDI", c.Edi}, {"EBP", c.Ebp}, {"ESP", c.Esp}, {"EIP", c.Eip}, {"EFLAGS", c.EFlags}};
#elif defined(_M_ARM64) || defined(__aarch64__)
    std::vector<std::pair<std::string, uint64_t>> r;
    for (int i = 0; i < 29; ++i) r.push_back({"X" + std::to_string(i), c.X[i]});
    r.push_back({"FP", c.Fp});
    r.push_back({"LR", c.Lr});
    r.push_back({"SP", c.Sp});
    r.push_back({"PC", c.Pc});
    return r;
#else
    (void)c;
    return {};
#endif
}

// dbghelp, loaded from the system folder only, never from beside the program.
struct DbgHelp {
    using SymInitializeFn = BOOL(WINAPI*)(HANDLE, PCSTR, BOOL);
    using SymCleanupFn = BOOL(WINAPI*)(HANDLE);
    using SymSetOptionsFn = DWORD(WINAPI*)(DWORD);
    using StackWalk64Fn = BOOL(WINAPI*)(DWORD, HANDLE, HANDLE, LPSTACKFRAME64, PVOID,
                                        PREAD_PROCESS_MEMORY_ROUTINE64, PFUNCTION_TABLE_ACCESS_ROUTINE64,
                                        PGET_MODULE_BASE_ROUTINE64, PTRANSLATE_ADDRESS_ROUTINE64);
    using SymFromAddrFn = BOOL(WINAPI*)(HANDLE, DWORD64, PDWORD64, PSYMBOL_INFO);
    using SymLoadModuleExWFn = DWORD64(WINAPI*)(HANDLE, HANDLE, PCWSTR, PCWSTR, DWORD64, DWORD, PMODLOAD_DATA,
                                                DWORD);
    using MiniDumpWriteDumpFn = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                              PMINIDUMP_EXCEPTION_INFORMATION,
                                              PMINIDUMP_USER_STREAM_INFORMATION,
                                              PMINIDUMP_CALLBACK_INFORMATION);

    HMODULE module = nullptr;
    SymInitializeFn symInitialize = nullptr;
    SymCleanupFn symCleanup = nullptr;
    SymSetOptionsFn symSetOptions = nullptr;
    StackWalk64Fn stackWalk = nullptr;
    SymFromAddrFn symFromAddr = nullptr;
    SymLoadModuleExWFn symLoadModule = nullptr;
    MiniDumpWriteDumpFn miniDumpWriteDump = nullptr;
    bool symbols = false;
    mutable std::set<DWORD64> loaded;  // module bases whose symbols were asked for

    explicit DbgHelp(bool withSymbols = true) {
        module = LoadLibraryExW(L"dbghelp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!module) return;
        symInitialize = Get<SymInitializeFn>("SymInitialize");
        symCleanup = Get<SymCleanupFn>("SymCleanup");
        symSetOptions = Get<SymSetOptionsFn>("SymSetOptions");
        stackWalk = Get<StackWalk64Fn>("StackWalk64");
        symFromAddr = Get<SymFromAddrFn>("SymFromAddr");
        symLoadModule = Get<SymLoadModuleExWFn>("SymLoadModuleExW");
        miniDumpWriteDump = Get<MiniDumpWriteDumpFn>("MiniDumpWriteDump");
        if (withSymbols && symInitialize && symSetOptions) {
            symSetOptions(SYMOPT_UNDNAME | SYMOPT_DEFERRED_LOADS | SYMOPT_FAIL_CRITICAL_ERRORS |
                          SYMOPT_NO_PROMPTS);
            // Not invading the process: loading every module's symbols (Wine's own libraries among them)
            // takes seconds and, now and then, far longer. Only the modules a frame lies in are loaded.
            symbols = symInitialize(GetCurrentProcess(), nullptr, FALSE) != FALSE;
        }
    }
    ~DbgHelp() {
        if (symbols && symCleanup) symCleanup(GetCurrentProcess());
        // The module stays loaded: the report may be written again later in the run.
    }
    DbgHelp(const DbgHelp&) = delete;
    DbgHelp& operator=(const DbgHelp&) = delete;

    template <typename Fn>
    Fn Get(const char* name) {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }

    std::string SymbolAt(uint64_t address) const {
        if (!symbols || !symFromAddr || !symLoadModule) return std::string();
        const DWORD64 base = ImageBaseOf(address);
        if (!base) return std::string();
        if (loaded.insert(base).second) {
            wchar_t path[MAX_PATH] = {};
            if (!GetModuleFileNameW(reinterpret_cast<HMODULE>(static_cast<uintptr_t>(base)), path, MAX_PATH))
                return std::string();
            symLoadModule(GetCurrentProcess(), nullptr, path, nullptr, base, 0, nullptr, 0);
        }
        alignas(SYMBOL_INFO) char buffer[sizeof(SYMBOL_INFO) + 256] = {};
        auto* symbol = reinterpret_cast<SYMBOL_INFO*>(buffer);
        symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
        symbol->MaxNameLen = 255;
        DWORD64 displacement = 0;
        if (!symFromAddr(GetCurrentProcess(), address, &displacement, symbol)) return std::string();
        char offset[24];
        std::snprintf(offset, sizeof offset, "+0x%llX", static_cast<unsigned long long>(displacement));
        return std::string(symbol->Name, strnlen(symbol->Name, symbol->MaxNameLen)) + offset;
    }

    std::vector<CrashFrame> Walk(HANDLE thread, CONTEXT context) const {
        std::vector<CrashFrame> frames;
        if (!stackWalk) return frames;
        STACKFRAME64 frame{};
        DWORD machine = 0;
#if defined(_M_X64) || defined(__x86_64__)
        machine = IMAGE_FILE_MACHINE_AMD64;
        frame.AddrPC.Offset = context.Rip;
        frame.AddrFrame.Offset = context.Rbp;
        frame.AddrStack.Offset = context.Rsp;
#elif defined(_M_IX86) || defined(__i386__)
        machine = IMAGE_FILE_MACHINE_I386;
        frame.AddrPC.Offset = context.Eip;
        frame.AddrFrame.Offset = context.Ebp;
        frame.AddrStack.Offset = context.Esp;
#elif defined(_M_ARM64) || defined(__aarch64__)
        machine = IMAGE_FILE_MACHINE_ARM64;
        frame.AddrPC.Offset = context.Pc;
        frame.AddrFrame.Offset = context.Fp;
        frame.AddrStack.Offset = context.Sp;
#else
        return frames;
#endif
        frame.AddrPC.Mode = frame.AddrFrame.Mode = frame.AddrStack.Mode = AddrModeFlat;
        while (frames.size() < kMaxFrames && stackWalk(machine, GetCurrentProcess(), thread, &frame, &context,
                                                       nullptr, &FunctionTableOf, &ModuleBaseOf, nullptr)) {
            if (frame.AddrPC.Offset == 0) break;
            CrashFrame f;
            f.address = frame.AddrPC.Offset;
            ModuleOf(f.address, f.module, f.offset);
            f.symbol = SymbolAt(f.address);
            frames.push_back(std::move(f));
        }
        return frames;
    }
};

struct ThreadState {
    DWORD id = 0;
    HANDLE handle = nullptr;
    bool haveContext = false;
    std::unique_ptr<CONTEXT> context = std::make_unique<CONTEXT>();
};

// Every other thread is stopped only long enough to copy its registers: nothing that could need a lock
// another thread holds (the heap's, the loader's) runs while one is suspended. `skip` (the faulting
// thread) is left running: its registers come with the request.
std::vector<ThreadState> SnapshotThreads(DWORD skip) {
    std::vector<ThreadState> threads;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return threads;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    const DWORD pid = GetCurrentProcessId();
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != pid) continue;
        ThreadState state;
        state.id = entry.th32ThreadID;
        threads.push_back(std::move(state));
    }
    CloseHandle(snapshot);
    for (ThreadState& t : threads) {
        if (t.id == skip || t.id == GetCurrentThreadId()) continue;
        t.handle =
            OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, t.id);
        if (!t.handle) continue;
        t.context->ContextFlags = CONTEXT_FULL;
        if (SuspendThread(t.handle) != DWORD(-1)) {
            t.haveContext = GetThreadContext(t.handle, t.context.get()) != FALSE;
            ResumeThread(t.handle);
        }
    }
    return threads;
}

std::string VersionOf(const std::wstring& path) {
    unsigned parts[4] = {};
    if (!ReadFileVersion(path, parts)) return std::string();
    char text[48];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
    return text;
}

void AddModules(CrashReport& report) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId());
    if (snapshot == INVALID_HANDLE_VALUE) return;
    MODULEENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32FirstW(snapshot, &entry); more; more = Module32NextW(snapshot, &entry)) {
        CrashModule m;
        m.path = Narrow(entry.szExePath);
        m.base = reinterpret_cast<uintptr_t>(entry.modBaseAddr);
        m.size = entry.modBaseSize;
        m.version = VersionOf(entry.szExePath);
        report.modules.push_back(std::move(m));
    }
    CloseHandle(snapshot);
}

void AddProcesses(CrashReport& report) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        report.processes.push_back({entry.th32ProcessID, Narrow(entry.szExeFile)});
    CloseHandle(snapshot);
}

bool WriteMinidump(const DbgHelp& dbghelp, const Request& request, const std::wstring& path) {
    if (!dbghelp.miniDumpWriteDump || path.empty()) return false;
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    MINIDUMP_EXCEPTION_INFORMATION info{};
    info.ThreadId = request.threadId;
    info.ExceptionPointers = request.pointers;
    info.ClientPointers = FALSE;
    const auto type = static_cast<MINIDUMP_TYPE>(MiniDumpNormal | MiniDumpWithThreadInfo);
    const BOOL ok = dbghelp.miniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, type,
                                              request.pointers ? &info : nullptr, nullptr, nullptr);
    CloseHandle(file);
    if (!ok) DeleteFileW(path.c_str());
    return ok != FALSE;
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

std::string ModuleAndOffset(const CrashReport& report) {
    if (report.module.empty()) return "(no module)";
    char hex[24];
    std::snprintf(hex, sizeof hex, "%llX", static_cast<unsigned long long>(report.offset));
    return report.module + "+0x" + hex;
}

std::vector<uint64_t> AccessInfo(const EXCEPTION_RECORD* record) {
    std::vector<uint64_t> info;
    for (DWORD i = 0; record && i < record->NumberParameters && i < 2; ++i)
        info.push_back(record->ExceptionInformation[i]);
    return info;
}

// The exception's own part of the report (time, versions, exception, code bytes, where it was thrown
// without symbols): cheap and safe.
CrashReport DescribeRequest(const Request& request) {
    CrashReport report;
    report.time = TimeText();
    report.programVersion = Utf16ToUtf8(GetFileVersionText(u"%d.%d.%d.%d"));
    report.windowsVersion = WindowsVersionText();
    report.structured = request.structured;
    report.threadId = request.threadId;
    const EXCEPTION_RECORD* record = request.pointers ? request.pointers->ExceptionRecord : nullptr;
    if (record) {
        report.code = record->ExceptionCode;
        report.address = reinterpret_cast<uintptr_t>(record->ExceptionAddress);
    }
    ModuleOf(report.address, report.module, report.offset);
    if (request.structured) {
        report.type = ExceptionCodeName(report.code);
        report.message =
            StructuredMessage(report.code, report.address, ModuleAndOffset(report), AccessInfo(record));
    } else {
        report.type = request.type ? request.type : "";
        report.message = request.message ? request.message : "";
    }
    for (unsigned i = 0; i < request.thrownAtCount; ++i) {
        CrashFrame frame;
        frame.address = reinterpret_cast<uintptr_t>(request.thrownAt[i]);
        ModuleOf(frame.address, frame.module, frame.offset);
        report.thrownAt.push_back(std::move(frame));
    }
    ReadCode(report);
    return report;
}

// Adds threads, modules, processes and symbols, and names the minidump when one is written.
void CollectProcessState(const Request& request, CrashReport& report, bool dump) {
    const DbgHelp dbghelp;
    for (CrashFrame& frame : report.thrownAt) frame.symbol = dbghelp.SymbolAt(frame.address);
    std::vector<ThreadState> threads = SnapshotThreads(request.threadId);
    for (ThreadState& t : threads) {
        CrashThread out;
        out.id = t.id;
        if (t.id == request.threadId && request.pointers && request.pointers->ContextRecord) {
            out.faulting = true;
            out.registers = RegistersOf(*request.pointers->ContextRecord);
            out.frames = dbghelp.Walk(GetCurrentThread(), *request.pointers->ContextRecord);
        } else if (t.id == GetCurrentThreadId()) {
            out.note = "writes this report";
        } else if (t.haveContext) {
            out.registers = RegistersOf(*t.context);
            out.frames = dbghelp.Walk(t.handle, *t.context);
        } else {
            out.note = "registers not readable";
        }
        if (t.handle) CloseHandle(t.handle);
        report.threads.push_back(std::move(out));
    }
    AddModules(report);
    AddProcesses(report);
    // Named as the user's folder, not by the user's path: the dump itself stays on the machine.
    if (dump) report.minidump = "%LOCALAPPDATA%\\Tarnell\\tarnell.dmp";
}

// ----- the report file -------------------------------------------------------------------------------

// At most the file's cap, from its end: a huge or foreign file costs no more than that.
std::string ReadReportTail(const wchar_t* path) {
    std::string text;
    HANDLE in = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in == INVALID_HANDLE_VALUE) return text;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(in, &size)) {
        const LONGLONG cap = LONGLONG(kCrashFileCap);
        LARGE_INTEGER from{};
        from.QuadPart = size.QuadPart > cap ? size.QuadPart - cap : 0;
        if (SetFilePointerEx(in, from, nullptr, FILE_BEGIN)) {
            text.resize(size_t(size.QuadPart - from.QuadPart));
            DWORD read = 0;
            size_t done = 0;
            while (done < text.size() &&
                   ReadFile(in, text.data() + done, DWORD(text.size() - done), &read, nullptr) && read > 0)
                done += read;
            text.resize(done);
        }
    }
    CloseHandle(in);
    return text;
}

bool WriteWhole(HANDLE file, const std::string& contents) {
    DWORD written = 0;
    return WriteFile(file, contents.data(), DWORD(contents.size()), &written, nullptr) &&
           written == contents.size();
}

// Written beside and moved over, so a crash while writing never leaves half a file. While someone else
// has the file open (a viewer, a scanner) it cannot be replaced: then it is rewritten in place, as its
// sharing allows, rather than the report being lost.
void ReplaceReportFile(const wchar_t* path, const std::string& contents) {
    const std::wstring temporary = std::wstring(path) + L".new";
    HANDLE out = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out != INVALID_HANDLE_VALUE) {
        const bool ok = WriteWhole(out, contents);
        CloseHandle(out);
        if (ok && MoveFileExW(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING)) return;
        DeleteFileW(temporary.c_str());
    }
    HANDLE in = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in == INVALID_HANDLE_VALUE) return;
    if (WriteWhole(in, contents)) SetEndOfFile(in);
    CloseHandle(in);
}

// Appends the report to bugreport.txt within its cap; returns the report as filed.
std::string FileReport(const std::string& report) {
    const std::string filed = CappedReport(report);
    try {
        if (!g_reportFile[0]) return filed;
        const std::wstring folder = CrashFolder();  // made if need be
        std::lock_guard<std::mutex> guard(g_fileLock);
        ReplaceReportFile(g_reportFile, AppendCapped(ReadReportTail(g_reportFile), report));
    } catch (...) {
    }
    return filed;
}

// Takes a report that was sent out of the file again.
void ForgetReport(const std::string& filed) {
    try {
        if (!g_reportFile[0]) return;
        std::lock_guard<std::mutex> guard(g_fileLock);
        std::string contents = ReadReportTail(g_reportFile);
        if (RemoveFiledReport(contents, filed)) ReplaceReportFile(g_reportFile, contents);
    } catch (...) {
    }
}

// The program's one HTTP client: the user's proxy, and a limit on every phase, the wait for the response
// included, so an endpoint that takes the report and never answers cannot hold it.
bool PostReport(const std::string& report) {
    const CrashSettings& settings = Settings();
    if (!IsShellSafeUrl(settings.reportUrl)) return false;
    HttpRequest request;
    request.url = settings.reportUrl;
    request.method = L"POST";
    request.headers = {{u"Content-Type", u"text/plain; charset=utf-8"}};
    request.body = report;
    request.agent = u"Tarnell crash report";
    request.timeoutMs = settings.sendTimeoutMs;
    // The report (machine details included) goes to the endpoint's own host only: a redirect elsewhere
    // is a failed send, and the report stays filed.
    request.sameHostRedirectsOnly = true;
    HttpResponse response;
    return SendHttpRequest(request, response) && response.status >= 200 && response.status < 300;
}

// ----- one report --------------------------------------------------------------------------------

// One report in the making. It owns copies of everything the request pointed at, so the thread that
// asked for it may go on (or away) at once.
struct ReportJob {
    EXCEPTION_RECORD record{};
    std::unique_ptr<CONTEXT> context = std::make_unique<CONTEXT>();
    EXCEPTION_POINTERS pointers{};
    std::string type, message;
    std::vector<const void*> thrownAt;
    Request request;
    bool dump = false;
    ScopedHandle textReady{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::string text;

    ReportJob(const Request& from, bool withDump) : dump(withDump) {
        const EXCEPTION_POINTERS* p = from.pointers;
        if (p && p->ExceptionRecord) record = *p->ExceptionRecord;
        record.ExceptionRecord = nullptr;
        if (p && p->ContextRecord) *context = *p->ContextRecord;
        pointers = {&record, context.get()};
        type = from.type ? from.type : "";
        message = from.message ? from.message : "";
        if (from.thrownAt) thrownAt.assign(from.thrownAt, from.thrownAt + from.thrownAtCount);
        request = from;
        request.pointers = &pointers;
        request.type = type.c_str();
        request.message = message.c_str();
        request.thrownAt = thrownAt.data();
        request.thrownAtCount = unsigned(thrownAt.size());
    }
};

// On the builder thread: the text first, handed out as soon as it exists, then the minidump.
DWORD WINAPI BuildThread(void* param) {
    const std::unique_ptr<std::shared_ptr<ReportJob>> holder(static_cast<std::shared_ptr<ReportJob>*>(param));
    ReportJob& job = **holder;
    const BuilderMark mark;
    {
        std::lock_guard<std::mutex> guard(g_buildLock);
        CrashReport report = DescribeRequest(job.request);
        CollectProcessState(job.request, report, job.dump && g_reportFile[0]);
        job.text = FormatCrashReport(report);
    }
    SetEvent(job.textReady.get());
    if (!job.dump || !g_reportFile[0]) return 0;
    // A minidump only where the process ends: it takes seconds under dbghelp's own lock, and a handled
    // error's report must not wait behind it.
    std::lock_guard<std::mutex> dumping(g_dumpLock);
    ResetEvent(g_noDump);
    const std::wstring folder = CrashFolder();
    if (!folder.empty()) WriteMinidump(DbgHelp(false), job.request, folder + L"\\" + kDumpName);
    SetEvent(g_noDump);
    return 0;
}

// Supervises one builder, files what it made, then sends it: a builder that faults (see the top-level
// filter) or hangs is given up on, and the exception's own part is filed and sent instead.
void RunReport(const std::shared_ptr<ReportJob>& job) {
    auto* builderShare = new std::shared_ptr<ReportJob>(job);
    ScopedHandle builder(CreateThread(nullptr, 0, BuildThread, builderShare, 0, nullptr));
    if (!builder) delete builderShare;
    bool ready = false;
    if (builder) {
        HANDLE waits[2] = {job->textReady.get(), builder.get()};
        WaitForMultipleObjects(2, waits, FALSE, kBuildTimeoutMs);
        ready = WaitForSingleObject(job->textReady.get(), 0) == WAIT_OBJECT_0;
    }
    const std::string text = ready ? job->text : FormatCrashReport(DescribeRequest(job->request));
    const std::string filed = FileReport(text);
    if (PostReport(text)) ForgetReport(filed);
}

}  // namespace

bool IsBuilderThread(DWORD id) {
    for (auto& builder : g_builders)
        if (builder.load() == id) return true;
    return false;
}

void StartReport(const Request& request, bool dump) {
    auto job = std::make_shared<ReportJob>(request, dump);
    ScopedHandle worker = StartWorker([job] {
        try {
            RunReport(job);
        } catch (...) {
        }
    });
    if (!worker) FileReport(FormatCrashReport(DescribeRequest(job->request)));
}

std::string StructuredMessageOf(const Request& request) {
    const EXCEPTION_RECORD* record = request.pointers ? request.pointers->ExceptionRecord : nullptr;
    CrashReport where;
    where.address = record ? reinterpret_cast<uintptr_t>(record->ExceptionAddress) : 0;
    ModuleOf(where.address, where.module, where.offset);
    return StructuredMessage(record ? record->ExceptionCode : 0, where.address, ModuleAndOffset(where),
                             AccessInfo(record));
}

void WaitForDump(ULONGLONG deadline) {
    const ULONGLONG now = GetTickCount64();
    if (g_noDump && now < deadline) WaitForSingleObject(g_noDump, DWORD(deadline - now));
}

const wchar_t* ReportFilePath() {
    return g_reportFile;
}

void SetReportFilePath() {
    g_noDump = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    // From the environment, not the shell: the fatal path may use it without loading anything, and
    // shell32 need not be loaded at start-up.
    // A process started with an empty environment asks the shell, loaded here by hand (it is a delayed
    // import elsewhere, and a failed delayed load would raise an exception of its own).
    wchar_t base[MAX_PATH] = {};
    DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", base, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        n = 0;
        using KnownFolderFn = HRESULT(WINAPI*)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*);
        HMODULE shell = LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        auto knownFolder = shell ? reinterpret_cast<KnownFolderFn>(
                                       reinterpret_cast<void*>(GetProcAddress(shell, "SHGetKnownFolderPath")))
                                 : nullptr;
        PWSTR path = nullptr;
        if (knownFolder && SUCCEEDED(knownFolder(FOLDERID_LocalAppData, 0, nullptr, &path)) && path &&
            lstrlenW(path) < MAX_PATH) {
            lstrcpynW(base, path, MAX_PATH);
            n = DWORD(lstrlenW(base));
        }
        CoTaskMemFree(path);
    }
    if (n > 0 && n + 32 < MAX_PATH) {
        lstrcpynW(g_reportFile, base, MAX_PATH);
        lstrcatW(g_reportFile, L"\\Tarnell\\bugreport.txt");
    }
}

}  // namespace crash

std::wstring CrashFolder() {
    const wchar_t* file = crash::ReportFilePath();
    if (!file[0]) return std::wstring();
    std::wstring folder(file);
    folder.resize(folder.rfind(L'\\'));
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return std::wstring();
    return folder;
}

}  // namespace tarnell
