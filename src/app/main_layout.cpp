#include "app/main_layout.h"

#include <array>
#include <string_view>

namespace tarnell {

namespace {

constexpr FontDesc kParentFont{};
constexpr ButtonStyleDesc kNoStyle{};
constexpr ButtonStyleDesc kHeaderStyle{u"Vorbeck", u"Header", 4};
constexpr ButtonStyleDesc kOutlineStyle{u"Vorbeck", u"Outline", 6};
constexpr FontDesc kTitleFont{u"Tahoma", -59, true};

using K = ControlKind;

// Korean captions are the source texts of the translation table; the rest have no entry.
// clang-format off
constexpr std::array<ControlDesc, 25> kControls{{
    // name                        kind                  parent       left top  width height  caption              flags     font         style
    {u"PnlMain",                   K::CardPanel,         u"",          {0, 50, 498, 376},     u"PnlMain",          kNone,    kParentFont, kNoStyle},
    {u"Card1",                     K::Card,              u"PnlMain",   {0, 0, 498, 376},      u"Card1",            kNone,    kParentFont, kNoStyle},
    {u"LblTitle",                  K::Label,             u"Card1",     {8, 40, 484, 81},      u"타르넬",            kCentred, kTitleFont,  kNoStyle},
    {u"LblContent",                K::MarkupLabel,       u"Card1",     {0, 188, 500, 33},     nullptr,             kNone,    kParentFont, kNoStyle},
    {u"BtnStart",                  K::StyledSpeedButton, u"Card1",     {176, 264, 162, 68},   u"실행하기",          kNone,    kParentFont, kOutlineStyle},
    {u"Indicator",                 K::ActivityIndicator, u"Card1",     {241, 282, 32, 32},    nullptr,             kNone,    kParentFont, kNoStyle},
    {u"Card2",                     K::Card,              u"PnlMain",   {0, 0, 498, 376},      u"Card2",            kNone,    kParentFont, kNoStyle},
    {u"LblVersion",                K::Label,             u"Card2",     {15, 344, 100, 15},    u"Loadiing...",      kNone,    kParentFont, kNoStyle},
    {u"GroupBox1",                 K::GroupBox,          u"Card2",     {15, 6, 474, 67},      u"네트워크 아답터 정보", kNone,    kParentFont, kNoStyle},
    {u"LblAdapter",                K::Label,             u"GroupBox1", {17, 32, 304, 15},     u"...",              kNone,    kParentFont, kNoStyle},
    {u"LblIPAddress",              K::Label,             u"GroupBox1", {344, 32, 109, 15},    u"...",              kNone,    kParentFont, kNoStyle},
    {u"GroupBox2",                 K::GroupBox,          u"Card2",     {15, 87, 474, 98},     u"네이글 알고리즘 해제", kNone,    kParentFont, kNoStyle},
    {u"ChkTcpNoDelay",             K::CheckBox,          u"GroupBox2", {17, 64, 200, 17},     u"TcpNoDelay",       kNone,    kParentFont, kNoStyle},
    {u"ChkTCPAckFrequency",        K::CheckBox,          u"GroupBox2", {17, 32, 200, 17},     u"TcpAckFrequency",  kNone,    kParentFont, kNoStyle},
    {u"ChkTcpDelAckTick",          K::CheckBox,          u"GroupBox2", {243, 32, 200, 17},    u"TcpDelAckTick",    kNone,    kParentFont, kNoStyle},
    {u"GroupBox3",                 K::GroupBox,          u"Card2",     {15, 199, 474, 66},    u"네트워크 쓰로틀링",   kNone,    kParentFont, kNoStyle},
    {u"ChkNetworkThrottlingIndex", K::CheckBox,          u"GroupBox3", {17, 32, 200, 17},     u"NetworkThrottlingIndex", kNone, kParentFont, kNoStyle},
    {u"ChkSystemResponsiveness",   K::CheckBox,          u"GroupBox3", {243, 32, 200, 17},    u"SystemResponsiveness", kNone, kParentFont, kNoStyle},
    {u"PnlHead",                   K::Panel,             u"",          {0, 0, 498, 50},       u"",                 kNone,    kParentFont, kNoStyle},
    {u"BtnHead",                   K::StyledToolbar,     u"PnlHead",   {10, 10, 358, 30},     u"",                 kNone,    kParentFont, kHeaderStyle},
    {u"BtnHome",                   K::ToolButton,        u"BtnHead",   {0, 0, 70, 30},        u"처음화면",          kDown,    kParentFont, kHeaderStyle},
    {u"BtnConfig",                 K::ToolButton,        u"BtnHead",   {70, 0, 70, 30},       u"환경설정",          kNone,    kParentFont, kHeaderStyle},
    {u"BtnDonate",                 K::ToolButton,        u"BtnHead",   {140, 0, 70, 30},      u"후원하기",          kNone,    kParentFont, kHeaderStyle},
    {u"PnlLogo",                   K::Panel,             u"PnlHead",   {378, 0, 120, 50},     u"",                 kNone,    kParentFont, kNoStyle},
    {u"ImgLogo",                   K::Image,             u"PnlLogo",   {3, 0, 112, 50},       nullptr,             kNone,    kParentFont, kNoStyle},
}};
// clang-format on

constexpr FormDesc kForm{u"FrmTarnell", u"타르넬", 498, 426, FontDesc{u"Segoe UI", -12, false}, 0x00FFFFFF};

}  // namespace

const FormDesc& MainFormDesc() {
    return kForm;
}

std::span<const ControlDesc> MainFormControls() {
    return kControls;
}

const ControlDesc* FindControlDesc(const char16_t* name) {
    const std::u16string_view wanted(name);
    for (const ControlDesc& c : kControls) {
        if (wanted == c.name) return &c;
    }
    return nullptr;
}

int ControlIdOf(const ControlDesc& control) {
    return kFirstControlId + int(&control - kControls.data());
}

Rect96 ClientBounds96(const ControlDesc& control) {
    Rect96 r = control.bounds;
    for (const ControlDesc* p = FindControlDesc(control.parent); p; p = FindControlDesc(p->parent)) {
        r.left += p->bounds.left;
        r.top += p->bounds.top;
    }
    return r;
}

}  // namespace tarnell
