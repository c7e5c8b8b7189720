// The main window's service check against the update tests' loopback service: an update the user takes
// closes the window right after the completion; one the user declines leaves it open with the notice line.
#include <doctest/doctest.h>
#include <windows.h>

#include <memory>
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

TEST_CASE(
    "an answer that reaches the UI thread after the window is gone shows nothing and calls nothing back") {
    // The window goes without the application terminating (the flag that every window's close sets in the
    // program): only the window's own lifetime may keep its late answer away from it.
    SetUpOnce();
    SetCurrentLanguage(u"en");
    bool prompted = false;
    std::u16string opened;
    SetShellOpenHook([&](const std::u16string& target) { opened = target; });
    SetUpdateDialogHook([&](HWND prompt) {
        prompted = true;
        PostMessageW(prompt, WM_COMMAND, IDNO, 0);
    });
    // Earlier checks have ended: the next worker to start is this window's.
    REQUIRE(test::WaitUntil([] { return RunningWorkers() == 0; }, 20000));
    auto form = std::make_unique<TFrmTarnell>(
        nullptr,
        TFrmTarnellOptions{test::FixtureUrl("/api/update-notify"), u"https://link.tarnell.example/tarnell"});
    form->Create();
    form->Show();
    // One message at a time until the check has started, and not one more.
    MSG posted;
    const ULONGLONG until = GetTickCount64() + 20000;
    while (RunningWorkers() == 0 && GetTickCount64() < until) {
        if (!PeekMessageW(&posted, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            continue;
        }
        TranslateMessage(&posted);
        DispatchMessageW(&posted);
    }
    REQUIRE(RunningWorkers() == 1);

    // From here nothing is handled: the answer's hand-over waits in this thread's queue.
    while (!PeekMessageW(&posted, nullptr, WM_APP, 0xBFFF, PM_NOREMOVE) && GetTickCount64() < until)
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_POSTMESSAGE);
    REQUIRE(PeekMessageW(&posted, nullptr, WM_APP, 0xBFFF, PM_NOREMOVE));
    REQUIRE_FALSE(IsTerminating());
    form.reset();

    // The hand-over runs now, and the worker ends.
    // (The hand-over returns only once what it runs, a prompt included, has ended.)
    CHECK(test::WaitUntil([] { return RunningWorkers() == 0; }, 20000));
    CHECK_FALSE(prompted);
    CHECK(opened.empty());
    SetShellOpenHook(nullptr);
    SetUpdateDialogHook(nullptr);
}
