// The main window's form description: every control with its parent, place and size at 96 DPI,
// caption, font and look, in stored order. The window is built from this table, top to bottom, and
// owns the controls in this order (which is also the order the caption walk visits them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/dpi_scale.h"

namespace tarnell {

enum class ControlKind : uint8_t {
    CardPanel,
    Card,
    Panel,
    StyledToolbar,
    ToolButton,
    Image,
    Label,
    MarkupLabel,
    StyledSpeedButton,
    ActivityIndicator,
    GroupBox,
    CheckBox,
};

// A font of its own; a control without one takes the window's.
struct FontDesc {
    const char16_t* face = nullptr;  // nullptr: the window's font
    int height96 = 0;                // negative: character height in pixels at 96 DPI
    bool antialiased = false;
};

enum ControlFlag : uint32_t {
    kNone = 0,
    kHidden = 1u << 0,   // stored invisible
    kDown = 1u << 1,     // styled button stored pressed
    kCentred = 1u << 2,  // label text centred horizontally
};

struct ButtonStyleDesc {
    const char16_t* family = nullptr;      // "Vorbeck"
    const char16_t* appearance = nullptr;  // "Header", "Outline"
    int radius96 = 0;                      // corner radius at 96 DPI
};

struct ControlDesc {
    const char16_t* name;
    ControlKind kind;
    const char16_t* parent;   // empty: the window itself
    Rect96 bounds;            // relative to the parent's client area, at 96 DPI
    const char16_t* caption;  // nullptr: the control has no caption
    uint32_t flags;
    FontDesc font;
    ButtonStyleDesc style;
};

struct FormDesc {
    const char16_t* name;
    const char16_t* caption;
    int clientWidth96;
    int clientHeight96;
    FontDesc font;
    uint32_t color;  // 0x00BBGGRR
};

const FormDesc& MainFormDesc();
std::span<const ControlDesc> MainFormControls();
// The entry named `name` (exact), or nullptr.
const ControlDesc* FindControlDesc(const char16_t* name);
// The control's rectangle relative to the window's client area, at 96 DPI.
Rect96 ClientBounds96(const ControlDesc& control);

// Each control's window carries the identifier kFirstControlId + its index in the table.
inline constexpr int kFirstControlId = 1000;
int ControlIdOf(const ControlDesc& control);

// Toolbar metrics shared by the header's buttons.
inline constexpr int kToolButtonWidth96 = 70;
inline constexpr int kToolButtonHeight96 = 30;

}  // namespace tarnell
