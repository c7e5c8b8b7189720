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
    if (option == u"--uninstall") return TCommand::Uninstall;
    return TCommand::Invalid;
}

bool CommandNeedsGuard(TCommand command) {
    return command == TCommand::Revert || command == TCommand::Apply;
}

int RunCommand(TCommand command, RunSettings& settings, RunTweaks& tweaks, RunAdapterServices& services,
               ConnectivityWaitEnvironment& wait, std::chrono::milliseconds waitLimit) {
    switch (command) {
        case TCommand::Status:
            return tweaks.Applied() ? kExitStatusRunning : kExitDone;
        case TCommand::Uninstall:
            tweaks.GiveBack();
            return kExitDone;
        case TCommand::Revert:
        case TCommand::Apply:
            break;
        default:
            return kExitBadArguments;
    }

    std::u16string name, guid, ip;
    if (command == TCommand::Revert) {
        // A caller whose own record says running on a machine without one ran a version that kept none:
        // what it applied on the active adapter is taken over so that it is given back.
        bool adopt = false;
        if (!tweaks.Applied()) {
            std::unique_ptr<RunSettingsStore> store = settings.Open(kSettingsPath);
            adopt = (static_cast<uint32_t>(ReadIntegerOr(*store, kStatusKey, stIdle)) & 0xFFu) == stRunning;
        }
        const bool haveAdapter =
            (tweaks.Applied() || adopt) && services.GetActiveAdapter(name, guid, ip) && !guid.empty();
        if (!haveAdapter) guid.clear();
        if (adopt) tweaks.Adopt(guid);
        const bool changed = tweaks.GiveBack();
        RecordStatus(settings, stIdle);
        if (!changed || !haveAdapter) return kExitDone;
    } else {
        if (!services.GetActiveAdapter(name, guid, ip) || guid.empty()) return kExitNoAdapter;
        std::array<bool, kRunOptionCount> enabled{};
        {
            std::unique_ptr<RunSettingsStore> store = settings.Open(kSettingsPath);
            for (size_t i = 0; i < kRunOptionCount; ++i)
                enabled[i] = ReadBooleanOr(*store, OptionSettingsKey(kRunOptions[i]), true);
        }
        tweaks.Apply(enabled, guid);
        RecordStatus(settings, stRunning);
    }

    services.EnableConnection(guid, false);
    services.EnableConnection(guid, true);
    return ConnectivityWait(wait, waitLimit).answered ? kExitDone : kExitNoConnectivity;
}

}  // namespace tarnell
