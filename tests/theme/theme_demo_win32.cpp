// Shows the theme's controls in the looks worth a screenshot: the run switch (normal, hot, running,
// busy), the header buttons (pressed, normal, hot) and the tagline in English, Korean and Japanese.
// Writes the client-area screen positions of the hot targets to the file named on the command line, so
// a script can put the mouse there; closes itself after the number of seconds given second (default 30).
// A third argument "inactive" activates a second window, so the accent line shows its inactive colour.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/wide.h"
#include "theme/gdi_win32.h"
#include "theme/markup_label_win32.h"
#include "theme/styled_button_win32.h"
#include "theme/theme_helper_win32.h"

using namespace tarnell;

namespace {

LRESULT CALLBACK DemoProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_DESTROY) PostQuitMessage(0);
    if (msg == WM_TIMER) DestroyWindow(hwnd);
    if (msg == WM_CTLCOLORSTATIC) return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

HWND Caption(HWND parent, const wchar_t* text, int x, int y, int w, int h, HFONT font) {
    HWND label = CreateWindowExW(0, L"STATIC", text, WS_CHILD | WS_VISIBLE | SS_CENTER, x, y, w, h, parent,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return label;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const std::wstring pointsFile = argc > 1 ? argv[1] : L"theme_demo_points.txt";
    const int seconds = argc > 2 ? _wtoi(argv[2]) : 30;
    const bool inactive = argc > 3 && lstrcmpiW(argv[3], L"inactive") == 0;

    RegisterVorbeckButtonStyles();

    WNDCLASSEXW wc{sizeof wc};
    wc.lpfnWndProc = DemoProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = L"TarnellThemeDemo";
    RegisterClassExW(&wc);

    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    HWND form = CreateWindowExW(0, wc.lpszClassName, L"Tarnell theme", style, 0, 0, 100, 100, nullptr,
                                nullptr, instance, nullptr);
    const int dpi = WindowDpi(form);
    auto scale = [dpi](int v) { return ScaleForDpi(v, dpi); };
    RECT frame{0, 0, scale(720), scale(300)};
    AdjustWindowRect(&frame, style, FALSE);
    SetWindowPos(form, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    HFONT font =
        CreateFontW(-scale(12), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Segoe UI");
    TThemeHelper decoration(form);

    // Header toolbar: Home down, Config and Donate flat.
    const wchar_t* headerCaptions[] = {L"Home", L"Config", L"Donate"};
    std::vector<HWND> header;
    for (int i = 0; i < 3; ++i) {
        StyledButtonConfig c;
        c.caption = FromWide(headerCaptions[i]);
        c.appearance = u"Header";
        c.radius96 = 4;
        c.flat = true;
        c.groupIndex = 1;
        c.down = i == 0;
        HWND b = StyledButton::Create(form, scale(10 + 70 * i), scale(10), scale(70), scale(30), c);
        SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        header.push_back(b);
    }

    // Run switch in its four looks.
    const wchar_t* looks[] = {L"idle", L"idle, mouse over", L"running (down)", L"busy (disabled)"};
    std::vector<HWND> switches;
    for (int i = 0; i < 4; ++i) {
        StyledButtonConfig c;
        c.caption = i == 2 ? u"Stop" : i == 3 ? u"" : u"Start";
        c.appearance = u"Outline";
        c.radius96 = 6;
        c.down = i == 2;
        HWND b = StyledButton::Create(form, scale(10 + 176 * i), scale(60), scale(162), scale(68), c);
        SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        if (i == 3) EnableWindow(b, FALSE);
        Caption(form, looks[i], scale(10 + 176 * i), scale(132), scale(162), scale(18), font);
        switches.push_back(b);
    }

    // Taglines as the home card shows them.
    const char16_t* taglines[] = {
        u"Easily improve <B>game responsiveness</B>.",
        u"<B>게임 반응 속도</B>를 손쉽게 향상 시킵니다.",
        u"<B>ゲーム応答速度</B>を簡単に改善します。",
    };
    for (int i = 0; i < 3; ++i) {
        MarkupLabelConfig c;
        c.text = std::u16string(u"<C><FC:clGray>") + taglines[i] + u"</FC></C>";
        c.overallVertAlign = TVertAlign::vaCenter;
        HWND label = MarkupLabel::Create(form, scale(110), scale(160 + 40 * i), scale(500), scale(33), c);
        MarkupLabel::FromHandle(label)->SetFont(font);
    }

    ShowWindow(form, SW_SHOW);
    UpdateWindow(form);
    HWND other = nullptr;
    if (inactive) {
        other = CreateWindowExW(0, wc.lpszClassName, L"Other", WS_POPUP | WS_BORDER | WS_VISIBLE, 900, 700,
                                100, 60, nullptr, nullptr, instance, nullptr);
        SetActiveWindow(other);
    }

    // Centres of the hot targets, in screen coordinates.
    if (FILE* out = _wfopen(pointsFile.c_str(), L"w")) {
        for (HWND target : {switches[1], header[2]}) {
            RECT rc;
            GetClientRect(target, &rc);
            POINT centre{rc.right / 2, rc.bottom / 2};
            ClientToScreen(target, &centre);
            std::fprintf(out, "%ld %ld\n", long(centre.x), long(centre.y));
        }
        std::fclose(out);
    }
    SetTimer(form, 1, UINT(seconds) * 1000, nullptr);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    DeleteObject(font);
    LocalFree(argv);
    return 0;
}
