#include "app/run_control_win32.h"

#include <atomic>
#include <system_error>
#include <thread>

#include "base/com_win32.h"
#include "base/error_boundary_win32.h"
#include "base/log_win32.h"
#include "base/ui_task_win32.h"
#include "config/config_win32.h"
#include "translate/translation.h"
#include "tuning/network_win32.h"

namespace tarnell {

namespace {

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

SystemConnectivityWait::SystemConnectivityWait() : FProbe([] { return ::tarnell::CheckConnectivity(); }) {}

SystemConnectivityWait::SystemConnectivityWait(Probe probe) : FProbe(std::move(probe)) {}

bool SystemConnectivityWait::CheckConnectivity() {
    if (!FStarted) {
        FStart = std::chrono::steady_clock::now();
        FStarted = true;
    }
    try {
        return FProbe();
    } catch (...) {
        Log(u"probe: failed with an exception; counted as no answer");
        return false;
    }
}

std::chrono::milliseconds SystemConnectivityWait::Elapsed() {
    if (!FStarted) return std::chrono::milliseconds::zero();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - FStart);
}

void SystemConnectivityWait::Pause(std::chrono::milliseconds duration) {
    PauseUnlessTerminating(duration);
}

bool SystemConnectivityWait::IsTerminating() {
    return ::tarnell::IsTerminating();
}

void PauseUnlessTerminating(std::chrono::milliseconds duration) {
    // One wait against a deadline on the terminating event: no oversleeping short steps, and the end
    // follows termination at once.
    if (duration.count() <= 0) return;
    WaitUnlessTerminating(static_cast<unsigned>(duration.count()));
}

TThreadRunWorker::TThreadRunWorker() : FProbe([] { return ::tarnell::CheckConnectivity(); }) {}

TThreadRunWorker::TThreadRunWorker(Probe probe, std::shared_ptr<void> keepAlive)
    : FProbe(std::move(probe)), FKeepAlive(std::move(keepAlive)) {}

namespace {

// For a job that has no thread to run on: one probe's worth of nothing. The values are written and the
// connection cycled; the look settles without waiting rather than the window staying busy for good.
class NoWait final : public ConnectivityWaitEnvironment {
  public:
    bool CheckConnectivity() override { return false; }
    std::chrono::milliseconds Elapsed() override { return kWaitLimit; }
    void Pause(std::chrono::milliseconds) override {}
    bool IsTerminating() override { return false; }
};

}  // namespace

void LogRecordNote(const std::u16string& line) {
    Log(line);
}

void TThreadRunWorker::Start(Job job, Settle settle) {
    // What the job did goes to the log, on the worker.
    job = [job = std::move(job)](ConnectivityWaitEnvironment& wait) {
        const TRunOutcome outcome = job(wait);
        Log(DescribeOutcome(outcome));
        return outcome;
    };
    // Left to end with the process at exit: the hand-over refuses once closing has begun, the record's
    // write-ahead steps survive a cut at any point, and a probe in flight holds nothing worth waiting for.
    const bool started = static_cast<bool>(StartWorker(
        [probe = FProbe, keepAlive = FKeepAlive, job, settle] {
            ComApartment com;
            SystemConnectivityWait env(probe);
            RunAndHandOver(env, job, RunOnUiThread, settle);
        },
        AtExit::Abandon));
    if (started) return;
    // No thread: the job runs here, without the wait, rather than leave the window busy for good.
    ComApartment com;
    NoWait none;
    settle(job(none));
}

std::unique_ptr<RunSettingsStore> TConfigRunSettings::Open(const std::u16string& path) {
    return std::make_unique<ConfigStore>(path);
}

bool TSystemAdapterServices::GetActiveAdapter(std::u16string& name, std::u16string& guid,
                                              std::u16string& ip) {
    return ::tarnell::GetActiveAdapter(name, guid, ip);
}

ConnectionChange TSystemAdapterServices::EnableConnection(const std::u16string& guid, bool enable) {
    return ChangeConnection(guid, enable);
}

bool TSystemAdapterServices::CheckConnectivity() {
    return ::tarnell::CheckConnectivity();
}

std::u16string TTranslatedRunTexts::Translate(const std::u16string& source) {
    return TranslateText(source);
}

std::u16string TTranslatedRunTexts::Message(RunMessage message) {
    return RunMessageIn(message, CurrentLanguage());
}

TSystemRunControl::TSystemRunControl(RunView& view)
    : FSeams(std::make_shared<Seams>()),
      FWorker([] { return ::tarnell::CheckConnectivity(); }, FSeams),
      FControl(view, FSeams->settings, FSeams->tweaks, FSeams->services, FWorker, FTexts) {}

}  // namespace tarnell
