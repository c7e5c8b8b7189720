// The notice line: a status bar at the bottom of the main window with one owner-drawn, centred panel in
// bold red; a click opens its hint.
#pragma once

#include <windows.h>

#include <string>

namespace tarnell {

inline constexpr int kUpdateStatusHeight = 28;  // pixels, not scaled

// Shows or refreshes the notice line at the bottom of `form`: `text` in bold red, `hint` opened on click.
// The first call grows the window by the line's height; later calls only replace text and link.
void ShowUpdateStatus(HWND form, const std::u16string& text, const std::u16string& hint);

// The notice line of `form` (the child marked "StatusBar"), or nullptr before the first ShowUpdateStatus.
HWND FindUpdateStatusBar(HWND form);
// Its panel text and hint.
std::u16string UpdateStatusText(HWND bar);
std::u16string UpdateStatusHint(HWND bar);

struct TUpdateHelper {
    // Fills the panel with the bar's colour and draws its text centred on one line in the bar's font.
    static void DrawUpdateStatus(HWND statusBar, HDC dc, const RECT& rect);
    // A click on the notice line: opens the bar's hint.
    static void StatusClick(HWND sender);
};

}  // namespace tarnell
