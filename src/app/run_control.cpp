#include "app/run_control.h"

#include <string>

namespace tarnell {

const char16_t* OptionSettingsKey(TRunOption option) {
    for (const Tweak& tweak : TweakCatalogue()) {
        if (tweak.option == option) return tweak.settingsKey;
    }
    return u"";
}

namespace {

TWaitResult Finished(ConnectivityWaitEnvironment& env, TWaitResult& result) {
    result.elapsed = env.Elapsed();
    return result;
}

}  // namespace

TWaitResult ConnectivityWait(ConnectivityWaitEnvironment& env, std::chrono::milliseconds limit) {
    TWaitResult result;
    for (;;) {
        if (env.IsTerminating()) {
            result.terminated = true;
            return Finished(env, result);
        }
        ++result.probes;
        if (env.CheckConnectivity()) {
            result.answered = true;
            return Finished(env, result);
        }
        if (env.IsTerminating()) {
            result.terminated = true;
            return Finished(env, result);
        }
        const std::chrono::milliseconds left = limit - env.Elapsed();
        if (left <= std::chrono::milliseconds::zero()) return Finished(env, result);
        ++result.pauses;
        env.Pause(left < kProbeInterval ? left : kProbeInterval);
        if (env.Elapsed() >= limit) {
            result.terminated = env.IsTerminating();
            return Finished(env, result);
        }
    }
}

void Refresh(RunAdapterServices& services, const std::u16string& guid, ConnectivityWaitEnvironment& wait,
             std::chrono::milliseconds limit, TRunOutcome& outcome) {
    // Both halves are always asked for: an adapter left disabled because the first answer was a failure
    // would be worse than one cycled in vain.
    const ConnectionChange disabled = services.EnableConnection(guid, false);
    const ConnectionChange enabled = services.EnableConnection(guid, true);
    outcome.cycled = true;
    outcome.cycleFailed = disabled == ConnectionChange::Failed || enabled == ConnectionChange::Failed;
    outcome.cycleUnavailable =
        disabled == ConnectionChange::Unavailable && enabled == ConnectionChange::Unavailable;
    outcome.wait = ConnectivityWait(wait, limit);
}

namespace {

void RecordStatus(RunSettings& settings, TStatus status) {
    std::unique_ptr<RunSettingsStore> store = settings.Open(kSettingsPath);
    store->WriteInteger(kStatusKey, status);
}

}  // namespace

TRunOutcome RunSequence(TRunAction action, const std::array<bool, kRunOptionCount>& enabled,
                        const std::function<std::u16string()>& adapter, RunTweaks& tweaks,
                        RunSettings& settings, RunAdapterServices& services,
                        ConnectivityWaitEnvironment& wait, std::chrono::milliseconds limit) {
    TRunOutcome outcome;
    outcome.action = action;
    outcome.record = action == TRunAction::Apply ? tweaks.Apply(enabled, adapter()) : tweaks.GiveBack();
    if (outcome.record == RecordResult::Busy || outcome.record == RecordResult::Foreign) return outcome;
    // The values are in the registry now: the caller's status follows at once, before the connection is
    // cycled and the wait begins, so a program that ends during the wait (killed, or closed for an update)
    // comes back in agreement with the machine.
    RecordStatus(settings, action == TRunAction::Apply ? stRunning : stIdle);
    // A Stop that gave nothing back (another session or account did it already) has nothing to cycle.
    if (action == TRunAction::GiveBack && outcome.record != RecordResult::Done) return outcome;
    const std::u16string guid = adapter();
    if (guid.empty()) return outcome;  // no adapter: the values take effect at the next reconnect
    Refresh(services, guid, wait, limit, outcome);
    return outcome;
}

std::u16string DescribeOutcome(const TRunOutcome& outcome) {
    const TRunAction action = outcome.action;
    auto number = [](long long n) {
        const std::string digits = std::to_string(n);
        return std::u16string(digits.begin(), digits.end());
    };
    std::u16string line = action == TRunAction::Apply ? u"start: " : u"stop: ";
    switch (outcome.record) {
        case RecordResult::Busy:
            return line + u"the record was busy; nothing changed";
        case RecordResult::Foreign:
            return line + u"a newer version's record; nothing changed";
        case RecordResult::Nothing:
            line += action == TRunAction::Apply ? u"no value to write" : u"nothing to give back";
            break;
        case RecordResult::Done:
            line += action == TRunAction::Apply ? u"values written" : u"values given back";
            break;
    }
    if (!outcome.cycled) return line + u"; no adapter cycled";
    if (outcome.cycleUnavailable) {
        line += u"; no connections manager on this system, nothing cycled";
    } else {
        line += outcome.cycleFailed ? u"; the adapter's connection could not be disabled and enabled again"
                                    : u"; the adapter's connection was disabled and enabled again";
    }
    const TWaitResult& wait = outcome.wait;
    line += u"; wait of " + number(wait.elapsed.count()) + u" ms, " + number(wait.probes) +
            (wait.probes == 1 ? u" probe: " : u" probes: ");
    if (wait.answered) return line + u"the internet answered";
    if (wait.terminated) return line + u"stopped, the program is closing";
    return line + u"the internet did not answer in time";
}

bool RunAndHandOver(ConnectivityWaitEnvironment& env, const RunWorker::Job& job,
                    const std::function<bool(const std::function<void()>&)>& handOver,
                    const RunWorker::Settle& settle) {
    const TRunOutcome outcome = job(env);
    // The hand-over itself refuses once closing has begun: no second check here.
    if (outcome.wait.terminated) return false;
    return handOver([&] { settle(outcome); });
}

TRunControl::TRunControl(RunView& view, RunSettings& settings, RunTweaks& tweaks,
                         RunAdapterServices& services, RunWorker& worker, RunTexts& texts)
    : FView(view),
      FSettings(settings),
      FTweaks(tweaks),
      FServices(services),
      FWorker(worker),
      FTexts(texts),
      FSelf(std::make_shared<TRunControl*>(this)) {}

TRunControl::~TRunControl() = default;

void TRunControl::LoadState() {
    FindAdapter();
    LoadSavedState();
}

void TRunControl::FindAdapter() {
    if (FAdapterFound) return;
    FAdapterFound = true;
    if (!FServices.GetActiveAdapter(NetworkName, NetworkGUID, NetworkIP)) {
        NetworkName = FTexts.Translate(kTextUnknown);
        NetworkGUID.clear();
        NetworkIP.clear();
    }
    FView.SetAdapterCaption(NetworkName);
    FView.SetIPAddressCaption(u"IP: " + NetworkIP);
}

void TRunControl::LoadSavedState() {
    {
        std::unique_ptr<RunSettingsStore> store = FSettings.Open(kSettingsPath);
        // Restored in this order; each switch that turns on writes true back through its click handler.
        for (TRunOption option :
             {TRunOption::TcpNoDelay, TRunOption::TcpAckFrequency, TRunOption::TcpDelAckTick,
              TRunOption::NetworkThrottlingIndex, TRunOption::SystemResponsiveness}) {
            FView.SetOptionChecked(option, store->ReadBoolean(OptionSettingsKey(option), true));
        }
        // This user's recorded status is read as ever (a value of the wrong type fails here as any other
        // settings value does), but it decides nothing: the machine's record does.
        store->ReadInteger(kStatusKey, 0);
    }

    // The tweak set is machine-wide: the machine's record says whether it is on, and SetStatus writes that
    // back for this user. A newer version's record means the machine is tweaked: shown on, left alone.
    SetStatus(FTweaks.State() == RecordState::Off ? stIdle : stRunning);
}

void TRunControl::SetStatus(TStatus status, const std::u16string& message) {
    if (!message.empty()) FView.ShowStatusError(message);

    switch (status) {
        case stIdle:
            FStatus = stIdle;
            FView.SetIndicatorVisible(false);
            FView.SetIndicatorAnimating(false);
            FView.SetRunCaption(FTexts.Translate(kTextRun));
            FView.SetRunEnabled(true);
            FView.SetRunDown(false);
            SaveConfigInteger(kStatusKey, stIdle);
            break;
        case stRunning:
            FStatus = stRunning;
            FView.SetIndicatorVisible(false);
            FView.SetIndicatorAnimating(false);
            FView.SetRunCaption(FTexts.Translate(kTextRunning));
            FView.SetRunEnabled(true);
            FView.SetRunDown(true);
            SaveConfigInteger(kStatusKey, stRunning);
            break;
        case stBusy:
            FStatus = stBusy;
            FView.SetIndicatorVisible(true);
            FView.SetIndicatorAnimating(true);
            FView.SetRunCaption(std::u16string());
            FView.SetRunEnabled(false);
            FView.SetRunDown(false);
            break;
        default:
            break;
    }

    for (TRunOption option : kRunOptions) FView.SetOptionEnabled(option, FStatus == stIdle);
}

void TRunControl::SaveConfigBoolean(const std::u16string& name, bool value) {
    std::unique_ptr<RunSettingsStore> store = FSettings.Open(kSettingsPath);
    store->WriteBoolean(name, value);
}

void TRunControl::SaveConfigInteger(const std::u16string& name, int32_t value) {
    std::unique_ptr<RunSettingsStore> store = FSettings.Open(kSettingsPath);
    store->WriteInteger(name, value);
}

void TRunControl::BtnStartClick() {
    FindAdapter();
    switch (FStatus) {
        case stIdle:
            if (!NetworkGUID.empty()) {
                Start();
            } else {
                SetStatus(stIdle, FTexts.Translate(kTextNoNetwork));
            }
            break;
        case stRunning:
            Stop();
            break;
        default:
            break;
    }
}

void TRunControl::Start() {
    SetStatus(stBusy);
    std::array<bool, kRunOptionCount> enabled{};
    for (size_t i = 0; i < kRunOptionCount; ++i) enabled[i] = FView.OptionChecked(kRunOptions[i]);
    Launch(TRunAction::Apply, enabled, stIdle, stRunning);
}

void TRunControl::Stop() {
    SetStatus(stBusy);
    Launch(TRunAction::GiveBack, {}, stRunning, stIdle);
}

void TRunControl::Launch(TRunAction action, const std::array<bool, kRunOptionCount>& enabled,
                         TStatus previous, TStatus target) {
    // The job reaches only the system seams (kept alive by the worker), never the window. Its outcome
    // comes back on the UI thread, where this object is also destroyed: if the window went first, the
    // weak reference is expired and the late outcome is dropped.
    RunTweaks& tweaks = FTweaks;
    RunSettings& settings = FSettings;
    RunAdapterServices& services = FServices;
    const std::u16string guid = NetworkGUID;
    std::weak_ptr<TRunControl*> self = FSelf;
    FWorker.Start(
        [&tweaks, &settings, &services, action, enabled, guid](ConnectivityWaitEnvironment& wait) {
            return RunSequence(
                action, enabled, [&guid] { return guid; }, tweaks, settings, services, wait, kWaitLimit);
        },
        [self, previous, target](const TRunOutcome& outcome) {
            if (std::shared_ptr<TRunControl*> alive = self.lock())
                (*alive)->Settle(outcome, previous, target);
        });
}

void TRunControl::Settle(const TRunOutcome& outcome, TStatus previous, TStatus target) {
    switch (outcome.record) {
        case RecordResult::Busy:
            SetStatus(previous, FTexts.Message(RunMessage::RecordBusy));
            return;
        case RecordResult::Foreign:
            SetStatus(previous, FTexts.Message(RunMessage::RecordForeign));
            return;
        default:
            break;
    }
    // The values are written and recorded either way; a cycle that failed only delays them.
    SetStatus(target, outcome.cycleFailed ? FTexts.Message(RunMessage::CycleFailed) : std::u16string());
}

void TRunControl::OptionClick(TRunOption option, bool checked) {
    SaveConfigBoolean(OptionSettingsKey(option), checked);
}

}  // namespace tarnell
