#include "update/control_hint_win32.h"

#include <commctrl.h>

#include "base/error_boundary_win32.h"

namespace tarnell {

namespace {
constexpr wchar_t kHintProp[] = L"Tarnell.Hint";
constexpr UINT_PTR kHintSubclassId = 0x7A11;

LRESULT CALLBACK HintSubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR) {
    return Guarded<LRESULT>(0, [&] {
        if (msg == WM_NCDESTROY) {
            delete static_cast<std::u16string*>(RemovePropW(hwnd, kHintProp));
            RemoveWindowSubclass(hwnd, HintSubclassProc, id);
        }
        return DefSubclassProc(hwnd, msg, wp, lp);
    });
}
}  // namespace

void SetControlHint(HWND control, const std::u16string& hint) {
    if (!control) return;
    if (auto* stored = static_cast<std::u16string*>(GetPropW(control, kHintProp))) {
        *stored = hint;
        return;
    }
    auto* stored = new std::u16string(hint);
    if (!SetPropW(control, kHintProp, stored)) {
        delete stored;
        return;
    }
    SetWindowSubclass(control, HintSubclassProc, kHintSubclassId, 0);
}

std::u16string GetControlHint(HWND control) {
    if (!control) return std::u16string();
    const auto* stored = static_cast<const std::u16string*>(GetPropW(control, kHintProp));
    return stored ? *stored : std::u16string();
}

}  // namespace tarnell
