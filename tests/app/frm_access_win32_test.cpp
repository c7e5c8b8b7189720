// The main window for people who do not use the mouse or who need other colours, in this process under
// Wine: colours under a dark system scheme and under high contrast, and the keyboard.
#include <doctest/doctest.h>
#include <windows.h>
// clang-format off
#include <oleacc.h>
// clang-format on

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../support/wait_win32.h"
#include "app/frm_tarnell_win32.h"
#include "app/main_texts.h"
#include "base/shell_open_win32.h"
#include "base/text.h"
#include "base/ui_task_win32.h"
#include "base/wide.h"
#include "config/config_win32.h"
#include "theme/button_styles.h"
#include "theme/palette.h"
#include "theme/system_colors_win32.h"
#include "translate/translation.h"
#include "translate/translation_win32.h"
#include "update/update_hooks_win32.h"
#include "update/update_status_win32.h"

using namespace tarnell;

namespace {

using test::PumpFor;

void ProcessSetUp() {
    static bool done = false;
    if (done) return;
    done = true;
    LoadTranslationTable();
    RegisterVorbeckButtonStyles();
    InitUiTasks();
}

void ForgetSettings() {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tarnell");
}

std::unique_ptr<TFrmTarnell> OpenWindow(const char16_t* language = u"en") {
    ProcessSetUp();
    SetCurrentLanguage(language);
    auto form =
        std::make_unique<TFrmTarnell>(nullptr, TFrmTarnellOptions{u"", u"https://link.example/tarnell"});
    form->Create();
    form->Show();
    SetWindowPos(form->Hwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(form->Hwnd());
    RedrawWindow(form->Hwnd(), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    PumpFor(100);
    return form;
}

std::string U8(const std::u16string& s) {
    return Utf16ToUtf8(s);
}

// Plain colours as the screen holds them (0x00RRGGBB) turned into colour values ($00BBGGRR).
TColor FromScreen(uint32_t p) {
    return RgbColor(uint8_t((p >> 16) & 0xFF), uint8_t((p >> 8) & 0xFF), uint8_t(p & 0xFF));
}

// The pixels of a rectangle of the screen.
std::vector<TColor> ScreenPixels(const RECT& r) {
    const int w = r.right - r.left, h = r.bottom - r.top;
    std::vector<uint32_t> pixels(size_t(std::max(w, 0)) * size_t(std::max(h, 0)));
    if (pixels.empty()) return {};
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(dc, bitmap);
    BitBlt(dc, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(dc, old);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    GetDIBits(dc, bitmap, 0, UINT(h), pixels.data(), &bi, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    std::vector<TColor> colors;
    colors.reserve(pixels.size());
    for (uint32_t p : pixels) colors.push_back(FromScreen(p));
    return colors;
}

// What a text shows against what is behind it: the most common colour of the area is the background, the
// pixel that stands out most from it is the text's own colour (the middle of a stroke).
struct TextSample {
    TColor background = 0;
    TColor text = 0;
    double contrast = 1.0;
};

TextSample SampleText(const RECT& screenRect) {
    const std::vector<TColor> pixels = ScreenPixels(screenRect);
    std::map<TColor, int> counts;
    for (TColor c : pixels) ++counts[c];
    TextSample s;
    int most = 0;
    for (const auto& [color, n] : counts) {
        if (n > most) {
            most = n;
            s.background = color;
        }
    }
    s.text = s.background;
    for (const auto& [color, n] : counts) {
        const double ratio = ContrastRatio(color, s.background);
        if (ratio > s.contrast) {
            s.contrast = ratio;
            s.text = color;
        }
    }
    return s;
}

RECT ScreenRectOf(HWND hwnd) {
    RECT r;
    GetWindowRect(hwnd, &r);
    return r;
}

int Scaled(int value96, const TFrmTarnell& form) {
    return MulDiv(value96, form.CurrentDpi(), 96);
}

// Where the text of each control of a card is drawn, on the screen: a check box's text right of its box,
// a group box's caption in its top strip, everything else over the whole control.
struct TextArea {
    std::string name;
    RECT rect;
};

std::vector<TextArea> TextAreas(TFrmTarnell& form, int card) {
    std::vector<TextArea> areas;
    auto whole = [&](const char* name, TControl* c) { areas.push_back({name, ScreenRectOf(c->Hwnd())}); };
    auto checkText = [&](const char* name, TControl* c) {
        RECT r = ScreenRectOf(c->Hwnd());
        r.left += Scaled(18, form);
        areas.push_back({name, r});
    };
    auto caption = [&](const char* name, TControl* c) {
        RECT r = ScreenRectOf(c->Hwnd());
        r.bottom = r.top + Scaled(16, form);
        r.right = r.left + Scaled(240, form);
        areas.push_back({name, r});
    };
    if (card == 0) {
        whole("LblTitle", form.LblTitle);
        whole("LblContent", form.LblContent);
        whole("BtnStart", form.BtnStart);
    } else {
        caption("GroupBox1", form.GroupBox1);
        caption("GroupBox2", form.GroupBox2);
        caption("GroupBox3", form.GroupBox3);
        whole("LblAdapter", form.LblAdapter);
        whole("LblIPAddress", form.LblIPAddress);
        whole("LblVersion", form.LblVersion);
        checkText("ChkTCPAckFrequency", form.ChkTCPAckFrequency);
        checkText("ChkTcpDelAckTick", form.ChkTcpDelAckTick);
        checkText("ChkTcpNoDelay", form.ChkTcpNoDelay);
        checkText("ChkNetworkThrottlingIndex", form.ChkNetworkThrottlingIndex);
        checkText("ChkSystemResponsiveness", form.ChkSystemResponsiveness);
    }
    // Only what the window shows: the tagline's label is wider than the client area.
    RECT client;
    GetClientRect(form.Hwnd(), &client);
    MapWindowPoints(form.Hwnd(), HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
    for (TextArea& area : areas) IntersectRect(&area.rect, &area.rect, &client);
    return areas;
}

void ShowCard(TFrmTarnell& form, int card) {
    form.BtnHomeClick(card == 0 ? form.BtnHome : form.BtnConfig);
    RedrawWindow(form.Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    PumpFor(150);
}

// Every text of both cards stands out from what is behind it by at least `minimum`; the tagline is drawn
// in the layout's fixed gray $808080 (3.95:1 on white), which is checked against its own figure.
void CheckTextContrast(TFrmTarnell& form, double minimum) {
    for (int card : {0, 1}) {
        ShowCard(form, card);
        for (const TextArea& area : TextAreas(form, card)) {
            CAPTURE(area.name);
            const TextSample s = SampleText(area.rect);
            CAPTURE(s.background);
            CAPTURE(s.text);
            MESSAGE(area.name << ": contrast " << s.contrast);
            CHECK(s.contrast >= (area.name == "LblContent" ? std::min(minimum, 3.9) : minimum));
        }
    }
    ShowCard(form, 0);
}

// Sets system colours for the life of the object, as a dark scheme without high contrast does.
class SystemColors {
  public:
    explicit SystemColors(std::initializer_list<std::pair<int, COLORREF>> colors) {
        for (const auto& [index, color] : colors) {
            indexes_.push_back(index);
            old_.push_back(GetSysColor(index));
            new_.push_back(color);
        }
        SetSysColors(int(indexes_.size()), indexes_.data(), new_.data());
    }
    ~SystemColors() { SetSysColors(int(indexes_.size()), indexes_.data(), old_.data()); }

  private:
    std::vector<int> indexes_;
    std::vector<COLORREF> old_, new_;
};

// Windows' "High Contrast Black" scheme, typed from its colour table.
TColor HighContrastBlack(int index) {
    switch (index) {
        case COLOR_WINDOW:
        case COLOR_BTNFACE:
        case COLOR_HIGHLIGHTTEXT:
            return 0x00000000;
        case COLOR_WINDOWTEXT:
        case COLOR_BTNTEXT:
            return 0x00FFFFFF;
        case COLOR_HIGHLIGHT:
            return 0x00FFEB1A;  // #1AEBFF
        case COLOR_GRAYTEXT:
            return 0x003FF23F;  // #3FF23F
        case COLOR_HOTLIGHT:
            return 0x0000FFFF;  // #FFFF00
        default:
            return 0x00000000;
    }
}

}  // namespace

TEST_CASE("a dark system scheme without high contrast: every text of both cards stays readable") {
    ForgetSettings();
    const SystemColors dark{{COLOR_WINDOW, RGB(0, 0, 0)},       {COLOR_WINDOWTEXT, RGB(255, 255, 255)},
                            {COLOR_BTNFACE, RGB(0, 0, 0)},      {COLOR_BTNTEXT, RGB(255, 255, 255)},
                            {COLOR_GRAYTEXT, RGB(63, 242, 63)}, {COLOR_HIGHLIGHT, RGB(26, 235, 255)},
                            {COLOR_HIGHLIGHTTEXT, RGB(0, 0, 0)}};
    REQUIRE(GetSysColor(COLOR_WINDOWTEXT) == RGB(255, 255, 255));
    REQUIRE_FALSE(HighContrastOn());
    auto form = OpenWindow();
    CheckTextContrast(*form, 4.5);
    // The window keeps its fixed white.
    const TextSample title = SampleText(ScreenRectOf(form->LblTitle->Hwnd()));
    CHECK(title.background == 0x00FFFFFF);
    ForgetSettings();
}

TEST_CASE("high contrast: every colour is the system's, and the window follows a change of scheme") {
    ForgetSettings();
    bool highContrast = false;
    SetSystemColorsForTesting([&] { return highContrast; }, HighContrastBlack);
    auto form = OpenWindow();
    struct Case {
        bool highContrast;
        UINT message;  // what the system sends the window when the scheme changes
        TColor window, text, headerDown;
    };
    const Case cases[] = {
        {true, WM_SYSCOLORCHANGE, 0x00000000, 0x00FFFFFF, 0x00FFEB1A},
        {false, WM_SETTINGCHANGE, 0x00FFFFFF, 0x00000000, 0x00DD843D},
        {true, WM_SETTINGCHANGE, 0x00000000, 0x00FFFFFF, 0x00FFEB1A},
    };
    for (const Case& c : cases) {
        CAPTURE(c.highContrast);
        highContrast = c.highContrast;
        SendMessageW(form->Hwnd(), c.message, 0, 0);
        PumpFor(100);
        CheckTextContrast(*form, 4.5);
        const TextSample title = SampleText(ScreenRectOf(form->LblTitle->Hwnd()));
        CHECK(title.background == c.window);
        CHECK(title.text == c.text);
        const TextSample run = SampleText(ScreenRectOf(form->BtnStart->Hwnd()));
        CHECK(run.background == c.window);
        CHECK(run.text == c.text);
        // The pressed header button: the accent, or the system's highlight.
        RECT home = ScreenRectOf(form->BtnHome->Hwnd());
        home.left += Scaled(3, *form);
        home.right = home.left + Scaled(4, *form);
        const TextSample fill = SampleText(home);
        CHECK(fill.background == c.headerDown);
        // The accent line across the top of the client area, the window being active.
        RECT line{0, 0, Scaled(100, *form), 1};
        MapWindowPoints(form->Hwnd(), HWND_DESKTOP, reinterpret_cast<POINT*>(&line), 2);
        CHECK(SampleText(line).background == c.headerDown);
        ShowCard(*form, 1);
        const TextSample group = SampleText(ScreenRectOf(form->GroupBox2->Hwnd()));
        CHECK(group.background == c.window);
        ShowCard(*form, 0);
    }
    SetSystemColorsForTesting({}, {});
    ForgetSettings();
}

namespace {

// Keys through the system's input queue, as the user types them: T Tab, S Space, E Enter, L and R the
// Left and Right arrows; "^" holds Ctrl, "+" holds Shift for the next key.
void Type(const std::string& keys) {
    bool ctrl = false, shift = false;
    for (char k : keys) {
        if (k == '^') {
            ctrl = true;
            continue;
        }
        if (k == '+') {
            shift = true;
            continue;
        }
        WORD vk = 0;
        switch (k) {
            case 'T':
                vk = VK_TAB;
                break;
            case 'S':
                vk = VK_SPACE;
                break;
            case 'E':
                vk = VK_RETURN;
                break;
            case 'L':
                vk = VK_LEFT;
                break;
            case 'R':
                vk = VK_RIGHT;
                break;
            default:
                FAIL("unknown key " << k);
        }
        std::vector<INPUT> input;
        auto add = [&](WORD key, bool up) {
            INPUT i{};
            i.type = INPUT_KEYBOARD;
            i.ki.wVk = key;
            i.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
            input.push_back(i);
        };
        if (ctrl) add(VK_CONTROL, false);
        if (shift) add(VK_SHIFT, false);
        add(vk, false);
        add(vk, true);
        if (shift) add(VK_SHIFT, true);
        if (ctrl) add(VK_CONTROL, true);
        SendInput(UINT(input.size()), input.data(), sizeof(INPUT));
        PumpFor(40);
        ctrl = shift = false;
    }
}

const char* NameOfFocus(TFrmTarnell& form) {
    HWND focus = GetFocus();
    if (focus == form.Hwnd()) return "form";
    for (TControl* c :
         std::initializer_list<TControl*>{form.BtnHome, form.BtnConfig, form.ImgLogo, form.BtnStart,
                                          form.ChkTCPAckFrequency, form.ChkTcpDelAckTick, form.ChkTcpNoDelay,
                                          form.ChkNetworkThrottlingIndex, form.ChkSystemResponsiveness}) {
        if (c->Hwnd() == focus) {
            static std::string name;
            name = U8(c->Name());
            return name.c_str();
        }
    }
    return focus ? "other" : "none";
}

}  // namespace

TEST_CASE("the keyboard: Tab order, Space and Enter, Ctrl+Tab, and the settings written") {
    struct Case {
        const char* keys;
        const char* focus;
        int card;
        const char16_t* unticked;  // the one option written false, or nullptr: all still true
        bool homeOpened;
    };
    // Tab goes Home, Config, the logo, then the shown card's controls in reading order, and wraps around.
    const Case cases[] = {
        {"", "form", 0, nullptr, false},
        {"T", "BtnHome", 0, nullptr, false},
        {"TT", "BtnConfig", 0, nullptr, false},
        {"TTT", "ImgLogo", 0, nullptr, false},
        {"TTTT", "BtnStart", 0, nullptr, false},
        {"TTTTT", "BtnHome", 0, nullptr, false},
        {"+T", "BtnStart", 0, nullptr, false},
        {"+T+T", "ImgLogo", 0, nullptr, false},
        {"TTS", "BtnConfig", 1, nullptr, false},
        {"TTE", "BtnConfig", 1, nullptr, false},
        {"TTSTT", "ChkTCPAckFrequency", 1, nullptr, false},
        {"TTSTTT", "ChkTcpDelAckTick", 1, nullptr, false},
        {"TTSTTTT", "ChkTcpNoDelay", 1, nullptr, false},
        {"TTSTTTTT", "ChkNetworkThrottlingIndex", 1, nullptr, false},
        {"TTSTTTTTT", "ChkSystemResponsiveness", 1, nullptr, false},
        {"TTSTTTTTTT", "BtnHome", 1, nullptr, false},
        {"TTS+T", "BtnHome", 1, nullptr, false},
        {"TTS+T+T", "ChkSystemResponsiveness", 1, nullptr, false},
        {"TTSTTS", "ChkTCPAckFrequency", 1, u"tcpackfrequency", false},
        {"TTSTTTTTS", "ChkNetworkThrottlingIndex", 1, u"networkthrottleindex", false},
        {"TTS+TS", "BtnHome", 0, nullptr, false},
        {"TTTS", "ImgLogo", 0, nullptr, true},
        {"TTTE", "ImgLogo", 0, nullptr, true},
        {"^T", "BtnConfig", 1, nullptr, false},
        {"^T^T", "BtnHome", 0, nullptr, false},
        {"^+T", "BtnConfig", 1, nullptr, false},
        {"TTTT^T", "BtnConfig", 1, nullptr, false},
        {"^TTT", "ChkTCPAckFrequency", 1, nullptr, false},
        // The header is a tab list: the arrow keys move between its tabs and show their cards.
        {"TR", "BtnConfig", 1, nullptr, false},
        {"TRR", "BtnHome", 0, nullptr, false},
        {"TTL", "BtnHome", 0, nullptr, false},
        {"TL", "BtnConfig", 1, nullptr, false},
        {"TTTTR", "BtnStart", 0, nullptr, false},  // elsewhere they do nothing
    };
    std::u16string opened;
    SetShellOpenHook([&](const std::u16string& target) { opened = target; });
    for (const Case& c : cases) {
        CAPTURE(c.keys);
        ForgetSettings();
        opened.clear();
        auto form = OpenWindow();
        REQUIRE(GetForegroundWindow() == form->Hwnd());
        Type(c.keys);
        CHECK(std::string(NameOfFocus(*form)) == c.focus);
        CHECK(form->PnlMain->ActiveCardIndex() == c.card);
        CHECK(form->BtnHome->Down() == (c.card == 0));
        CHECK(form->BtnConfig->Down() == (c.card == 1));
        CHECK(!opened.empty() == c.homeOpened);
        CHECK(form->RunControl()->Status() == stIdle);
        for (const char16_t* key : {u"tcpnodelay", u"tcpackfrequency", u"tcpdelacktick",
                                    u"networkthrottleindex", u"systemresponsiveness"}) {
            CAPTURE(U8(key));
            const bool unticked = c.unticked && std::u16string(c.unticked) == key;
            CHECK(TConfig(u"Tarnell").ReadBoolean(key, false) == !unticked);
        }
        // Cues show once a key moved the focus, never before.
        const bool keyboardUsed = std::string(c.keys).find('T') != std::string::npos;
        CHECK(form->FocusCuesShown() == keyboardUsed);
        CHECK(SendMessageW(form->Hwnd(), WM_QUERYUISTATE, 0, 0) == (keyboardUsed ? 0 : UISF_HIDEFOCUS));
    }
    SetShellOpenHook(nullptr);
    ForgetSettings();
}

TEST_CASE("the focus skips what is disabled or hidden and comes back to the run switch once it is usable") {
    ForgetSettings();
    auto form = OpenWindow();
    Type("TTTT");
    REQUIRE(GetFocus() == form->BtnStart->Hwnd());
    // Busy: the run switch is disabled and gives the focus to the window; Tab passes over it.
    form->SetRunEnabled(false);
    CHECK(GetFocus() == form->Hwnd());
    Type("TTTT");
    CHECK(GetFocus() == form->BtnHome->Hwnd());
    Type("+T+T");
    CHECK(GetFocus() == form->BtnConfig->Hwnd());
    // Enabled again while the focus is on a header button: it stays there.
    form->SetRunEnabled(true);
    CHECK(GetFocus() == form->BtnConfig->Hwnd());
    // Disabled and enabled while the window holds the focus it gave up: the run switch takes it back.
    Type("TT");
    REQUIRE(GetFocus() == form->BtnStart->Hwnd());
    form->SetRunEnabled(false);
    REQUIRE(GetFocus() == form->Hwnd());
    form->SetRunEnabled(true);
    CHECK(GetFocus() == form->BtnStart->Hwnd());
    // The option switches while they are disabled.
    Type("^T");
    for (TRunOption o : {TRunOption::TcpAckFrequency, TRunOption::TcpDelAckTick, TRunOption::TcpNoDelay,
                         TRunOption::NetworkThrottlingIndex, TRunOption::SystemResponsiveness})
        form->SetOptionEnabled(o, false);
    REQUIRE(GetFocus() == form->BtnConfig->Hwnd());
    Type("TT");  // the logo, then past the five disabled switches round to Home
    CHECK(GetFocus() == form->BtnHome->Hwnd());
    ForgetSettings();
}

TEST_CASE("the mouse: a click gives no own button the focus and shows no focus cue") {
    ForgetSettings();
    auto form = OpenWindow();
    for (TControl* c : std::initializer_list<TControl*>{form->BtnConfig, form->BtnHome, form->ImgLogo}) {
        CAPTURE(U8(c->Name()));
        RECT r;
        GetClientRect(c->Hwnd(), &r);
        const LPARAM centre = MAKELPARAM(r.right / 2, r.bottom / 2);
        SetShellOpenHook([](const std::u16string&) {});
        SendMessageW(c->Hwnd(), WM_MOUSEMOVE, 0, centre);
        SendMessageW(c->Hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, centre);
        SendMessageW(c->Hwnd(), WM_LBUTTONUP, 0, centre);
        PumpFor(30);
        SetShellOpenHook(nullptr);
        CHECK(GetFocus() == form->Hwnd());
        CHECK_FALSE(form->FocusCuesShown());
        CHECK(SendMessageW(c->Hwnd(), WM_QUERYUISTATE, 0, 0) == UISF_HIDEFOCUS);
    }
    ForgetSettings();
}

namespace {

// What a screen reader in another program reads of one window, through the IAccessible its WM_GETOBJECT
// hands out (the interface id spelled out: mingw's import library gets it wrong).
struct Heard {
    bool found = false;
    long role = 0;
    std::string name, description, action;
    long state = 0;
};

std::string Take(HRESULT hr, BSTR text) {
    std::string s;
    if (SUCCEEDED(hr) && text) {
        s = U8(std::u16string(reinterpret_cast<const char16_t*>(text), SysStringLen(text)));
    }
    if (text) SysFreeString(text);
    return s;
}

IAccessible* AccessibleOf(HWND hwnd) {
    IAccessible* acc = nullptr;
    if (FAILED(AccessibleObjectFromWindow(hwnd, DWORD(OBJID_CLIENT), __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&acc))))
        return nullptr;
    return acc;
}

Heard Hear(HWND hwnd) {
    Heard h;
    IAccessible* acc = AccessibleOf(hwnd);
    if (!acc) return h;
    h.found = true;
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    VARIANT v;
    VariantInit(&v);
    if (SUCCEEDED(acc->get_accRole(self, &v)) && v.vt == VT_I4) h.role = v.lVal;
    VariantInit(&v);
    if (SUCCEEDED(acc->get_accState(self, &v)) && v.vt == VT_I4) h.state = v.lVal;
    BSTR text = nullptr;
    HRESULT hr = acc->get_accName(self, &text);
    h.name = Take(hr, text);
    text = nullptr;
    hr = acc->get_accDescription(self, &text);
    h.description = Take(hr, text);
    text = nullptr;
    hr = acc->get_accDefaultAction(self, &text);
    h.action = Take(hr, text);
    acc->Release();
    return h;
}

HRESULT DoDefaultAction(HWND hwnd) {
    IAccessible* acc = AccessibleOf(hwnd);
    if (!acc) return E_NOINTERFACE;
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    const HRESULT hr = acc->accDoDefaultAction(self);
    acc->Release();
    return hr;
}

// Window events as an out-of-context hook receives them.
std::vector<std::pair<DWORD, HWND>>& Events() {
    static std::vector<std::pair<DWORD, HWND>> events;
    return events;
}

void CALLBACK OnEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD, DWORD) {
    if (object == OBJID_CLIENT && child == CHILDID_SELF) Events().push_back({event, hwnd});
}

bool Received(DWORD event, HWND hwnd) {
    return std::find(Events().begin(), Events().end(), std::make_pair(event, hwnd)) != Events().end();
}

}  // namespace

TEST_CASE("a screen reader hears every own control by a translated name, with its role, state and action") {
    constexpr long F = STATE_SYSTEM_FOCUSABLE;
    struct Case {
        const char16_t* control;
        long role;
        const char* en;  // name, English
        const char* ko;  // name, Korean
        long state;      // with the home card shown, idle
        const char* actionEn;
        const char* descriptionEn;
    };
    const Case cases[] = {
        {u"BtnStart", ROLE_SYSTEM_PUSHBUTTON, "Run", "실행하기", F, "Press", "Applies the network tweaks"},
        {u"BtnHome", ROLE_SYSTEM_PAGETAB, "Home", "처음화면",
         F | STATE_SYSTEM_SELECTABLE | STATE_SYSTEM_SELECTED, "Switch", ""},
        {u"BtnConfig", ROLE_SYSTEM_PAGETAB, "Config", "환경설정", F | STATE_SYSTEM_SELECTABLE, "Switch", ""},
        {u"ImgLogo", ROLE_SYSTEM_LINK, "Tarnell website", "Tarnell 홈페이지", F | STATE_SYSTEM_LINKED, "Open",
         ""},
        {u"Indicator", ROLE_SYSTEM_ANIMATION, "Changing the network settings, please wait",
         "네트워크 설정을 변경하는 중입니다. 잠시 기다려 주세요",
         F | STATE_SYSTEM_INVISIBLE | STATE_SYSTEM_BUSY | STATE_SYSTEM_ANIMATED, "", ""},
        {u"LblTitle", ROLE_SYSTEM_STATICTEXT, "Tarnell", "타르넬", STATE_SYSTEM_READONLY, "", ""},
        {u"Card1", ROLE_SYSTEM_PROPERTYPAGE, "Home", "처음화면", 0, "", ""},
        {u"Card2", ROLE_SYSTEM_PROPERTYPAGE, "Config", "환경설정", STATE_SYSTEM_INVISIBLE, "", ""},
        {u"PnlMain", ROLE_SYSTEM_GROUPING, "", "", 0, "", ""},
        {u"PnlHead", ROLE_SYSTEM_GROUPING, "", "", 0, "", ""},
        {u"BtnHead", ROLE_SYSTEM_PAGETABLIST, "", "", 0, "", ""},
        {u"GroupBox2", ROLE_SYSTEM_GROUPING, "Disable Nagle's algorithm", "네이글 알고리즘 해제",
         STATE_SYSTEM_INVISIBLE, "", ""},
        {u"ChkTcpNoDelay", ROLE_SYSTEM_CHECKBUTTON, "TcpNoDelay", "TcpNoDelay",
         F | STATE_SYSTEM_CHECKED | STATE_SYSTEM_INVISIBLE, "Uncheck",
         "Disable Nagle's algorithm. Applied to the registry at the next run"},
        {u"ChkSystemResponsiveness", ROLE_SYSTEM_CHECKBUTTON, "SystemResponsiveness", "SystemResponsiveness",
         F | STATE_SYSTEM_CHECKED | STATE_SYSTEM_INVISIBLE, "Uncheck", nullptr},
    };
    for (const char16_t* language : {u"en", u"ko"}) {
        const bool english = std::u16string(language) == u"en";
        CAPTURE(U8(language));
        ForgetSettings();
        auto form = OpenWindow(language);
        for (const Case& c : cases) {
            CAPTURE(U8(c.control));
            auto* control = dynamic_cast<TControl*>(form->FindComponent(c.control));
            REQUIRE(control);
            const Heard h = Hear(control->Hwnd());
            REQUIRE(h.found);
            CHECK(h.role == c.role);
            CHECK(h.name == (english ? c.en : c.ko));
            CHECK(h.state == c.state);
            if (english) {
                CHECK(h.action == c.actionEn);
                if (c.descriptionEn) CHECK(h.description == c.descriptionEn);
            } else {
                CHECK(h.action.empty() == (std::string(c.actionEn).empty()));
                if (c.descriptionEn && *c.descriptionEn)
                    CHECK(h.description == (c.role == ROLE_SYSTEM_CHECKBUTTON
                                                ? "네이글 알고리즘 해제. 다음 실행 때 레지스트리에 적용됩니다"
                                                : "네트워크 최적화를 적용합니다"));
            }
        }
        // The tagline: its text without the markup.
        const char* taglinesEn[] = {"Easily improve game responsiveness.",
                                    "Minimize latency with an optimized network.",
                                    "Improve game speed and stability with simple settings."};
        const char* taglinesKo[] = {"게임 반응 속도를 손쉽게 향상 시킵니다.",
                                    "최적화된 네트워크로 지연 시간을 최소화합니다.",
                                    "간편한 설정으로 게임 속도와 안정성을 동시에 개선합니다."};
        const Heard tagline = Hear(form->LblContent->Hwnd());
        CHECK(tagline.role == ROLE_SYSTEM_STATICTEXT);
        CHECK(tagline.name == (english ? taglinesEn : taglinesKo)[form->TaglineIndex()]);

        // The run switch while running and while busy: what activating it does, and its state.
        form->RunControl()->SetStatus(stRunning);
        Heard run = Hear(form->BtnStart->Hwnd());
        CHECK(run.name == (english ? "Running" : "실행중"));
        CHECK(run.description ==
              (english ? "Stops and reverts the network tweaks" : "중지하고 네트워크 최적화를 되돌립니다"));
        CHECK(run.state == (F | STATE_SYSTEM_PRESSED));
        form->RunControl()->SetStatus(stBusy);
        run = Hear(form->BtnStart->Hwnd());
        CHECK(run.name == (english ? "Changing the network settings, please wait"
                                   : "네트워크 설정을 변경하는 중입니다. 잠시 기다려 주세요"));
        CHECK(run.state == (F | STATE_SYSTEM_UNAVAILABLE | STATE_SYSTEM_BUSY));
        CHECK(Hear(form->Indicator->Hwnd()).state == (F | STATE_SYSTEM_BUSY | STATE_SYSTEM_ANIMATED));
        form->RunControl()->SetStatus(stIdle);
    }
    ForgetSettings();
}

TEST_CASE("a screen reader's default action clicks; the window announces name, state, selection and focus") {
    ForgetSettings();
    auto form = OpenWindow();
    Events().clear();
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_MIN, EVENT_MAX, nullptr, OnEvent, GetCurrentProcessId(), 0,
                                         WINEVENT_OUTOFCONTEXT);
    REQUIRE(hook);

    // The Config tab: the card changes, the tab is selected, both tabs' states change.
    CHECK(DoDefaultAction(form->BtnConfig->Hwnd()) == S_OK);
    PumpFor(100);
    CHECK(form->PnlMain->ActiveCardIndex() == 1);
    CHECK(Received(EVENT_OBJECT_SELECTION, form->BtnConfig->Hwnd()));
    CHECK(Received(EVENT_OBJECT_STATECHANGE, form->BtnConfig->Hwnd()));
    CHECK(Received(EVENT_OBJECT_STATECHANGE, form->BtnHome->Hwnd()));
    CHECK((Hear(form->BtnConfig->Hwnd()).state & STATE_SYSTEM_SELECTED) != 0);

    // An option switch: unticked and recorded; its state change is announced.
    CHECK(DoDefaultAction(form->ChkTcpNoDelay->Hwnd()) == S_OK);
    PumpFor(100);
    CHECK_FALSE(form->ChkTcpNoDelay->Checked());
    CHECK_FALSE(TConfig(u"Tarnell").ReadBoolean(u"tcpnodelay", true));
    CHECK(Received(EVENT_OBJECT_STATECHANGE, form->ChkTcpNoDelay->Hwnd()));

    // The logo opens the home page.
    std::u16string opened;
    SetShellOpenHook([&](const std::u16string& target) { opened = target; });
    CHECK(DoDefaultAction(form->ImgLogo->Hwnd()) == S_OK);
    PumpFor(100);
    SetShellOpenHook(nullptr);
    CHECK(U8(opened) == "https://link.example/tarnell");

    // The run switch: the status changes its name and state, and both are announced.
    Events().clear();
    form->RunControl()->SetStatus(stBusy);
    PumpFor(50);
    CHECK(Received(EVENT_OBJECT_NAMECHANGE, form->BtnStart->Hwnd()));
    CHECK(Received(EVENT_OBJECT_STATECHANGE, form->BtnStart->Hwnd()));
    CHECK(DoDefaultAction(form->BtnStart->Hwnd()) == E_FAIL);  // busy: nothing to do
    form->RunControl()->SetStatus(stIdle);

    // Focus moved by the keyboard onto an own control is announced for it.
    Events().clear();
    ShowCard(*form, 0);
    Type("T");
    PumpFor(50);
    CHECK(GetFocus() == form->BtnHome->Hwnd());
    CHECK(Received(EVENT_OBJECT_FOCUS, form->BtnHome->Hwnd()));

    UnhookWinEvent(hook);
    ForgetSettings();
}

namespace {

// Sets the system's icon-title font (the font the window takes as its desktop font) to `height` pixels at
// 96 DPI for the life of the object, as a larger text size in the system's settings does.
class IconTitleFont {
  public:
    explicit IconTitleFont(int height96) {
        SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof(old_), &old_, 0);
        LOGFONTW lf = old_;
        HDC screen = GetDC(nullptr);
        lf.lfHeight = -MulDiv(height96, GetDeviceCaps(screen, LOGPIXELSY), 96);
        ReleaseDC(nullptr, screen);
        SystemParametersInfoW(SPI_SETICONTITLELOGFONT, sizeof(lf), &lf, 0);
    }
    ~IconTitleFont() { SystemParametersInfoW(SPI_SETICONTITLELOGFONT, sizeof(old_), &old_, 0); }

  private:
    LOGFONTW old_{};
};

struct Fit {
    int textWidth = 0, textHeight = 0;  // the caption in the control's font
    int room = 0, height = 0;           // the width the caption may take, the control's height
};

Fit Measure(TControl& c, int roomInset96, int dpi) {
    Fit f;
    HDC dc = GetDC(c.Hwnd());
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(c.Hwnd(), WM_GETFONT, 0, 0)));
    const std::wstring text(reinterpret_cast<const wchar_t*>(c.Caption().c_str()), c.Caption().size());
    SIZE extent{};
    GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &extent);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(c.Hwnd(), dc);
    RECT r;
    GetClientRect(c.Hwnd(), &r);
    f.textWidth = extent.cx;
    f.textHeight = tm.tmHeight;
    f.room = r.right - MulDiv(roomInset96, dpi, 96);
    f.height = r.bottom;
    return f;
}

}  // namespace

TEST_CASE("a larger system text size: the layout grows with the text and no caption is cut") {
    struct Row {
        const char16_t* control;
        int inset96;  // what the control keeps for itself beside the caption: the check box's box and gap
    };
    const Row rows[] = {{u"LblAdapter", 0},
                        {u"LblIPAddress", 0},
                        {u"LblVersion", 0},
                        {u"ChkTCPAckFrequency", 20},
                        {u"ChkTcpDelAckTick", 20},
                        {u"ChkTcpNoDelay", 20},
                        {u"ChkNetworkThrottlingIndex", 20},
                        {u"ChkSystemResponsiveness", 20},
                        {u"BtnHome", 4},
                        {u"BtnConfig", 4},
                        {u"BtnStart", 8},
                        {u"GroupBox1", 20},
                        {u"GroupBox2", 20},
                        {u"GroupBox3", 20}};
    for (const char16_t* language : {u"en", u"ko"}) {
        CAPTURE(U8(language));
        std::map<std::u16string, Fit> standard;
        for (int height96 : {12, 18}) {  // 9 points, the standard size; then 150 %
            CAPTURE(height96);
            const IconTitleFont font(height96);
            auto form = OpenWindow(language);
            const int dpi = form->CurrentDpi();
            MESSAGE(U8(language) << ", font " << height96 << " px: layout at " << dpi << " DPI on a "
                                 << form->MonitorDpi() << " DPI screen, text scale "
                                 << form->TextScalePercent() << " %");
            if (height96 == 18) CHECK(form->TextScalePercent() == 150);
            // Centred on the screen at its grown size.
            RECT outer;
            GetWindowRect(form->Hwnd(), &outer);
            CHECK(std::abs((outer.left + outer.right) - GetSystemMetrics(SM_CXSCREEN)) <= 2);
            CHECK(std::abs((outer.top + outer.bottom) - GetSystemMetrics(SM_CYSCREEN)) <= 2);
            for (const Row& row : rows) {
                CAPTURE(U8(row.control));
                auto* c = dynamic_cast<TControl*>(form->FindComponent(row.control));
                REQUIRE(c);
                const Fit f = Measure(*c, row.inset96, dpi);
                CAPTURE(f.textWidth);
                CAPTURE(f.room);
                CAPTURE(f.textHeight);
                CAPTURE(f.height);
                // Every caption fits its width.
                CHECK(f.textWidth <= f.room);
                if (height96 == 12) {
                    standard[row.control] = f;
                } else {
                    // The control grew at least as much as its text did (one pixel for rounding), so what
                    // fits at the standard size in height fits here too.
                    const Fit& s = standard[row.control];
                    CHECK(f.textHeight * s.height <= f.height * s.textHeight + s.textHeight);
                    CHECK(f.textHeight > s.textHeight);  // the text did grow
                }
            }
        }
    }
}

namespace {

// The windows behind a container's children as a screen reader walks them (AccessibleChildren on the
// container's object; each child is its window's object), by control name.
std::vector<std::string> ChildrenHeard(TFrmTarnell& form, HWND container) {
    std::vector<std::string> names;
    IAccessible* acc = AccessibleOf(container);
    if (!acc) return {"(no object)"};
    long count = 0;
    acc->get_accChildCount(&count);
    std::vector<VARIANT> items(size_t(std::max(count, 0L)));
    long got = 0;
    if (count > 0 && SUCCEEDED(AccessibleChildren(acc, 0, count, items.data(), &got))) {
        for (long i = 0; i < got; ++i) {
            HWND hwnd = nullptr;
            if (items[size_t(i)].vt == VT_DISPATCH && items[size_t(i)].pdispVal) {
                IAccessible* child = nullptr;
                if (SUCCEEDED(items[size_t(i)].pdispVal->QueryInterface(__uuidof(IAccessible),
                                                                        reinterpret_cast<void**>(&child)))) {
                    WindowFromAccessibleObject(child, &hwnd);
                    child->Release();
                }
            }
            VariantClear(&items[size_t(i)]);
            if (hwnd && hwnd == FindUpdateStatusBar(form.Hwnd())) {
                names.push_back("StatusBar");
            } else if (TControl* c = TControl::FromHwnd(hwnd)) {
                names.push_back(U8(c->Name()));
            } else {
                wchar_t cls[64] = {};
                GetClassNameW(hwnd, cls, 64);
                names.push_back(hwnd ? "other " + U8(FromWide(cls)) : "(no window)");
            }
        }
    }
    acc->Release();
    return names;
}

// The shown child windows of a container in z-order, top first: the order UI Automation and the
// system's own objects list them on Windows.
std::vector<std::string> ZOrder(TFrmTarnell& form, HWND container) {
    std::vector<std::string> names;
    for (HWND child = GetWindow(container, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child)) continue;
        if (child == FindUpdateStatusBar(form.Hwnd())) {
            names.push_back("StatusBar");
        } else if (TControl* c = TControl::FromHwnd(child)) {
            names.push_back(U8(c->Name()));
        } else {
            wchar_t cls[64] = {};
            GetClassNameW(child, cls, 64);
            names.push_back("other " + U8(FromWide(cls)));
        }
    }
    return names;
}

}  // namespace

TEST_CASE(
    "a screen reader meets each container's children in reading order, without decoration or hidden ones") {
    ForgetSettings();
    auto form = OpenWindow();
    using Names = std::vector<std::string>;
    struct Case {
        const char* container;
        int card;        // the card shown
        bool busy;       // the run switch busy: the indicator shows on it
        bool notice;     // the notice line shown
        Names children;  // what a reader meets, top to bottom, left to right
        Names zOrder;    // the shown windows top first; empty: as children
    };
    // Typed from the layout: the accent line is decoration; BtnDonate and the card not shown are hidden.
    const Case cases[] = {
        {"FrmTarnell",
         0,
         false,
         false,
         {"PnlHead", "PnlMain"},
         {"other TarnellAccentLine", "PnlHead", "PnlMain"}},
        {"PnlHead", 0, false, false, {"BtnHead", "PnlLogo"}, {}},
        {"BtnHead", 0, false, false, {"BtnHome", "BtnConfig"}, {}},
        {"PnlLogo", 0, false, false, {"ImgLogo"}, {}},
        {"PnlMain", 0, false, false, {"Card1"}, {}},
        {"Card1", 0, false, false, {"LblTitle", "LblContent", "BtnStart"}, {}},
        // Drawn on the run switch, the indicator lies above it; a reader meets it after the switch.
        {"Card1",
         0,
         true,
         false,
         {"LblTitle", "LblContent", "BtnStart", "Indicator"},
         {"LblTitle", "LblContent", "Indicator", "BtnStart"}},
        {"PnlMain", 1, false, false, {"Card2"}, {}},
        {"Card2", 1, false, false, {"GroupBox1", "GroupBox2", "GroupBox3", "LblVersion"}, {}},
        {"GroupBox1", 1, false, false, {"LblAdapter", "LblIPAddress"}, {}},
        {"GroupBox2", 1, false, false, {"ChkTCPAckFrequency", "ChkTcpDelAckTick", "ChkTcpNoDelay"}, {}},
        {"GroupBox3", 1, false, false, {"ChkNetworkThrottlingIndex", "ChkSystemResponsiveness"}, {}},
        {"FrmTarnell",
         0,
         false,
         true,
         {"PnlHead", "PnlMain", "StatusBar"},
         {"other TarnellAccentLine", "PnlHead", "PnlMain", "StatusBar"}},
    };
    for (const Case& c : cases) {
        CAPTURE(c.container);
        CAPTURE(c.card);
        CAPTURE(c.busy);
        CAPTURE(c.notice);
        ShowCard(*form, c.card);
        if (c.busy) form->RunControl()->SetStatus(stBusy);
        if (c.notice) ShowUpdateStatus(form->Hwnd(), u"Update available", u"https://link.example/news");
        PumpFor(50);
        const std::u16string name = FromAscii(c.container);
        HWND container =
            name == u"FrmTarnell" ? form->Hwnd() : dynamic_cast<TControl*>(form->FindComponent(name))->Hwnd();
        CHECK(ChildrenHeard(*form, container) == c.children);
        CHECK(ZOrder(*form, container) == (c.zOrder.empty() ? c.children : c.zOrder));
        if (c.busy) form->RunControl()->SetStatus(stIdle);
    }
    ForgetSettings();
}

TEST_CASE("the run switch is named by its caption in all seven languages; what it does is its description") {
    // Typed from the translation table: the run switch's captions, the adapter group's caption.
    struct Case {
        const char16_t* language;
        const char* run;
        const char* running;
        const char* nagle;  // GroupBox2's caption, which begins the option switches' description
        const char* separator;
    };
    const Case cases[] = {
        {u"ko", "실행하기", "실행중", "네이글 알고리즘 해제", ". "},
        {u"en", "Run", "Running", "Disable Nagle's algorithm", ". "},
        {u"ja", "実行する", "実行中", "ネイグルアルゴリズムを無効にする", "。"},
        {u"zh", "运行", "运行中", "禁用Nagle算法", "。"},
        {u"ru", "Запустить", "Выполняется", "Отключить алгоритм Нейгла", ". "},
        {u"it", "Avvia", "In esecuzione", "Disabilita l'algoritmo di Nagle", ". "},
        {u"fr", "Exécuter", "En cours", "Désactiver l'algorithme de Nagle", ". "},
    };
    for (const Case& c : cases) {
        CAPTURE(U8(c.language));
        ForgetSettings();
        auto form = OpenWindow(c.language);
        for (bool running : {false, true}) {
            CAPTURE(running);
            form->RunControl()->SetStatus(running ? stRunning : stIdle);
            const std::string caption = running ? c.running : c.run;
            CHECK(U8(form->BtnStart->Caption()) == caption);  // what the switch shows
            const Heard h = Hear(form->BtnStart->Hwnd());
            CHECK(h.name == caption);
            CHECK_FALSE(h.description.empty());
            CHECK(h.description != h.name);
        }
        form->RunControl()->SetStatus(stIdle);
        // Every other own control's name holds what it shows.
        for (TControl* shown : std::initializer_list<TControl*>{
                 form->BtnHome, form->BtnConfig, form->LblTitle, form->ChkTcpNoDelay, form->GroupBox2}) {
            CAPTURE(U8(shown->Name()));
            CHECK(Hear(shown->Hwnd()).name.find(U8(shown->Caption())) != std::string::npos);
        }
        // The logo shows the name in Latin letters whatever the language.
        CHECK(Hear(form->ImgLogo->Hwnd()).name.find("Tarnell") != std::string::npos);
        const std::string description = Hear(form->ChkTcpNoDelay->Hwnd()).description;
        CHECK(description.rfind(std::string(c.nagle) + c.separator, 0) == 0);
    }
    ForgetSettings();
}

TEST_CASE("busy: the indicator holds the focus the run switch gave up, says so, and gives it back") {
    ForgetSettings();
    auto form = OpenWindow();
    Events().clear();
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_MIN, EVENT_MAX, nullptr, OnEvent, GetCurrentProcessId(), 0,
                                         WINEVENT_OUTOFCONTEXT);
    REQUIRE(hook);
    Type("TTTT");
    REQUIRE(GetFocus() == form->BtnStart->Hwnd());
    for (TStatus settled : {stRunning, stIdle}) {
        CAPTURE(int(settled));
        Events().clear();
        form->RunControl()->SetStatus(stBusy);
        PumpFor(50);
        CHECK(GetFocus() == form->Indicator->Hwnd());
        CHECK(Received(EVENT_OBJECT_FOCUS, form->Indicator->Hwnd()));
        const Heard busy = Hear(form->Indicator->Hwnd());
        CHECK(busy.name == "Changing the network settings, please wait");
        CHECK((busy.state & (STATE_SYSTEM_FOCUSED | STATE_SYSTEM_BUSY)) ==
              (STATE_SYSTEM_FOCUSED | STATE_SYSTEM_BUSY));
        form->RunControl()->SetStatus(settled);
        PumpFor(50);
        CHECK(GetFocus() == form->BtnStart->Hwnd());
        CHECK(Received(EVENT_OBJECT_FOCUS, form->BtnStart->Hwnd()));
    }
    UnhookWinEvent(hook);
    ForgetSettings();
}

TEST_CASE("the notice line: a Tab stop after the run switch, opened by Space and Enter, named by its text") {
    ForgetSettings();
    auto form = OpenWindow();
    Events().clear();
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_MIN, EVENT_MAX, nullptr, OnEvent, GetCurrentProcessId(), 0,
                                         WINEVENT_OUTOFCONTEXT);
    REQUIRE(hook);
    std::vector<std::string> opened;
    SetShellOpenHook([&](const std::u16string& target) { opened.push_back(U8(target)); });
    ShowUpdateStatus(form->Hwnd(), u"Update available", u"https://link.example/news");
    PumpFor(100);
    HWND bar = FindUpdateStatusBar(form->Hwnd());
    REQUIRE(bar);
    // Its appearance is announced, and a reader hears a link named by what it shows.
    CHECK(Received(EVENT_OBJECT_SHOW, bar));
    CHECK(Received(EVENT_OBJECT_NAMECHANGE, bar));
    CHECK(Received(EVENT_SYSTEM_ALERT, bar));
    const Heard h = Hear(bar);
    CHECK(h.role == ROLE_SYSTEM_LINK);
    CHECK(h.name == "Update available");
    CHECK(h.action == "Open");
    CHECK(h.state == (STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_LINKED));
    // The keyboard: last in the Tab order, Space and Enter open the link, Tab goes on round.
    RedrawWindow(bar, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    PumpFor(50);
    const std::vector<TColor> unfocused = ScreenPixels(ScreenRectOf(bar));
    Type("TTTTT");
    CHECK(GetFocus() == bar);
    // Its focus ring stands out from the line's face, which it is drawn on.
    RedrawWindow(bar, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    PumpFor(50);
    const std::vector<TColor> focused = ScreenPixels(ScreenRectOf(bar));
    double ring = 1.0;
    size_t changed = 0;
    for (size_t i = 0; i < focused.size() && i < unfocused.size(); ++i) {
        if (focused[i] == unfocused[i]) continue;
        ++changed;
        ring = std::max(ring, ContrastRatio(focused[i], unfocused[i]));
    }
    MESSAGE("notice line: " << changed << " pixels of focus ring, " << ring << ":1 against the face");
    CHECK(changed > 0);
    CHECK(ring >= 3.0);
    CHECK(Received(EVENT_OBJECT_FOCUS, bar));
    CHECK((Hear(bar).state & STATE_SYSTEM_FOCUSED) != 0);
    Type("S");
    Type("E");
    CHECK(opened == std::vector<std::string>{"https://link.example/news", "https://link.example/news"});
    Type("T");
    CHECK(GetFocus() == form->BtnHome->Hwnd());
    Type("+T");
    CHECK(GetFocus() == bar);
    // A reader's default action opens it as well.
    CHECK(DoDefaultAction(bar) == S_OK);
    PumpFor(100);
    CHECK(opened.size() == 3);
    SetShellOpenHook(nullptr);
    UnhookWinEvent(hook);
    ForgetSettings();
}

TEST_CASE("after a box or prompt of the window's own closes, the focus is back on a control") {
    ForgetSettings();
    struct Case {
        const char* keys;   // typed before the box opens
        const char* focus;  // where the focus is once it closed
    };
    const Case cases[] = {{"TT", "BtnConfig"}, {"TTTT", "BtnStart"}, {"", "BtnHome"}};
    for (const Case& c : cases) {
        CAPTURE(c.keys);
        auto form = OpenWindow();
        Type(c.keys);
        HWND box = CreateWindowExW(0, L"STATIC", L"box", WS_POPUP | WS_VISIBLE | WS_CAPTION, 20, 20, 200, 100,
                                   form->Hwnd(), nullptr, GetModuleHandleW(nullptr), nullptr);
        REQUIRE(box);
        SetForegroundWindow(box);
        SetActiveWindow(box);
        PumpFor(50);
        REQUIRE(GetActiveWindow() == box);
        DestroyWindow(box);
        PumpFor(50);
        CHECK(GetActiveWindow() == form->Hwnd());
        CHECK(std::string(NameOfFocus(*form)) == c.focus);
        // Nothing shows for a mouse user until the keyboard is used.
        CHECK(form->FocusCuesShown() == (std::string(c.keys).find('T') != std::string::npos));
    }
    ForgetSettings();
}

namespace {

// Sets the system's text size (Settings > Accessibility > Text size) for the life of the object.
class TextScaleFactor {
  public:
    explicit TextScaleFactor(DWORD percent) {
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Accessibility", 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &key_, nullptr);
        DWORD size = sizeof(old_);
        had_ = RegQueryValueExW(key_, L"TextScaleFactor", nullptr, nullptr, reinterpret_cast<BYTE*>(&old_),
                                &size) == ERROR_SUCCESS;
        RegSetValueExW(key_, L"TextScaleFactor", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&percent),
                       sizeof(percent));
    }
    ~TextScaleFactor() {
        if (had_)
            RegSetValueExW(key_, L"TextScaleFactor", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old_),
                           sizeof(old_));
        else
            RegDeleteValueW(key_, L"TextScaleFactor");
        RegCloseKey(key_);
    }

  private:
    HKEY key_ = nullptr;
    DWORD old_ = 0;
    bool had_ = false;
};

}  // namespace

TEST_CASE("the text size setting grows the text by the factor the layout grows, the system font unchanged") {
    // Wine enlarges no system font for the setting (Windows does); either way the text must grow with it.
    const IconTitleFont standard(12);
    struct Sample {
        int layoutDpi = 0;
        std::map<std::string, int> heights;
    };
    std::map<DWORD, Sample> samples;
    for (DWORD percent : {DWORD(100), DWORD(150)}) {
        CAPTURE(percent);
        const TextScaleFactor scale(percent);
        auto form = OpenWindow();
        Sample& s = samples[percent];
        s.layoutDpi = form->CurrentDpi();
        for (TControl* c : std::initializer_list<TControl*>{form->LblAdapter, form->BtnStart, form->BtnHome,
                                                            form->ChkTcpNoDelay, form->LblVersion}) {
            s.heights[U8(c->Name())] = Measure(*c, 0, s.layoutDpi).textHeight;
        }
        MESSAGE("text size " << percent << " %: layout at " << s.layoutDpi << " DPI on a "
                             << form->MonitorDpi() << " DPI screen, text height " << s.heights["LblAdapter"]
                             << " px");
    }
    const Sample& normal = samples[100];
    const Sample& large = samples[150];
    CHECK(large.layoutDpi * 2 == normal.layoutDpi * 3);  // the screen has room for it here
    for (const auto& [name, height] : normal.heights) {
        CAPTURE(name);
        const int grown = large.heights.at(name);
        CAPTURE(height);
        CAPTURE(grown);
        CHECK(grown * 10 >= height * 14);  // at least 1.4 times the 100 % height
        // The same factor as the layout, to a pixel of rounding.
        CHECK(std::abs(grown * normal.layoutDpi - height * large.layoutDpi) <= normal.layoutDpi);
    }
}
