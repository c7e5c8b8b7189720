// The run control wired to the system: the settings store, the machine registry through the tweak
// catalogue, the adapter services, the translation table, and a worker thread for the connectivity
// wait that reaches the UI only through the synchronous hand-over.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "app/run_control.h"
#include "app/run_control_tweaks.h"
#include "tuning/registry_writer_win32.h"

namespace tarnell {

// Sleeps for `duration` (one wait against a deadline) and returns as soon as the application is
// terminating.
void PauseUnlessTerminating(std::chrono::milliseconds duration);

// The connectivity wait on the system's clock, probe and terminating flag; the clock starts with the
// first probe, once the connection has been cycled.
class SystemConnectivityWait final : public ConnectivityWaitEnvironment {
  public:
    using Probe = std::function<bool()>;  // an exception counts as no answer

    // The real probe (the connectivity-check endpoint) unless another is given.
    SystemConnectivityWait();
    explicit SystemConnectivityWait(Probe probe);

    bool CheckConnectivity() override;
    std::chrono::milliseconds Elapsed() override;
    void Pause(std::chrono::milliseconds duration) override;
    bool IsTerminating() override;

  private:
    Probe FProbe;
    std::chrono::steady_clock::time_point FStart;
    bool FStarted = false;
};

// Writes one of the record's notes to the program's log.
void LogRecordNote(const std::u16string& line);

// How long the window's worker waits for another writer of the machine's record before the window says
// so and changes nothing: longer than a command's bound, since the window keeps its busy look meanwhile.
inline constexpr uint32_t kWindowRecordLockMs = 60000;

// Starts each Start's or Stop's system half as a worker (StartWorker) that frees itself when it ends, in a
// COM apartment of its own (the adapter's connection is cycled through COM). It holds the job, the probe
// and `keepAlive` (what the job reaches: it outlives the window when the worker does), touches no window
// and reaches the UI only through RunOnUiThread, which drops the hand-over once closing has begun; closing
// waits for it only in the bounded drain at exit.
class TThreadRunWorker final : public RunWorker {
  public:
    using Probe = SystemConnectivityWait::Probe;  // runs on the worker thread

    // The real probe (the connectivity-check endpoint) unless another is given.
    TThreadRunWorker();
    explicit TThreadRunWorker(Probe probe, std::shared_ptr<void> keepAlive = nullptr);

    void Start(Job job, Settle settle) override;

  private:
    Probe FProbe;
    std::shared_ptr<void> FKeepAlive;
};

// Each Open is one TConfig instance, freed with the pointer.
class TConfigRunSettings final : public RunSettings {
  public:
    std::unique_ptr<RunSettingsStore> Open(const std::u16string& path) override;
};

class TSystemAdapterServices final : public RunAdapterServices {
  public:
    bool GetActiveAdapter(std::u16string& name, std::u16string& guid, std::u16string& ip) override;
    ConnectionChange EnableConnection(const std::u16string& guid, bool enable) override;
    bool CheckConnectivity() override;
};

class TTranslatedRunTexts final : public RunTexts {
  public:
    std::u16string Translate(const std::u16string& source) override;
    std::u16string Message(RunMessage message) override;
};

// Everything the main window needs for its run control, owned in one place. The system seams a worker
// reaches (the record, the settings, the adapter services) are shared with every worker started, so a
// worker still running when the window goes finds them alive.
class TSystemRunControl {
  public:
    explicit TSystemRunControl(RunView& view);
    TRunControl& Control() { return FControl; }

  private:
    struct Seams {
        SystemMachineRegistry registry;
        SystemRecordLock lock{kWindowRecordLockMs};
        TRecordRunTweaks tweaks{registry, lock, LogRecordNote};
        TConfigRunSettings settings;
        TSystemAdapterServices services;
    };
    std::shared_ptr<Seams> FSeams;
    TTranslatedRunTexts FTexts;
    TThreadRunWorker FWorker;
    TRunControl FControl;
};

}  // namespace tarnell
