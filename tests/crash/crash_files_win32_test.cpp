// Where a report is filed when %LOCALAPPDATA%\Tarnell holds what a user's own process planted there, or
// when %LOCALAPPDATA% itself cannot be used: nothing foreign is written through, and the report is always
// somewhere a reader finds it (bugreport.txt, a second bugreport-*.txt beside it, or the program's own
// folder under %ProgramData%). The report endpoint is a closed loopback port, so every report stays filed.
// The symbolic links are planted from outside by plant_links.sh (Wine's CreateSymbolicLinkW makes none).
#include <doctest/doctest.h>
#include <windows.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "../support/file_win32.h"
#include "../support/wait_win32.h"
#include "crash/crash_internal_win32.h"
#include "crash/crash_win32.h"

using namespace tarnell;
using test::ReadWholeFile;

namespace {

const std::wstring kRoot = L"C:\\tarnell-files-test";
const std::wstring kForeign = kRoot + L"\\foreign\\secret.bin";
const std::wstring kForeignFolderFile = kRoot + L"\\foreign\\folder\\bugreport.txt";

// 300,000 bytes no report looks like.
std::string ForeignBytes() {
    std::string bytes(300000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char('A' + (i * 7919) % 23);
    return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes, DWORD attributes = 0) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok =
        WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) && written == bytes.size();
    CloseHandle(file);
    if (attributes) SetFileAttributesW(path.c_str(), attributes);
    return ok;
}

enum class Place {
    UserFile,     // %LOCALAPPDATA%\Tarnell\bugreport.txt
    UserSecond,   // %LOCALAPPDATA%\Tarnell\bugreport-<unique>.txt
    MachineFile,  // %ProgramData%\Tarnell\bugreport.txt
};

const char* PlaceName(Place p) {
    switch (p) {
        case Place::UserFile:
            return "bugreport.txt";
        case Place::UserSecond:
            return "a second file beside bugreport.txt";
        case Place::MachineFile:
            return "%ProgramData%\\Tarnell\\bugreport.txt";
    }
    return "?";
}

// The files of a folder whose names match `pattern`.
std::vector<std::wstring> FilesLike(const std::wstring& folder, const std::wstring& pattern) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    HANDLE find = FindFirstFileW((folder + L"\\" + pattern).c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return names;
}

bool Holds(const std::wstring& path, const std::string& message) {
    return ReadWholeFile(path).find("\r\n  Message: " + message + "\r\n") != std::string::npos;
}

// Where the report with `message` was filed, if anywhere.
std::vector<Place> PlacesOf(const std::wstring& local, const std::wstring& machine,
                            const std::string& message) {
    std::vector<Place> places;
    const std::wstring user = local + L"\\Tarnell";
    if (Holds(user + L"\\bugreport.txt", message)) places.push_back(Place::UserFile);
    for (const std::wstring& name : FilesLike(user, L"bugreport-*.txt"))
        if (Holds(user + L"\\" + name, message)) places.push_back(Place::UserSecond);
    if (Holds(machine + L"\\Tarnell\\bugreport.txt", message)) places.push_back(Place::MachineFile);
    return places;
}

// The names and sizes of the report folders' files, read from the folders' listings: nothing is opened,
// so the wait cannot stand in the way of the file being replaced.
std::vector<std::pair<std::wstring, ULONGLONG>> Listing(const std::wstring& local,
                                                        const std::wstring& machine) {
    std::vector<std::pair<std::wstring, ULONGLONG>> files;
    for (const std::wstring& folder : {local + L"\\Tarnell", machine + L"\\Tarnell"}) {
        WIN32_FIND_DATAW found{};
        HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) continue;
        do {
            files.emplace_back(folder + L"\\" + found.cFileName,
                               (ULONGLONG(found.nFileSizeHigh) << 32) | found.nFileSizeLow);
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    return files;
}

bool Writing(const std::vector<std::pair<std::wstring, ULONGLONG>>& files) {
    for (const auto& f : files)
        if (f.first.size() > 4 && f.first.compare(f.first.size() - 4, 4, L".tmp") == 0) return true;
    return false;
}

void Report(const std::string& message) {
    try {
        throw std::runtime_error(message);
    } catch (...) {
        ReportHandledException(std::current_exception());
    }
}

}  // namespace

TEST_CASE("A report is filed where it is found, and never through anything planted in the folder") {
    InstallCrashReporting({u"http://127.0.0.1:9/except.php", u"http://127.0.0.1:9/error", nullptr, 2000});
    SetCrashHeadless(true);
    REQUIRE_MESSAGE(GetFileAttributesW((kRoot + L"\\foreign").c_str()) != INVALID_FILE_ATTRIBUTES,
                    "plant_links.sh has not run");
    const std::string foreign = ForeignBytes();
    REQUIRE(WriteFileBytes(kForeign, foreign));
    const std::string foreignReport = "=== Tarnell crash report ===\r\nsomeone else's file\r\n";
    REQUIRE(WriteFileBytes(kForeignFolderFile, foreignReport));
    const std::string oldReport = "=== Tarnell crash report ===\r\nan older report\r\n";

    HANDLE held = INVALID_HANDLE_VALUE;  // the "held open" case's handle, while its report is filed
    struct Case {
        const char* name;
        std::wstring folder;                                     // under kRoot
        std::function<void(const std::wstring& tarnell)> plant;  // on top of what plant_links.sh made
        Place expected;
        const char* local = nullptr;  // %LOCALAPPDATA% as given, when not <case>\Local
    };
    const std::wstring longBase = L"C:\\" + std::wstring(240, L'l');
    const Case cases[] = {
        {"a plain folder with an older report", L"plain",
         [&](const std::wstring& t) { REQUIRE(WriteFileBytes(t + L"\\bugreport.txt", oldReport)); },
         Place::UserFile},
        {"bugreport.txt a symbolic link to a foreign file", L"symlink", nullptr, Place::UserFile},
        {"the same and a folder named bugreport.txt.new", L"symlink-new",
         [](const std::wstring& t) {
             REQUIRE(CreateDirectoryW((t + L"\\bugreport.txt.new").c_str(), nullptr));
         },
         Place::UserFile},
        {"bugreport.txt a hard link to a foreign file", L"hardlink",
         [&](const std::wstring& t) {
             REQUIRE(CreateHardLinkW((t + L"\\bugreport.txt").c_str(), kForeign.c_str(), nullptr));
         },
         Place::UserFile},
        {"a folder named bugreport.txt", L"folder-named",
         [](const std::wstring& t) { REQUIRE(CreateDirectoryW((t + L"\\bugreport.txt").c_str(), nullptr)); },
         Place::UserSecond},
        {"bugreport.txt held open without sharing", L"locked",
         [&](const std::wstring& t) {
             REQUIRE(WriteFileBytes(t + L"\\bugreport.txt", oldReport));
             held = CreateFileW((t + L"\\bugreport.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr);
             REQUIRE(held != INVALID_HANDLE_VALUE);
         },
         Place::UserSecond},
        {"bugreport.txt read-only", L"read-only",
         [&](const std::wstring& t) {
             REQUIRE(WriteFileBytes(t + L"\\bugreport.txt", oldReport, FILE_ATTRIBUTE_READONLY));
         },
         Place::UserSecond},
        {"the Tarnell folder a link to a foreign folder", L"folder-link", nullptr, Place::MachineFile},
        {"%LOCALAPPDATA% too long", L"too-long", nullptr, Place::MachineFile, "long"},
        {"%LOCALAPPDATA% under a missing parent", L"missing", nullptr, Place::MachineFile, "missing"},
        {"%LOCALAPPDATA% on a share", L"share", nullptr, Place::MachineFile, "share"},
    };
    int number = 0;
    for (const Case& c : cases) {
        const std::string name = c.name;
        CAPTURE(name);
        const std::wstring root = kRoot + L"\\" + c.folder;
        std::wstring local = root + L"\\Local";
        const std::string given = c.local ? c.local : "";
        if (given == "long") local = longBase + L"\\Local";
        if (given == "missing") local = root + L"\\no such parent\\Local";
        if (given == "share") local = L"\\\\127.0.0.1\\tarnell-share\\Local";
        const std::wstring machine = root + L"\\ProgramData";
        CreateDirectoryW(root.c_str(), nullptr);
        CreateDirectoryW(machine.c_str(), nullptr);
        if (given.empty()) {
            CreateDirectoryW(local.c_str(), nullptr);
            CreateDirectoryW((local + L"\\Tarnell").c_str(), nullptr);
        }
        if (c.plant) c.plant(local + L"\\Tarnell");
        crash::SetReportFolders(local.c_str(), machine.c_str());

        const std::string message = "filed past what was planted, case " + std::to_string(++number);
        const DWORD started = GetTickCount();
        Report(message);
        std::vector<Place> places;
        const bool filed =
            test::WaitUntil([&] { return !(places = PlacesOf(local, machine, message)).empty(); }, 30000);
        MESSAGE(name << ": filed after " << GetTickCount() - started << " ms");
        CHECK(filed);
        std::string seen;
        for (const Place p : places) seen += std::string(seen.empty() ? "" : ", ") + PlaceName(p);
        CHECK_MESSAGE(places == std::vector<Place>{c.expected},
                      "expected in " << std::string(PlaceName(c.expected)) << ", found in: " << seen);
        if (held != INVALID_HANDLE_VALUE) {
            CloseHandle(held);
            held = INVALID_HANDLE_VALUE;
        }
        // Nothing foreign was written or read into the report.
        CHECK(ReadWholeFile(kForeign) == foreign);
        CHECK(ReadWholeFile(kForeignFolderFile) == foreignReport);
        CHECK(FilesLike(kRoot + L"\\foreign\\folder", L"*").size() == 1);
        for (const Place p : places) {
            if (p != Place::UserFile) continue;
            const std::string text = ReadWholeFile(local + L"\\Tarnell\\bugreport.txt");
            CHECK(text.find(foreign.substr(1000, 64)) == std::string::npos);
            CHECK(text.find("someone else's file") == std::string::npos);
        }
        // What a read-only or held file held is still there.
        if (c.expected == Place::UserSecond && c.folder != L"folder-named")
            CHECK(ReadWholeFile(local + L"\\Tarnell\\bugreport.txt") == oldReport);
        if (c.folder == L"plain")
            CHECK(ReadWholeFile(local + L"\\Tarnell\\bugreport.txt").rfind(oldReport, 0) == 0);
        SetFileAttributesW((local + L"\\Tarnell\\bugreport.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    SetCrashHeadless(false);
}
