// Start-up phase stamps for the start-up bench. Compiled in only with the CMake option
// TARNELL_BENCH_PHASES (the implementation lives with the bench, bench/phases/); without it the stamps are
// empty inline functions and the program is unchanged.
//
// Two kinds of figures, both milliseconds:
// - phases: moments since the process was created (GetProcessTimes), stamped in the order of start-up;
// - costs: time spent in one kind of work wherever it happens (window classes, fonts...), summed over
//   start-up until the window is shown, with how many times it was done.
// They are kept in a small named shared-memory section, BenchPhaseSectionName(process id), that
// bench/startup_bench.cpp reads while the window is still open.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace tarnell {

enum class BenchPhase : uint32_t {
    Imports,         // wWinMain reached
    CrashAndLog,     // crash reporting installed, the log opened
    Translation,     // translation table, UI language, button styles
    Com,             // COM on the UI thread
    CommonControls,  // the common controls' classes
    UiTasks,         // the UI task window
    FormBuilt,       // the form's components made from its description
    Handles,         // the form's and every control's window handle
    Accessibility,   // the accessible objects attached
    Decoration,      // theme helper, translation, fonts, tagline, version line
    SavedState,      // the option switches and the status read back
    Shown,           // the window shown and painted
    Count
};

inline constexpr const char* kBenchPhaseNames[] = {"imports",         "crash, log", "translation", "COM",
                                                   "common controls", "UI tasks",   "form built",  "handles",
                                                   "accessibility",   "decoration", "saved state", "shown"};

enum class BenchCost : uint32_t {
    WindowClasses,   // RegisterClassEx and the class lookups before it
    ControlWindows,  // CreateWindowEx of the form and its controls
    Fonts,           // CreateFontIndirect
    Logo,            // the logo's bitmap loaded and scaled
    Gdiplus,         // GDI+ started
    ThemeDwm,        // the theme helper's DWM and subclass calls
    Accessible,      // accessible objects made
    Count
};

inline constexpr const char* kBenchCostNames[] = {
    "window classes", "control windows", "fonts", "logo", "GDI+ start", "theme, DWM", "accessible objects"};

struct BenchPhaseBlock {
    // "TP", then how many phases and costs: a bench built against another list reads nothing.
    static constexpr uint32_t kMagic =
        0x54500000u | (uint32_t(BenchPhase::Count) << 8) | uint32_t(BenchCost::Count);
    uint32_t magic;
    uint32_t stamped;  // bit i set once phase i is stamped
    double ms[static_cast<size_t>(BenchPhase::Count)];
    double costMs[static_cast<size_t>(BenchCost::Count)];
    uint32_t costCount[static_cast<size_t>(BenchCost::Count)];
};

inline std::wstring BenchPhaseSectionName(DWORD processId) {
    return L"Local\\TarnellBenchPhases." + std::to_wstring(processId);
}

#ifdef TARNELL_BENCH_PHASES
void StampBenchPhase(BenchPhase phase);

// Adds the time from its making to its end to one cost, until the window is shown. Costs are exclusive:
// while a scope inside it runs (a font made while a control window is created), the outer one's clock
// stops.
class BenchCostScope {
  public:
    explicit BenchCostScope(BenchCost cost);
    ~BenchCostScope();
    BenchCostScope(const BenchCostScope&) = delete;
    BenchCostScope& operator=(const BenchCostScope&) = delete;

  private:
    void Add(int64_t now, bool done);

    BenchCost cost_;
    int64_t start_;
    BenchCostScope* outer_;
};
#else
inline void StampBenchPhase(BenchPhase) {}

class BenchCostScope {
  public:
    explicit BenchCostScope(BenchCost) {}
};
#endif

}  // namespace tarnell
