#include "theme/markup_label_win32.h"

#include <map>

#include "base/bench_phases_win32.h"
#include "base/error_boundary_win32.h"
#include "base/offscreen_win32.h"
#include "base/wide.h"
#include "theme/gdi_win32.h"
#include "theme/system_colors_win32.h"

namespace tarnell {

namespace {

constexpr wchar_t kClassName[] = L"TarnellMarkupLabel";

TFontStyles StylesOf(const LOGFONTW& lf) {
    TFontStyles style = 0;
    if (lf.lfWeight >= FW_SEMIBOLD) style |= fsBold;
    if (lf.lfItalic) style |= fsItalic;
    if (lf.lfUnderline) style |= fsUnderline;
    if (lf.lfStrikeOut) style |= fsStrikeOut;
    return style;
}

// GDI fonts for the runs' fonts, made once per face, height and style and freed with the cache.
class FontCache {
  public:
    explicit FontCache(HFONT base) : base_(FontInfo(base)) {}
    ~FontCache() {
        for (auto& entry : fonts_) DeleteObject(entry.second);
    }
    FontCache(const FontCache&) = delete;
    FontCache& operator=(const FontCache&) = delete;

    HFONT Get(const MarkupFont& font) {
        const Key key{font.face, font.height, font.style};
        auto it = fonts_.find(key);
        if (it != fonts_.end()) return it->second;
        LOGFONTW lf = base_;
        const std::wstring face = ToWide(font.face);
        lstrcpynW(lf.lfFaceName, face.c_str(), LF_FACESIZE);
        lf.lfHeight = font.height;
        lf.lfWeight = (font.style & fsBold) ? FW_BOLD : FW_NORMAL;
        lf.lfItalic = (font.style & fsItalic) ? TRUE : FALSE;
        lf.lfUnderline = (font.style & fsUnderline) ? TRUE : FALSE;
        lf.lfStrikeOut = (font.style & fsStrikeOut) ? TRUE : FALSE;
        BenchCostScope fonts(BenchCost::Fonts);
        HFONT created = CreateFontIndirectW(&lf);
        fonts_.emplace(key, created);
        return created;
    }

  private:
    struct Key {
        std::u16string face;
        int height;
        TFontStyles style;
        bool operator<(const Key& o) const {
            if (face != o.face) return face < o.face;
            if (height != o.height) return height < o.height;
            return style < o.style;
        }
    };
    LOGFONTW base_;
    std::map<Key, HFONT> fonts_;
};

class GdiMeasurer final : public TextMeasurer {
  public:
    GdiMeasurer(HDC dc, FontCache& fonts) : dc_(dc), fonts_(fonts) {}
    TextSize Measure(std::u16string_view text, const MarkupFont& font) override {
        HGDIOBJ old = SelectObject(dc_, fonts_.Get(font));
        SIZE size{};
        const std::wstring wide = ToWide(text);
        GetTextExtentPoint32W(dc_, wide.c_str(), int(wide.size()), &size);
        SelectObject(dc_, old);
        return {int(size.cx), int(size.cy)};
    }

  private:
    HDC dc_;
    FontCache& fonts_;
};

}  // namespace

const wchar_t* MarkupLabel::ClassName() {
    return kClassName;
}

HWND MarkupLabel::Create(HWND parent, int x, int y, int width, int height, const MarkupLabelConfig& config,
                         UINT id) {
    static const bool registered =
        RegisterControlClass(kClassName, ControlWindow<MarkupLabel, MarkupLabelConfig>::Proc);
    if (!registered) return nullptr;
    MarkupLabelConfig copy = config;
    return CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, x, y, width, height,
                           parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                           GetModuleHandleW(nullptr), &copy);
}

MarkupLabel* MarkupLabel::FromHandle(HWND hwnd) {
    return static_cast<MarkupLabel*>(ControlFromHandle(hwnd, kClassName));
}

LRESULT MarkupLabel::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_CREATE:
            Rebuild();
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            Paint(ScopedPaint(hwnd_).get());
            return 0;
        case WM_PRINTCLIENT:
            Paint(reinterpret_cast<HDC>(wParam));
            return 0;
        case WM_SIZE:
            Rebuild();
            return 0;
        case WM_SETFONT:
            font_ = reinterpret_cast<HFONT>(wParam);
            Rebuild();
            return 0;
        case WM_GETFONT:
            return reinterpret_cast<LRESULT>(font_);
        case WM_NCHITTEST:
            return HTTRANSPARENT;
        default:
            return DefWindowProcW(hwnd_, msg, wParam, lParam);
    }
}

void MarkupLabel::SetText(const std::u16string& text) {
    config_.text = MarkupLabelText(text);
    Rebuild();
}

void MarkupLabel::SetFont(HFONT font) {
    font_ = font;
    Rebuild();
}

void MarkupLabel::SetColor(TColor color) {
    config_.color = color;
    InvalidateRect(hwnd_, nullptr, FALSE);
}

void MarkupLabel::SetFontColor(TColor color) {
    config_.fontColor = color;
    Rebuild();
}

void MarkupLabel::SetAlignment(THorzAlign lineHorz, TVertAlign lineVert, THorzAlign overallHorz,
                               TVertAlign overallVert) {
    config_.lineHorzAlign = lineHorz;
    config_.lineVertAlign = lineVert;
    config_.overallHorzAlign = overallHorz;
    config_.overallVertAlign = overallVert;
    Rebuild();
}

void MarkupLabel::SetAutoBreak(bool autoBreak) {
    config_.autoBreak = autoBreak;
    Rebuild();
}

void MarkupLabel::SetWordWrap(bool wordWrap) {
    config_.wordWrap = wordWrap;
    Rebuild();
}

MarkupFont MarkupLabel::BaseFont() const {
    const LOGFONTW lf = FontInfo(font_);
    MarkupFont font;
    font.face = FromWide(lf.lfFaceName);
    font.height = lf.lfHeight;
    font.style = StylesOf(lf);
    font.color = config_.fontColor;
    return font;
}

void MarkupLabel::Rebuild() {
    RECT rc;
    GetClientRect(hwnd_, &rc);
    MarkupOptions options;
    options.width = rc.right;
    options.height = rc.bottom;
    options.autoBreak = config_.autoBreak;
    options.wordWrap = config_.wordWrap;
    options.lineHorzAlign = config_.lineHorzAlign;
    options.lineVertAlign = config_.lineVertAlign;
    options.overallHorzAlign = config_.overallHorzAlign;
    options.overallVertAlign = config_.overallVertAlign;

    {
        ScopedWindowDc dc(hwnd_);
        FontCache fonts(font_);
        GdiMeasurer measurer(dc.get(), fonts);
        layout_ = LayoutMarkup(config_.text, BaseFont(), options, measurer);
    }
    InvalidateRect(hwnd_, nullptr, FALSE);
}

void MarkupLabel::Paint(HDC target) {
    RECT rc;
    GetClientRect(hwnd_, &rc);
    if (rc.right <= 0 || rc.bottom <= 0) return;
    OffscreenBuffer buffer(target, rc);
    if (!buffer) return;
    HDC dc = buffer.Dc();

    // In high contrast the system's colours replace the label's and every tag's colour.
    const TUiPalette palette = CurrentUiPalette();
    {
        ScopedBrush background(
            CreateSolidBrush(ToColorRef(palette.highContrast ? palette.window : config_.color)));
        FillRect(dc, &rc, background.get());
    }

    SetBkMode(dc, TRANSPARENT);
    FontCache fonts(font_);
    HGDIOBJ oldFont = nullptr;
    for (const auto& line : layout_.lines) {
        for (const auto& run : line.runs) {
            HGDIOBJ previous = SelectObject(dc, fonts.Get(run.font));
            if (!oldFont) oldFont = previous;
            SetTextColor(dc, ToColorRef(palette.highContrast ? palette.windowText : run.font.color));
            const std::wstring text = ToWide(run.text);
            TextOutW(dc, run.x, run.y, text.c_str(), int(text.size()));
        }
    }
    if (oldFont) SelectObject(dc, oldFont);

    buffer.Present();
}

}  // namespace tarnell
