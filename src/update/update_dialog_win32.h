// The update prompt: a warning-style message box of our own with Yes and No, and an extra band that the
// service's info object can ask for (a "hold" check box or a "note" link label).
#pragma once

#include <windows.h>

#include <string>

namespace tarnell {

// Control identifiers inside the prompt.
inline constexpr int kPromptLineId = 1001;
inline constexpr int kPromptHoldCheckId = 1002;
inline constexpr int kPromptNoteLabelId = 1003;
inline constexpr int kPromptTextId = 1004;

// Shows the modal prompt for the service's answer `data`; true when the user chose Yes. A ticked hold
// check box sends HoldRequest() after the prompt closes, whatever the answer. UI thread only.
bool UpdateDialog(const std::u16string& data);

// Click handler of the prompt's link label: opens the label's hint.
struct TFormHelper {
    static void OpenURL(HWND sender);
};

}  // namespace tarnell
