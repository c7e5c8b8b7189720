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
#include "base/log_win32.h"
#include "base/own_files_win32.h"
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

ReportFolders g_folders;    // worked out at installation
std::mutex g_fileLock;      // one change of the report files at a time
std::mutex g_buildLock;     // dbghelp's symbols serve one caller at a time
std::mutex g_dumpLock;      // one minidump is written at a time
HANDLE g_noDump = nullptr;  // set while no minidump is being written
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

// Written to a new file of its own and then moved over tarnell.dmp: nothing planted under either name is
// written through. Where tarnell.dmp cannot be replaced the dump keeps its own name beside it.
bool WriteMinidump(const DbgHelp& dbghelp, const Request& request) {
    if (!dbghelp.miniDumpWriteDump) return false;
    OwnFolder folder;
    if (!OpenReportFolder(folder)) return false;
    wchar_t fresh[MAX_PATH];
    HANDLE file = folder.CreateUnique(L"tarnell", L".dmp", fresh);
    if (file == INVALID_HANDLE_VALUE) return false;
    MINIDUMP_EXCEPTION_INFORMATION info{};
    info.ThreadId = request.threadId;
    info.ExceptionPointers = request.pointers;
    info.ClientPointers = FALSE;
    const auto type = static_cast<MINIDUMP_TYPE>(MiniDumpNormal | MiniDumpWithThreadInfo);
    const BOOL ok = dbghelp.miniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, type,
                                              request.pointers ? &info : nullptr, nullptr, nullptr);
    CloseHandle(file);
    if (!ok) {
        folder.Remove(fresh);
        return false;
    }
    folder.MoveOver(fresh, kDumpName);
    return true;
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
    LogTail(report.logTail);  // never waits: a log held at this moment leaves the section out
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

std::string DumpPlace();

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
    // Named by the folder, not by the user's path: the dump itself stays on the machine.
    if (dump) report.minidump = DumpPlace();
}

// ----- the report files -----------------------------------------------------------------------------

// What the report names as the minidump's place: the folder it will go to as the user knows it.
std::string DumpPlace() {
    OwnFolder folder;
    const int which = OpenReportFolder(folder);
    if (which == 1) return "%LOCALAPPDATA%\\Tarnell\\tarnell.dmp";
    if (which == 2) return "%ProgramData%\\Tarnell\\tarnell.dmp";
    return std::string();
}

// At most the file's cap, from its end, and only from an ordinary file of the folder's own: a link
// planted under the name is never read (it could make the report carry another file to the endpoint).
std::string ReadReportTail(const OwnFolder& folder, const wchar_t* name) {
    std::string text;
    HANDLE in = folder.OpenFile(name, false);
    if (in == INVALID_HANDLE_VALUE) return text;
    text.resize(kCrashFileCap);
    text.resize(ReadFileTail(in, kCrashFileCap, text.data(), text.size()));
    CloseHandle(in);
    return text;
}

// Where a report was filed, so that it can be taken out again once sent.
struct FiledReport {
    std::string text;  // as filed (capped)
    int folder = 0;    // 1: %LOCALAPPDATA%\Tarnell, 2: %ProgramData%\Tarnell, 0: nowhere
    wchar_t name[MAX_PATH] = {};
};

// Appends the report to bugreport.txt within its cap. When bugreport.txt cannot take it (a folder, held
// open, read-only), the whole text goes to a second file beside it; when the user's folder cannot be used
// at all, to the program's own folder under %ProgramData%.
FiledReport FileReport(const std::string& report) {
    FiledReport filed;
    filed.text = CappedReport(report);
    try {
        std::lock_guard<std::mutex> guard(g_fileLock);
        for (int which = 1; which <= 2; ++which) {
            OwnFolder folder;
            if (!OpenReportFolder(folder, which)) continue;
            const std::string contents = AppendCapped(ReadReportTail(folder, kReportName), report);
            if (folder.Replace(kReportName, contents.data(), contents.size(), kReportStem, L".txt",
                               filed.name)) {
                filed.folder = which;
                break;
            }
        }
    } catch (...) {
    }
    return filed;
}

// Takes a report that was sent out of its file again; a second file left empty goes.
void ForgetReport(const FiledReport& filed) {
    try {
        if (!filed.folder) return;
        std::lock_guard<std::mutex> guard(g_fileLock);
        OwnFolder folder;
        if (!OpenReportFolder(folder, filed.folder)) return;
        std::string contents = ReadReportTail(folder, filed.name);
        if (!RemoveFiledReport(contents, filed.text)) return;
        if (contents.empty() && lstrcmpiW(filed.name, kReportName) != 0) {
            folder.Remove(filed.name);
            return;
        }
        wchar_t used[MAX_PATH];
        folder.Replace(filed.name, contents.data(), contents.size(), kReportStem, L".txt", used);
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
        CollectProcessState(job.request, report, job.dump);
        job.text = FormatCrashReport(report);
    }
    SetEvent(job.textReady.get());
    if (!job.dump) return 0;
    // A minidump only where the process ends: it takes seconds under dbghelp's own lock, and a handled
    // error's report must not wait behind it.
    std::lock_guard<std::mutex> dumping(g_dumpLock);
    ResetEvent(g_noDump);
    WriteMinidump(DbgHelp(false), job.request);
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
    const FiledReport filed = FileReport(text);
    Log(filed.folder == 0 ? u"crash report: could not be filed" : u"crash report filed");
    const bool sent = PostReport(text);
    Log(sent ? u"crash report sent" : u"crash report not sent: kept where it was filed");
    if (sent) ForgetReport(filed);
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

int OpenReportFolder(OwnFolder& folder, int which) {
    if ((which == 0 || which == 1) && g_folders.user[0] && folder.Open(g_folders.user)) return 1;
    if ((which == 0 || which == 2) && g_folders.machine[0] &&
        folder.Open(g_folders.machine, &g_folders.adminsOnly))
        return 2;
    return 0;
}

void SetReportFolders(const wchar_t* localAppData, const wchar_t* programData) {
    auto place = [](const wchar_t* base, wchar_t* out) {
        out[0] = 0;
        // Only a local folder: a share, a device path or a relative path from the environment is not
        // where the elevated program writes.
        if (!base || !IsLocalAbsolutePath(base) || lstrlenW(base) + 48 >= MAX_PATH) return;
        lstrcpynW(out, base, MAX_PATH);
        const int n = lstrlenW(out);
        if (n > 0 && out[n - 1] == L'\\') out[n - 1] = 0;
        lstrcatW(out, L"\\Tarnell");
    };
    place(localAppData, g_folders.user);
    place(programData, g_folders.machine);
}

namespace {

// %ProgramData% as the machine has it (not as the user's environment may say): the profile list's value,
// where %SystemDrive% is the Windows folder's drive; the Windows folder's drive otherwise.
void MachineProgramData(wchar_t* out) {
    wchar_t windows[MAX_PATH] = {};
    const UINT w = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    out[0] = 0;
    if (w < 3 || w >= MAX_PATH || !IsLocalAbsolutePath(windows)) return;
    wchar_t value[MAX_PATH] = {};
    DWORD bytes = sizeof value - sizeof(wchar_t), type = 0;
    HKEY key = nullptr;
    bool read = false;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
        read = RegQueryValueExW(key, L"ProgramData", nullptr, &type, reinterpret_cast<BYTE*>(value),
                                &bytes) == ERROR_SUCCESS &&
               (type == REG_SZ || type == REG_EXPAND_SZ);
        RegCloseKey(key);
    }
    constexpr wchar_t kSystemDrive[] = L"%SystemDrive%";
    constexpr int kSystemDriveLength = sizeof kSystemDrive / sizeof(wchar_t) - 1;
    if (read && CompareStringOrdinal(value, kSystemDriveLength, kSystemDrive, kSystemDriveLength, TRUE) ==
                    CSTR_EQUAL) {
        out[0] = windows[0];
        out[1] = L':';
        lstrcpynW(out + 2, value + kSystemDriveLength, MAX_PATH - 2);
    } else if (read && IsLocalAbsolutePath(value) && !wcschr(value, L'%')) {
        lstrcpynW(out, value, MAX_PATH);
    } else {
        out[0] = windows[0];
        lstrcpynW(out + 1, L":\\ProgramData", MAX_PATH - 1);
    }
}

// Owner and every right: the administrators and the system; nobody else, nothing inherited from above,
// and the same for everything made inside.
void BuildAdminsOnly(ReportFolders& folders) {
    DWORD size = sizeof folders.administrators;
    CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, folders.administrators, &size);
    size = sizeof folders.system;
    CreateWellKnownSid(WinLocalSystemSid, nullptr, folders.system, &size);
    auto* acl = reinterpret_cast<ACL*>(folders.acl);
    InitializeAcl(acl, sizeof folders.acl, ACL_REVISION);
    AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS,
                          folders.administrators);
    AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS,
                          folders.system);
    InitializeSecurityDescriptor(&folders.adminsOnly, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorOwner(&folders.adminsOnly, folders.administrators, FALSE);
    SetSecurityDescriptorDacl(&folders.adminsOnly, TRUE, acl, FALSE);
    SetSecurityDescriptorControl(&folders.adminsOnly, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

}  // namespace

void SetReportFilePath() {
    g_noDump = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    BuildAdminsOnly(g_folders);
    // From the environment, not the shell: the fatal path may use it without loading anything, and
    // shell32 need not be loaded at start-up.
    // A process started with an empty environment asks the shell, loaded here by hand (it is a delayed
    // import elsewhere, and a failed delayed load would raise an exception of its own).
    wchar_t base[MAX_PATH] = {};
    DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", base, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        base[0] = 0;
        using KnownFolderFn = HRESULT(WINAPI*)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*);
        HMODULE shell = LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        auto knownFolder = shell ? reinterpret_cast<KnownFolderFn>(
                                       reinterpret_cast<void*>(GetProcAddress(shell, "SHGetKnownFolderPath")))
                                 : nullptr;
        PWSTR path = nullptr;
        if (knownFolder && SUCCEEDED(knownFolder(FOLDERID_LocalAppData, 0, nullptr, &path)) && path &&
            lstrlenW(path) < MAX_PATH)
            lstrcpynW(base, path, MAX_PATH);
        CoTaskMemFree(path);
    }
    wchar_t machine[MAX_PATH];
    MachineProgramData(machine);
    SetReportFolders(base, machine);
}

}  // namespace crash

}  // namespace tarnell
