// The run control of the main window: the run status, the status setter, the state load, the run
// switch with Start / Stop / Refresh, and the option switches' settings.
//
// Portable rules over small interfaces; the window implements RunView, run_control_win32.h wires
// the rest to the registry, the network services, the translation table and a worker thread.
// Everything here runs on the UI thread except RunSequence (the record, the status record, the adapter's
// cycle and the connectivity wait), which runs on the worker that RunWorker starts, and, for the command
// line, on its own thread.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/run_messages.h"
#include "tuning/network.h"
#include "tuning/tweak_record.h"
#include "tuning/tweaks.h"

namespace tarnell {

// The run status, one byte. Only stIdle and stRunning are ever recorded.
enum TStatus : uint8_t { stIdle = 0, stRunning = 1, stBusy = 2 };

// The five option switches are the tweak catalogue's options, in its order (the order of Start and
// Stop); each catalogue row names its switch and its settings key.
using TRunOption = TweakOption;
inline constexpr size_t kRunOptionCount = kTweakCount;
inline constexpr std::array<TRunOption, kRunOptionCount> kRunOptions = {
    TRunOption::TcpAckFrequency, TRunOption::TcpDelAckTick, TRunOption::TcpNoDelay,
    TRunOption::NetworkThrottlingIndex, TRunOption::SystemResponsiveness};

// The settings key under which an option switch's state is kept: its catalogue row's.
const char16_t* OptionSettingsKey(TRunOption option);

inline constexpr char16_t kSettingsPath[] = u"Tarnell";
inline constexpr char16_t kStatusKey[] = u"status";

// Source texts shown through the translation lookup.
inline constexpr char16_t kTextRun[] = u"실행하기";      // "Run"
inline constexpr char16_t kTextRunning[] = u"실행중";    // "Running"
inline constexpr char16_t kTextUnknown[] = u"알수없음";  // "Unknown"
inline constexpr char16_t kTextNoNetwork[] =
    u"활성중인 네트워크가 없습니다.";  // "There are no active networks."

// The connectivity wait: at most this many probes, this far apart (the pause also follows the last
// failed probe).
inline constexpr int kMaxProbes = 300;
inline constexpr std::chrono::milliseconds kProbeInterval{1000};

// The controls the run control drives. Implemented by the main window over its controls.
class RunView {
  public:
    virtual ~RunView() = default;

    virtual void SetIndicatorVisible(bool visible) = 0;
    virtual void SetIndicatorAnimating(bool animating) = 0;

    virtual void SetRunCaption(const std::u16string& caption) = 0;
    virtual void SetRunEnabled(bool enabled) = 0;
    virtual void SetRunDown(bool down) = 0;

    virtual void SetOptionEnabled(TRunOption option, bool enabled) = 0;
    virtual bool OptionChecked(TRunOption option) const = 0;
    // Like the toolkit's check box: a change of state runs the switch's click handler, which ends in
    // TRunControl::OptionClick. Setting the state it already has runs nothing.
    virtual void SetOptionChecked(TRunOption option, bool checked) = 0;

    virtual void SetAdapterCaption(const std::u16string& caption) = 0;
    virtual void SetIPAddressCaption(const std::u16string& caption) = 0;

    // Modal error box, top-most and brought to the foreground, titled with the main window's caption,
    // one OK button. Returns when the user has dismissed it.
    virtual void ShowStatusError(const std::u16string& message) = 0;
};

// One open instance of the per-user settings store.
class RunSettingsStore {
  public:
    virtual ~RunSettingsStore() = default;
    virtual bool ReadBoolean(const std::u16string& name, bool def) = 0;
    virtual int32_t ReadInteger(const std::u16string& name, int32_t def) = 0;
    virtual void WriteBoolean(const std::u16string& name, bool value) = 0;
    virtual void WriteInteger(const std::u16string& name, int32_t value) = 0;
};

// Opens the settings store; the instance is freed when the pointer goes.
class RunSettings {
  public:
    virtual ~RunSettings() = default;
    virtual std::unique_ptr<RunSettingsStore> Open(const std::u16string& path) = 0;
};

// The tweak set, through the machine's own record of what it changed (tuning/tweak_record.h tells what
// each state and result means). `enabled` is in TRunOption (catalogue) order.
class RunTweaks {
  public:
    virtual ~RunTweaks() = default;
    // What the machine's record says, whoever applied it.
    virtual RecordState State() = 0;
    virtual RecordResult Apply(const std::array<bool, kRunOptionCount>& enabled,
                               const std::u16string& networkGuid) = 0;
    // Gives back what the record holds, for whichever adapter it was applied.
    virtual RecordResult GiveBack() = 0;
    // The installer's upgrade step: takes over what a version without the record applied, machine-wide.
    virtual RecordResult TakeOver() = 0;
    // What the record holds, value by value, with what each value holds now. Reads only.
    virtual std::vector<TRecordedValue> Inspect() = 0;
};

// Adapter discovery runs on the UI thread at start-up (and on a command's thread); connection cycling
// and CheckConnectivity run on the worker and must be safe to call from there.
class RunAdapterServices {
  public:
    virtual ~RunAdapterServices() = default;
    virtual bool GetActiveAdapter(std::u16string& name, std::u16string& guid, std::u16string& ip) = 0;
    virtual ConnectionChange EnableConnection(const std::u16string& guid, bool enable) = 0;
    virtual bool CheckConnectivity() = 0;
};

// The translation lookup into the current UI language.
class RunTexts {
  public:
    virtual ~RunTexts() = default;
    virtual std::u16string Translate(const std::u16string& source) = 0;
    // The one line that says why a Start or Stop could not do all of its job, in the current UI language.
    virtual std::u16string Message(RunMessage message) = 0;
};

// The connectivity wait lasts this long at most: the window's 300 probes a second apart.
inline constexpr std::chrono::milliseconds kWaitLimit = kMaxProbes * kProbeInterval;

// What the connectivity wait needs; called on the thread that waits (the window's worker, or the
// command's own thread).
class ConnectivityWaitEnvironment {
  public:
    virtual ~ConnectivityWaitEnvironment() = default;
    virtual bool CheckConnectivity() = 0;
    virtual std::chrono::milliseconds Elapsed() = 0;  // since the wait began
    // Sleeps for `duration`, returning early once the application is terminating.
    virtual void Pause(std::chrono::milliseconds duration) = 0;
    virtual bool IsTerminating() = 0;
};

struct TWaitResult {
    int probes = 0;                        // probes made
    int pauses = 0;                        // pauses made
    bool answered = false;                 // a probe succeeded
    bool terminated = false;               // stopped because the application is terminating
    std::chrono::milliseconds elapsed{0};  // from the first probe to the end of the wait
};

// Probes until one answers or `limit` has passed, measured against a deadline (a probe that gets no
// answer takes its own time-outs on top of the pause): failed probes are kProbeInterval apart, the pause
// that reaches the deadline is cut short there and ends the wait. With instant probes and kWaitLimit that
// is 300 probes, each followed by its pause. Stops at once (no further probe, no further pause) when the
// application is terminating.
TWaitResult ConnectivityWait(ConnectivityWaitEnvironment& env, std::chrono::milliseconds limit = kWaitLimit);

enum class TRunAction { Apply, GiveBack };

// What one Start or Stop did on the machine.
struct TRunOutcome {
    TRunAction action = TRunAction::Apply;
    RecordResult record = RecordResult::Nothing;
    bool cycled = false;            // the adapter's connection was asked to be disabled and enabled again
    bool cycleFailed = false;       // ... and one of the two failed (a system without the connections manager
                                    // cycles nothing and fails nothing)
    bool cycleUnavailable = false;  // this system has no connections manager: nothing was cycled
    TWaitResult wait;               // the wait after the cycle
};

// Disables and enables the adapter's connection (both always asked for), then waits for the internet:
// the step that makes the new values take effect. Fills the outcome's cycle and wait.
void Refresh(RunAdapterServices& services, const std::u16string& guid, ConnectivityWaitEnvironment& wait,
             std::chrono::milliseconds limit, TRunOutcome& outcome);

// The system half of a Start (Apply, the `enabled` tweaks) or a Stop (GiveBack), in this order: the record
// (it takes its lock, then writes down and writes, or gives back), the status that now matches the
// registry recorded in the caller's settings, then Refresh on the adapter `adapter` answers (asked only
// once the record is done). A refused record (Busy, Foreign) ends it there with nothing changed; a Stop
// that gave nothing back, or an empty GUID, cycles and waits for nothing. Runs off the UI thread: the
// window's worker, or a command's own thread.
TRunOutcome RunSequence(TRunAction action, const std::array<bool, kRunOptionCount>& enabled,
                        const std::function<std::u16string()>& adapter, RunTweaks& tweaks,
                        RunSettings& settings, RunAdapterServices& services,
                        ConnectivityWaitEnvironment& wait, std::chrono::milliseconds limit);

// One line for the program's log: what a Start (Apply) or Stop (GiveBack) did, the cycle and the wait.
std::u16string DescribeOutcome(const TRunOutcome& outcome);

// Runs a Start's or Stop's system half off the UI thread.
class RunWorker {
  public:
    virtual ~RunWorker() = default;
    using Job = std::function<TRunOutcome(ConnectivityWaitEnvironment&)>;
    using Settle = std::function<void(const TRunOutcome&)>;
    // `job` runs on a worker with the wait's environment; its outcome reaches `settle` on the UI thread
    // through the synchronous hand-over (the worker blocked until it has run). Once the application is
    // terminating, `settle` never runs. What `job` uses must outlive it: the implementation keeps it alive.
    virtual void Start(Job job, Settle settle) = 0;
};

// The worker's whole task: the job, then the hand-over of its outcome unless the application is
// terminating. `handOver` runs a function on the UI thread synchronously and answers whether it ran.
// Returns whether `settle` was handed over and ran.
bool RunAndHandOver(ConnectivityWaitEnvironment& env, const RunWorker::Job& job,
                    const std::function<bool(const std::function<void()>&)>& handOver,
                    const RunWorker::Settle& settle);

class TRunControl {
  public:
    TRunControl(RunView& view, RunSettings& settings, RunTweaks& tweaks, RunAdapterServices& services,
                RunWorker& worker, RunTexts& texts);
    ~TRunControl();
    TRunControl(const TRunControl&) = delete;
    TRunControl& operator=(const TRunControl&) = delete;

    // The adapter found by FindAdapter; filled once.
    std::u16string NetworkName;
    std::u16string NetworkGUID;
    std::u16string NetworkIP;

    TStatus Status() const { return FStatus; }

    // Once, while the window is being created: adapter, option switches, and the status the machine's
    // record gives (recorded for this user too). This user's own recorded status never changes the
    // machine: a version without the record is taken over by the installer, once.
    void LoadState();
    // LoadState in two steps, for a window that shows itself between them: the option switches and the
    // status first, then the adapter (FindAdapter), which the first frame does not show. Once found, the
    // adapter stays; FindAdapter again does nothing, and the run switch finds it first when clicked sooner.
    void LoadSavedState();
    void FindAdapter();
    // Shows `status` on the window (and records idle / running); a non-empty message is shown in the
    // error box first.
    void SetStatus(TStatus status, const std::u16string& message = std::u16string());
    void SaveConfigBoolean(const std::u16string& name, bool value);
    void SaveConfigInteger(const std::u16string& name, int32_t value);

    // The run switch's click handler. Start and Stop show the busy look at once and hand their whole
    // system half (RunSequence) to the worker; the window keeps answering throughout. The status that
    // matches the registry is recorded as soon as the values are written, before the wait; the look
    // settles when the wait ends (at once for a Stop that found nothing to give back or has no adapter
    // to cycle). When the record is held by another writer past its bound, or is a newer version's,
    // nothing changes: one line says why and the switch returns to the look it had. A cycle that failed
    // settles in the new look with one line saying the values take effect at the next reconnect.
    void BtnStartClick();
    void Start();
    void Stop();

    // The click handler of an option switch: records its new state under its key.
    void OptionClick(TRunOption option, bool checked);

  private:
    // Hands the system half to the worker; its outcome settles the look on the UI thread.
    void Launch(TRunAction action, const std::array<bool, kRunOptionCount>& enabled, TStatus previous,
                TStatus target);
    void Settle(const TRunOutcome& outcome, TStatus previous, TStatus target);

    RunView& FView;
    RunSettings& FSettings;
    RunTweaks& FTweaks;
    RunAdapterServices& FServices;
    RunWorker& FWorker;
    RunTexts& FTexts;
    TStatus FStatus = stIdle;
    bool FAdapterFound = false;  // FindAdapter has run
    // Lives as long as this object; a hand-over that arrives after it is gone finds it expired.
    std::shared_ptr<TRunControl*> FSelf;
};

}  // namespace tarnell
