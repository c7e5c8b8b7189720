// Names the owners of a process's memory, from the Windows side, for bench/private_bytes.py: one line per
// range, "START END OWNER" (hexadecimal addresses, END exclusive), for thread stacks, heaps, images and
// what else is committed.
//
//   memory_regions.exe PID
//   memory_regions.exe --name EXE    prints the id of the newest process of that name
#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Range {
    uintptr_t start, end;
    std::string owner;
};

std::string Narrow(const wchar_t* text) {
    std::string out;
    for (; *text; ++text) out.push_back(*text < 128 ? char(*text) : '?');
    return out;
}

// Every thread's stack reservation, read from its TEB (DeallocationStack .. StackBase).
void AddThreadStacks(HANDLE process, DWORD pid, std::vector<Range>& out) {
    using QueryThread = LONG(WINAPI*)(HANDLE, THREADINFOCLASS, PVOID, ULONG, PULONG);
    struct BasicInformation {
        LONG exitStatus;
        PVOID tebBase;
        CLIENT_ID clientId;
        ULONG_PTR affinity;
        LONG priority, basePriority;
    };
    const auto query = reinterpret_cast<QueryThread>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread")));
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (!query || snapshot == INVALID_HANDLE_VALUE) return;
    THREADENTRY32 entry{sizeof entry};
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != pid) continue;
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
        if (!thread) continue;
        BasicInformation info{};
        if (query(thread, static_cast<THREADINFOCLASS>(0), &info, sizeof info, nullptr) == 0 &&
            info.tebBase) {
            NT_TIB tib{};
            uintptr_t deallocation = 0;
            // DeallocationStack sits at 0x1478 in the 64-bit TEB.
            if (ReadProcessMemory(process, info.tebBase, &tib, sizeof tib, nullptr) &&
                ReadProcessMemory(process, static_cast<char*>(info.tebBase) + 0x1478, &deallocation,
                                  sizeof deallocation, nullptr)) {
                const uintptr_t low = deallocation ? deallocation : uintptr_t(tib.StackLimit);
                out.push_back(
                    {low, uintptr_t(tib.StackBase), "thread stack " + std::to_string(entry.th32ThreadID)});
            }
            out.push_back({uintptr_t(info.tebBase), uintptr_t(info.tebBase) + 0x2000, "thread TEB"});
        }
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
}

// The process heaps named in its PEB (ProcessHeaps at 0xF0, NumberOfHeaps at 0xE8 in the 64-bit PEB);
// each heap's whole allocation is attributed to it.
void AddHeaps(HANDLE process, std::vector<uintptr_t>& heaps) {
    PROCESS_BASIC_INFORMATION info{};
    if (NtQueryInformationProcess(process, ProcessBasicInformation, &info, sizeof info, nullptr) != 0) return;
    ULONG count = 0;
    uintptr_t array = 0;
    const char* peb = reinterpret_cast<const char*>(info.PebBaseAddress);
    if (!ReadProcessMemory(process, peb + 0xE8, &count, sizeof count, nullptr) ||
        !ReadProcessMemory(process, peb + 0xF0, &array, sizeof array, nullptr) || count > 4096)
        return;
    heaps.resize(count);
    if (count && !ReadProcessMemory(process, reinterpret_cast<void*>(array), heaps.data(),
                                    count * sizeof(uintptr_t), nullptr))
        heaps.clear();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wstring(argv[1]) == L"--name") {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32W entry{sizeof entry};
        DWORD found = 0;
        for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
            if (_wcsicmp(entry.szExeFile, argv[2]) == 0) found = entry.th32ProcessID;
        CloseHandle(snapshot);
        if (!found) return 1;
        std::printf("%lu\n", found);
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: memory_regions PID | memory_regions --name EXE\n");
        return 2;
    }
    const DWORD pid = DWORD(_wtoi(argv[1]));
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process) {
        std::fprintf(stderr, "cannot open process %lu\n", pid);
        return 1;
    }
    std::vector<Range> ranges;
    AddThreadStacks(process, pid, ranges);
    std::vector<uintptr_t> heaps;
    AddHeaps(process, heaps);

    // Then every committed region by what it belongs to: an image (module path), a heap (its allocation
    // base is a process heap), a mapped file, or other private memory.
    MEMORY_BASIC_INFORMATION mbi{};
    for (uintptr_t address = 0; VirtualQueryEx(process, reinterpret_cast<void*>(address), &mbi, sizeof mbi);
         address = uintptr_t(mbi.BaseAddress) + mbi.RegionSize) {
        if (mbi.RegionSize == 0) break;
        if (mbi.State != MEM_COMMIT) continue;
        const uintptr_t start = uintptr_t(mbi.BaseAddress), end = start + mbi.RegionSize;
        std::string owner = "other private";
        if (mbi.Type == MEM_IMAGE || mbi.Type == MEM_MAPPED) {
            wchar_t path[MAX_PATH] = {};
            owner = (mbi.Type == MEM_IMAGE ? "image " : "mapped ") +
                    (GetMappedFileNameW(process, mbi.BaseAddress, path, MAX_PATH) ? Narrow(path)
                                                                                  : std::string("?"));
        } else {
            for (uintptr_t heap : heaps)
                if (uintptr_t(mbi.AllocationBase) == heap) owner = "heap";
        }
        ranges.push_back({start, end, owner});
    }
    // Stacks first: a stack lies inside "other private" regions, and the first range that holds an address
    // names it.
    for (const Range& r : ranges)
        std::printf("%llx %llx %s\n", static_cast<unsigned long long>(r.start),
                    static_cast<unsigned long long>(r.end), r.owner.c_str());
    CloseHandle(process);
    return 0;
}
