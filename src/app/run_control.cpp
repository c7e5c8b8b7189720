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

    int32_t recorded = 0;
    {
        std::unique_ptr<RunSettingsStore> store = FSettings.Open(kSettingsPath);
        // Restored in this order; each switch that turns on writes true back through its click handler.
        for (TRunOption option :
             {TRunOption::TcpNoDelay, TRunOption::TcpAckFrequency, TRunOption::TcpDelAckTick,
              TRunOption::NetworkThrottlingIndex, TRunOption::SystemResponsiveness}) {
            FView.SetOptionChecked(option, store->ReadBoolean(OptionSettingsKey(option), true));
        }
        recorded = store->ReadInteger(kStatusKey, 0);
    }

    // The tweak set is machine-wide: the machine's record says whether it is on, whatever this user's
    // record says, and SetStatus writes that back here. A user whose record says running on a machine
    // without one ran a version that kept none: what it applied is taken over first, so it can be
    // given back. Only 0 and 1 are ever recorded; the low byte is what counts.
    const auto low = static_cast<uint8_t>(static_cast<uint32_t>(recorded) & 0xFFu);
    if (low == stRunning && !FTweaks.Applied()) FTweaks.Adopt(NetworkGUID);
    SetStatus(FTweaks.Applied() ? stRunning : stIdle);
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

void TRunControl::Start() {
    SetStatus(stBusy);
    std::array<bool, kRunOptionCount> enabled{};
    for (size_t i = 0; i < kRunOptionCount; ++i) enabled[i] = FView.OptionChecked(kRunOptions[i]);
    FTweaks.Apply(enabled, NetworkGUID);
    // The values are in the registry now: record the status that matches them before the connection is
    // cycled and the wait begins, so a program that ends during the wait (killed, or closed for an
    // update) comes back in agreement with the machine. The look still settles only after the wait.
    SaveConfigInteger(kStatusKey, stRunning);
    Refresh(stRunning);
}

void TRunControl::Stop() {
    SetStatus(stBusy);
    const bool changed = FTweaks.GiveBack();
    SaveConfigInteger(kStatusKey, stIdle);  // as in Start: the record follows the registry at once
    // Nothing given back (another session or account did it already), or no adapter found at start-up:
    // there is no connection to cycle and nothing to wait for.
    if (!changed || NetworkGUID.empty()) {
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
