#include "app/command_line_win32.h"

#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include <chrono>

#include "app/command_line.h"
#include "app/run_control_win32.h"
#include "base/log_win32.h"
#include "base/scoped_win.h"
#include "base/single_instance_win32.h"
#include "base/wide.h"
#include "build_config.h"
#include "tuning/network.h"
#include "tuning/network_win32.h"
#include "tuning/registry_writer_win32.h"

namespace tarnell {

namespace {

// How long --apply and --revert wait for the internet after cycling the connection (a build setting).
constexpr std::chrono::milliseconds kCommandWaitLimit{TARNELL_COMMAND_WAIT_MS};

}  // namespace

std::vector<std::u16string> ProcessArguments() {
    std::vector<std::u16string> arguments;
    const LPCWSTR line = GetCommandLineW();
    if (!line || !CommandLineHasArguments(FromWide(line))) return arguments;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(line, &count);
    if (!argv) return arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(FromWide(argv[i]));
    LocalFree(argv);
    return arguments;
}

namespace {

// Writes `text` where the caller reads it: its standard output when redirected (UTF-8), else the console it
// was started from. False when there is neither.
bool WriteToCaller(const std::wstring& text) {
    // A GUI-subsystem program gets the caller's standard output only when it was redirected.
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    const DWORD type = (out && out != INVALID_HANDLE_VALUE) ? GetFileType(out) : FILE_TYPE_UNKNOWN;
    if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE) {
        const int size =
            WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
        std::string utf8(size_t(size), '\0');
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), utf8.data(), size, nullptr, nullptr);
        DWORD written = 0;
        return WriteFile(out, utf8.data(), DWORD(utf8.size()), &written, nullptr) != FALSE;
    }
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return false;
    ScopedFile console(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    BOOL ok = FALSE;
    if (console) {
        // The prompt was printed when the caller stopped waiting for a GUI program: start on a new line.
        const std::wstring shown = L"\r\n" + text;
        DWORD written = 0;
        ok = WriteConsoleW(console.get(), shown.data(), DWORD(shown.size()), &written, nullptr);
        console.reset();
    }
    FreeConsole();
    return ok != FALSE;
}

// The adapters' names by interface GUID, from the IP Helper list: "connection name (adapter name)".
std::u16string AdapterNameFromSystem(const std::u16string& guid) {
    for (const IpHelperAdapter& adapter : ReadIpHelperAdapters()) {
        if (!GuidTextEquals(adapter.adapterName, guid)) continue;
        if (adapter.description.empty() || adapter.description == adapter.friendlyName)
            return adapter.friendlyName;
        return adapter.friendlyName + u" (" + adapter.description + u")";
    }
    return std::u16string();
}

}  // namespace

void ShowCommandLineHelp() {
    const std::wstring text = ToWide(CommandLineHelp());
    if (!WriteToCaller(text)) MessageBoxW(nullptr, text.c_str(), L"Tarnell", MB_OK | MB_ICONINFORMATION);
}

int RunCommandLine(TCommand command) {
    if (command == TCommand::Invalid) return kExitBadArguments;
    if (command == TCommand::Help) {
        ShowCommandLineHelp();
        return kExitDone;
    }
    if (CommandNeedsGuard(command) && !AcquireSingleInstance()) return kExitAnotherInstance;
    if (command == TCommand::Status || command == TCommand::StatusTable) {
        // Told to the caller, never in a box: a script must not wait on one.
        SystemMachineRegistry registry;
        SystemRecordLock lock;
        TRecordRunTweaks tweaks(registry, lock);
        WriteToCaller(ToWide(StatusReport(command, tweaks, AdapterNameFromSystem)));
    }

    // Connection cycling goes through COM on this thread; discovery initialises COM for itself. The
    // commands that only read or give back the machine's record need neither.
    const HRESULT com =
        CommandNeedsGuard(command) ? CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) : E_FAIL;
    int code = kExitBadArguments;
    {
        SystemMachineRegistry registry;
        SystemRecordLock lock;
        TRecordRunTweaks tweaks(registry, lock, LogRecordNote);
        TConfigRunSettings settings;
        TSystemAdapterServices services;
        SystemConnectivityWait wait;
        TRunOutcome outcome;
        outcome.record = RecordResult::Nothing;
        code = RunCommand(command, settings, tweaks, services, wait, kCommandWaitLimit, &outcome);
        if (command == TCommand::Apply || command == TCommand::Revert) Log(DescribeOutcome(outcome));
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return code;
}

}  // namespace tarnell
