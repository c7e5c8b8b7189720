#include "app/run_control.h"

namespace tarnell {

const char16_t* OptionSettingsKey(TRunOption option) {
    for (const Tweak& tweak : TweakCatalogue()) {
        if (tweak.option == option) return tweak.settingsKey;
    }
    return u"";
}

TWaitResult ConnectivityWait(ConnectivityWaitEnvironment& env, std::chrono::milliseconds limit) {
    TWaitResult result;
    for (;;) {
        if (env.IsTerminating()) {
            result.terminated = true;
            return result;
        }
        ++result.probes;
        if (env.CheckConnectivity()) {
            result.answered = true;
            return result;
        }
        if (env.IsTerminating()) {
            result.terminated = true;
            return result;
        }
        const std::chrono::milliseconds left = limit - env.Elapsed();
        if (left <= std::chrono::milliseconds::zero()) return result;
        ++result.pauses;
        env.Pause(left < kProbeInterval ? left : kProbeInterval);
        if (env.Elapsed() >= limit) {
            result.terminated = env.IsTerminating();
            return result;
        }
    }
}

bool WaitAndHandOver(ConnectivityWaitEnvironment& env,
                     const std::function<bool(const std::function<void()>&)>& handOver,
                     const std::function<void()>& settle) {
    // The hand-over itself refuses once closing has begun: no second check here.
    if (ConnectivityWait(env).terminated) return false;
    return handOver(settle);
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
    if (!FServices.GetActiveAdapter(NetworkName, NetworkGUID, NetworkIP)) {
        NetworkName = FTexts.Translate(kTextUnknown);
        NetworkGUID.clear();
        NetworkIP.clear();
    }
    FView.SetAdapterCaption(NetworkName);
    FView.SetIPAddressCaption(u"IP: " + NetworkIP);

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

bool TRunControl::Refused(RecordResult result, TStatus previous) {
    if (result == RecordResult::Busy) {
        SetStatus(previous, FTexts.Refusal(RecordMessage::Busy));
        return true;
    }
    if (result == RecordResult::Foreign) {
        SetStatus(previous, FTexts.Refusal(RecordMessage::Foreign));
        return true;
    }
    return false;
}

void TRunControl::Start() {
    SetStatus(stBusy);
    std::array<bool, kRunOptionCount> enabled{};
    for (size_t i = 0; i < kRunOptionCount; ++i) enabled[i] = FView.OptionChecked(kRunOptions[i]);
    if (Refused(FTweaks.Apply(enabled, NetworkGUID), stIdle)) return;
    // The values are in the registry now: record the status that matches them before the connection is
    // cycled and the wait begins, so a program that ends during the wait (killed, or closed for an
    // update) comes back in agreement with the machine. The look still settles only after the wait.
    SaveConfigInteger(kStatusKey, stRunning);
    Refresh(stRunning);
}

void TRunControl::Stop() {
    SetStatus(stBusy);
    const RecordResult result = FTweaks.GiveBack();
    if (Refused(result, stRunning)) return;
    SaveConfigInteger(kStatusKey, stIdle);  // as in Start: the record follows the registry at once
    // Nothing given back (another session or account did it already), or no adapter found at start-up:
    // there is no connection to cycle and nothing to wait for.
    if (result != RecordResult::Done || NetworkGUID.empty()) {
        SetStatus(stIdle);
        return;
    }
    Refresh(stIdle);
}

void TRunControl::Refresh(TStatus status) {
    FServices.EnableConnection(NetworkGUID, false);
    FServices.EnableConnection(NetworkGUID, true);

    // The hand-over runs on the UI thread, where this object is also destroyed: if the window went
    // first, the weak reference is expired and the late status is dropped.
    std::weak_ptr<TRunControl*> self = FSelf;
    FWorker.StartWait([self, status] {
        if (std::shared_ptr<TRunControl*> alive = self.lock()) (*alive)->SetStatus(status);
    });
}

void TRunControl::OptionClick(TRunOption option, bool checked) {
    SaveConfigBoolean(OptionSettingsKey(option), checked);
}

}  // namespace tarnell
