// Recording fakes for the run control's interfaces. Every call lands in one shared log so that a test
// can check the order of effects across the view, the settings store, the tweaks and the services.
#pragma once

#include <doctest/doctest.h>

#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/run_control.h"
#include "base/text.h"

namespace doctest {
template <>
struct StringMaker<std::u16string> {
    static String convert(const std::u16string& text) {
        return ("u\"" + tarnell::Utf16ToUtf8(text) + "\"").c_str();
    }
};
}  // namespace doctest

namespace tarnell::test {

using Log = std::vector<std::string>;

inline std::string U8(const std::u16string& text) {
    return Utf16ToUtf8(text);
}
inline std::string Key(TRunOption option) {
    return U8(OptionSettingsKey(option));
}

class FakeView : public RunView {
  public:
    explicit FakeView(Log& log) : log_(log) {}

    // What the toolkit calls when a switch changes state: the window's click handler.
    std::function<void(TRunOption, bool)> onOptionClick;

    bool indicatorVisible = true;  // the stored layout shows it; the creation sequence hides it
    bool indicatorAnimating = false;
    std::u16string runCaption = u"(stored)";
    bool runEnabled = true;
    bool runDown = false;
    std::array<bool, kRunOptionCount> optionEnabled{true, true, true, true, true};
    std::array<bool, kRunOptionCount> optionChecked{};  // the switches start off
    std::u16string adapterCaption, ipCaption;
    std::vector<std::u16string> errorBoxes;

    void SetIndicatorVisible(bool v) override {
        indicatorVisible = v;
        Add("indicator.visible", v);
    }
    void SetIndicatorAnimating(bool v) override {
        indicatorAnimating = v;
        Add("indicator.animating", v);
    }
    void SetRunCaption(const std::u16string& c) override {
        runCaption = c;
        log_.push_back("run.caption=" + U8(c));
    }
    void SetRunEnabled(bool v) override {
        runEnabled = v;
        Add("run.enabled", v);
    }
    void SetRunDown(bool v) override {
        runDown = v;
        Add("run.down", v);
    }
    void SetOptionEnabled(TRunOption o, bool v) override {
        optionEnabled[size_t(o)] = v;
        Add("option.enabled " + Key(o), v);
    }
    bool OptionChecked(TRunOption o) const override { return optionChecked[size_t(o)]; }
    void SetOptionChecked(TRunOption o, bool v) override {
        if (optionChecked[size_t(o)] == v) return;
        optionChecked[size_t(o)] = v;
        log_.push_back("option.checked " + Key(o) + "=" + (v ? "1" : "0"));
        if (onOptionClick) onOptionClick(o, v);
    }
    void SetAdapterCaption(const std::u16string& c) override {
        adapterCaption = c;
        log_.push_back("adapter=" + U8(c));
    }
    void SetIPAddressCaption(const std::u16string& c) override {
        ipCaption = c;
        log_.push_back("ip=" + U8(c));
    }
    void ShowStatusError(const std::u16string& m) override {
        errorBoxes.push_back(m);
        log_.push_back("errorbox " + U8(m));
    }

    void CheckAll(bool on) {
        for (TRunOption o : kRunOptions) optionChecked[size_t(o)] = on;
    }

  private:
    void Add(const std::string& what, bool v) { log_.push_back(what + "=" + (v ? "1" : "0")); }
    Log& log_;
};

// A registry key held in memory; each Open is one store instance, logged as open/close.
class FakeSettings final : public RunSettings {
  public:
    explicit FakeSettings(Log& log) : log_(log) {}

    std::map<std::u16string, bool> booleans;
    std::map<std::u16string, int32_t> integers;
    int openInstances = 0;
    int maxOpenInstances = 0;
    std::u16string badValue;  // reading this name fails like a value of the wrong type

    std::unique_ptr<RunSettingsStore> Open(const std::u16string& path) override {
        log_.push_back("open " + U8(path));
        ++openInstances;
        if (openInstances > maxOpenInstances) maxOpenInstances = openInstances;
        return std::make_unique<Store>(*this);
    }

  private:
    class Store final : public RunSettingsStore {
      public:
        explicit Store(FakeSettings& owner) : o_(owner) {}
        ~Store() override {
            --o_.openInstances;
            o_.log_.push_back("close");
        }
        bool ReadBoolean(const std::u16string& name, bool def) override {
            o_.log_.push_back("read " + U8(name));
            if (name == o_.badValue) throw std::runtime_error("wrong type");
            auto it = o_.booleans.find(name);
            return it == o_.booleans.end() ? def : it->second;
        }
        int32_t ReadInteger(const std::u16string& name, int32_t def) override {
            o_.log_.push_back("read " + U8(name));
            auto it = o_.integers.find(name);
            return it == o_.integers.end() ? def : it->second;
        }
        void WriteBoolean(const std::u16string& name, bool value) override {
            o_.log_.push_back("write " + U8(name) + "=" + (value ? "true" : "false"));
            o_.booleans[name] = value;
        }
        void WriteInteger(const std::u16string& name, int32_t value) override {
            o_.log_.push_back("write " + U8(name) + "=" + std::to_string(value));
            o_.integers[name] = value;
        }

      private:
        FakeSettings& o_;
    };
    Log& log_;
};

// The machine's record as a state: on after Apply, off after GiveBack; a test may make the record busy
// (another writer past the lock's bound) or a newer version's.
class FakeTweaks final : public RunTweaks {
  public:
    explicit FakeTweaks(Log& log) : log_(log) {}
    bool applied = false;        // the machine's record is on
    bool busy = false;           // every change answers Busy and changes nothing
    bool foreign = false;        // a newer version's record: every change answers Foreign
    bool takeOverFinds = false;  // TakeOver finds values a version without the record applied

    RecordState State() override {
        if (foreign) return RecordState::Foreign;
        return applied ? RecordState::On : RecordState::Off;
    }
    RecordResult Apply(const std::array<bool, kRunOptionCount>& enabled,
                       const std::u16string& guid) override {
        std::string flags;
        for (bool e : enabled) flags += e ? '1' : '0';
        log_.push_back("tweaks.apply " + flags + " " + U8(guid));
        if (const auto refused = Refused()) return *refused;
        if (flags == "00000" && !applied) return RecordResult::Nothing;
        applied = true;
        return RecordResult::Done;
    }
    RecordResult GiveBack() override {
        log_.push_back("tweaks.giveback");
        if (const auto refused = Refused()) return *refused;
        return std::exchange(applied, false) ? RecordResult::Done : RecordResult::Nothing;
    }
    std::vector<TRecordedValue> inspected;  // what Inspect answers
    std::vector<TRecordedValue> Inspect() override { return inspected; }
    RecordResult TakeOver() override {
        log_.push_back("tweaks.takeover");
        if (const auto refused = Refused()) return *refused;
        if (applied || !takeOverFinds) return RecordResult::Nothing;
        applied = true;
        return RecordResult::Done;
    }

  private:
    std::optional<RecordResult> Refused() const {
        if (busy) return RecordResult::Busy;
        if (foreign) return RecordResult::Foreign;
        return std::nullopt;
    }
    Log& log_;
};

class FakeServices final : public RunAdapterServices {
  public:
    explicit FakeServices(Log& log) : log_(log) {}
    bool found = true;
    std::u16string name = u"Ethernet", guid = u"{G}", ip = u"192.0.2.2";

    bool GetActiveAdapter(std::u16string& n, std::u16string& g, std::u16string& i) override {
        log_.push_back("services.discover");
        if (!found) {
            // Discovery may leave partial results behind when it gives up.
            n = u"half";
            g = u"{half}";
            i = u"0.0.0.0";
            return false;
        }
        n = name;
        g = guid;
        i = ip;
        return true;
    }
    bool cycleFails = false;     // disabling the connection is refused
    bool noConnections = false;  // the system has no connections manager (Wine)
    ConnectionChange EnableConnection(const std::u16string& g, bool enable) override {
        log_.push_back("services.enable " + U8(g) + "=" + (enable ? "1" : "0"));
        if (noConnections) return ConnectionChange::Unavailable;
        return cycleFails && !enable ? ConnectionChange::Failed : ConnectionChange::Done;
    }
    bool CheckConnectivity() override {
        log_.push_back("services.probe");
        return true;
    }

  private:
    Log& log_;
};

// A wait whose first probe answers.
class AnsweringWait final : public ConnectivityWaitEnvironment {
  public:
    bool CheckConnectivity() override { return true; }
    std::chrono::milliseconds Elapsed() override { return std::chrono::milliseconds(0); }
    void Pause(std::chrono::milliseconds) override {}
    bool IsTerminating() override { return false; }
};

// Holds each started job until the test lets it run: Finish runs the job (by default with a wait whose
// first probe answers) and hands its outcome to settle on the test's thread, as the UI thread would.
class FakeWorker final : public RunWorker {
  public:
    explicit FakeWorker(Log& log) : log_(log) {}
    struct Pending {
        Job job;
        Settle settle;
    };
    std::deque<Pending> pending;

    void Start(Job job, Settle settle) override {
        log_.push_back("worker.start");
        pending.push_back({std::move(job), std::move(settle)});
    }
    void Finish() {
        AnsweringWait wait;
        Finish(wait);
    }
    TRunOutcome Finish(ConnectivityWaitEnvironment& wait) {
        Pending next = std::move(pending.front());
        pending.pop_front();
        const TRunOutcome outcome = next.job(wait);
        next.settle(outcome);
        return outcome;
    }

  private:
    Log& log_;
};

class FakeTexts final : public RunTexts {
  public:
    std::u16string Message(RunMessage message) override {
        switch (message) {
            case RunMessage::RecordBusy:
                return u"[busy]";
            case RunMessage::RecordForeign:
                return u"[foreign]";
            case RunMessage::CycleFailed:
                return u"[cycle failed]";
        }
        return u"";
    }
    std::u16string Translate(const std::u16string& source) override {
        static const std::map<std::u16string, std::u16string> english = {
            {kTextRun, u"Run"},
            {kTextRunning, u"Running"},
            {kTextUnknown, u"Unknown"},
            {kTextNoNetwork, u"There are no active networks."},
        };
        auto it = english.find(source);
        return it == english.end() ? source : it->second;
    }
};

// The run control over fresh fakes, with the option switches' click handlers wired as the window does.
struct RunRig {
    Log log;
    FakeView view{log};
    FakeSettings settings{log};
    FakeTweaks tweaks{log};
    FakeServices services{log};
    FakeWorker worker{log};
    FakeTexts texts;
    std::optional<TRunControl> control;

    RunRig() {
        control.emplace(view, settings, tweaks, services, worker, texts);
        view.onOptionClick = [this](TRunOption o, bool checked) { control->OptionClick(o, checked); };
    }
    TRunControl& rc() { return *control; }

    // Entries of the log that start with `prefix`.
    std::vector<std::string> Entries(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& e : log)
            if (e.rfind(prefix, 0) == 0) out.push_back(e);
        return out;
    }
};

}  // namespace tarnell::test
