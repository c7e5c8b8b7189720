// The log file under Wine's real file system: lines reach it off the caller's thread, it rolls over once
// and stays under its cap, and a file that cannot be written, or a link planted in its place, costs lines,
// never the program. The log lives for the whole process, so this test has a process of its own.
#include "base/log_win32.h"

#include <doctest/doctest.h>
#include <windows.h>

#include <string>

#include "../support/file_win32.h"

using namespace tarnell;

namespace {

std::wstring TempFolder(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + name;
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

void Remove(const std::wstring& path) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
}

uint64_t Size(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

TEST_CASE(
    "The log: lines written, one older file kept under the cap, a file it may not write costs only lines") {
    const std::wstring folder = TempFolder(L"TarnellLogTest");
    const std::wstring log = folder + L"\\tarnell.log", older = folder + L"\\tarnell.log.1";
    Remove(log);
    Remove(older);

    Log(u"before the log has a folder");  // kept, and written once it has one
    OpenLog(folder);
    Log(u"first line");
    REQUIRE(FlushLog(10000));
    std::string text = test::ReadWholeFile(log);
    CHECK(text.find("Z before the log has a folder\r\n") != std::string::npos);
    CHECK(text.find("Z first line\r\n") != std::string::npos);
    CHECK(text.find("Z before") < text.find("Z first"));

    // Well past the cap: it rolls over (more than once), each file stays at or under it.
    const std::u16string filler(200, u'x');
    // (In rounds that fit the queue: a caller that outruns the disk loses the oldest waiting lines.)
    for (int round = 0; round < 30; ++round) {
        for (int i = 0; i < 100; ++i) Log(u"line " + std::u16string(1, char16_t(u'0' + i % 10)) + filler);
        REQUIRE(FlushLog(30000));
    }
    MESSAGE("log " << Size(log) << " bytes, older " << Size(older) << " bytes, cap " << kLogCap);
    CHECK(Size(log) <= kLogCap);
    CHECK(Size(older) <= kLogCap);
    CHECK(Size(older) > kLogCap / 2);
    LogFailure(u"a failure handled quietly", ERROR_ACCESS_DENIED);
    REQUIRE(FlushLog(10000));
    CHECK(test::ReadWholeFile(log).find("a failure handled quietly: error 5") != std::string::npos);

    // Read-only: nothing written, nothing thrown, the next lines go on being made.
    const std::string before = test::ReadWholeFile(log);
    SetFileAttributesW(log.c_str(), FILE_ATTRIBUTE_READONLY);
    Log(u"while read-only");
    CHECK(FlushLog(10000));
    CHECK(test::ReadWholeFile(log) == before);
    SetFileAttributesW(log.c_str(), FILE_ATTRIBUTE_NORMAL);

    // Held open without sharing by another process's handle.
    HANDLE held = CreateFileW(log.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(held != INVALID_HANDLE_VALUE);
    Log(u"while held");
    CHECK(FlushLog(10000));
    CloseHandle(held);
    CHECK(test::ReadWholeFile(log) == before);

    // A hard link planted as the log: the file it shares its data with is never written.
    Remove(log);
    const std::wstring foreign = TempFolder(L"TarnellLogForeign") + L"\\precious.txt";
    REQUIRE(test::WriteWholeFile(foreign, "precious"));
    REQUIRE(CreateHardLinkW(log.c_str(), foreign.c_str(), nullptr));
    Log(u"through a link");
    CHECK(FlushLog(10000));
    CHECK(test::ReadWholeFile(foreign) == "precious");

    // The tail for the crash report: the last lines, never waiting.
    std::string tail;
    REQUIRE(LogTail(tail));
    CHECK(tail.find("Z through a link\r\n") != std::string::npos);
    Remove(log);
    Remove(older);
    Remove(foreign);
}
