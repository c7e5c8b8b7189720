// The process entry: the modules' start-up steps, the single-instance guard, the main window and the
// message loop, then the shut-down steps.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <exception>
#include <memory>

#include "app/command_line_win32.h"
#include "app/error_box_win32.h"
#include "app/frm_tarnell_win32.h"
#include "app/process_end_win32.h"
#include "base/bench_phases_win32.h"
#include "base/file_version_win32.h"
#include "base/log_win32.h"
#include "base/single_instance_win32.h"
#include "base/ui_task_win32.h"
#include "base/wide.h"
#include "build_config.h"
#include "crash/crash_win32.h"
#include "theme/button_styles.h"
#include "translate/translation.h"
#include "translate/translation_win32.h"
#include "translate/ui_language_win32.h"
#include "ui/window_win32.h"
#include "update/update_check_win32.h"

namespace {

// The modules' start-up steps do not depend on one another: one that fails is reported and the
// others still run.
void StartUpStep(void (*step)()) {
    try {
        step();
    } catch (...) {
        tarnell::ReportUnhandledError(std::current_exception());
    }
}

int RunMessageLoop() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return int(msg.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The program runs elevated and is often started from a download folder: every DLL loaded from here
    // on (the delay-loaded imports included) comes from System32, never from the program's own folder.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    using namespace tarnell;
    StampBenchPhase(BenchPhase::Imports);

    // Start-up steps of the modules, before the program's own block; crash reporting first.
    InstallCrashReporting({FromWide(TARNELL_REPORT_URL), FromWide(TARNELL_ERROR_PAGE_URL), &ShowErrorBox});
    OpenLog(UserLogFolder());
    StampBenchPhase(BenchPhase::CrashAndLog);
    StartUpStep(&LoadTranslationTable);
    StartUpStep(&InitUILanguage);
    StartUpStep(&RegisterVorbeckButtonStyles);
    Log(u"start: Tarnell " + GetFileVersionText() + u", language " + CurrentLanguage() +
        (CommandLineHasArguments(FromWide(GetCommandLineW())) ? u", with arguments" : u", the window"));
    StampBenchPhase(BenchPhase::Translation);

    // With a switch the program runs a command instead of the window; it takes the guard itself. Other
    // arguments (a file dropped on the exe) open the window as none would.
    if (const TCommand command = ParseCommandLine(ProcessArguments()); command != TCommand::Window) {
        // No window, and often nobody at the screen (a script, the installer as the system): an error ends
        // the command with its report filed and no box.
        SetCrashHeadless(command != TCommand::Help);
#if defined(TARNELL_TEST_HOOKS)
        // Test builds only: a command that ends in a fatal error.
        wchar_t fault[4] = {};
        if (GetEnvironmentVariableW(L"TARNELL_TEST_COMMAND_FAULT", fault, 4) && fault[0] == L'1')
            std::terminate();
#endif
        const int code = RunCommandLine(command);
        FlushLog(2000);
        return code;
    }

    if (!AcquireSingleInstance()) return 0;

    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    StampBenchPhase(BenchPhase::Com);
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    StampBenchPhase(BenchPhase::CommonControls);
    InitUiTasks();
    StampBenchPhase(BenchPhase::UiTasks);

    int exitCode = 0;
    {
        TFrmTarnellOptions options{FromWide(TARNELL_SERVICE_URL), FromWide(TARNELL_HOME_URL)};
        std::unique_ptr<TFrmTarnell> form;
        try {
            form = std::make_unique<TFrmTarnell>(nullptr, options);
            form->OnDestroy = [] {
                SetTerminating();
                PostQuitMessage(0);
            };
            form->Create();
            form->Show();
            StampBenchPhase(BenchPhase::Shown);
            // When the Restart Manager closed the window to replace the program (an upgrade), it starts
            // it again afterwards, with no arguments. Not after a crash or a hang: crash reporting ends
            // those.
            RegisterApplicationRestart(L"", RESTART_NO_CRASH | RESTART_NO_HANG | RESTART_NO_REBOOT);
        } catch (...) {
            ReportUnhandledError(std::current_exception());
        }
        if (form && form->Hwnd()) exitCode = RunMessageLoop();
        SetTerminating();
        ShutdownUiTasks();
        form.reset();
    }
    return ShutDownProcess(exitCode, SUCCEEDED(com));
}
