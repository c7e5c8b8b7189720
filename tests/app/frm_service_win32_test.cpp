// The main window's service check against the update tests' loopback service: an update the user takes
// closes the window right after the completion; one the user declines leaves it open with the notice line.
#include <doctest/doctest.h>
#include <windows.h>

#include <string>

#include "../update/fixture_win32.h"
#include "app/frm_tarnell_win32.h"
#include "base/shell_open_win32.h"
#include "base/ui_task_win32.h"
#include "theme/button_styles.h"
#include "translate/translation.h"
#include "translate/translation_win32.h"
#include "update/update_hooks_win32.h"
#include "update/update_status_win32.h"

using namespace tarnell;

namespace {

struct Outcome {
    bool destroyed = false;
    bool prompted = false;
    std::u16string opened;
};

void SetUpOnce() {
    static bool setUp = false;
    if (!setUp) {
        setUp = true;
        LoadTranslationTable();
        RegisterVorbeckButtonStyles();
        InitUiTasks();
    }
}

BOOL CALLBACK CountUnpainted(HWND hwnd, LPARAM count) {
    if (IsWindowVisible(hwnd) && GetUpdateRect(hwnd, nullptr, FALSE)) ++*reinterpret_cast<int*>(count);
    return TRUE;
}

// Visible windows of the form (itself included) that still have something to paint.
int UnpaintedWindows(HWND form) {
    int count = 0;
    CountUnpainted(form, reinterpret_cast<LPARAM>(&count));
    EnumChildWindows(form, CountUnpainted, reinterpret_cast<LPARAM>(&count));
    return count;
}

// Opens the window with the scenario's service address, answers the prompt with `answer` and pumps
// until the window is gone or the deadline passes.
Outcome RunScenario(WPARAM answer, std::unique_ptr<TFrmTarnell>& form) {
    SetUpOnce();
    SetCurrentLanguage(u"en");
    Outcome outcome;
    SetShellOpenHook([&](const std::u16string& target) { outcome.opened = target; });
    SetUpdateDialogHook([&, answer](HWND prompt) {
        outcome.prompted = true;
        PostMessageW(prompt, WM_COMMAND, answer, 0);
    });
    form = std::make_unique<TFrmTarnell>(
        nullptr,
        TFrmTarnellOptions{test::FixtureUrl("/api/update-notify"), u"https://link.tarnell.example/tarnell"});
    form->OnDestroy = [&] { outcome.destroyed = true; };
    form->Create();
    form->Show();
    test::WaitUntil(
        [&] {
            return outcome.destroyed ||
                   (outcome.prompted && answer != IDYES && FindUpdateStatusBar(form->Hwnd()) != nullptr);
        },
        20000);
    SetShellOpenHook(nullptr);
    SetUpdateDialogHook(nullptr);
    return outcome;
}

}  // namespace

TEST_CASE("an update the user takes goes to the shell and closes the window") {
    std::unique_ptr<TFrmTarnell> form;
    const Outcome outcome = RunScenario(IDYES, form);
    CHECK(outcome.prompted);
    CHECK(Utf16ToUtf8(outcome.opened) == "https://dl.tarnell.example/setup.exe");
    CHECK(outcome.destroyed);
    CHECK(form->Hwnd() == nullptr);
}

TEST_CASE("an update the user declines leaves the window open with the notice line") {
    std::unique_ptr<TFrmTarnell> form;
    const Outcome outcome = RunScenario(IDNO, form);
    CHECK(outcome.prompted);
    CHECK(outcome.opened.empty());
    CHECK_FALSE(outcome.destroyed);
    REQUIRE(form->Hwnd());
    CHECK(FindUpdateStatusBar(form->Hwnd()) != nullptr);
    // The existing content keeps its place: the run switch did not move.
    RECT before;
    GetWindowRect(form->BtnStart->Hwnd(), &before);
    MapWindowPoints(HWND_DESKTOP, form->Hwnd(), reinterpret_cast<POINT*>(&before), 2);
    // (Below the 2-pixel accent line, the 50-pixel header and its stored top in the home card.)
    CHECK(before.top == MulDiv(2, form->CurrentDpi(), 96) + MulDiv(50, form->CurrentDpi(), 96) +
                            MulDiv(264, form->CurrentDpi(), 96));
}

TEST_CASE("the service check starts once the window's first frame is painted, not before") {
    SetUpOnce();
    SetCurrentLanguage(u"en");
    const int workersBefore = RunningWorkers();
    auto form = std::make_unique<TFrmTarnell>(
        nullptr,
        TFrmTarnellOptions{test::FixtureUrl("/api/missing"), u"https://link.tarnell.example/tarnell"});
    form->Create();
    form->Show();
    CHECK(RunningWorkers() == workersBefore);
    // Show paints the window and its controls at once; what is invalid when the message loop begins (here:
    // everything again, as when the window is uncovered) is painted before the check starts.
    RedrawWindow(form->Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    const int unpaintedAtShow = UnpaintedWindows(form->Hwnd());
    REQUIRE(unpaintedAtShow > 1);

    // One message at a time, until the check's worker is running: by then nothing is left to paint.
    int unpaintedAtStart = -1;
    int messages = 0;
    const DWORD end = GetTickCount() + 20000;
    MSG msg;
    while (unpaintedAtStart < 0 && GetTickCount() < end) {
        if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
            continue;
        }
        ++messages;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
        if (RunningWorkers() > workersBefore) unpaintedAtStart = UnpaintedWindows(form->Hwnd());
    }
    MESSAGE("windows to paint: " << unpaintedAtShow << ", messages until the check started: " << messages);
    CHECK(unpaintedAtStart == 0);
    form.reset();
}
