#include "theme/title_fit_win32.h"

#include <doctest/doctest.h>
#include <windows.h>

#include "theme/gdi_win32.h"
#include "theme/title_fit.h"
#include "win32_test_support.h"

using namespace tarnell;

namespace {
int CaptionWidth(HWND label, HFONT font) {
    wchar_t text[256] = {};
    const int length = GetWindowTextW(label, text, 256);
    HDC dc = GetDC(label);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size{};
    GetTextExtentPoint32W(dc, text, length, &size);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    return size.cx;
}
}  // namespace

TEST_CASE("FitLabelFont shrinks a too wide title by the truncating formula, once, and leaves a fitting one") {
    HWND form = theme_test::CreateTopLevel(L"title", WS_OVERLAPPEDWINDOW, 600, 300);
    REQUIRE(form);
    HFONT font = CreateFontW(-59, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0,
                             ANTIALIASED_QUALITY, 0, L"Tahoma");
    const UINT dpi = WindowDpi(form);
    CHECK(FontSizeInPoints(font, 96) == 44);

    HWND wide = CreateWindowExW(0, L"STATIC", L"Tarnell", WS_CHILD | SS_CENTER, 8, 40, 484, 81, form, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    CHECK(CaptionWidth(wide, font) <= 484);
    CHECK(FitLabelFont(wide, font) == nullptr);

    HWND narrow = CreateWindowExW(0, L"STATIC", L"Tarnell Tarnell", WS_CHILD | SS_CENTER, 8, 40, 150, 81,
                                  form, nullptr, GetModuleHandleW(nullptr), nullptr);
    const int measured = CaptionWidth(narrow, font);
    REQUIRE(measured > 150);
    HFONT fitted = FitLabelFont(narrow, font);
    REQUIRE(fitted != nullptr);
    const int expected = FittedFontSize(FontSizeInPoints(font, dpi), 150, measured);
    CHECK(FontSizeInPoints(fitted, dpi) == expected);
    LOGFONTW lf = FontInfo(fitted);
    CHECK(std::wstring(lf.lfFaceName) == L"Tahoma");
    RECT rc{};
    GetWindowRect(narrow, &rc);
    CHECK(rc.right - rc.left == 150);  // the label itself is not touched
    DeleteObject(fitted);

    SetWindowTextW(narrow,
                   L"Tarnell Tarnell Tarnell Tarnell Tarnell Tarnell Tarnell Tarnell Tarnell Tarnell");
    SetWindowPos(narrow, nullptr, 0, 0, 20, 81, SWP_NOMOVE | SWP_NOZORDER);
    fitted = FitLabelFont(narrow, font);
    REQUIRE(fitted != nullptr);
    CHECK(FontSizeInPoints(fitted, dpi) == 6);
    DeleteObject(fitted);

    DeleteObject(font);
    DestroyWindow(form);
}
