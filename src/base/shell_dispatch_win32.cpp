// The desktop shell's ShellExecute, reached as other programs that run elevated reach it: the shell
// windows list finds the desktop, its browser gives the active view, the view's background automation
// object is the folder view, and the folder view's application is the shell dispatch object.
// clang-format off
#include <windows.h>  // before the shell headers
#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
// clang-format on

#include "base/shell_dispatch_win32.h"

#include <utility>

#include "base/com_win32.h"
#include "base/wide.h"

namespace tarnell {

namespace {

// The shell dispatch object of the desktop, or false.
bool DesktopShellDispatch(ComRef<IShellDispatch2>& shell) {
    ComRef<IShellWindows> windows;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                windows.put_void())) ||
        !windows)
        return false;
    ScopedVariant location(CSIDL_DESKTOP);
    ScopedVariant empty;
    long hwnd = 0;
    ComRef<IDispatch> desktop;
    // S_FALSE: no desktop window is registered.
    if (windows->FindWindowSW(location.get(), empty.get(), SWC_DESKTOP, &hwnd, SWFO_NEEDDISPATCH,
                              desktop.put()) != S_OK ||
        !desktop)
        return false;
    ComRef<IServiceProvider> services;
    if (FAILED(desktop->QueryInterface(IID_IServiceProvider, services.put_void())) || !services) return false;
    ComRef<IShellBrowser> browser;
    if (FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.put_void())) ||
        !browser)
        return false;
    ComRef<IShellView> view;
    if (FAILED(browser->QueryActiveShellView(view.put())) || !view) return false;
    ComRef<IDispatch> background;
    if (FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.put_void())) || !background)
        return false;
    ComRef<IShellFolderViewDual> folderView;
    if (FAILED(background->QueryInterface(IID_IShellFolderViewDual, folderView.put_void())) || !folderView)
        return false;
    ComRef<IDispatch> application;
    if (FAILED(folderView->get_Application(application.put())) || !application) return false;
    return SUCCEEDED(application->QueryInterface(IID_IShellDispatch2, shell.put_void())) && shell;
}

}  // namespace

bool ShellExecuteFromDesktop(const std::u16string& url) {
    // The UI thread has COM already; elsewhere it is set up for this call only.
    ComApartment com;
    bool handed = false;
    {
        ComRef<IShellDispatch2> shell;
        if (DesktopShellDispatch(shell)) {
            BSTR file = SysAllocStringLen(W(url), UINT(url.size()));
            ScopedVariant arguments(L""), directory(L""), verb(L"open"), show(SW_SHOWNORMAL);
            // Reached the shell: its own failure to open the link is not a reason to open it from here.
            if (file) {
                (void)shell->ShellExecute(file, arguments.value(), directory.value(), verb.value(),
                                          show.value());
                handed = true;
            }
            SysFreeString(file);
        }
    }
    return handed;
}

}  // namespace tarnell
