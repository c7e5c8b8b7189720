#include "app/command_line.h"

#include <array>
#include <memory>

namespace tarnell {

namespace {

bool ReadBooleanOr(RunSettingsStore& store, const std::u16string& name, bool def) {
    try {
        return store.ReadBoolean(name, def);
    } catch (...) {
        return def;
    }
}

int32_t ReadIntegerOr(RunSettingsStore& store, const std::u16string& name, int32_t def) {
    try {
        return store.ReadInteger(name, def);
    } catch (...) {
        return def;
    }
}

void RecordStatus(RunSettings& settings, TStatus status) {
    std::unique_ptr<RunSettingsStore> store = settings.Open(kSettingsPath);
    store->WriteInteger(kStatusKey, status);
}

}  // namespace

TCommand ParseCommandLine(const std::vector<std::u16string>& arguments) {
    if (arguments.empty()) return TCommand::Window;
    if (arguments.size() != 1) return TCommand::Invalid;
    const std::u16string& option = arguments.front();
    if (option == u"--revert") return TCommand::Revert;
    if (option == u"--apply") return TCommand::Apply;
    if (option == u"--status") return TCommand::Status;
    return TCommand::Invalid;
}

bool CommandConnectivityWait(CommandWaitEnvironment& env, std::chrono::milliseconds limit) {
    for (;;) {
        if (env.CheckConnectivity()) return true;
        const std::chrono::milliseconds left = limit - env.Elapsed();
        if (left <= std::chrono::milliseconds::zero()) return false;
        env.Pause(left < kProbeInterval ? left : kProbeInterval);
    }
}

int RunCommand(TCommand command, RunSettings& settings, RunTweaks& tweaks, RunAdapterServices& services,
               CommandWaitEnvironment& wait, std::chrono::milliseconds waitLimit) {
    if (command == TCommand::Status) {
        std::unique_ptr<RunSettingsStore> store = settings.Open(kSettingsPath);
        const int32_t recorded = ReadIntegerOr(*store, kStatusKey, stIdle);
        // Read as the window reads it: the low byte, and only 1 means running.
        return (static_cast<uint32_t>(recorded) & 0xFFu) == stRunning ? kExitStatusRunning : kExitDone;
    }
    if (command != TCommand::Revert && command != TCommand::Apply) return kExitBadArguments;

    std::u16string name, guid, ip;
    if (!services.GetActiveAdapter(name, guid, ip) || guid.empty()) return kExitNoAdapter;

    if (command == TCommand::Apply) {
        std::array<bool, kRunOptionCount> enabled{};
        {
            std::unique_ptr<RunSettingsStore> store = settings.Open(kSettingsPath);
            for (size_t i = 0; i < kRunOptionCount; ++i)
                enabled[i] = ReadBooleanOr(*store, OptionSettingsKey(kRunOptions[i]), true);
        }
        tweaks.Apply(enabled, guid);
        RecordStatus(settings, stRunning);
    } else {
        tweaks.Revert(guid);
        RecordStatus(settings, stIdle);
    }

    services.EnableConnection(guid, false);
    services.EnableConnection(guid, true);
    return CommandConnectivityWait(wait, waitLimit) ? kExitDone : kExitNoConnectivity;
}

}  // namespace tarnell
