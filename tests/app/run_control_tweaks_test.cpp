#include "app/run_control_tweaks.h"

#include <doctest/doctest.h>

#include "run_control_fakes.h"

using namespace tarnell;
using namespace tarnell::test;

namespace {

class RecordingWriter final : public RegistryWriter {
  public:
    Log calls;
    void WriteInteger(const std::u16string& path, const std::u16string& name, int32_t value) override {
        calls.push_back("write " + U8(path) + " " + U8(name) + "=" + std::to_string(value));
    }
    void DeleteValue(const std::u16string& path, const std::u16string& name) override {
        calls.push_back("delete " + U8(path) + " " + U8(name));
    }
};

const std::string kIf =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\{G}";
const std::string kMsmq = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSMQ\\Parameters";
const std::string kProfile =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Multimedia\\SystemProfile";

}  // namespace

TEST_CASE("Each option switch's settings key is its catalogue row's key") {
    const std::pair<TRunOption, std::u16string> keys[] = {
        {TRunOption::TcpAckFrequency, u"tcpackfrequency"},
        {TRunOption::TcpDelAckTick, u"tcpdelacktick"},
        {TRunOption::TcpNoDelay, u"tcpnodelay"},
        {TRunOption::NetworkThrottlingIndex, u"networkthrottleindex"},
        {TRunOption::SystemResponsiveness, u"systemresponsiveness"},
    };
    REQUIRE(std::size(keys) == kRunOptions.size());
    for (size_t i = 0; i < kRunOptions.size(); ++i) {
        CAPTURE(i);
        CHECK(kRunOptions[i] == keys[i].first);
        CHECK(std::u16string(OptionSettingsKey(keys[i].first)) == keys[i].second);
    }
}

// The run control over the real catalogue: what reaches the registry writer.
struct TweakRig {
    RecordingWriter writer;
    TCatalogueRunTweaks tweaks{writer};
    Log log;
    FakeView view{log};
    FakeSettings settings{log};
    FakeServices services{log};
    FakeWorker worker{log};
    FakeTexts texts;
    TRunControl control{view, settings, tweaks, services, worker, texts};
    TweakRig() {
        view.onOptionClick = [this](TRunOption o, bool c) { control.OptionClick(o, c); };
    }
};

TEST_CASE("Start writes the values of the switches that are on, in catalogue order") {
    TweakRig rig;
    rig.control.LoadState();
    rig.view.SetOptionChecked(TRunOption::TcpDelAckTick, false);
    rig.view.SetOptionChecked(TRunOption::SystemResponsiveness, false);
    rig.control.BtnStartClick();
    CHECK(rig.writer.calls == Log{"write " + kIf + " TcpAckFrequency=1", "write " + kMsmq + " TCPNoDelay=1",
                                  "write " + kProfile + " NetworkThrottlingIndex=-1"});
}

TEST_CASE("Start with every switch off writes nothing to the registry yet ends running") {
    TweakRig rig;
    for (TRunOption option : kRunOptions) rig.settings.booleans[OptionSettingsKey(option)] = false;
    rig.control.LoadState();
    rig.control.BtnStartClick();
    CHECK(rig.writer.calls.empty());
    CHECK(rig.log.back() == "worker.start");
    rig.worker.Finish();
    CHECK(rig.control.Status() == stRunning);
}

TEST_CASE("Stop reverts all five values with every switch off") {
    TweakRig rig;
    rig.settings.integers[u"status"] = 1;
    rig.control.LoadState();
    rig.view.CheckAll(false);
    rig.control.BtnStartClick();
    CHECK(rig.writer.calls == Log{"delete " + kIf + " TcpAckFrequency", "delete " + kIf + " TcpDelAckTicks",
                                  "delete " + kMsmq + " TCPNoDelay",
                                  "write " + kProfile + " NetworkThrottlingIndex=10",
                                  "write " + kProfile + " SystemResponsiveness=20"});
}
