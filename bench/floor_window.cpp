// The floor for start-up and memory figures: a program that does only the platform work Tarnell must do by
// design, and nothing of its own. A window at Tarnell's client size with common controls v6 and its
// manifest, COM, one WMI adapter query walked through IWbemLocator, GDI+ started and the logo drawn
// anti-aliased on a rounded path, a WinHTTP session opened on a second thread, four fonts and two labels.
// Tarnell measured against it shows what the program itself adds.
#include <windows.h>

#include <commctrl.h>
#include <gdiplus.h>
#include <objbase.h>
#include <wbemidl.h>
#include <winhttp.h>

namespace {

HBITMAP g_logo = nullptr;

// The adapter query Tarnell's discovery runs first, walked to its end.
void QueryAdapters() {
    IWbemLocator* locator = nullptr;
    if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                reinterpret_cast<void**>(&locator))))
        return;
    IWbemServices* services = nullptr;
    BSTR space = SysAllocString(L"root\\CIMV2");
    if (SUCCEEDED(locator->ConnectServer(space, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services))) {
        CoSetProxyBlanket(services, RPC_C_AUTHN_DEFAULT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                          RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
        BSTR language = SysAllocString(L"WQL");
        BSTR query = SysAllocString(L"SELECT * FROM Win32_NetworkAdapter WHERE PhysicalAdapter = True");
        IEnumWbemClassObject* items = nullptr;
        if (SUCCEEDED(services->ExecQuery(
                language, query, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, &items))) {
            for (;;) {
                IWbemClassObject* item = nullptr;
                ULONG fetched = 0;
                if (items->Next(WBEM_INFINITE, 1, &item, &fetched) != WBEM_S_NO_ERROR || fetched == 0) break;
                VARIANT name;
                VariantInit(&name);
                item->Get(L"Name", 0, &name, nullptr, nullptr);
                VariantClear(&name);
                item->Release();
            }
            items->Release();
        }
        SysFreeString(query);
        SysFreeString(language);
        services->Release();
    }
    SysFreeString(space);
    locator->Release();
}

DWORD WINAPI OpenHttpSession(void*) {
    if (HINTERNET session = WinHttpOpen(L"Floor", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                        WINHTTP_NO_PROXY_BYPASS, 0))
        WinHttpCloseHandle(session);
    return 0;
}

void Paint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    {
        Gdiplus::Graphics graphics(dc);
        graphics.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
        Gdiplus::GraphicsPath path;
        const Gdiplus::REAL x = 20, y = 20, w = 112, h = 50, r = 8;
        path.AddArc(x, y, r * 2, r * 2, 180, 90);
        path.AddArc(x + w - r * 2, y, r * 2, r * 2, 270, 90);
        path.AddArc(x + w - r * 2, y + h - r * 2, r * 2, r * 2, 0, 90);
        path.AddArc(x, y + h - r * 2, r * 2, r * 2, 90, 90);
        path.CloseFigure();
        Gdiplus::SolidBrush brush(Gdiplus::Color(255, 61, 132, 221));
        graphics.FillPath(&brush, &path);
        if (g_logo) {
            Gdiplus::Bitmap logo(g_logo, nullptr);
            graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
            graphics.DrawImage(&logo, Gdiplus::RectF(x, y + h + 10, w, h));
        }
    }
    EndPaint(hwnd, &ps);
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_PAINT:
            Paint(hwnd);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(hwnd, msg, wp, lp);
    }
}

HFONT Font(int height, int weight, const wchar_t* face) {
    LOGFONTW lf{};
    lf.lfHeight = height;
    lf.lfWeight = weight;
    lf.lfQuality = CLEARTYPE_QUALITY;
    lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
    return CreateFontIndirectW(&lf);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Gdiplus::GdiplusStartupInput gdiplusInput;
    ULONG_PTR gdiplus = 0;
    Gdiplus::GdiplusStartup(&gdiplus, &gdiplusInput, nullptr);
    g_logo = static_cast<HBITMAP>(LoadImageW(instance, L"LOGO", IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));

    WNDCLASSEXW wc{sizeof wc};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"TarnellFloor";
    RegisterClassExW(&wc);
    // Tarnell's client area at 96 DPI.
    RECT r{0, 0, 498, 426};
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    AdjustWindowRectEx(&r, style, FALSE, 0);
    HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"Floor", style, CW_USEDEFAULT, CW_USEDEFAULT,
                                r.right - r.left, r.bottom - r.top, nullptr, nullptr, instance, nullptr);

    // Discovery before the first frame, as Tarnell's adapter line needs it.
    QueryAdapters();
    HFONT fonts[4] = {Font(-40, FW_BOLD, L"Segoe UI"), Font(-12, FW_NORMAL, L"Segoe UI"),
                      Font(-12, FW_BOLD, L"Segoe UI"), Font(-11, FW_NORMAL, L"Tahoma")};
    HWND title = CreateWindowExW(0, L"STATIC", L"Tarnell", WS_CHILD | WS_VISIBLE, 160, 20, 300, 50, hwnd,
                                 nullptr, instance, nullptr);
    HWND line = CreateWindowExW(0, L"STATIC", L"Version: 1.0.0.0", WS_CHILD | WS_VISIBLE, 20, 390, 300, 20,
                                hwnd, nullptr, instance, nullptr);
    SendMessageW(title, WM_SETFONT, reinterpret_cast<WPARAM>(fonts[0]), FALSE);
    SendMessageW(line, WM_SETFONT, reinterpret_cast<WPARAM>(fonts[1]), FALSE);
    ShowWindow(hwnd, show);
    UpdateWindow(hwnd);
    if (HANDLE thread = CreateThread(nullptr, 0, OpenHttpSession, nullptr, 0, nullptr)) CloseHandle(thread);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    for (HFONT font : fonts) DeleteObject(font);
    if (g_logo) DeleteObject(g_logo);
    Gdiplus::GdiplusShutdown(gdiplus);
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}
