#include "app/run_control_win32.h"

#include <atomic>
#include <system_error>
#include <thread>

#include "base/error_boundary_win32.h"
#include "base/ui_task.h"
#include "config/config_win32.h"
#include "translate/translation.h"
#include "tuning/network_win32.h"

namespace tarnell {

namespace {

std::atomic<int> g_runningWaits{0};

class WorkerWaitEnvironment final : public RunWaitEnvironment {
  public:
    explicit WorkerWaitEnvironment(const TThreadRunWorker::Probe& probe) : probe_(probe) {}
    bool CheckConnectivity() override {
        try {
            return probe_();
        } catch (...) {
            return false;
        }
    }
    void Pause(std::chrono::milliseconds duration) override { PauseUnlessTerminating(duration); }
    bool IsTerminating() override { return ::tarnell::IsTerminating(); }

  private:
    const TThreadRunWorker::Probe& probe_;
};

class ConfigStore final : public RunSettingsStore {
  public:
    explicit ConfigStore(const std::u16string& path) : config_(path) {}
    bool ReadBoolean(const std::u16string& name, bool def) override { return config_.ReadBoolean(name, def); }
    int32_t ReadInteger(const std::u16string& name, int32_t def) override {
        return config_.ReadInteger(name, def);
    }
    void WriteBoolean(const std::u16string& name, bool value) override { config_.WriteBoolean(name, value); }
    void WriteInteger(const std::u16string& name, int32_t value) override {
        config_.WriteInteger(name, value);
    }

  private:
    TConfig config_;
};

}  // namespace

void PauseUnlessTerminating(std::chrono::milliseconds duration) {
    // One wait against a deadline on the terminating event: no oversleeping short steps, and the end
    // follows termination at once.
    if (duration.count() <= 0) return;
    WaitUnlessTerminating(static_cast<unsigned>(duration.count()));
}

bool HandOverUnlessTerminating(const std::function<void()>& fn) {
    bool ran = false;
    const bool delivered = RunOnUiThread([&] {
        if (IsTerminating()) return;
        fn();
        ran = true;
    });
    return delivered && ran;
}

TThreadRunWorker::TThreadRunWorker() : FProbe([] { return ::tarnell::CheckConnectivity(); }) {}

TThreadRunWorker::TThreadRunWorker(Probe probe) : FProbe(std::move(probe)) {}

int TThreadRunWorker::RunningWaits() {
    return g_runningWaits.load();
}

void TThreadRunWorker::StartWait(std::function<void()> settle) {
    ++g_runningWaits;
    try {
        std::thread([probe = FProbe, settle]() {
            try {
                WorkerWaitEnvironment env(probe);
                WaitAndHandOver(env, HandOverUnlessTerminating, settle);
            } catch (...) {
                // Nothing may escape a thread: it is reported (once) and the program goes on.
                ReportUnhandledError(std::current_exception());
            }
            --g_runningWaits;
        }).detach();
    } catch (const std::system_error&) {
        // No thread to wait on: settle at once rather than leave the window busy for good.
        --g_runningWaits;
        settle();
    }
}

std::unique_ptr<RunSettingsStore> TConfigRunSettings::Open(const std::u16string& path) {
    return std::make_unique<ConfigStore>(path);
}

bool TSystemAdapterServices::GetActiveAdapter(std::u16string& name, std::u16string& guid,
                                              std::u16string& ip) {
    return ::tarnell::GetActiveAdapter(name, guid, ip);
}

bool TSystemAdapterServices::EnableConnection(const std::u16string& guid, bool enable) {
    return ::tarnell::EnableConnection(guid, enable);
}

bool TSystemAdapterServices::CheckConnectivity() {
    return ::tarnell::CheckConnectivity();
}

std::u16string TTranslatedRunTexts::Translate(const std::u16string& source) {
    return TranslateText(source);
}

TSystemRunControl::TSystemRunControl(RunView& view)
    : FControl(view, FSettings, FTweaks, FServices, FWorker, FTexts) {}

}  // namespace tarnell
