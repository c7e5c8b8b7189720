// The main window's layout as the form description must give it, typed here by hand (not read from the
// program's own table), for the tests that compare it with the real window.
#pragma once

#include <array>
#include <string_view>

namespace tarnell::expected {

enum : unsigned {
    kOwnFont = 1u << 0,        // "Tahoma", height -59, antialiased, not the window's font
    kCentredText = 1u << 1,    // text centred horizontally
    kOneLine = 1u << 2,        // a label without word wrap
    kStoredDown = 1u << 3,     // styled button stored pressed
    kHiddenAtStart = 1u << 4,  // stored visible, hidden by the start-up sequence
    kClick = 1u << 5,          // has a click handler
    kNoTabStop = 1u << 6,      // an option switch: check box, stored unchecked, no tab stop
    kReplaced = 1u << 7,       // caption replaced by the start-up sequence
};

struct Control {
    std::u16string_view name;
    std::u16string_view parent;  // empty: the window
    int left, top, width, height;
    const char16_t* caption;  // as stored; nullptr: the control has no caption
    unsigned flags;
};

// In the order the window owns them (the control tree's order).
inline constexpr std::array<Control, 25> kControls{{
    {u"PnlMain", u"", 0, 50, 498, 376, u"PnlMain", 0},
    {u"Card1", u"PnlMain", 0, 0, 498, 376, u"Card1", 0},
    {u"LblTitle", u"Card1", 8, 40, 484, 81, u"타르넬", kOwnFont | kCentredText},
    {u"LblContent", u"Card1", 0, 188, 500, 33, nullptr, 0},
    {u"BtnStart", u"Card1", 176, 264, 162, 68, u"실행하기", kClick},
    {u"Indicator", u"Card1", 241, 282, 32, 32, nullptr, kHiddenAtStart},
    {u"Card2", u"PnlMain", 0, 0, 498, 376, u"Card2", 0},
    {u"LblVersion", u"Card2", 15, 344, 100, 15, u"Loadiing...", kOneLine | kReplaced},
    {u"GroupBox1", u"Card2", 15, 6, 474, 67, u"네트워크 아답터 정보", 0},
    {u"LblAdapter", u"GroupBox1", 17, 32, 304, 15, u"...", kOneLine | kReplaced},
    {u"LblIPAddress", u"GroupBox1", 344, 32, 109, 15, u"...", kOneLine | kReplaced},
    {u"GroupBox2", u"Card2", 15, 87, 474, 98, u"네이글 알고리즘 해제", 0},
    {u"ChkTcpNoDelay", u"GroupBox2", 17, 64, 200, 17, u"TcpNoDelay", kNoTabStop | kClick},
    {u"ChkTCPAckFrequency", u"GroupBox2", 17, 32, 200, 17, u"TcpAckFrequency", kNoTabStop | kClick},
    {u"ChkTcpDelAckTick", u"GroupBox2", 243, 32, 200, 17, u"TcpDelAckTick", kNoTabStop | kClick},
    {u"GroupBox3", u"Card2", 15, 199, 474, 66, u"네트워크 쓰로틀링", 0},
    {u"ChkNetworkThrottlingIndex", u"GroupBox3", 17, 32, 200, 17, u"NetworkThrottlingIndex",
     kNoTabStop | kClick},
    {u"ChkSystemResponsiveness", u"GroupBox3", 243, 32, 200, 17, u"SystemResponsiveness",
     kNoTabStop | kClick},
    {u"PnlHead", u"", 0, 0, 498, 50, u"", 0},
    {u"BtnHead", u"PnlHead", 10, 10, 358, 30, u"", 0},
    {u"BtnHome", u"BtnHead", 0, 0, 70, 30, u"처음화면", kStoredDown | kClick},
    {u"BtnConfig", u"BtnHead", 70, 0, 70, 30, u"환경설정", kClick},
    {u"BtnDonate", u"BtnHead", 140, 0, 70, 30, u"후원하기", kHiddenAtStart | kClick},
    {u"PnlLogo", u"PnlHead", 378, 0, 120, 50, u"", 0},
    {u"ImgLogo", u"PnlLogo", 3, 0, 112, 50, nullptr, kClick},
}};

inline constexpr int kClientWidth = 498, kClientHeight = 426;
inline constexpr int kAccentLineHeight = 2;  // the decoration's line across the top of the client area

inline const Control* Find(std::u16string_view name) {
    for (const Control& c : kControls)
        if (c.name == name) return &c;
    return nullptr;
}

struct PixelPlace {
    int left, top, width, height;
};

inline int Scale(int value, int dpi) {
    return (value * dpi + (value >= 0 ? 48 : -48)) / 96;  // MulDiv by 96, rounded
}

// Where the window shows a control at `dpi`, relative to its client area, once the accent line is there:
// each offset scaled on its own and added up the parent chain, everything below the line, the card panel
// and its cards reaching down to the bottom of the client area.
inline PixelPlace PlaceAt(const Control& c, int dpi) {
    PixelPlace p{0, Scale(kAccentLineHeight, dpi), Scale(c.width, dpi), Scale(c.height, dpi)};
    for (const Control* at = &c; at; at = Find(at->parent)) {
        p.left += Scale(at->left, dpi);
        p.top += Scale(at->top, dpi);
    }
    if (c.name == u"PnlMain" || c.name == u"Card1" || c.name == u"Card2")
        p.height = Scale(kClientHeight, dpi) - p.top;
    return p;
}

}  // namespace tarnell::expected
