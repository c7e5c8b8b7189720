// Collecting a crash report inside the crashed process. Everything here reads memory through
// ReadProcessMemory or the system's own snapshot functions, so a damaged stack or a freed module gives a
// shorter report, never a second fault. dbghelp is loaded from the system folder at run time.
// clang-format off
#include <windows.h>  // before <tlhelp32.h> and <dbghelp.h>
#include <tlhelp32.h>
#include <dbghelp.h>
// clang-format on

#include <cstdio>
#include <memory>

#include "base/file_version_win32.h"
#include "base/text.h"
#include "base/wide.h"
#include "crash/crash_internal_win32.h"
#include "crash/crash_win32.h"

namespace tarnell::crash {

namespace {

constexpr size_t kMaxFrames = 64;
constexpr uint64_t kCodeBefore = 16, kCodeAfter = 16;

std::string Narrow(const std::wstring& s) {
    return Utf16ToUtf8(FromWide(s));
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Module file name and offset for an address, without taking a reference on the module.
bool ModuleOf(uint64_t address, std::string& name, uint64_t& offset) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(static_cast<uintptr_t>(address)), &module) ||
        !module)
        return false;
    wchar_t path[MAX_PATH] = {};
    if (!GetModuleFileNameW(module, path, MAX_PATH)) return false;
    name = FileNameOf(Narrow(path));
    offset = address - reinterpret_cast<uintptr_t>(module);
    return true;
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
    using MiniDumpWriteDumpFn = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                              PMINIDUMP_EXCEPTION_INFORMATION,
                                              PMINIDUMP_USER_STREAM_INFORMATION,
                                              PMINIDUMP_CALLBACK_INFORMATION);

    HMODULE module = nullptr;
    SymInitializeFn symInitialize = nullptr;
    SymCleanupFn symCleanup = nullptr;
    SymSetOptionsFn symSetOptions = nullptr;
    StackWalk64Fn stackWalk = nullptr;
    PFUNCTION_TABLE_ACCESS_ROUTINE64 functionTableAccess = nullptr;
    PGET_MODULE_BASE_ROUTINE64 moduleBase = nullptr;
    SymFromAddrFn symFromAddr = nullptr;
    MiniDumpWriteDumpFn miniDumpWriteDump = nullptr;
    bool symbols = false;

    explicit DbgHelp(bool withSymbols = true) {
        module = LoadLibraryExW(L"dbghelp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!module) return;
        symInitialize = Get<SymInitializeFn>("SymInitialize");
        symCleanup = Get<SymCleanupFn>("SymCleanup");
        symSetOptions = Get<SymSetOptionsFn>("SymSetOptions");
        stackWalk = Get<StackWalk64Fn>("StackWalk64");
        functionTableAccess = Get<PFUNCTION_TABLE_ACCESS_ROUTINE64>("SymFunctionTableAccess64");
        moduleBase = Get<PGET_MODULE_BASE_ROUTINE64>("SymGetModuleBase64");
        symFromAddr = Get<SymFromAddrFn>("SymFromAddr");
        miniDumpWriteDump = Get<MiniDumpWriteDumpFn>("MiniDumpWriteDump");
        if (withSymbols && symInitialize && symSetOptions) {
            symSetOptions(SYMOPT_UNDNAME | SYMOPT_DEFERRED_LOADS | SYMOPT_FAIL_CRITICAL_ERRORS |
                          SYMOPT_NO_PROMPTS);
            symbols = symInitialize(GetCurrentProcess(), nullptr, TRUE) != FALSE;
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
        if (!symbols || !symFromAddr) return std::string();
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
                                                       nullptr, functionTableAccess, moduleBase, nullptr)) {
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
// another thread holds (the heap's, the loader's) runs while one is suspended.
std::vector<ThreadState> SnapshotThreads(DWORD skipA, DWORD skipB) {
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
        if (t.id == skipA || t.id == skipB || t.id == GetCurrentThreadId()) continue;
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

}  // namespace

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
        std::vector<uint64_t> info;
        for (DWORD i = 0; record && i < record->NumberParameters && i < 2; ++i)
            info.push_back(record->ExceptionInformation[i]);
        const std::string where =
            report.module.empty() ? std::string("(no module)") : report.module + "+0x" + [&] {
                char hex[24];
                std::snprintf(hex, sizeof hex, "%llX", static_cast<unsigned long long>(report.offset));
                return std::string(hex);
            }();
        report.type = ExceptionCodeName(report.code);
        report.message = StructuredMessage(report.code, report.address, where, info);
    } else {
        report.type = request.type ? request.type : "";
        report.message = request.message ? request.message : "";
    }
    ReadCode(report);
    return report;
}

void CollectProcessState(const Request& request, CrashReport& report, const std::wstring& dumpPath) {
    const DbgHelp dbghelp;
    std::vector<ThreadState> threads = SnapshotThreads(request.threadId, 0);
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
    report.minidump = Narrow(dumpPath);
}

bool WriteDump(const Request& request, const std::wstring& dumpPath) {
    const DbgHelp dbghelp(false);
    return WriteMinidump(dbghelp, request, dumpPath);
}

}  // namespace tarnell::crash
