// The end of the process with a service check and a connectivity wait in flight when the window closes:
// nothing static is destroyed while they run (a helper process, exit_win32_helper.cpp).
#include <doctest/doctest.h>
#include <windows.h>

#include <chrono>
#include <string>

#include "../update/fixture_win32.h"

namespace {

struct HelperRun {
    bool ended = false;
    DWORD code = 1234;
    std::string output;
    long long tookMs = 0;
};

HelperRun RunHelper(const std::string& mode) {
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    REQUIRE(n > 0);
    std::wstring helper(self, n);
    helper = helper.substr(0, helper.find_last_of(L"\\/") + 1) + L"app_exit_helper.exe";
    const std::u16string nobody = tarnell::test::ClosedPortUrl("/api.init.php");

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    REQUIRE(CreatePipe(&readEnd, &writeEnd, &inherit, 0));
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{sizeof si};
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    std::wstring cmd = L"\"" + helper + L"\" " + std::wstring(mode.begin(), mode.end()) + L" " +
                       std::wstring(nobody.begin(), nobody.end());
    const auto started = std::chrono::steady_clock::now();
    REQUIRE(
        CreateProcessW(helper.c_str(), cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
    CloseHandle(writeEnd);

    HelperRun run;
    // Reads until the helper's end closes the pipe's last writer.
    char buffer[256];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) run.output.append(buffer, got);
    run.ended = WaitForSingleObject(pi.hProcess, 30000) == WAIT_OBJECT_0;
    run.tookMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
            .count();
    GetExitCodeProcess(pi.hProcess, &run.code);
    if (!run.ended) TerminateProcess(pi.hProcess, 99);
    CloseHandle(readEnd);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return run;
}

}  // namespace

TEST_CASE("the process ends with a service check and a wait in flight, destroying nothing under them") {
    const HelperRun run = RunHelper("busy");
    MESSAGE("helper output:\n" << run.output << "ended " << run.tookMs << " ms after it started");
    REQUIRE(run.ended);
    CHECK(run.code == 0);
    CHECK(run.output.find("in flight\n") != std::string::npos);
    CHECK(run.output.find("static objects destroyed") == std::string::npos);
    // Process start and end under Wine; nothing waits for the workers (the drain is for other work).
    CHECK(run.tookMs < 15000);
}

TEST_CASE("with nothing in flight the process ends as usual, its static objects destroyed") {
    const HelperRun run = RunHelper("idle");
    MESSAGE("helper output:\n" << run.output);
    REQUIRE(run.ended);
    CHECK(run.code == 0);
    CHECK(run.output == "static objects destroyed with 0 workers running\n");
}
