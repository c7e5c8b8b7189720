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

#include <utility>

#include "base/wide.h"
#include "update/shell_dispatch_win32.h"

namespace tarnell {

namespace {

// Releases the interface it holds.
template <typename T>
class ComRef {
public:
    ComRef() = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() {
        if (p_) p_->Release();
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T** put() { return &p_; }
    void** putVoid() { return reinterpret_cast<void**>(&p_); }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

// Owns a VARIANT for the length of the call.
struct Variant {
    VARIANT v;
    Variant() { VariantInit(&v); }
    explicit Variant(int value) : Variant() {
        v.vt = VT_I4;
        v.lVal = value;
    }
    explicit Variant(const wchar_t* text) : Variant() {
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(text);
    }
    ~Variant() { VariantClear(&v); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
};

// The shell dispatch object of the desktop, or false.
bool DesktopShellDispatch(ComRef<IShellDispatch2>& shell) {
    ComRef<IShellWindows> windows;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                windows.putVoid())) ||
        !windows)
        return false;
    Variant location(CSIDL_DESKTOP);
    Variant empty;
    long hwnd = 0;
    ComRef<IDispatch> desktop;
    // S_FALSE: no desktop window is registered.
    if (windows->FindWindowSW(&location.v, &empty.v, SWC_DESKTOP, &hwnd, SWFO_NEEDDISPATCH, desktop.put()) !=
            S_OK ||
        !desktop)
        return false;
    ComRef<IServiceProvider> services;
    if (FAILED(desktop->QueryInterface(IID_IServiceProvider, services.putVoid())) || !services) return false;
    ComRef<IShellBrowser> browser;
    if (FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.putVoid())) || !browser)
        return false;
    ComRef<IShellView> view;
    if (FAILED(browser->QueryActiveShellView(view.put())) || !view) return false;
    ComRef<IDispatch> background;
    if (FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.putVoid())) || !background)
        return false;
    ComRef<IShellFolderViewDual> folderView;
    if (FAILED(background->QueryInterface(IID_IShellFolderViewDual, folderView.putVoid())) || !folderView)
        return false;
    ComRef<IDispatch> application;
    if (FAILED(folderView->get_Application(application.put())) || !application) return false;
    return SUCCEEDED(application->QueryInterface(IID_IShellDispatch2, shell.putVoid())) && shell;
}

}  // namespace

bool ShellExecuteFromDesktop(const std::u16string& url) {
    // The UI thread has COM already; elsewhere it is set up for this call only.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool handed = false;
    {
        ComRef<IShellDispatch2> shell;
        if (DesktopShellDispatch(shell)) {
            BSTR file = SysAllocStringLen(W(url), UINT(url.size()));
            Variant arguments(L""), directory(L""), verb(L"open"), show(SW_SHOWNORMAL);
            // Reached the shell: its own failure to open the link is not a reason to open it from here.
            if (file) {
                (void)shell->ShellExecute(file, arguments.v, directory.v, verb.v, show.v);
                handed = true;
            }
            SysFreeString(file);
        }
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return handed;
}

}  // namespace tarnell
