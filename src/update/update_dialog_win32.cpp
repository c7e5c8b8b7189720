#include "update/update_dialog_win32.h"

#include <algorithm>
#include <functional>
#include <mutex>

#include "base/application_title.h"
#include "base/dpi_win32.h"
#include "base/error_boundary_win32.h"
#include "base/scoped_win.h"
#include "base/shell_open_win32.h"
#include "base/wide.h"
#include "translate/translation.h"
#include "update/control_hint_win32.h"
#include "update/dialog_layout.h"
#include "update/service_check.h"
#include "update/update_check_win32.h"
#include "update/update_hooks_win32.h"
#include "update/update_texts.h"

namespace tarnell {

namespace {

constexpr UINT kPromptShown = WM_APP + 0x51;  // posted to the prompt once it is laid out; no parameters
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kLineGrey = RGB(0xCC, 0xCC, 0xCC);
constexpr COLORREF kLinkBlue = RGB(0, 0, 255);

// Sizes of the message box itself at 96 DPI.
constexpr int kMargin = 12;
constexpr int kIconSize = 32;
constexpr int kIconGap = 12;
constexpr int kMaxTextWidth = 400;
constexpr int kTextToButtons = 16;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;
constexpr int kButtonGap = 8;
constexpr int kCheckBoxHeight = 17;

std::mutex g_hookLock;
std::function<void(HWND)> g_dialogHook;

struct PromptState {
    std::u16string body;
    std::u16string title;
    UpdateInfo info;
    int offset = 0;
    HWND mainWindow = nullptr;
    bool holdTicked = false;
    ScopedFont font;
    ScopedFont linkFont;
    ScopedBrush white;
    ScopedBrush grey;
    HICON icon = nullptr;  // made for its size, or the system's shared one
    RECT iconRect{};

    ~PromptState() {
        if (icon && icon != LoadIconW(nullptr, IDI_WARNING)) DestroyIcon(icon);
    }
};

HFONT MessageFont(int dpi, bool underline) {
    LOGFONTW font{};
    if (!SystemFontForDpi(SystemFont::Message, dpi, font)) return nullptr;
    font.lfUnderline = underline ? TRUE : FALSE;
    return CreateFontIndirectW(&font);
}

// The system's warning icon drawn sharp at `size` pixels where comctl32 can scale it down, else the
// classic 32-pixel one (DrawIconEx stretches it).
HICON WarningIcon(int size) {
    using ScaleDownFn = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
    static const auto scaleDown = reinterpret_cast<ScaleDownFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"comctl32.dll"), "LoadIconWithScaleDown")));
    HICON icon = nullptr;
    if (scaleDown && SUCCEEDED(scaleDown(nullptr, IDI_WARNING, size, size, &icon)) && icon) return icon;
    return LoadIconW(nullptr, IDI_WARNING);
}

// The text's extent in `font`, wrapped at `maxWidth` when it is positive.
SIZE MeasureText(HWND hwnd, HFONT font, const std::wstring& text, int maxWidth) {
    ScopedWindowDc dc(hwnd);
    ScopedSelect select(dc.get(), font);
    RECT r{0, 0, maxWidth > 0 ? maxWidth : 0x7FFF, 0};
    UINT flags = DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS;
    flags |= maxWidth > 0 ? DT_WORDBREAK : DT_SINGLELINE;
    DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &r, flags);
    return {r.right - r.left, r.bottom - r.top};
}

// The body's paragraphs are separated by lone carriage returns; a static control breaks lines at CR LF.
std::wstring DisplayText(const std::u16string& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        out.push_back(static_cast<wchar_t>(text[i]));
        if (text[i] == u'\r' && (i + 1 >= text.size() || text[i + 1] != u'\n')) out.push_back(L'\n');
    }
    return out;
}

HICON ApplicationIcon() {
    HMODULE module = GetModuleHandleW(nullptr);
    LPWSTR first = nullptr;
    EnumResourceNamesW(
        module, RT_GROUP_ICON,
        [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) -> BOOL {
            *reinterpret_cast<LPWSTR*>(param) = name;
            return FALSE;
        },
        reinterpret_cast<LONG_PTR>(&first));
    HICON icon = nullptr;
    if (first) {
        icon = static_cast<HICON>(LoadImageW(module, first, IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    }
    return icon ? icon : LoadIconW(nullptr, IDI_APPLICATION);
}

HWND AddControl(HWND parent, const wchar_t* cls, const std::wstring& text, DWORD style, int id, HFONT font) {
    HWND control = CreateWindowExW(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   GetModuleHandleW(nullptr), nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
}

void Place(HWND control, int x, int y, int width, int height) {
    SetWindowPos(control, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CALLBACK RecaptionButton(HWND child, LPARAM) {
    wchar_t cls[16] = {};
    GetClassNameW(child, cls, 16);
    if (lstrcmpiW(cls, L"Button") != 0) return TRUE;
    const int id = GetDlgCtrlID(child);
    if (id == IDYES) SetWindowTextW(child, W(GetUpdateText(TUpdateTextKind::utYes)));
    if (id == IDNO) SetWindowTextW(child, W(GetUpdateText(TUpdateTextKind::utNo)));
    return TRUE;
}

void LayOut(HWND dialog, PromptState& state) {
    const int percent = ScalePercentForDpi(WindowDpi(dialog));
    auto scale = [percent](int v) { return ScaleByPercent(v, percent); };
    state.font.reset(MessageFont(WindowDpi(dialog), false));
    state.white.reset(CreateSolidBrush(kWhite));
    state.grey.reset(CreateSolidBrush(kLineGrey));

    // The message box: warning icon, body, Yes (default) and No.
    const std::wstring body = DisplayText(state.body);
    const SIZE text = MeasureText(dialog, state.font.get(), body, scale(kMaxTextWidth));
    const int margin = scale(kMargin), iconSize = scale(kIconSize);
    const int textLeft = margin + iconSize + scale(kIconGap);
    const int contentHeight = std::max<int>(iconSize, text.cy);
    HWND label = AddControl(dialog, L"STATIC", body, SS_LEFT | SS_NOPREFIX, kPromptTextId, state.font.get());
    Place(label, textLeft, margin, text.cx, text.cy);
    state.icon = WarningIcon(iconSize);
    state.iconRect = {margin, margin, margin + iconSize, margin + iconSize};

    HWND yes = AddControl(dialog, L"BUTTON", L"&Yes", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, IDYES,
                          state.font.get());
    HWND no = AddControl(dialog, L"BUTTON", L"&No", BS_PUSHBUTTON | WS_TABSTOP, IDNO, state.font.get());
    EnumChildWindows(dialog, RecaptionButton, 0);
    int buttonWidth = scale(kButtonWidth);
    for (auto kind : {TUpdateTextKind::utYes, TUpdateTextKind::utNo}) {
        const std::u16string caption = GetUpdateText(kind);
        const SIZE size =
            MeasureText(dialog, state.font.get(), std::wstring(caption.begin(), caption.end()), 0);
        buttonWidth = std::max<int>(buttonWidth, size.cx + scale(16));
    }
    const int buttonHeight = scale(kButtonHeight), gap = scale(kButtonGap);
    const int buttonsWidth = 2 * buttonWidth + gap;
    const int clientWidth = std::max<int>(textLeft + text.cx + margin, buttonsWidth + 2 * margin);
    // Outer size from the client size and the frame the window really has.
    RECT window{}, client{};
    GetWindowRect(dialog, &window);
    GetClientRect(dialog, &client);
    const int frameWidth = (window.right - window.left) - (client.right - client.left);
    const int frameHeight = (window.bottom - window.top) - (client.bottom - client.top);

    // The extra band's line is placed from the outer height, frame included: scale(76 - offset) above
    // the bottom after growing by scale(40 - offset). The margin below the buttons leaves room for it,
    // so that with a thin frame the line still lies below the buttons' row and its gap.
    const int lineAboveOldBottom =
        ScaleByPercent(76 - state.offset, percent) - ScaleByPercent(40 - state.offset, percent) - frameHeight;
    const int bottomMargin = std::max<int>(margin, lineAboveOldBottom + gap);
    const int buttonsTop = margin + contentHeight + scale(kTextToButtons);
    const int clientHeight = buttonsTop + buttonHeight + bottomMargin;
    const int buttonsLeft = (clientWidth - buttonsWidth) / 2;
    Place(yes, buttonsLeft, buttonsTop, buttonWidth, buttonHeight);
    Place(no, buttonsLeft + buttonWidth + gap, buttonsTop, buttonWidth, buttonHeight);

    const int outerWidth = clientWidth + frameWidth;
    int outerHeight = clientHeight + frameHeight;

    SetWindowTextW(dialog, W(state.title));

    if (!state.info.style.empty()) {
        const ExtraBandLayout band = LayOutExtraBand(outerWidth, outerHeight, state.offset, percent);
        outerHeight = band.outerHeight;
        HWND line = AddControl(dialog, L"STATIC", L"", SS_LEFT, kPromptLineId, state.font.get());
        Place(line, band.lineLeft, band.lineTop, band.lineWidth, band.lineHeight);
        const std::wstring caption = ToWide(state.info.text);
        if (state.info.style == u"hold") {
            HWND check = AddControl(dialog, L"BUTTON", caption, BS_AUTOCHECKBOX | WS_TABSTOP,
                                    kPromptHoldCheckId, state.font.get());
            // Within the client area, with the left margin on the right too (the band's width is the outer
            // width, frame included, which ran past the dialog's edge).
            const int width = std::min(band.controlWidth, clientWidth - 2 * band.controlLeft);
            Place(check, band.controlLeft, band.controlTop, width, scale(kCheckBoxHeight));
        } else if (state.info.style == u"note") {
            state.linkFont.reset(MessageFont(WindowDpi(dialog), true));
            HWND link = AddControl(dialog, L"STATIC", caption, SS_LEFT | SS_NOPREFIX | SS_NOTIFY,
                                   kPromptNoteLabelId, state.linkFont.get());
            const SIZE size = MeasureText(dialog, state.linkFont.get(), caption, 0);
            Place(link, band.controlLeft, band.controlTop, size.cx, size.cy);
            SetControlHint(link, state.info.url);
        }
    }

    HWND after = nullptr;
    UINT flags = SWP_NOACTIVATE;
    if (IsStayOnTop(state.info)) {
        after = HWND_TOPMOST;
        if (!state.mainWindow || !IsWindowVisible(state.mainWindow)) {
            // No main window on the taskbar: the prompt gets its own entry there.
            SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(ApplicationIcon()));
            SetWindowLongPtrW(dialog, GWLP_HWNDPARENT, 0);
        }
    } else {
        flags |= SWP_NOZORDER;
    }
    const int x = (GetSystemMetrics(SM_CXSCREEN) - outerWidth) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - outerHeight) / 2;
    SetWindowPos(dialog, after, x, y, outerWidth, outerHeight, flags);
    // Yes is the dialog's default: Enter from anywhere but the No button answers Yes.
    SendMessageW(dialog, DM_SETDEFID, IDYES, 0);
    SetFocus(yes);
}

INT_PTR PromptProcBody(HWND dialog, UINT msg, WPARAM wp, LPARAM lp) {
    auto* state = reinterpret_cast<PromptState*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (msg) {
        case WM_INITDIALOG:
            SetWindowLongPtrW(dialog, DWLP_USER, lp);
            LayOut(dialog, *reinterpret_cast<PromptState*>(lp));
            PostMessageW(dialog, kPromptShown, 0, 0);
            return FALSE;  // focus is on Yes already
        case kPromptShown: {
            std::function<void(HWND)> hook;
            {
                std::lock_guard<std::mutex> lock(g_hookLock);
                hook = g_dialogHook;
            }
            if (hook) hook(dialog);
            return TRUE;
        }
        case WM_CTLCOLORDLG:
            return state ? reinterpret_cast<INT_PTR>(state->white.get()) : FALSE;
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORSTATIC: {
            if (!state) return FALSE;
            HDC dc = reinterpret_cast<HDC>(wp);
            const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lp));
            if (id == kPromptLineId) {
                SetBkColor(dc, kLineGrey);
                return reinterpret_cast<INT_PTR>(state->grey.get());
            }
            if (id == kPromptNoteLabelId) SetTextColor(dc, kLinkBlue);
            SetBkColor(dc, kWhite);
            return reinterpret_cast<INT_PTR>(state->white.get());
        }
        case WM_PAINT: {
            ScopedPaint paint(dialog);
            if (state && state->icon) {
                const RECT& r = state->iconRect;
                DrawIconEx(paint.get(), r.left, r.top, state->icon, r.right - r.left, r.bottom - r.top, 0,
                           nullptr, DI_NORMAL);
            }
            return TRUE;
        }
        case WM_SETCURSOR:
            if (GetDlgCtrlID(reinterpret_cast<HWND>(wp)) == kPromptNoteLabelId) {
                SetCursor(LoadCursorW(nullptr, IDC_HAND));
                SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
                return TRUE;
            }
            return FALSE;
        case WM_COMMAND: {
            const int id = LOWORD(wp);
            if (id == kPromptNoteLabelId && HIWORD(wp) == STN_CLICKED) {
                TFormHelper::OpenURL(reinterpret_cast<HWND>(lp));
                return TRUE;
            }
            if (id == IDYES || id == IDNO || id == IDCANCEL) {
                if (state) state->holdTicked = IsDlgButtonChecked(dialog, kPromptHoldCheckId) == BST_CHECKED;
                EndDialog(dialog, id);
                return TRUE;
            }
            return FALSE;
        }
    }
    return FALSE;
}

INT_PTR CALLBACK PromptProc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp) {
    return Guarded<INT_PTR>(FALSE, [&] { return PromptProcBody(dialog, msg, wp, lp); });
}

}  // namespace

void SetUpdateDialogHook(std::function<void(HWND prompt)> hook) {
    std::lock_guard<std::mutex> lock(g_hookLock);
    g_dialogHook = std::move(hook);
}

void TFormHelper::OpenURL(HWND sender) {
    ShellOpen(GetControlHint(sender));
}

bool UpdateDialog(const std::u16string& data) {
    PromptState state;
    state.body = GetUpdateText(TUpdateTextKind::utMessage);
    // Where Yes leads, on a line of its own: the host the update link really goes to (a service's text
    // could name one host while the link goes to another; the host cannot).
    const std::u16string host(LinkHost(ReadUpdateLink(data)));
    if (!host.empty()) state.body += u"\r\r" + host;
    state.info = ReadUpdateInfo(data);
    state.offset = UpdateOffset();
    state.mainWindow = GetUpdateMainWindow();
    state.title = TranslateText(ApplicationTitle());

    // An empty in-memory template: the prompt lays out its own controls at WM_INITDIALOG.
    struct alignas(4) Template {
        DLGTEMPLATE dialog;
        WORD menu, windowClass, title;
    } tpl{};
    tpl.dialog.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_VISIBLE;
    tpl.dialog.dwExtendedStyle = WS_EX_DLGMODALFRAME;
    const INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), &tpl.dialog, state.mainWindow,
                                                   PromptProc, reinterpret_cast<LPARAM>(&state));
    if (state.holdTicked) HoldRequest();
    return result == IDYES;
}

}  // namespace tarnell
