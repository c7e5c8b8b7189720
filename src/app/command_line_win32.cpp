#include "app/command_line_win32.h"

#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include <chrono>

#include "app/command_line.h"
#include "app/run_control_win32.h"
#include "base/single_instance_win32.h"
#include "base/wide.h"
#include "build_config.h"
#include "tuning/registry_writer_win32.h"

namespace tarnell {

namespace {

// How long --apply and --revert wait for the internet after cycling the connection (a build setting).
constexpr std::chrono::milliseconds kCommandWaitLimit{TARNELL_COMMAND_WAIT_MS};

}  // namespace

std::vector<std::u16string> ProcessArguments() {
    std::vector<std::u16string> arguments;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv) return arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(FromWide(argv[i]));
    LocalFree(argv);
    return arguments;
}

int RunCommandLine(const std::vector<std::u16string>& arguments) {
    const TCommand command = ParseCommandLine(arguments);
    if (command == TCommand::Invalid || command == TCommand::Window) return kExitBadArguments;
    if (CommandNeedsGuard(command) && !AcquireSingleInstance()) return kExitAnotherInstance;

    // Connection cycling goes through COM on this thread; discovery initialises COM for itself. The
    // commands that only read or give back the machine's record need neither.
    const HRESULT com =
        CommandNeedsGuard(command) ? CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) : E_FAIL;
    int code = kExitBadArguments;
    {
        SystemMachineRegistry registry;
        SystemRecordLock lock;
        TRecordRunTweaks tweaks(registry, lock);
        TConfigRunSettings settings;
        TSystemAdapterServices services;
        SystemConnectivityWait wait;
        code = RunCommand(command, settings, tweaks, services, wait, kCommandWaitLimit);
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return code;
}

}  // namespace tarnell
