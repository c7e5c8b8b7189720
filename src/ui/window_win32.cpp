#include "ui/window_win32.h"

#include "base/bench_phases_win32.h"

namespace tarnell {

TWindow::~TWindow() {
    DestroyHandle();
}

TWindow* TWindow::FromHandle(HWND hwnd) {
    return hwnd ? reinterpret_cast<TWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)) : nullptr;
}

bool TWindow::CreateBound(const wchar_t* className, DWORD exStyle, DWORD style, const wchar_t* title, int x,
                          int y, int width, int height, HWND parent, HMENU idOrMenu, UINT classStyle,
                          HCURSOR cursor) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    BenchCostScope classes(BenchCost::WindowClasses);
    if (!GetClassInfoExW(instance, className, &wc)) {
        wc = WNDCLASSEXW{};
        wc.cbSize = sizeof(wc);
        wc.style = classStyle;
        wc.lpfnWndProc = &TWindow::StaticProc;
        wc.hInstance = instance;
        wc.hCursor = cursor ? cursor : LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = nullptr;  // every window paints its own background
        wc.lpszClassName = className;
        // Only a top-level window shows an icon; loading it for every control's class cost start-up time.
        if (!(style & WS_CHILD)) wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
        if (!RegisterClassExW(&wc)) return false;
    }
    BenchCostScope windows(BenchCost::ControlWindows);
    HWND made = CreateWindowExW(exStyle, className, title, style, x, y, width, height, parent, idOrMenu,
                                instance, this);
    return made != nullptr;
}

void TWindow::DestroyHandle() {
    if (hwnd_) DestroyWindow(hwnd_);  // WM_NCDESTROY clears hwnd_
    hwnd_ = nullptr;
}

LRESULT TWindow::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefaultProc(msg, wParam, lParam);
}

LRESULT CALLBACK TWindow::StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    TWindow* self = nullptr;
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
        self = static_cast<TWindow*>(cs->lpCreateParams);
        if (self) {
            self->hwnd_ = hwnd;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        }
    } else {
        self = FromHandle(hwnd);
    }
    if (!self) return DefWindowProcW(hwnd, msg, wParam, lParam);

    if (msg == WM_NCDESTROY) {
        try {
            self->OnHandleDestroyed();
        } catch (...) {
            ReportUnhandledError(std::current_exception());
        }
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    try {
        return self->HandleMessage(msg, wParam, lParam);
    } catch (...) {
        ReportUnhandledError(std::current_exception());
        return 0;
    }
}

}  // namespace tarnell
