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

// Sleeps for `duration` in short slices and returns as soon as the application is terminating.
void PauseUnlessTerminating(std::chrono::milliseconds duration);

// The synchronous hand-over of `fn` to the UI thread. The terminating flag is checked again on the UI
// thread, where the window closes, so `fn` never runs once closing has begun. True when `fn` ran.
bool HandOverUnlessTerminating(const std::function<void()>& fn);

// Starts each connectivity wait on a thread of its own that frees itself when it ends. The thread
// holds only the probe and the settle function; it touches no window and is never joined, so closing
// the program is not held up by a probe in flight.
class TThreadRunWorker final : public RunWorker {
  public:
    using Probe = std::function<bool()>;  // runs on the worker thread; an exception counts as no answer

    // The real probe (the connectivity-check endpoint) unless another is given.
    TThreadRunWorker();
    explicit TThreadRunWorker(Probe probe);

    void StartWait(std::function<void()> settle) override;

    // Waits started and not yet ended, across all workers.
    static int RunningWaits();

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
