// DLLs planted beside the program under the names it uses are never loaded.
#include "program_robustness_win32.h"

using namespace tarnell;
using namespace tarnell::e2e;

namespace {

// The DLL names in a PE file's import directory (loaded by the system before the program's first line).
std::vector<std::string> StaticImports(const std::wstring& exe) {
    const std::string image = ReadWholeFile(exe);
    REQUIRE(image.size() > sizeof(IMAGE_DOS_HEADER));
    IMAGE_DOS_HEADER dos;
    std::memcpy(&dos, image.data(), sizeof dos);
    REQUIRE(size_t(dos.e_lfanew) + sizeof(IMAGE_NT_HEADERS64) <= image.size());
    IMAGE_NT_HEADERS64 nt;
    std::memcpy(&nt, image.data() + dos.e_lfanew, sizeof nt);
    REQUIRE(nt.OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC);
    const size_t sectionsAt = size_t(dos.e_lfanew) + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                              nt.FileHeader.SizeOfOptionalHeader;
    std::vector<IMAGE_SECTION_HEADER> sections(nt.FileHeader.NumberOfSections);
    REQUIRE(sectionsAt + sections.size() * sizeof(IMAGE_SECTION_HEADER) <= image.size());
    std::memcpy(sections.data(), image.data() + sectionsAt, sections.size() * sizeof(IMAGE_SECTION_HEADER));
    auto offsetOf = [&](DWORD rva) -> size_t {
        for (const IMAGE_SECTION_HEADER& s : sections)
            if (rva >= s.VirtualAddress &&
                rva < s.VirtualAddress + std::max(s.Misc.VirtualSize, s.SizeOfRawData))
                return size_t(rva - s.VirtualAddress + s.PointerToRawData);
        FAIL("import RVA outside every section");
        return 0;
    };
    std::vector<std::string> names;
    const IMAGE_DATA_DIRECTORY& dir = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return names;
    for (size_t at = offsetOf(dir.VirtualAddress);; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        REQUIRE(at + sizeof(IMAGE_IMPORT_DESCRIPTOR) <= image.size());
        IMAGE_IMPORT_DESCRIPTOR d;
        std::memcpy(&d, image.data() + at, sizeof d);
        if (d.Name == 0) break;
        names.push_back(Lower(image.c_str() + offsetOf(d.Name)));
    }
    return names;
}

std::wstring Widened(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

std::vector<std::string> MarkersIn(const std::wstring& dir) {
    std::vector<std::string> found;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\*.loaded").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return found;
    do found.push_back(Narrow(data.cFileName));
    while (FindNextFileW(find, &data));
    FindClose(find);
    return found;
}

}  // namespace

TEST_CASE("program: DLLs planted beside the program are never loaded") {
    // What the loader resolves before the program's first line: only KnownDLLs, which Windows always takes
    // from System32 (the list under HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs).
    const std::wstring original = PathFromEnv("TARNELL_PROGRAM");
    const std::vector<std::string> known = {"kernel32.dll", "user32.dll",  "gdi32.dll",    "advapi32.dll",
                                            "msvcrt.dll",   "ole32.dll",   "oleaut32.dll", "shell32.dll",
                                            "ws2_32.dll",   "shlwapi.dll", "comdlg32.dll", "imm32.dll"};
    for (const std::string& name : StaticImports(original)) {
        CAPTURE(name);
        CHECK(std::find(known.begin(), known.end(), name) != known.end());
    }

    // A download folder: a copy of the program beside a planted DLL under each name the program loads
    // itself. version.dll is left out: Wine's own user32 imports it, so under Wine it is loaded before
    // any line of the program runs (Windows' user32 does not). The search order is Windows' own: the
    // planted name preferred to Wine's built-in one.
    const std::vector<std::string> planted = {"winhttp",  "iphlpapi", "gdiplus",
                                              "comctl32", "dwmapi",   "netshell"};
    const std::wstring dir = PathFromEnv("TARNELL_PLANT_DIR");
    CreateDirectoryW(dir.c_str(), nullptr);
    for (const std::string& found : MarkersIn(dir)) DeleteFileW((dir + L"\\" + Widened(found)).c_str());
    const std::wstring program = dir + L"\\tarnell.exe";
    REQUIRE(CopyFileW(original.c_str(), program.c_str(), FALSE));
    const std::wstring plant = PathFromEnv("TARNELL_PLANTED_DLL");
    std::wstring overrides;
    for (const std::string& name : planted) {
        REQUIRE(CopyFileW(plant.c_str(), (dir + L"\\" + Widened(name) + L".dll").c_str(), FALSE));
        overrides += (overrides.empty() ? L"" : L",") + Widened(name);
    }
    overrides += L"=n,b";
    // Set for the whole test (TARNELL_WINEDLLOVERRIDES): Wine takes the static imports' load order from
    // the environment the process was started with on the Unix side.
    const char* wineOverrides = std::getenv("WINEDLLOVERRIDES");
    REQUIRE(wineOverrides);
    REQUIRE(Widened(wineOverrides).find(overrides) != std::wstring::npos);

    // The planted DLL shows when it is loaded.
    {
        const std::wstring probe = dir + L"\\probe.dll";
        REQUIRE(CopyFileW(plant.c_str(), probe.c_str(), FALSE));
        HMODULE loaded = LoadLibraryW(probe.c_str());
        REQUIRE(loaded);
        FreeLibrary(loaded);
        CHECK(MarkersIn(dir) == std::vector<std::string>{"probe.dll.loaded"});
        DeleteFileW((probe + L".loaded").c_str());
        DeleteFileW(probe.c_str());
    }

    // Every feature that loads one of them: the window (GDI+, DWM, common controls), discovery (IP
    // Helper), the service check and the probe (WinHTTP), connection cycling (netshell), a link.
    Loopback loopback;
    RecordingShell shell;
    const std::string base = BaseUrl();
    loopback.SetServiceAnswer("{\"notify\":\"" + base + "/planted\"}");
    loopback.SetProbeMode("answer");
    ForgetSettings();
    const size_t logStart = loopback.Size();
    {
        Program copy(program);
        REQUIRE(copy.WaitForWindow());
        CHECK(WaitUntil([&] { return loopback.Count(logStart, "/api.init.php") >= 1; }, 20000));
        HWND notice = nullptr;
        CHECK(WaitUntil([&] { return (notice = copy.NoticeLine()) != nullptr; }, 10000));
        if (notice) {
            RECT r;
            GetClientRect(notice, &r);
            const LPARAM at = MAKELPARAM(r.right / 2, r.bottom / 2);
            PostMessageW(notice, WM_LBUTTONDOWN, MK_LBUTTON, at);
            PostMessageW(notice, WM_LBUTTONUP, 0, at);
            CHECK(WaitUntil([&] { return shell.Targets().size() >= 1; }, 10000));
            CHECK(shell.Targets() == std::vector<std::string>{base + "/planted"});
        }
        HWND start = copy.Control(u"BtnStart");
        REQUIRE(start);
        Click(start);
        CHECK(WaitUntil([&] { return TextOf(start) == "Running" && IsWindowEnabled(start); }, 20000));
        CHECK(loopback.Count(logStart, "/generate_204") >= 1);
        Click(start);
        CHECK(WaitUntil([&] { return TextOf(start) == "Run" && IsWindowEnabled(start); }, 20000));
        PostMessageW(copy.form, WM_CLOSE, 0, 0);
        DWORD code = 1;
        CHECK(copy.WaitForExit(15000, &code));
        CHECK(code == 0);
    }
    CHECK_FALSE(CrashHandlerRunning());
    std::string markers;
    for (const std::string& marker : MarkersIn(dir)) markers += marker + " ";
    CHECK(markers == "");
    ForgetSettings();
}
