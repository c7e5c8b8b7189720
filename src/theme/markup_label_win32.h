// The markup label window class ("TarnellMarkupLabel"): lays out its markup text with the markup engine,
// measuring every word with GDI in its own font (GetTextExtentPoint32W), and paints the runs into an
// off-screen bitmap of its size over its background colour, with no prefix processing ("&" stays "&").
// The layout is rebuilt when the text, the font or the size changes; a colour change only repaints.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "theme/color.h"
#include "theme/gdi_win32.h"
#include "theme/markup.h"

namespace tarnell {

struct MarkupLabelConfig {
    std::u16string text;
    TColor color = clWhite;           // background
    TColor fontColor = clWindowText;  // text colour where no tag sets one
    bool autoBreak = true;            // a line break in the text starts a new line
    bool wordWrap = true;             // wrap at the label's width
    THorzAlign lineHorzAlign = THorzAlign::haLeft;
    TVertAlign lineVertAlign = TVertAlign::vaTop;
    THorzAlign overallHorzAlign = THorzAlign::haLeft;
    TVertAlign overallVertAlign = TVertAlign::vaTop;
};

class MarkupLabel {
  public:
    static HWND Create(HWND parent, int x, int y, int width, int height, const MarkupLabelConfig& config,
                       UINT id = 0);
    static MarkupLabel* FromHandle(HWND hwnd);
    static const wchar_t* ClassName();

    HWND Handle() const { return hwnd_; }
    // The text as the label keeps it: without a final line break.
    const std::u16string& Text() const { return config_.text; }
    void SetText(const std::u16string& text);
    // Not owned; WM_SETFONT does the same.
    void SetFont(HFONT font);
    HFONT Font() const { return font_; }
    void SetColor(TColor color);
    void SetFontColor(TColor color);
    void SetAlignment(THorzAlign lineHorz, TVertAlign lineVert, THorzAlign overallHorz,
                      TVertAlign overallVert);
    void SetAutoBreak(bool autoBreak);
    void SetWordWrap(bool wordWrap);
    const MarkupLabelConfig& Config() const { return config_; }

    const MarkupLayout& Layout() const { return layout_; }
    const std::vector<MarkupError>& Errors() const { return layout_.errors; }

  private:
    MarkupLabel(HWND hwnd, const MarkupLabelConfig& config) : hwnd_(hwnd), config_(config) {
        config_.text = MarkupLabelText(config_.text);
    }
    friend struct ControlWindow<MarkupLabel, MarkupLabelConfig>;
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void Rebuild();
    void Paint(HDC dc);
    MarkupFont BaseFont() const;

    HWND hwnd_;
    MarkupLabelConfig config_;
    HFONT font_ = nullptr;
    MarkupLayout layout_;
};

}  // namespace tarnell
