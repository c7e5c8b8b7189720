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

// Starts each connectivity wait as a worker (StartWorker) that frees itself when it ends. It holds only
// the probe and the settle function, touches no window and reaches the UI only through RunOnUiThread,
// which drops the hand-over once closing has begun; closing waits for it only in the bounded drain at
// exit.
class TThreadRunWorker final : public RunWorker {
  public:
    using Probe = SystemConnectivityWait::Probe;  // runs on the worker thread

    // The real probe (the connectivity-check endpoint) unless another is given.
    TThreadRunWorker();
    explicit TThreadRunWorker(Probe probe);

    void StartWait(std::function<void()> settle) override;

  private:
    Probe FProbe;
};

// Each Open is one TConfig instance, freed with the pointer.
class TConfigRunSettings final : public RunSettings {
  public:
    std::unique_ptr<RunSettingsStore> Open(const std::u16string& path) override;
};

class TSystemAdapterServices final : public RunAdapterServices {
  public:
    bool GetActiveAdapter(std::u16string& name, std::u16string& guid, std::u16string& ip) override;
    bool EnableConnection(const std::u16string& guid, bool enable) override;
    bool CheckConnectivity() override;
};

class TTranslatedRunTexts final : public RunTexts {
  public:
    std::u16string Translate(const std::u16string& source) override;
    std::u16string Refusal(RecordMessage message) override;
};

// Everything the main window needs for its run control, owned in one place. The window implements
// RunView and forwards its run switch and option switch clicks to Control().
class TSystemRunControl {
  public:
    explicit TSystemRunControl(RunView& view);
    TRunControl& Control() { return FControl; }

  private:
    SystemMachineRegistry FRegistry;
    SystemRecordLock FLock;
    TRecordRunTweaks FTweaks{FRegistry, FLock};
    TConfigRunSettings FSettings;
    TSystemAdapterServices FServices;
    TTranslatedRunTexts FTexts;
    TThreadRunWorker FWorker;
    TRunControl FControl;
};

}  // namespace tarnell
