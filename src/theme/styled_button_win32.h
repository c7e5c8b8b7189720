// The styled button window class ("TarnellStyledButton"): the run switch (a speed button) and the header
// toolbar's buttons, drawn from the five attribute records a style family fills.
//
// State choice, first match wins: disabled; down or held with the mouse (while over it) = pressed;
// focused = selected (only the keyboard gives the button the focus, a click never does), except for a
// toggle of a group, whose fill says which one is selected; mouse over = hot; otherwise normal. With the
// focus cue shown (the keyboard was used) a ring is drawn round the edge and the button inside it. A flat
// button draws no border unless the mouse is over it. Buttons with a non-zero group index are toggles:
// clicking one puts it down and every sibling button of the same group up.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "theme/button_styles.h"
#include "theme/color.h"
#include "theme/gdi_win32.h"

namespace tarnell {

struct StyledButtonConfig {
    std::u16string caption;
    std::u16string family = kVorbeckFamily;
    std::u16string styleClass = u"Primary";
    std::u16string appearance = u"Normal";
    int radius96 = 6;  // corner radius at 96 DPI: 6 for a speed button, 4 for the header toolbar
    bool flat = false;
    int groupIndex = 0;
    bool down = false;
    TColor background = clWhite;  // what shows around the rounded corners and under a clear fill
    std::optional<TStyledButtonDrawType> drawType;  // the control's own outline; else the Normal record's
};

class StyledButton {
  public:
    using ClickHandler = std::function<void(StyledButton& sender)>;

    // A visible child of parent; the button keeps a copy of config. Throws nothing; null on failure.
    static HWND Create(HWND parent, int x, int y, int width, int height, const StyledButtonConfig& config,
                       UINT id = 0);
    // The button behind a "TarnellStyledButton" window, or null.
    static StyledButton* FromHandle(HWND hwnd);
    static const wchar_t* ClassName();

    HWND Handle() const { return hwnd_; }

    std::u16string Caption() const;
    void SetCaption(const std::u16string& caption);

    // Sets family, class and appearance. Class and appearance are checked against the family's lists:
    // found ones take the list's spelling, missing ones the family's default, and only a valid
    // combination refills the records. Answers whether it was valid.
    bool SetStyle(const std::u16string& family, const std::u16string& styleClass,
                  const std::u16string& appearance);
    const std::u16string& Family() const { return config_.family; }
    const std::u16string& StyleClass() const { return config_.styleClass; }
    const std::u16string& Appearance() const { return config_.appearance; }
    const TStyledButtonRecords& Records() const { return records_; }

    void SetRadius(int radius96);
    int Radius() const { return config_.radius96; }
    void SetFlat(bool flat);
    bool Flat() const { return config_.flat; }
    void SetGroupIndex(int groupIndex) { config_.groupIndex = groupIndex; }
    int GroupIndex() const { return config_.groupIndex; }
    // Putting a grouped button down puts the others of its group up.
    void SetDown(bool down);
    bool Down() const { return config_.down; }
    void SetEnabled(bool enabled) { EnableWindow(hwnd_, enabled ? TRUE : FALSE); }
    bool Enabled() const { return IsWindowEnabled(hwnd_) != FALSE; }
    bool Hot() const { return hot_; }
    void SetBackground(TColor color);
    void SetOnClick(ClickHandler handler) { onClick_ = std::move(handler); }

    // The state the next paint draws.
    TStyledButtonState State() const;
    // Whether the next paint draws a border.
    bool DrawsBorder() const;
    // Whether the next paint draws the focus cue: the button has the focus and the keyboard was used.
    bool FocusCueShown() const;

    // What a mouse click does: a grouped button goes down (its group up), then the click handler runs.
    void Click();

  private:
    StyledButton(HWND hwnd, const StyledButtonConfig& config);
    friend struct ControlWindow<StyledButton, StyledButtonConfig>;
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void Paint(HDC dc);
    bool DrawsBorder(const TStyledButtonAttributes& record) const;
    void OnMouseMove(LPARAM lParam);
    void SetHot(bool hot);
    void Invalidate() { InvalidateRect(hwnd_, nullptr, FALSE); }

    HWND hwnd_;
    StyledButtonConfig config_;
    TStyledButtonRecords records_{};
    HFONT font_ = nullptr;  // not owned (WM_SETFONT)
    bool hot_ = false;
    bool held_ = false;  // left button went down here and is still down
    bool heldInside_ = false;
    UINT keyDown_ = 0;       // Space or Enter went down while the button had the focus
    bool hideFocus_ = true;  // UISF_HIDEFOCUS, as WM_UPDATEUISTATE last said
    ClickHandler onClick_;
};

}  // namespace tarnell
