#include "app/frm_tarnell_win32.h"

#include <chrono>
#include <initializer_list>
#include <iterator>
#include <stdexcept>
#include <utility>

#include "app/access_texts.h"
#include "app/main_layout.h"
#include "app/main_texts.h"
#include "app/run_control_win32.h"
#include "base/accessible_win32.h"
#include "base/application_title.h"
#include "base/bench_phases_win32.h"
#include "base/file_version_win32.h"
#include "base/shell_open_win32.h"
#include "base/text.h"
#include "base/wide.h"
#include "theme/theme_helper_win32.h"
#include "translate/component_translation.h"
#include "translate/translation.h"
#include "ui/label_fit_win32.h"
#include "update/update_check_win32.h"
#include "update/update_status_win32.h"

namespace tarnell {

namespace {

TFontSpec ToFontSpec(const FontDesc& font) {
    TFontSpec desc;
    desc.face = font.face ? font.face : u"Segoe UI";
    desc.height96 = font.height96;
    desc.antialiased = font.antialiased;
    return desc;
}

// Where the header and the logo lead: a card of PnlMain, or the product's home page. BtnDonate has no row
// (it is hidden, and does nothing).
constexpr int kOpensHomePage = -1;
struct Navigation {
    const char16_t* control;
    int card;
};
constexpr Navigation kNavigation[] = {
    {u"BtnHome", 0},
    {u"BtnConfig", 1},
    {u"ImgLogo", kOpensHomePage},
};

template <typename T>
T* Expect(TComponent* component) {
    T* typed = dynamic_cast<T*>(component);
    if (!typed) throw std::logic_error("form description and window fields disagree");
    return typed;
}

// Each control's click handler, as the form description binds them.
struct HandlerBinding {
    const char16_t* control;
    void (TFrmTarnell::*handler)(TComponent* sender);
};
constexpr HandlerBinding kHandlers[] = {
    {u"BtnHome", &TFrmTarnell::BtnHomeClick},
    {u"BtnConfig", &TFrmTarnell::BtnHomeClick},
    {u"BtnDonate", &TFrmTarnell::BtnHomeClick},
    {u"ImgLogo", &TFrmTarnell::BtnHomeClick},
    {u"BtnStart", &TFrmTarnell::BtnStartClick},
    {u"ChkTcpNoDelay", &TFrmTarnell::ChkTcpNoDelayClick},
    {u"ChkTCPAckFrequency", &TFrmTarnell::ChkTCPAckFrequencyClick},
    {u"ChkTcpDelAckTick", &TFrmTarnell::ChkTcpDelAckTickClick},
    {u"ChkNetworkThrottlingIndex", &TFrmTarnell::ChkNetworkThrottlingIndexClick},
    {u"ChkSystemResponsiveness", &TFrmTarnell::ChkSystemResponsivenessClick},
};

}  // namespace

TFrmTarnell::TFrmTarnell(TComponent* owner, const TFrmTarnellOptions& options)
    : TForm(owner, MainFormDesc().name), options_(options), self_(std::make_shared<TFrmTarnell*>(this)) {
    BuildFromDescription();
    run_ = std::make_unique<TSystemRunControl>(static_cast<RunView&>(*this));
    StampBenchPhase(BenchPhase::FormBuilt);
}

TFrmTarnell::~TFrmTarnell() {
    self_.reset();
    theme_.reset();
    DestroyHandle();
    run_.reset();
}

void TFrmTarnell::BuildFromDescription() {
    const FormDesc& form = MainFormDesc();
    SetCaption(form.caption);
    SetClientSize96(form.clientWidth96, form.clientHeight96);
    SetFixedSingleBorder(true);
    SetFormFont(ToFontSpec(form.font));
    SetColor(RGB(form.color & 0xFF, (form.color >> 8) & 0xFF, (form.color >> 16) & 0xFF));

    for (const ControlDesc& d : MainFormControls()) {
        TContainer* parent = *d.parent ? dynamic_cast<TContainer*>(FindComponent(d.parent)) : this;
        if (!parent) throw std::logic_error("form description: a parent comes after its child");
        TControl* control = nullptr;
        switch (d.kind) {
            case ControlKind::CardPanel:
                control = Make<TCardPanel>(d.name);
                break;
            case ControlKind::Card:
                control = Make<TCard>(d.name, Expect<TCardPanel>(parent));
                break;
            case ControlKind::Panel:
                control = Make<TPanel>(d.name);
                break;
            case ControlKind::StyledToolbar: {
                auto* toolbar = Make<TStyledToolbar>(d.name);
                toolbar->SetButtonSize96(kToolButtonWidth96, kToolButtonHeight96);
                control = toolbar;
                break;
            }
            case ControlKind::ToolButton:
                control = Make<TStyledToolButton>(d.name);
                break;
            case ControlKind::Image:
                control = Make<TImage>(d.name);
                break;
            case ControlKind::Label: {
                auto* label = Make<TLabel>(d.name);
                label->SetCentered((d.flags & kCentred) != 0);
                control = label;
                break;
            }
            case ControlKind::MarkupLabel:
                control = Make<TMarkupLabel>(d.name);
                break;
            case ControlKind::StyledSpeedButton:
                control = Make<TStyledSpeedButton>(d.name);
                break;
            case ControlKind::ActivityIndicator:
                control = Make<TActivityIndicator>(d.name);
                break;
            case ControlKind::GroupBox:
                control = Make<TGroupBox>(d.name);
                break;
            case ControlKind::CheckBox:
                control = Make<TCheckBox>(d.name);
                break;
        }
        control->SetControlId(ControlIdOf(d));
        if (d.caption && control->HasCaption()) control->SetCaption(d.caption);
        if (d.font.face) control->SetOwnFont(ToFontSpec(d.font));
        if (d.flags & kHidden) control->SetVisible(false);
        if (auto* button = dynamic_cast<TStyledSpeedButton*>(control)) {
            button->SetStyle(d.style.family, d.style.appearance, d.style.radius96);
            button->SetDown((d.flags & kDown) != 0);
        }
        if (d.kind != ControlKind::Card) control->SetParent(parent);
        control->SetBounds96(d.bounds);
    }

    PnlMain = Expect<TCardPanel>(FindComponent(u"PnlMain"));
    Card1 = Expect<TCard>(FindComponent(u"Card1"));
    LblTitle = Expect<TLabel>(FindComponent(u"LblTitle"));
    LblContent = Expect<TMarkupLabel>(FindComponent(u"LblContent"));
    BtnStart = Expect<TStyledSpeedButton>(FindComponent(u"BtnStart"));
    Indicator = Expect<TActivityIndicator>(FindComponent(u"Indicator"));
    Card2 = Expect<TCard>(FindComponent(u"Card2"));
    LblVersion = Expect<TLabel>(FindComponent(u"LblVersion"));
    GroupBox1 = Expect<TGroupBox>(FindComponent(u"GroupBox1"));
    LblAdapter = Expect<TLabel>(FindComponent(u"LblAdapter"));
    LblIPAddress = Expect<TLabel>(FindComponent(u"LblIPAddress"));
    GroupBox2 = Expect<TGroupBox>(FindComponent(u"GroupBox2"));
    ChkTcpNoDelay = Expect<TCheckBox>(FindComponent(u"ChkTcpNoDelay"));
    ChkTCPAckFrequency = Expect<TCheckBox>(FindComponent(u"ChkTCPAckFrequency"));
    ChkTcpDelAckTick = Expect<TCheckBox>(FindComponent(u"ChkTcpDelAckTick"));
    GroupBox3 = Expect<TGroupBox>(FindComponent(u"GroupBox3"));
    ChkNetworkThrottlingIndex = Expect<TCheckBox>(FindComponent(u"ChkNetworkThrottlingIndex"));
    ChkSystemResponsiveness = Expect<TCheckBox>(FindComponent(u"ChkSystemResponsiveness"));
    PnlHead = Expect<TPanel>(FindComponent(u"PnlHead"));
    BtnHead = Expect<TStyledToolbar>(FindComponent(u"BtnHead"));
    BtnHome = Expect<TStyledToolButton>(FindComponent(u"BtnHome"));
    BtnConfig = Expect<TStyledToolButton>(FindComponent(u"BtnConfig"));
    BtnDonate = Expect<TStyledToolButton>(FindComponent(u"BtnDonate"));
    PnlLogo = Expect<TPanel>(FindComponent(u"PnlLogo"));
    ImgLogo = Expect<TImage>(FindComponent(u"ImgLogo"));

    PnlMain->SetActiveCardIndex(Card1->CardIndex());
    ImgLogo->SetCursor(LoadCursorW(nullptr, IDC_HAND));
    ImgLogo->LoadBitmapResource(L"LOGO");

    for (const HandlerBinding& binding : kHandlers) {
        auto* control = Expect<TControl>(FindComponent(binding.control));
        control->OnClick = [this, handler = binding.handler](TComponent* sender) {
            (this->*handler)(sender);
        };
    }
}

// The decoration goes with the window: its handler is taken off while the window still exists.
void TFrmTarnell::FormDestroying() {
    theme_.reset();
}

// The Restart Manager asks with WM_QUERYENDSESSION (ENDSESSION_CLOSEAPP in lParam), as the end of the
// session does: the window agrees at once, and closes when WM_ENDSESSION confirms, as its close box
// would (a wait in progress is dropped with the window; the values and the record were written before
// it began). An end that was called off (wParam FALSE) leaves the window as it was.
LRESULT TFrmTarnell::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            if (wParam && Hwnd()) DestroyWindow(Hwnd());
            return 0;
        case WM_TIMER:
            if (wParam == kFirstFrameTimer) {
                KillTimer(Hwnd(), kFirstFrameTimer);
                AfterFirstFrame();
                return 0;
            }
            if (wParam != kServiceCheckTimer) return TForm::HandleMessage(msg, wParam, lParam);
            StartServiceCheck();
            return 0;
        default:
            return TForm::HandleMessage(msg, wParam, lParam);
    }
}

void TFrmTarnell::Create() {
    CreateFormHandle();
    StampBenchPhase(BenchPhase::Handles);
    AttachAccessibility();
    StampBenchPhase(BenchPhase::Accessibility);
    try {
        FormCreate();
    } catch (...) {
        ReportUnhandledError(std::current_exception());
    }
}

// What a screen reader hears of each control: translated names, roles, states and default actions. Texts
// are looked up when asked, so they follow the status, the card and the language.
void TFrmTarnell::AttachAccessibility() {
    auto text = [](AccessText t) { return AccessTextIn(t, CurrentLanguage()); };
    auto caption = [](TControl* c) { return [c] { return c->Caption(); }; };
    auto fixed = [](std::u16string value) { return [value] { return value; }; };

    // The run switch is named by what it shows (a name that holds the visible label is what speech input
    // and readers match); what pressing it does is its description. While busy it shows no caption and is
    // named by the wait.
    AccessibleInfo run;
    run.role = ROLE_SYSTEM_PUSHBUTTON;
    run.focusable = true;
    run.name = [this, text] {
        const std::u16string caption = BtnStart->Caption();
        return caption.empty() ? text(AccessText::Busy) : caption;
    };
    run.description = [this, text] {
        switch (RunControl() ? RunControl()->Status() : stIdle) {
            case stRunning:
                return text(AccessText::Reverts);
            case stBusy:
                return std::u16string();
            default:
                return text(AccessText::Applies);
        }
    };
    run.state = [this] {
        const TStatus status = RunControl() ? RunControl()->Status() : stIdle;
        return (status == stRunning ? STATE_SYSTEM_PRESSED : 0L) |
               (status == stBusy ? STATE_SYSTEM_BUSY : 0L);
    };
    run.defaultAction = [text] { return text(AccessText::Press); };
    AttachAccessible(BtnStart->Hwnd(), run);

    // The window itself: the standard object's name and role, with the children a reader walks.
    AttachAccessible(Hwnd(), AccessibleInfo{});

    for (TStyledToolButton* tab : {BtnHome, BtnConfig, BtnDonate}) {
        AccessibleInfo info;
        info.role = ROLE_SYSTEM_PAGETAB;
        info.focusable = true;
        info.name = caption(tab);
        info.state = [tab] { return STATE_SYSTEM_SELECTABLE | (tab->Down() ? STATE_SYSTEM_SELECTED : 0L); };
        info.defaultAction = [text] { return text(AccessText::Switch); };
        AttachAccessible(tab->Hwnd(), info);
    }

    AccessibleInfo logo;
    logo.role = ROLE_SYSTEM_LINK;
    logo.focusable = true;
    logo.name = [text] { return text(AccessText::Website); };
    logo.state = [] { return long(STATE_SYSTEM_LINKED); };
    logo.defaultAction = [text] { return text(AccessText::Open); };
    AttachAccessible(ImgLogo->Hwnd(), logo);

    AccessibleInfo tagline;
    tagline.role = ROLE_SYSTEM_STATICTEXT;
    tagline.name = [this] { return LblContent->PlainText(); };
    tagline.state = [] { return long(STATE_SYSTEM_READONLY); };
    AttachAccessible(LblContent->Hwnd(), tagline);

    // While busy the indicator holds the focus that the disabled run switch gave up (FocusStandIn).
    AccessibleInfo indicator;
    indicator.role = ROLE_SYSTEM_ANIMATION;
    indicator.focusable = true;
    indicator.name = [text] { return text(AccessText::Busy); };
    indicator.state = [] { return long(STATE_SYSTEM_BUSY | STATE_SYSTEM_ANIMATED); };
    AttachAccessible(Indicator->Hwnd(), indicator);

    for (TLabel* label : {LblTitle, LblVersion, LblAdapter, LblIPAddress}) {
        AccessibleInfo info;
        info.role = ROLE_SYSTEM_STATICTEXT;
        info.name = caption(label);
        info.state = [] { return long(STATE_SYSTEM_READONLY); };
        AttachAccessible(label->Hwnd(), info);
    }

    // Cards are named after their header button; the other containers are plain groupings without a name.
    const std::pair<TCard*, TStyledToolButton*> cards[] = {{Card1, BtnHome}, {Card2, BtnConfig}};
    for (const auto& [card, tab] : cards) {
        AccessibleInfo info;
        info.role = ROLE_SYSTEM_PROPERTYPAGE;
        info.name = caption(tab);
        AttachAccessible(card->Hwnd(), info);
    }
    for (TContainer* plain : std::initializer_list<TContainer*>{PnlMain, PnlHead, PnlLogo}) {
        AccessibleInfo info;
        info.role = ROLE_SYSTEM_GROUPING;
        info.name = fixed(u"");
        AttachAccessible(plain->Hwnd(), info);
    }
    AccessibleInfo tabs;
    tabs.role = ROLE_SYSTEM_PAGETABLIST;
    tabs.name = fixed(u"");
    AttachAccessible(BtnHead->Hwnd(), tabs);

    for (TGroupBox* group : {GroupBox1, GroupBox2, GroupBox3}) {
        AccessibleInfo info;
        info.role = ROLE_SYSTEM_GROUPING;
        info.name = caption(group);
        AttachAccessible(group->Hwnd(), info);
    }
    // The option switches: their captions (the registry values' names), and what they are for.
    for (TCheckBox* box : {ChkTCPAckFrequency, ChkTcpDelAckTick, ChkTcpNoDelay, ChkNetworkThrottlingIndex,
                           ChkSystemResponsiveness}) {
        auto* group = dynamic_cast<TGroupBox*>(box->Parent());
        AccessibleInfo info;
        info.role = ROLE_SYSTEM_CHECKBUTTON;
        info.focusable = true;
        info.name = caption(box);
        info.description = [group, text] {
            const std::u16string note = text(AccessText::OptionNote);
            return group ? JoinSentences(group->Caption(), note, CurrentLanguage()) : note;
        };
        info.state = [box] { return box->Checked() ? long(STATE_SYSTEM_CHECKED) : 0L; };
        info.defaultAction = [box, text] {
            return text(box->Checked() ? AccessText::Uncheck : AccessText::Check);
        };
        AttachAccessible(box->Hwnd(), info);
    }
}

void TFrmTarnell::FormCreate() {
    theme_ = std::make_unique<TThemeHelper>(Hwnd());
    SetTopInset96(TThemeHelper::kLineHeight96);  // the accent line is the topmost strip; the rest sits below
    TranslateComponent(this, std::u16string());
    // The containers' window texts are what UI Automation falls back to for a name: the cards carry their
    // tabs' captions, the card panel none (the layout's captions are only the components' names).
    Card1->SetCaption(BtnHome->Caption());
    Card2->SetCaption(BtnConfig->Caption());
    PnlMain->SetCaption(u"");
    FitLabelFont(*LblTitle);
    SetDesktopFont(true);
    Indicator->SetVisible(false);
    BtnDonate->SetVisible(false);
    PnlMain->SetActiveCardIndex(0);
    random_.seed(
        static_cast<std::mt19937::result_type>(std::chrono::system_clock::now().time_since_epoch().count()));
    SetApplicationTitle(Caption());
    taglineIndex_ = int(std::uniform_int_distribution<int>(0, int(kTaglines.size()) - 1)(random_));
    LblContent->SetText(TaglineMarkup(TranslateText(kTaglines[size_t(taglineIndex_)])));
    LblVersion->SetCaption(VersionLine(TranslateText(kTextVersion), GetFileVersionText(u"%d.%d.%d.%d")));
    StampBenchPhase(BenchPhase::Decoration);
    run_->Control().LoadSavedState();
    StampBenchPhase(BenchPhase::SavedState);
    if (!options_.serviceUrl.empty()) SetUpdateMainWindow(Hwnd());
    // What the first frame does not show waits until it is on the screen: a timer message comes only when
    // no window of this thread has anything left to paint.
    SetTimer(Hwnd(), kFirstFrameTimer, USER_TIMER_MINIMUM, nullptr);
}

// The adapter, shown on the configuration card only (looked for sooner when the card is opened or the run
// switch pressed first); then, a tick later, the service check, whose thread and loads no longer delay the
// window, and whose answer could not come sooner anyway. The tick lets the adapter's log line be written
// before the check's name resolution begins: both run on the thread pool, which under Wine starts a second
// thread (about a megabyte) when they overlap.
void TFrmTarnell::AfterFirstFrame() {
    run_->Control().FindAdapter();
    if (!options_.serviceUrl.empty()) SetTimer(Hwnd(), kServiceCheckTimer, USER_TIMER_MINIMUM, nullptr);
}

void TFrmTarnell::StartServiceCheck() {
    KillTimer(Hwnd(), kServiceCheckTimer);
    // The answer reaches the window only while it lives: the check drops a late one on the UI thread,
    // where the window is destroyed too.
    const std::weak_ptr<TFrmTarnell*> self = self_;
    CheckUpdate(
        options_.serviceUrl,
        [self](bool updateAccepted) {
            if (const std::shared_ptr<TFrmTarnell*> alive = self.lock(); alive && updateAccepted)
                (*alive)->Close();
        },
        kUpdateOffset, self);
}

void TFrmTarnell::BtnHomeClick(TComponent* sender) {
    if (!sender) return;
    for (const Navigation& row : kNavigation) {
        if (!EqualsAsciiNoCase(sender->Name(), row.control)) continue;
        if (row.card == kOpensHomePage) {
            ShellOpen(options_.homeUrl);
        } else {
            if (auto* button = dynamic_cast<TStyledSpeedButton*>(sender)) button->SetDown(true);
            run_->Control().FindAdapter();
            PnlMain->SetActiveCardIndex(row.card);
        }
        return;
    }
}

std::vector<TControl*> TFrmTarnell::TabOrder() const {
    return {BtnHome,
            BtnConfig,
            ImgLogo,
            BtnStart,
            ChkTCPAckFrequency,
            ChkTcpDelAckTick,
            ChkTcpNoDelay,
            ChkNetworkThrottlingIndex,
            ChkSystemResponsiveness};
}

std::vector<HWND> TFrmTarnell::TabStops() const {
    std::vector<HWND> stops = TForm::TabStops();
    // The notice line, once shown, is last: it is at the bottom of the window.
    if (HWND notice = FindUpdateStatusBar(Hwnd())) stops.push_back(notice);
    return stops;
}

bool TFrmTarnell::ArrowKey(HWND from, bool backward) {
    // The header is a tab list: the arrow keys move to the tab beside the focused one and show its card.
    TStyledToolButton* const tabs[] = {BtnHome, BtnConfig};
    const size_t count = std::size(tabs);
    for (size_t i = 0; i < count; ++i) {
        if (tabs[i]->Hwnd() != from) continue;
        TStyledToolButton* next = tabs[(i + (backward ? count - 1 : 1)) % count];
        BtnHomeClick(next);
        if (next->Hwnd()) SetFocus(next->Hwnd());
        return true;
    }
    return false;
}

HWND TFrmTarnell::FocusStandIn(HWND leaving) const {
    return leaving == BtnStart->Hwnd() ? Indicator->Hwnd() : nullptr;
}

void TFrmTarnell::NextPage(bool backward) {
    const int count = PnlMain->CardCount();
    if (count == 0) return;
    const int next = (PnlMain->ActiveCardIndex() + (backward ? count - 1 : 1)) % count;
    TStyledToolButton* button = next == 0 ? BtnHome : BtnConfig;
    BtnHomeClick(button);
    if (button->Hwnd()) SetFocus(button->Hwnd());
}

void TFrmTarnell::BtnStartClick(TComponent*) {
    run_->Control().BtnStartClick();
}

void TFrmTarnell::OptionClick(TRunOption option, TComponent* sender) {
    auto* box = dynamic_cast<TCheckBox*>(sender);
    run_->Control().OptionClick(option, box ? box->Checked() : OptionChecked(option));
}

void TFrmTarnell::ChkTCPAckFrequencyClick(TComponent* sender) {
    OptionClick(TRunOption::TcpAckFrequency, sender);
}
void TFrmTarnell::ChkTcpDelAckTickClick(TComponent* sender) {
    OptionClick(TRunOption::TcpDelAckTick, sender);
}
void TFrmTarnell::ChkTcpNoDelayClick(TComponent* sender) {
    OptionClick(TRunOption::TcpNoDelay, sender);
}
void TFrmTarnell::ChkNetworkThrottlingIndexClick(TComponent* sender) {
    OptionClick(TRunOption::NetworkThrottlingIndex, sender);
}
void TFrmTarnell::ChkSystemResponsivenessClick(TComponent* sender) {
    OptionClick(TRunOption::SystemResponsiveness, sender);
}

TRunControl* TFrmTarnell::RunControl() {
    return run_ ? &run_->Control() : nullptr;
}

// RunView ------------------------------------------------------------------------------------------------

TCheckBox* TFrmTarnell::OptionSwitch(TRunOption option) const {
    switch (option) {
        case TRunOption::TcpAckFrequency:
            return ChkTCPAckFrequency;
        case TRunOption::TcpDelAckTick:
            return ChkTcpDelAckTick;
        case TRunOption::TcpNoDelay:
            return ChkTcpNoDelay;
        case TRunOption::NetworkThrottlingIndex:
            return ChkNetworkThrottlingIndex;
        case TRunOption::SystemResponsiveness:
            return ChkSystemResponsiveness;
    }
    return nullptr;
}

void TFrmTarnell::SetIndicatorVisible(bool visible) {
    Indicator->SetVisible(visible);
}
void TFrmTarnell::SetIndicatorAnimating(bool animating) {
    Indicator->SetAnimate(animating);
}
void TFrmTarnell::SetRunCaption(const std::u16string& caption) {
    BtnStart->SetCaption(caption);
}
void TFrmTarnell::SetRunEnabled(bool enabled) {
    BtnStart->SetEnabled(enabled);
}
void TFrmTarnell::SetRunDown(bool down) {
    BtnStart->SetDown(down);
}

void TFrmTarnell::SetOptionEnabled(TRunOption option, bool enabled) {
    if (TCheckBox* box = OptionSwitch(option)) box->SetEnabled(enabled);
}

bool TFrmTarnell::OptionChecked(TRunOption option) const {
    const TCheckBox* box = OptionSwitch(option);
    return box && box->Checked();
}

void TFrmTarnell::SetOptionChecked(TRunOption option, bool checked) {
    if (TCheckBox* box = OptionSwitch(option)) box->SetChecked(checked);
}

void TFrmTarnell::SetAdapterCaption(const std::u16string& caption) {
    LblAdapter->SetCaption(caption);
}
void TFrmTarnell::SetIPAddressCaption(const std::u16string& caption) {
    LblIPAddress->SetCaption(caption);
}

void TFrmTarnell::ShowStatusError(const std::u16string& message) {
    MessageBoxW(Hwnd(), W(message), W(Caption()), MB_OK | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST);
}

}  // namespace tarnell
