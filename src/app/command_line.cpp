#include "app/command_line.h"

#include <algorithm>
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

}  // namespace

namespace {

bool IsSwitch(const std::u16string& argument) {
    return !argument.empty() && (argument[0] == u'-' || argument[0] == u'/');
}

// The switch's name after its "-", "--" or "/", in lower case (ASCII: every known name is).
std::u16string SwitchName(const std::u16string& argument) {
    size_t start = 1;
    if (argument[0] == u'-' && argument.size() > 1 && argument[1] == u'-') start = 2;
    std::u16string name = argument.substr(start);
    for (char16_t& c : name)
        if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
    return name;
}

TCommand SwitchCommand(const std::u16string& name) {
    if (name == u"revert") return TCommand::Revert;
    if (name == u"apply") return TCommand::Apply;
    if (name == u"status") return TCommand::Status;
    if (name == u"uninstall") return TCommand::Uninstall;
    if (name == u"takeover") return TCommand::TakeOver;
    if (name == u"help" || name == u"?" || name == u"h") return TCommand::Help;
    if (name == u"tsv") return TCommand::StatusTable;  // only as --status's companion
    return TCommand::Invalid;
}

}  // namespace

bool CommandLineHasArguments(std::u16string_view commandLine) {
    size_t rest = 0;
    if (!commandLine.empty() && commandLine[0] == u'"') {
        const size_t closing = commandLine.find(u'"', 1);
        rest = closing == std::u16string_view::npos ? commandLine.size() : closing + 1;
    } else {
        rest = std::min(commandLine.find_first_of(u" \t"), commandLine.size());
    }
    return commandLine.find_first_not_of(u" \t", rest) != std::u16string_view::npos;
}

TCommand ParseCommandLine(const std::vector<std::u16string>& arguments) {
    std::vector<TCommand> switches;
    for (const std::u16string& argument : arguments) {
        if (!IsSwitch(argument)) continue;
        const TCommand command = SwitchCommand(SwitchName(argument));
        if (command == TCommand::Invalid) return TCommand::Invalid;
        switches.push_back(command);
    }
    if (switches.empty()) return TCommand::Window;
    if (switches.size() == 1) return switches[0] == TCommand::StatusTable ? TCommand::Invalid : switches[0];
    const bool statusTable =
        switches.size() == 2 && ((switches[0] == TCommand::Status && switches[1] == TCommand::StatusTable) ||
                                 (switches[0] == TCommand::StatusTable && switches[1] == TCommand::Status));
    return statusTable ? TCommand::StatusTable : TCommand::Invalid;
}

std::u16string CommandLineHelp() {
    return u"Tarnell: lowers network latency for games.\r\n"
           u"\r\n"
           u"  tarnell.exe              open the window\r\n"
           u"  tarnell.exe --apply      turn the tweak set on (the option switches last chosen in the "
           u"window)\r\n"
           u"  tarnell.exe --revert     turn it off: give back what the machine had before\r\n"
           u"  tarnell.exe --status     tell whether it is on (exit code 1) or off (0), and what the\r\n"
           u"                           machine's record holds: each value's key, before, written, now,\r\n"
           u"                           and whether turning it off gives it back\r\n"
           u"  tarnell.exe --status --tsv  the same for a script: a line \"state<TAB>on|off|foreign\",\r\n"
           u"                           a header line, then one tab-separated line per value\r\n"
           u"  tarnell.exe --uninstall  the installer's removal step: give back, without cycling the "
           u"adapter\r\n"
           u"  tarnell.exe --takeover   the installer's upgrade step: take over what a version without the "
           u"record\r\n"
           u"                           turned on, so that it can be given back\r\n"
           u"  tarnell.exe --help       this text (also /?)\r\n"
           u"\r\n"
           u"Switches may be written --apply, -apply or /apply, in any letter case. Other arguments are\r\n"
           u"ignored. The commands need an elevated caller: from a process that is not elevated,\r\n"
           u"CreateProcess fails with error 740 (Start-Process in PowerShell asks for elevation).\r\n"
           u"\r\n"
           u"Exit codes:\r\n"
           u"  0  done; --status: the tweak set is off\r\n"
           u"  1  --status: the tweak set is on\r\n"
           u"  2  an unknown switch, or more than one; nothing was changed\r\n"
           u"  3  --apply: no active network adapter; nothing was changed\r\n"
           u"  4  the tweak set was changed, but the internet did not answer again in time\r\n"
           u"  5  Tarnell is already running (its window or another command), or another Tarnell kept\r\n"
           u"     the machine's record busy for 10 seconds; nothing was changed\r\n"
           u"  6  an internal error ended the command; its error report was sent or kept\r\n"
           u"  7  a newer version of Tarnell changed this machine; this version changed nothing\r\n"
           u"     (--status: the tweak set is on, as that version recorded it)\r\n"
           u"  8  the tweak set was changed, but the network adapter could not be restarted; the\r\n"
           u"     values take effect at its next reconnect\r\n";
}

bool CommandNeedsGuard(TCommand command) {
    return command == TCommand::Revert || command == TCommand::Apply;
}

namespace {

// The exit code of a record operation that changed nothing, or 0 to go on.
int Refusal(RecordResult result) {
    switch (result) {
        case RecordResult::Busy:
            return kExitAnotherInstance;
        case RecordResult::Foreign:
            return kExitForeignRecord;
        default:
            return kExitDone;
    }
}

}  // namespace

int RunCommand(TCommand command, RunSettings& settings, RunTweaks& tweaks, RunAdapterServices& services,
               ConnectivityWaitEnvironment& wait, std::chrono::milliseconds waitLimit, TRunOutcome* told) {
    switch (command) {
        case TCommand::Status:
        case TCommand::StatusTable:
            switch (tweaks.State()) {
                case RecordState::On:
                    return kExitStatusRunning;
                case RecordState::Foreign:
                    return kExitForeignRecord;
                case RecordState::Off:
                    break;
            }
            return kExitDone;
        case TCommand::Uninstall:
            return Refusal(tweaks.GiveBack());
        case TCommand::TakeOver:
            return Refusal(tweaks.TakeOver());
        case TCommand::Help:
            return kExitDone;
        case TCommand::Revert:
        case TCommand::Apply:
            break;
        default:
            return kExitBadArguments;
    }

    std::u16string name, guid, ip;
    std::array<bool, kRunOptionCount> enabled{};
    if (command == TCommand::Apply) {
        if (!services.GetActiveAdapter(name, guid, ip) || guid.empty()) return kExitNoAdapter;
        std::unique_ptr<RunSettingsStore> store = settings.Open(kSettingsPath);
        for (size_t i = 0; i < kRunOptionCount; ++i)
            enabled[i] = ReadBooleanOr(*store, OptionSettingsKey(kRunOptions[i]), true);
    }
    // --revert looks for the adapter only once something was given back: nothing else needs it.
    const auto adapter = [&]() -> std::u16string {
        if (command == TCommand::Revert && !services.GetActiveAdapter(name, guid, ip)) guid.clear();
        return guid;
    };
    const TRunOutcome outcome =
        RunSequence(command == TCommand::Apply ? TRunAction::Apply : TRunAction::GiveBack, enabled, adapter,
                    tweaks, settings, services, wait, waitLimit);
    if (told) *told = outcome;
    if (const int refused = Refusal(outcome.record)) return refused;
    if (!outcome.cycled) return kExitDone;
    if (outcome.cycleFailed) return kExitCycleFailed;
    return outcome.wait.answered ? kExitDone : kExitNoConnectivity;
}

std::u16string StatusReport(TCommand command, RunTweaks& tweaks, const AdapterNameOf& adapterName) {
    const RecordState state = tweaks.State();
    const std::vector<TRecordedValue> values = tweaks.Inspect();
    return command == TCommand::StatusTable ? StatusTable(state, values, adapterName)
                                            : StatusText(state, values, adapterName);
}

}  // namespace tarnell
