#include "app/error_box_win32.h"

#include <windows.h>

#include <commctrl.h>

#include <stdexcept>

#include "base/application_title.h"
#include "base/text.h"
#include "base/wide.h"

namespace tarnell {

namespace {

using TaskDialogIndirectFn = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

}  // namespace

std::u16string ErrorMessageText(std::exception_ptr error) {
    try {
        if (error) std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return Utf8ToUtf16(e.what());
    } catch (...) {
    }
    return u"Unknown error";
}

void ShowUnhandledError(std::exception_ptr error) {
    ShowErrorBox(ErrorMessageText(error));
}

void ShowErrorBox(const std::u16string& text) {
    const std::u16string title = ApplicationTitle();
    HWND owner = GetActiveWindow();

    // The task dialog of the version 6 common controls lets the one button say "Close".
    HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
    if (!comctl) comctl = LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    auto taskDialog = comctl ? reinterpret_cast<TaskDialogIndirectFn>(
                                   reinterpret_cast<void*>(GetProcAddress(comctl, "TaskDialogIndirect")))
                             : nullptr;
    if (taskDialog) {
        TASKDIALOG_BUTTON close{IDCLOSE, L"Close"};
        TASKDIALOGCONFIG config{};
        config.cbSize = sizeof(config);
        config.hwndParent = owner;
        config.dwFlags = TDF_POSITION_RELATIVE_TO_WINDOW;
        config.pszWindowTitle = W(title);
        config.pszMainIcon = TD_ERROR_ICON;
        config.pszContent = W(text);
        config.cButtons = 1;
        config.pButtons = &close;
        config.nDefaultButton = IDCLOSE;
        int pressed = 0;
        if (SUCCEEDED(taskDialog(&config, &pressed, nullptr, nullptr))) return;
    }
    MessageBoxW(owner, W(text), W(title), MB_OK | MB_ICONERROR);
}

}  // namespace tarnell
