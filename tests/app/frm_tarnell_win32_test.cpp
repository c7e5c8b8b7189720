// The main window in this process under Wine: built from its form description at the stored places,
// the start-up sequence (captions, tagline, version line, state load), navigation and option switches.
// No service check: the window is given no service address.
#include <doctest/doctest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "../support/machine_registry_win32.h"
#include "../support/wait_win32.h"
#include "../translate/table_expected.h"
#include "app/frm_tarnell_win32.h"
#include "app/main_layout.h"
#include "base/application_title.h"
#include "base/shell_open_win32.h"
#include "base/text.h"
#include "base/ui_task_win32.h"
#include "base/wide.h"
#include "config/config_win32.h"
#include "layout_expected.h"
#include "theme/button_styles.h"
#include "theme/gdi_win32.h"
#include "theme/styled_button_win32.h"
#include "translate/translation.h"
#include "translate/translation_win32.h"
#include "tuning/registry_writer_win32.h"
#include "tuning/tweak_record.h"
#include "update/update_hooks_win32.h"

using namespace tarnell;

namespace {

const std::u16string kHome = u"https://link.tarnell.example/tarnell";

using test::PumpFor;

void ProcessSetUp() {
    static bool done = false;
    if (done) return;
    done = true;
    LoadTranslationTable();
    RegisterVorbeckButtonStyles();
    InitUiTasks();
}

// The machine's record of an earlier test's Start would show the running look: both go.
using test::ForgetSettings;

std::unique_ptr<TFrmTarnell> OpenWindow(const char16_t* language) {
    ProcessSetUp();
    SetCurrentLanguage(language);
    auto form = std::make_unique<TFrmTarnell>(nullptr, TFrmTarnellOptions{u"", kHome});
    form->Create();
    form->Show();
    PumpFor(50);
    return form;
}

std::string U8(const std::u16string& s) {
    return Utf16ToUtf8(s);
}

std::string WindowText(HWND hwnd) {
    wchar_t buffer[256] = {};
    GetWindowTextW(hwnd, buffer, 256);
    return U8(FromWide(buffer));
}

void CheckLayout(TFrmTarnell& form, int dpi) {
    CAPTURE(dpi);
    RECT client;
    GetClientRect(form.Hwnd(), &client);
    CHECK(client.right == MulDiv(MainFormDesc().clientWidth96, dpi, 96));
    CHECK(client.bottom == MulDiv(MainFormDesc().clientHeight96, dpi, 96));
    for (const ControlDesc& d : MainFormControls()) {
        CAPTURE(U8(d.name));
        auto* control = dynamic_cast<TControl*>(form.FindComponent(d.name));
        REQUIRE(control);
        REQUIRE(control->Hwnd());
        CHECK(GetDlgCtrlID(control->Hwnd()) == ControlIdOf(d));
        RECT r;
        GetWindowRect(control->Hwnd(), &r);
        MapWindowPoints(HWND_DESKTOP, form.Hwnd(), reinterpret_cast<POINT*>(&r), 2);
        const Rect96 b = ClientBounds96(d);
        // Each control is placed in its parent, so its client position is the sum of scaled offsets.
        int left = MulDiv(d.bounds.left, dpi, 96), top = MulDiv(d.bounds.top, dpi, 96);
        for (const ControlDesc* p = FindControlDesc(d.parent); p; p = FindControlDesc(p->parent)) {
            left += MulDiv(p->bounds.left, dpi, 96);
            top += MulDiv(p->bounds.top, dpi, 96);
        }
        // The accent line (2 pixels at 96 DPI) is the topmost strip of the client area; everything lies
        // below it, and the card panel with its cards keeps its bottom at the client area's bottom.
        top += MulDiv(2, dpi, 96);
        const bool fillsToBottom = U8(d.name) == "PnlMain" || U8(d.name) == "Card1" || U8(d.name) == "Card2";
        CHECK(r.left == left);
        CHECK(r.top == top);
        CHECK(r.right - r.left == MulDiv(b.width, dpi, 96));
        CHECK(r.bottom - r.top == (fillsToBottom ? client.bottom - top : MulDiv(b.height, dpi, 96)));
    }
}

bool ReadOption(const char16_t* key) {
    return TConfig(u"Tarnell").ReadBoolean(key, false);
}

// A left click with the mouse as the system delivers it to the window under the pointer.
void ClickWindow(HWND hwnd) {
    RECT r;
    GetClientRect(hwnd, &r);
    const LPARAM centre = MAKELPARAM(r.right / 2, r.bottom / 2);
    SendMessageW(hwnd, WM_MOUSEMOVE, 0, centre);
    SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, centre);
    SendMessageW(hwnd, WM_LBUTTONUP, 0, centre);
    PumpFor(30);
}

// Presses and releases keys through the system's input queue: they reach whichever window holds the
// keyboard focus of the foreground window.
void PressKeys(std::initializer_list<WORD> keys) {
    for (WORD key : keys) {
        INPUT input[2] = {};
        input[0].type = input[1].type = INPUT_KEYBOARD;
        input[0].ki.wVk = input[1].ki.wVk = key;
        input[1].ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(2, input, sizeof(INPUT));
        PumpFor(30);
    }
}

}  // namespace

TEST_CASE("first start: stored places, English captions, home card, options on and recorded, idle") {
    ForgetSettings();
    auto form = OpenWindow(u"en");
    CheckLayout(*form, form->CurrentDpi());

    CHECK(WindowText(form->Hwnd()) == "Tarnell");
    CHECK(U8(form->LblTitle->Caption()) == "Tarnell");
    CHECK(U8(form->BtnHome->Caption()) == "Home");
    CHECK(U8(form->GroupBox1->Caption()) == "Network Adapter");
    CHECK(U8(form->ChkTcpNoDelay->Caption()) == "TcpNoDelay");
    CHECK(U8(form->BtnStart->Caption()) == "Run");
    CHECK(U8(form->LblVersion->Caption()) == "Version: 0.0.0.0");  // the test program has no version block

    // The tagline: one of the three, translated and wrapped in the centring and gray markup.
    const char* const taglines[] = {
        "<C><FC:clGray>Easily improve <B>game responsiveness</B>.</FC></C>",
        "<C><FC:clGray>Minimize <B>latency</B> with an optimized network.</FC></C>",
        "<C><FC:clGray>Improve <B>game speed and stability</B> with simple settings.</FC></C>",
    };
    REQUIRE(form->TaglineIndex() >= 0);
    REQUIRE(form->TaglineIndex() < 3);
    CHECK(U8(form->LblContent->Text()) == std::string(taglines[form->TaglineIndex()]));
    CHECK(form->LblContent->Text().find(u"<B>") != std::u16string::npos);

    CHECK(IsWindowVisible(form->Card1->Hwnd()) != FALSE);
    CHECK(IsWindowVisible(form->Card2->Hwnd()) == FALSE);
    CHECK(IsWindowVisible(form->Indicator->Hwnd()) == FALSE);
    CHECK(IsWindowVisible(form->BtnDonate->Hwnd()) == FALSE);
    CHECK(form->BtnHome->Down());
    CHECK_FALSE(form->BtnConfig->Down());
    CHECK(form->DesktopFont());

    for (const char16_t* key : {u"tcpnodelay", u"tcpackfrequency", u"tcpdelacktick", u"networkthrottleindex",
                                u"systemresponsiveness"}) {
        CAPTURE(U8(key));
        CHECK(ReadOption(key));
    }
    CHECK(TConfig(u"Tarnell").ReadInteger(u"status", -1) == 0);
    CHECK(form->ChkTcpNoDelay->Checked());
    CHECK(IsWindowEnabled(form->ChkTcpNoDelay->Hwnd()) != FALSE);
    CHECK(IsWindowEnabled(form->BtnStart->Hwnd()) != FALSE);
    CHECK_FALSE(form->BtnStart->Down());
}

TEST_CASE("the window follows a DPI change: it takes the suggested size and every control its scaled place") {
    auto form = OpenWindow(u"en");
    const int other = form->CurrentDpi() == 144 ? 96 : 144;
    // What the system suggests when the window moves to a monitor of the other DPI.
    // (Wine keeps the frame at the system's size, so the frame is taken from the window as it is.)
    RECT window, client;
    GetWindowRect(form->Hwnd(), &window);
    GetClientRect(form->Hwnd(), &client);
    const int frameX = (window.right - window.left) - client.right,
              frameY = (window.bottom - window.top) - client.bottom;
    RECT suggested{40, 30, 40 + MulDiv(MainFormDesc().clientWidth96, other, 96) + frameX,
                   30 + MulDiv(MainFormDesc().clientHeight96, other, 96) + frameY};
    SendMessageW(form->Hwnd(), WM_DPICHANGED, MAKEWPARAM(other, other), reinterpret_cast<LPARAM>(&suggested));
    CHECK(form->CurrentDpi() == other);
    GetWindowRect(form->Hwnd(), &window);
    CHECK(window.left == 40);
    CHECK(window.top == 30);
    CheckLayout(*form, other);
    LOGFONTW lf{};
    GetObjectW(form->FormFont(), sizeof(lf), &lf);
    LOGFONTW title{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(form->LblTitle->Hwnd(), WM_GETFONT, 0, 0)), sizeof(title),
               &title);
    CHECK(std::abs(title.lfHeight) >= std::abs(MulDiv(40, other, 96)));  // the title's own font, scaled
}

TEST_CASE("header navigation, the logo and the option switches") {
    ForgetSettings();
    auto form = OpenWindow(u"en");
    std::u16string opened;
    SetShellOpenHook([&](const std::u16string& target) { opened = target; });

    // A real click on the configuration button's window.
    HWND config = form->BtnConfig->Hwnd();
    RECT r;
    GetClientRect(config, &r);
    const LPARAM centre = MAKELPARAM(r.right / 2, r.bottom / 2);
    SendMessageW(config, WM_MOUSEMOVE, 0, centre);
    SendMessageW(config, WM_LBUTTONDOWN, MK_LBUTTON, centre);
    SendMessageW(config, WM_LBUTTONUP, 0, centre);
    PumpFor(50);
    CHECK(form->PnlMain->ActiveCardIndex() == 1);
    CHECK(IsWindowVisible(form->Card2->Hwnd()) != FALSE);
    CHECK(IsWindowVisible(form->Card1->Hwnd()) == FALSE);
    CHECK(form->BtnConfig->Down());
    CHECK_FALSE(form->BtnHome->Down());

    // The logo opens the home page and changes neither card nor buttons.
    form->BtnHomeClick(form->ImgLogo);
    CHECK(U8(opened) == U8(kHome));
    CHECK(form->PnlMain->ActiveCardIndex() == 1);
    CHECK(form->BtnConfig->Down());

    form->BtnHomeClick(form->BtnHome);
    CHECK(form->PnlMain->ActiveCardIndex() == 0);
    CHECK(form->BtnHome->Down());
    CHECK_FALSE(form->BtnConfig->Down());
    form->BtnHomeClick(form->BtnDonate);  // no target of its own
    CHECK(form->PnlMain->ActiveCardIndex() == 0);

    // Unticking an option by the user writes false under its key at once.
    REQUIRE(ReadOption(u"tcpnodelay"));
    SendMessageW(form->ChkTcpNoDelay->Hwnd(), BM_CLICK, 0, 0);
    CHECK_FALSE(form->ChkTcpNoDelay->Checked());
    CHECK_FALSE(ReadOption(u"tcpnodelay"));
    CHECK(ReadOption(u"tcpackfrequency"));
    SetShellOpenHook(nullptr);
}

TEST_CASE("the machine's record starts the window in the running look, whatever this user recorded") {
    ForgetSettings();
    TConfig(u"Tarnell").WriteInteger(u"status", 0);  // another account's Start: this user's record says idle
    SystemMachineRegistry registry;
    SystemRecordLock lock;
    TTweakRecord record(registry, lock);
    // On with one machine-wide value, given back at the end.
    REQUIRE(record.Apply({false, false, true, false, false}, u"") == RecordResult::Done);
    auto form = OpenWindow(u"en");
    CHECK(U8(form->BtnStart->Caption()) == "Running");
    CHECK(form->BtnStart->Down());
    CHECK(IsWindowEnabled(form->BtnStart->Hwnd()) != FALSE);
    CHECK(IsWindowEnabled(form->ChkTCPAckFrequency->Hwnd()) == FALSE);
    CHECK(IsWindowEnabled(form->ChkSystemResponsiveness->Hwnd()) == FALSE);
    CHECK(IsWindowVisible(form->Indicator->Hwnd()) == FALSE);
    CHECK(TConfig(u"Tarnell").ReadInteger(u"status", -1) == 1);  // this user's record follows the machine
    form.reset();
    CHECK(record.GiveBack() == RecordResult::Done);
    ForgetSettings();
}

TEST_CASE("captions by language: Korean everywhere, the window's own caption English otherwise") {
    struct Case {
        const char16_t* language;
        const char* form;
        const char* title;
        const char* config;
        const char* version;
    };
    const Case cases[] = {
        {u"ko", "타르넬", "타르넬", "환경설정", "버전"},
        {u"ja", "Tarnell", "タルネル", "設定", "バージョン"},
        {u"de", "Tarnell", "Tarnell", "Config", "Version"},  // no German column: English
    };
    for (const Case& c : cases) {
        CAPTURE(U8(c.language));
        auto form = OpenWindow(c.language);
        CHECK(WindowText(form->Hwnd()) == c.form);
        CHECK(U8(form->LblTitle->Caption()) == c.title);
        CHECK(U8(form->BtnConfig->Caption()) == c.config);
        CHECK(U8(form->LblVersion->Caption()).rfind(std::string(c.version) + ": ", 0) == 0);
    }
}

TEST_CASE("an option switch that is hidden or disabled gives up the keyboard focus; keys change no setting") {
    struct Case {
        const char* after;  // what happens after the option switch was clicked
        void (*act)(TFrmTarnell&);
    };
    const Case cases[] = {
        {"the home card is shown", [](TFrmTarnell& form) { ClickWindow(form.BtnHome->Hwnd()); }},
        {"a run makes the window busy",
         [](TFrmTarnell& form) {
             form.RunControl()->SetStatus(stBusy);
             PumpFor(30);
         }},
        {"the home card is shown, the window deactivated and activated again",
         [](TFrmTarnell& form) {
             ClickWindow(form.BtnHome->Hwnd());
             HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50,
                                          nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
             SetForegroundWindow(other);
             PumpFor(50);
             CHECK(GetForegroundWindow() == other);
             SetForegroundWindow(form.Hwnd());
             PumpFor(50);
             DestroyWindow(other);
             PumpFor(30);
         }},
    };
    for (const Case& c : cases) {
        const std::string after = c.after;
        CAPTURE(after);
        ForgetSettings();
        auto form = OpenWindow(u"en");
        SetForegroundWindow(form->Hwnd());
        ClickWindow(form->BtnConfig->Hwnd());
        REQUIRE(form->PnlMain->ActiveCardIndex() == 1);
        // The user unticks "TcpNoDelay" with the mouse: the switch takes the focus and records false.
        ClickWindow(form->ChkTcpNoDelay->Hwnd());
        REQUIRE(GetFocus() == form->ChkTcpNoDelay->Hwnd());
        REQUIRE_FALSE(ReadOption(u"tcpnodelay"));

        c.act(*form);
        CHECK(GetFocus() == form->Hwnd());
        REQUIRE(GetForegroundWindow() == form->Hwnd());
        PressKeys({VK_SPACE, VK_UP, VK_DOWN, VK_LEFT, VK_RIGHT, VK_SPACE, VK_SPACE});
        CHECK_FALSE(form->ChkTcpNoDelay->Checked());
        CHECK_FALSE(ReadOption(u"tcpnodelay"));
        for (const char16_t* key :
             {u"tcpackfrequency", u"tcpdelacktick", u"networkthrottleindex", u"systemresponsiveness"}) {
            CAPTURE(U8(key));
            CHECK(ReadOption(key));
        }
        if (form->RunControl()->Status() == stBusy) {
            // Settled again: the switches are enabled, and still nothing has the focus that keys could
            // change.
            form->RunControl()->SetStatus(stIdle);
            PressKeys({VK_SPACE, VK_SPACE, VK_SPACE});
            CHECK_FALSE(ReadOption(u"tcpnodelay"));
        }
    }
    ForgetSettings();
}

namespace {

// The columns of a window's client area in which its own painting put a dark pixel (text is drawn in the
// window-text colour on white), painted into a bitmap through WM_PRINTCLIENT.
std::vector<bool> DarkColumns(HWND hwnd) {
    RECT r;
    GetClientRect(hwnd, &r);
    const int w = r.right, h = r.bottom;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all{0, 0, w, h};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
    GdiFlush();
    std::vector<bool> dark(size_t(w), false);
    const auto* px = static_cast<const uint32_t*>(bits);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint32_t p = px[size_t(y) * size_t(w) + size_t(x)];
            if (int(p & 0xFF) + int((p >> 8) & 0xFF) + int((p >> 16) & 0xFF) < 3 * 128)
                dark[size_t(x)] = true;
        }
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return dark;
}

}  // namespace

TEST_CASE("single-line labels keep to one line: a text too long for the label is cut at its right edge") {
    struct Case {
        const char* label;
        const char16_t* text;
    };
    // Each text is wider than its label, with a break opportunity early on.
    const Case cases[] = {
        {"LblIPAddress", u"IP: 192.168.100.200"},
        {"LblVersion", u"Versione: 10.20.300.4000"},
        {"LblAdapter", u"Intel(R) I219-V Hyper-V-Virtual-Switch-Extension-Adapter-0042"},
    };
    auto form = OpenWindow(u"it");
    for (int dpi : {96, 144}) {
        CAPTURE(dpi);
        form->ChangeDpi(dpi);
        PumpFor(30);
        for (const Case& c : cases) {
            const std::string label = c.label;
            CAPTURE(label);
            auto* control = dynamic_cast<TLabel*>(form->FindComponent(Utf8ToUtf16(c.label)));
            REQUIRE(control);
            control->SetCaption(c.text);
            const std::vector<bool> dark = DarkColumns(control->Hwnd());
            REQUIRE_FALSE(dark.empty());
            const int width = int(dark.size());
            // The first characters are drawn at the left edge...
            int first = 0;
            while (first < width && !dark[size_t(first)]) ++first;
            CHECK(first <= MulDiv(3, dpi, 96));
            // ...and the one line runs on to the right edge, where it is cut (a wrapped text stops early).
            int last = width - 1;
            while (last >= 0 && !dark[size_t(last)]) --last;
            CHECK(last >= width - MulDiv(12, dpi, 96));
        }
    }
}

namespace {

// A window's rectangle in the client coordinates of `form`.
RECT RectInForm(HWND hwnd, HWND form) {
    RECT r;
    GetWindowRect(hwnd, &r);
    MapWindowPoints(HWND_DESKTOP, form, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// What the system does when the window moves to a monitor of another DPI: WM_DPICHANGED with the size the
// window should take (Wine keeps the frame at the system's size, so the frame is taken as it is).
void MoveToDpi(TFrmTarnell& form, int dpi) {
    RECT window, client;
    GetWindowRect(form.Hwnd(), &window);
    GetClientRect(form.Hwnd(), &client);
    const int frameX = (window.right - window.left) - client.right,
              frameY = (window.bottom - window.top) - client.bottom;
    RECT suggested{window.left, window.top, window.left + MulDiv(498, dpi, 96) + frameX,
                   window.top + MulDiv(426, dpi, 96) + frameY};
    SendMessageW(form.Hwnd(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    PumpFor(30);
}

HWND AccentLineOf(HWND form) {
    for (HWND child = GetWindow(form, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t cls[64] = {};
        GetClassNameW(child, cls, 64);
        if (std::wstring(cls) == L"TarnellAccentLine") return child;
    }
    return nullptr;
}

}  // namespace

TEST_CASE("the accent line is the topmost strip of the client area; the header and the cards lie below it") {
    auto form = OpenWindow(u"en");
    HWND line = AccentLineOf(form->Hwnd());
    REQUIRE(line);
    for (int dpi : {96, 144, 96}) {
        CAPTURE(dpi);
        MoveToDpi(*form, dpi);
        RECT client;
        GetClientRect(form->Hwnd(), &client);
        const int lineHeight = MulDiv(2, dpi, 96);  // 2 pixels at 96 DPI
        const RECT lineRect = RectInForm(line, form->Hwnd());
        CHECK(lineRect.top == 0);
        CHECK(lineRect.left == 0);
        CHECK(lineRect.bottom == lineHeight);
        CHECK(IsWindowVisible(line) != FALSE);

        // No control that shows covers any part of the line.
        for (const ControlDesc& d : MainFormControls()) {
            HWND hwnd = dynamic_cast<TControl*>(form->FindComponent(d.name))->Hwnd();
            if (!IsWindowVisible(hwnd)) continue;
            const std::string name = U8(d.name);
            CAPTURE(name);
            RECT r = RectInForm(hwnd, form->Hwnd()), overlap;
            CHECK_FALSE(IntersectRect(&overlap, &r, &lineRect));
        }
        // The header starts right below the line, its buttons 10 pixels (at 96 DPI) further down; the card
        // panel follows the 50-pixel header and keeps its bottom at the client area's bottom.
        CHECK(RectInForm(form->PnlHead->Hwnd(), form->Hwnd()).top == lineHeight);
        CHECK(RectInForm(form->PnlHead->Hwnd(), form->Hwnd()).bottom == lineHeight + MulDiv(50, dpi, 96));
        CHECK(RectInForm(form->BtnHome->Hwnd(), form->Hwnd()).top == lineHeight + MulDiv(10, dpi, 96));
        CHECK(RectInForm(form->PnlLogo->Hwnd(), form->Hwnd()).top == lineHeight);
        for (HWND card : {form->PnlMain->Hwnd(), form->Card1->Hwnd(), form->Card2->Hwnd()}) {
            const RECT r = RectInForm(card, form->Hwnd());
            CHECK(r.top == lineHeight + MulDiv(50, dpi, 96));
            CHECK(r.bottom == client.bottom);
        }
    }
}

namespace {

// Screen captures of one rectangle, taken on a thread of their own while the UI thread works.
class ScreenWatch {
  public:
    explicit ScreenWatch(const RECT& screenRect)
        : rect_(screenRect), w_(screenRect.right - screenRect.left), h_(screenRect.bottom - screenRect.top) {}

    std::vector<uint32_t> Capture() const {
        std::vector<uint32_t> pixels(size_t(w_) * size_t(h_));
        HDC screen = GetDC(nullptr);
        HDC dc = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, w_, h_);
        HGDIOBJ old = SelectObject(dc, bitmap);
        BitBlt(dc, 0, 0, w_, h_, screen, rect_.left, rect_.top, SRCCOPY);
        SelectObject(dc, old);
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
        bi.bmiHeader.biWidth = w_;
        bi.bmiHeader.biHeight = -h_;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        GetDIBits(dc, bitmap, 0, UINT(h_), pixels.data(), &bi, DIB_RGB_COLORS);
        DeleteObject(bitmap);
        DeleteDC(dc);
        ReleaseDC(nullptr, screen);
        for (uint32_t& p : pixels) p &= 0x00FFFFFF;
        return pixels;
    }

    static int Differences(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
        int count = 0;
        for (size_t i = 0; i < a.size() && i < b.size(); ++i) count += a[i] != b[i];
        return count;
    }

  private:
    RECT rect_;
    int w_, h_;
};

}  // namespace

TEST_CASE("a card switch shows the old card or the new one whole, never a mix of the two") {
    auto form = OpenWindow(u"en");
    SetWindowPos(form->Hwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    RECT panel;
    GetWindowRect(form->PnlMain->Hwnd(), &panel);
    const ScreenWatch watch(panel);
    auto settled = [&](int card) {
        form->BtnHomeClick(card == 0 ? form->BtnHome : form->BtnConfig);
        // Each window painting itself, as after any other change: the reference for the card.
        RedrawWindow(form->Hwnd(), nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        PumpFor(300);
        return watch.Capture();
    };
    const std::vector<uint32_t> home = settled(0), config = settled(1);
    settled(0);
    REQUIRE(ScreenWatch::Differences(home, config) > 1000);  // the captures show the cards

    std::atomic<bool> stop{false};
    std::atomic<int> frames{0}, mixed{0}, worst{0};
    std::thread watcher([&] {
        while (!stop) {
            const std::vector<uint32_t> frame = watch.Capture();
            const int off =
                std::min(ScreenWatch::Differences(frame, home), ScreenWatch::Differences(frame, config));
            ++frames;
            // A few pixels may differ (a focus mark); a card drawn over the other, or frames without their
            // contents, differ in hundreds.
            if (off > 40) ++mixed;
            if (off > worst) worst = off;
        }
    });
    for (int i = 0; i < 24; ++i) {
        // A real click on the header button, as the user makes it.
        HWND button = (i % 2 == 0 ? form->BtnConfig : form->BtnHome)->Hwnd();
        RECT r;
        GetClientRect(button, &r);
        const LPARAM centre = MAKELPARAM(r.right / 2, r.bottom / 2);
        PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, centre);
        PostMessageW(button, WM_LBUTTONUP, 0, centre);
        PumpFor(120);
    }
    stop = true;
    watcher.join();
    MESSAGE(frames.load() << " captures during 24 card switches");
    CHECK(frames > 48);
    const int mixedFrames = mixed.load(), worstFrame = worst.load();
    CAPTURE(worstFrame);
    CHECK(mixedFrames == 0);
    SetWindowPos(form->Hwnd(), HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

namespace {

std::string Utf8Of(std::u16string_view s) {
    return U8(std::u16string(s));
}

LOGFONTW FontOf(HWND hwnd) {
    LOGFONTW lf{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)), sizeof(lf), &lf);
    return lf;
}

// Every control against the table typed from the layout: where it is at `dpi`, its parent, what it shows.
void CheckAgainstTable(TFrmTarnell& form, int dpi, bool started) {
    CAPTURE(dpi);
    CAPTURE(started);
    RECT client;
    GetClientRect(form.Hwnd(), &client);
    CHECK(client.right == expected::Scale(expected::kClientWidth, dpi));
    CHECK(client.bottom == expected::Scale(expected::kClientHeight, dpi));
    for (const expected::Control& e : expected::kControls) {
        const std::string name = Utf8Of(e.name);
        CAPTURE(name);
        auto* control = dynamic_cast<TControl*>(form.FindComponent(std::u16string(e.name)));
        REQUIRE(control);
        REQUIRE(control->Hwnd());
        // Parent, in the component tree and among the windows.
        if (e.parent.empty()) {
            CHECK(control->Parent() == &form);
        } else {
            REQUIRE(control->Parent());
            CHECK(Utf8Of(control->Parent()->Name()) == Utf8Of(e.parent));
        }
        CHECK(GetParent(control->Hwnd()) == control->Parent()->Hwnd());
        if (started) {
            const expected::PixelPlace want = expected::PlaceAt(e, dpi);
            const RECT r = RectInForm(control->Hwnd(), form.Hwnd());
            CHECK(r.left == want.left);
            CHECK(r.top == want.top);
            CHECK(r.right - r.left == want.width);
            CHECK(r.bottom - r.top == want.height);
        }
        // Captions: as stored before the start-up sequence; after it, in Korean, the entries are unchanged,
        // and the containers' window texts read as names: the cards their tabs', the card panel none.
        CHECK(control->HasCaption() == (e.caption != nullptr));
        const bool container = name.rfind("Card", 0) == 0 || name == "PnlMain";
        if (started && container) {
            const char* shown = name == "Card1" ? "처음화면" : name == "Card2" ? "환경설정" : "";
            CHECK(U8(control->Caption()) == shown);
            CHECK(WindowText(control->Hwnd()) == shown);
        } else if (e.caption && !(started && (e.flags & expected::kReplaced))) {
            CHECK(U8(control->Caption()) == U8(e.caption));
            if (!std::u16string_view(e.caption).empty() && !container)
                CHECK(WindowText(control->Hwnd()) == U8(e.caption));
        }
        const LONG_PTR style = GetWindowLongPtrW(control->Hwnd(), GWL_STYLE);
        if (e.flags & expected::kOwnFont) {
            CHECK(control->HasOwnFont());
            const LOGFONTW lf = FontOf(control->Hwnd());
            CHECK(FromWide(lf.lfFaceName) == u"Tahoma");
            CHECK(lf.lfQuality == ANTIALIASED_QUALITY);
            CHECK(lf.lfWeight == FW_NORMAL);
            if (!started)
                CHECK(lf.lfHeight == expected::Scale(-59, dpi));  // the title fit may shrink it later
        } else {
            CHECK_FALSE(control->HasOwnFont());
            CHECK(reinterpret_cast<HFONT>(SendMessageW(control->Hwnd(), WM_GETFONT, 0, 0)) ==
                  form.FormFont());
        }
        if (e.flags & expected::kCentredText) CHECK((style & SS_TYPEMASK) == SS_CENTER);
        if (e.flags & expected::kOneLine) CHECK((style & SS_TYPEMASK) == SS_LEFTNOWORDWRAP);
        if (e.flags & expected::kNoTabStop) {
            auto* box = dynamic_cast<TCheckBox*>(control);
            REQUIRE(box);
            CHECK((style & WS_TABSTOP) == 0);
            if (!started) CHECK_FALSE(box->Checked());
        }
        if (auto* button = dynamic_cast<TStyledSpeedButton*>(control)) {
            if (!started) CHECK(button->Down() == ((e.flags & expected::kStoredDown) != 0));
        }
        CHECK(static_cast<bool>(control->OnClick) == ((e.flags & expected::kClick) != 0));
        const bool shown = !(started && (e.flags & expected::kHiddenAtStart)) && name != "Card2";
        CHECK(((style & WS_VISIBLE) != 0) == shown);
    }
}

}  // namespace

TEST_CASE("every control's parent, place, caption, font and flags match the layout, at 96 and 144 DPI") {
    ProcessSetUp();
    SetCurrentLanguage(u"ko");
    {
        // As stored: the window made from its description, before the start-up sequence.
        TFrmTarnell form(nullptr, TFrmTarnellOptions{u"", kHome});
        form.CreateFormHandle();
        CHECK(WindowText(form.Hwnd()) == "타르넬");
        CHECK(form.Color() == RGB(255, 255, 255));
        const LOGFONTW lf = FontOf(form.LblVersion->Hwnd());
        CHECK(FromWide(lf.lfFaceName) == u"Segoe UI");
        CHECK(lf.lfHeight == expected::Scale(-12, form.CurrentDpi()));
        CHECK(lf.lfWeight == FW_NORMAL);
        const LONG_PTR style = GetWindowLongPtrW(form.Hwnd(), GWL_STYLE);
        CHECK((style & (WS_THICKFRAME | WS_MAXIMIZEBOX)) == 0);
        CHECK((style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_CAPTION)) ==
              (WS_SYSMENU | WS_MINIMIZEBOX | WS_CAPTION));
        CheckAgainstTable(form, form.CurrentDpi(), false);
        // The window owns the controls in the order of the control tree.
        REQUIRE(form.OwnedCount() >= expected::kControls.size());
        for (size_t i = 0; i < expected::kControls.size(); ++i)
            CHECK(Utf8Of(form.OwnedComponent(i)->Name()) == Utf8Of(expected::kControls[i].name));
    }
    ForgetSettings();
    auto form = OpenWindow(u"ko");
    for (int dpi : {96, 144}) {
        MoveToDpi(*form, dpi);
        CheckAgainstTable(*form, dpi, true);
    }
    ForgetSettings();
}

TEST_CASE("the window shows the table's texts in each of the seven languages") {
    const auto& T = expected::kTexts;  // T[entry - 1][language]
    for (size_t l = 0; l < expected::kLanguages.size(); ++l) {
        const std::u16string language = expected::kLanguages[l];
        CAPTURE(U8(language));
        ForgetSettings();
        auto form = OpenWindow(language.c_str());
        CHECK(WindowText(form->Hwnd()) == (language == u"ko" ? "타르넬" : "Tarnell"));
        CHECK(U8(form->LblTitle->Caption()) == U8(T[0][l]));
        CHECK(WindowText(form->LblTitle->Hwnd()) == U8(T[0][l]));
        CHECK(U8(form->LblVersion->Caption()).rfind(U8(T[1][l]) + ": ", 0) == 0);
        CHECK(U8(form->BtnHome->Caption()) == U8(T[2][l]));
        CHECK(U8(form->BtnConfig->Caption()) == U8(T[3][l]));
        CHECK(U8(form->BtnDonate->Caption()) == U8(T[4][l]));
        CHECK(U8(form->BtnStart->Caption()) == U8(T[5][l]));
        CHECK(U8(form->GroupBox1->Caption()) == U8(T[13][l]));
        CHECK(U8(form->GroupBox2->Caption()) == U8(T[14][l]));
        CHECK(U8(form->GroupBox3->Caption()) == U8(T[15][l]));
        CHECK(WindowText(form->GroupBox3->Hwnd()) == U8(T[15][l]));
        const std::string tagline = U8(form->LblContent->Text());
        CHECK((tagline == "<C><FC:clGray>" + U8(T[8][l]) + "</FC></C>" ||
               tagline == "<C><FC:clGray>" + U8(T[9][l]) + "</FC></C>" ||
               tagline == "<C><FC:clGray>" + U8(T[10][l]) + "</FC></C>"));
        // The option switches are named after registry values and are not translated.
        CHECK(U8(form->ChkTcpDelAckTick->Caption()) == "TcpDelAckTick");
        form->RunControl()->SetStatus(stRunning);
        CHECK(U8(form->BtnStart->Caption()) == U8(T[6][l]));
    }
    ForgetSettings();
}

namespace {

// The colour a window's own painting puts at (x, y) of its client area, painted through WM_PRINTCLIENT onto
// a background of `under`.
COLORREF PixelOf(HWND hwnd, int x, int y, COLORREF under = RGB(255, 255, 255)) {
    RECT r;
    GetClientRect(hwnd, &r);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, r.right, r.bottom);
    HGDIOBJ old = SelectObject(dc, bitmap);
    HBRUSH brush = CreateSolidBrush(under);
    FillRect(dc, &r, brush);
    DeleteObject(brush);
    SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    const COLORREF c = GetPixel(dc, x, y);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return c;
}

struct Look {
    COLORREF fill;    // inside, left of the caption
    COLORREF border;  // middle of the top edge
};

Look LookOf(HWND button) {
    RECT r;
    GetClientRect(button, &r);
    return {PixelOf(button, r.right / 8, r.bottom / 2), PixelOf(button, r.right / 2, 0)};
}

std::string Hex(COLORREF c) {
    char text[16];
    snprintf(text, sizeof text, "%02X%02X%02X", GetRValue(c), GetGValue(c), GetBValue(c));
    return text;
}

// Colours of the style family, typed as red, green, blue.
const COLORREF kAccent = RGB(61, 132, 221), kAccentLight = RGB(80, 144, 224), kWhite = RGB(255, 255, 255),
               kBlack = RGB(0, 0, 0), kGray215 = RGB(215, 215, 215), kGray179 = RGB(179, 179, 179),
               kGray188 = RGB(188, 188, 188), kGray128 = RGB(128, 128, 128);

}  // namespace

TEST_CASE(
    "the run switch and the header buttons: family, appearance, radius, flat, group and their colours") {
    ForgetSettings();
    auto form = OpenWindow(u"en");
    struct Wiring {
        TStyledSpeedButton* control;
        const char* appearance;
        int radius;
        bool flat;
    };
    const Wiring wirings[] = {{form->BtnStart, "Outline", 6, false},
                              {form->BtnHome, "Header", 4, true},
                              {form->BtnConfig, "Header", 4, true},
                              {form->BtnDonate, "Header", 4, true}};
    // The records each button was given: fill (solid?, colour), border (solid?, colour), caption colour, by
    // state Normal, Pressed, Selected, Hot, Disabled.
    struct Record {
        bool fill;
        COLORREF fillColour;
        bool border;
        COLORREF borderColour;
        COLORREF caption;
    };
    const Record outline[5] = {{false, kAccent, true, kAccent, kBlack},
                               {true, kAccent, true, kAccent, kWhite},
                               {true, kAccentLight, true, kAccent, kWhite},
                               {true, kAccentLight, true, kAccent, kWhite},
                               {false, kAccent, true, kGray215, kGray179}};
    const Record header[5] = {{false, kWhite, true, kBlack, kBlack},
                              {true, kAccent, false, kAccent, kWhite},
                              {true, kAccentLight, false, kAccent, kWhite},
                              {true, kAccent, false, kAccent, kWhite},
                              {false, kWhite, true, kGray188, kGray128}};
    for (const Wiring& w : wirings) {
        const std::string name = U8(w.control->Name()), appearance = w.appearance;
        CAPTURE(name);
        StyledButton* b = w.control->Button();
        REQUIRE(b);
        CHECK(U8(b->Family()) == "Vorbeck");
        CHECK(U8(b->StyleClass()) == "Primary");
        CHECK(U8(b->Appearance()) == appearance);
        CHECK(b->Radius() == w.radius);
        CHECK(b->Flat() == w.flat);
        const Record* want = appearance == "Outline" ? outline : header;
        for (size_t state = 0; state < 5; ++state) {
            CAPTURE(state);
            const TStyledButtonAttributes& got = b->Records()[state];
            CHECK(got.DrawType == TStyledButtonDrawType::btRoundRect);
            CHECK((got.ButtonDrawStyle == TButtonDrawStyle::btnSolid) == want[state].fill);
            CHECK(Hex(ToColorRef(got.ButtonColor)) == Hex(want[state].fillColour));
            CHECK((got.BorderDrawStyle == TBorderDrawStyle::brdSolid) == want[state].border);
            CHECK(Hex(ToColorRef(got.BorderColor)) == Hex(want[state].borderColour));
            CHECK(Hex(ToColorRef(got.FontColor)) == Hex(want[state].caption));
            CHECK(got.BorderWidth == 0);
        }
    }
    // The header buttons are one toggle group; the run switch is not in it.
    CHECK(form->BtnHome->Button()->GroupIndex() == form->BtnConfig->Button()->GroupIndex());
    CHECK(form->BtnHome->Button()->GroupIndex() == form->BtnDonate->Button()->GroupIndex());

    // What the screen shows in the states the program puts them in.
    HWND start = form->BtnStart->Hwnd();
    Look look = LookOf(start);  // idle: no fill, thin accent border
    CHECK(Hex(look.fill) == Hex(kWhite));
    CHECK(Hex(look.border) == Hex(kAccent));
    RECT r;
    GetClientRect(start, &r);
    SendMessageW(start, WM_MOUSEMOVE, 0, MAKELPARAM(r.right / 2, r.bottom / 2));  // hot
    CHECK(Hex(LookOf(start).fill) == Hex(kAccentLight));
    SendMessageW(start, WM_MOUSELEAVE, 0, 0);
    form->RunControl()->SetStatus(stRunning);  // down: pressed
    CHECK(Hex(LookOf(start).fill) == Hex(kAccent));
    form->RunControl()->SetStatus(stBusy);  // disabled: no fill, light gray border
    look = LookOf(start);
    CHECK(Hex(look.fill) == Hex(kWhite));
    CHECK(Hex(look.border) == Hex(kGray215));
    form->RunControl()->SetStatus(stRunning);
    CHECK(form->BtnStart->Down());

    look = LookOf(form->BtnHome->Hwnd());  // down: filled with the accent, no border
    CHECK(Hex(look.fill) == Hex(kAccent));
    CHECK(Hex(look.border) == Hex(kAccent));
    look = LookOf(form->BtnConfig->Hwnd());  // up and flat: neither fill nor border
    CHECK(Hex(look.fill) == Hex(kWhite));
    CHECK(Hex(look.border) == Hex(kWhite));
    GetClientRect(form->BtnConfig->Hwnd(), &r);
    SendMessageW(form->BtnConfig->Hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(r.right / 2, r.bottom / 2));  // hot
    CHECK(Hex(LookOf(form->BtnConfig->Hwnd()).fill) == Hex(kAccent));
    ClickWindow(form->BtnConfig->Hwnd());
    CHECK(form->BtnConfig->Down());
    CHECK_FALSE(form->BtnHome->Down());
    CHECK(form->BtnStart->Down());  // another group
    ForgetSettings();
}

TEST_CASE("the tagline is drawn at random: over many windows each of the three shows") {
    // The English rows, typed from the tagline table, in the centring and gray markup.
    const std::string shown[3] = {
        "<C><FC:clGray>Easily improve <B>game responsiveness</B>.</FC></C>",
        "<C><FC:clGray>Minimize <B>latency</B> with an optimized network.</FC></C>",
        "<C><FC:clGray>Improve <B>game speed and stability</B> with simple settings.</FC></C>"};
    int seen[3] = {0, 0, 0};
    int windows = 0;
    while (windows < 60 && !(seen[0] && seen[1] && seen[2])) {
        auto form = OpenWindow(u"en");
        ++windows;
        const std::string text = U8(form->LblContent->Text());
        bool known = false;
        for (int i = 0; i < 3; ++i) {
            if (text == shown[i]) {
                ++seen[i];
                known = true;
            }
        }
        CHECK_MESSAGE(known, text);
    }
    MESSAGE(windows << " windows: " << seen[0] << ", " << seen[1] << ", " << seen[2]);
    CHECK(seen[0] > 0);
    CHECK(seen[1] > 0);
    CHECK(seen[2] > 0);
}

TEST_CASE(
    "per language: the application's title is the window's caption, the window's font the icon-title font") {
    LOGFONTW icon{};
    REQUIRE(SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof(icon), &icon, 0));
    for (size_t l = 0; l < expected::kLanguages.size(); ++l) {
        const std::u16string language = expected::kLanguages[l];
        CAPTURE(U8(language));
        auto form = OpenWindow(language.c_str());
        CHECK(U8(ApplicationTitle()) == (language == u"ko" ? "타르넬" : "Tarnell"));
        LOGFONTW lf{};
        REQUIRE(GetObjectW(form->FormFont(), sizeof(lf), &lf));
        CHECK(FromWide(lf.lfFaceName) == FromWide(icon.lfFaceName));
        CHECK(lf.lfHeight == MulDiv(icon.lfHeight, form->CurrentDpi(), 96));
        // The labels and switches take it; the title keeps its own face.
        CHECK(reinterpret_cast<HFONT>(SendMessageW(form->GroupBox2->Hwnd(), WM_GETFONT, 0, 0)) ==
              form->FormFont());
        CHECK(reinterpret_cast<HFONT>(SendMessageW(form->ChkTcpNoDelay->Hwnd(), WM_GETFONT, 0, 0)) ==
              form->FormFont());
        CHECK(FromWide(FontOf(form->LblTitle->Hwnd()).lfFaceName) == u"Tahoma");
    }
}
