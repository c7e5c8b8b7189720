// The program's command line: give back or apply the tweak set, or tell whether it is on, without a
// window. Portable rules over the run control's interfaces; command_line_win32.h wires them to the
// system and to the process entry.
//
//   tarnell.exe              the window (no switch)
//   tarnell.exe --revert     what the run switch's Stop does, then wait for the internet (bounded)
//   tarnell.exe --apply      what the run switch's Start does with the recorded option switches
//   tarnell.exe --status     exit 0 when the machine's record says the tweak set is off, 1 when on; tells
//                            what the record holds, value by value (--status --tsv: for a script)
//   tarnell.exe --uninstall  the installer's removal step: give back what the record holds, and nothing
//                            else (no adapter, no cycling, no wait, no per-user record)
//   tarnell.exe --takeover   the installer's upgrade step over a version that kept no record: write down,
//                            machine-wide, what that version applied, so that it can be given back
//   tarnell.exe --help       the commands and exit codes (also /?, -?, -h)
//
// A switch begins with "-", "--" or "/" and its name is read in any letter case, as Windows programs'
// switches are (/apply, --APPLY). Any other argument (a file dropped on the exe, "Open with", a
// shortcut's argument) is ignored: with no switch the window opens.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "app/run_control.h"
#include "app/status_report.h"

namespace tarnell {

enum class TCommand { Window, Revert, Apply, Status, StatusTable, Uninstall, TakeOver, Help, Invalid };

// Exit codes. The program runs in the GUI subsystem: apart from --help nothing is printed, the code is
// the only answer. 6 is the crash handler's: an internal error ended the command.
enum TExitCode : int {
    kExitDone = 0,             // done; for --status: the tweak set is off; --help
    kExitStatusRunning = 1,    // --status only: the tweak set is on
    kExitBadArguments = 2,     // an unknown switch, or more than one; nothing was changed
    kExitNoAdapter = 3,        // --apply: no active adapter; nothing was changed
    kExitNoConnectivity = 4,   // the values were written, but the internet did not answer in time
    kExitAnotherInstance = 5,  // another instance (the window or a command) is running, or another
                               // writer held the machine's record past the bound; nothing changed
    kExitForeignRecord = 7,    // a newer version's record is on the machine; nothing changed
    kExitCycleFailed = 8,      // the values were written, but the adapter's connection could not be
                               // disabled and enabled again: they take effect at its next reconnect
};

// Whether the process's command line holds anything after the program's name, read as the system's
// splitting reads the name: up to the closing quote when it begins with one, else up to the first space or
// tab. Only then is the line split into arguments, which loads the shell; a plain start does without it.
bool CommandLineHasArguments(std::u16string_view commandLine);

// The arguments after the program's name. No switch: the window. Exactly one known switch: that command;
// --status with --tsv (in either order): StatusTable. An unknown switch, or any other two switches:
// Invalid. Arguments that are not switches never count.
TCommand ParseCommandLine(const std::vector<std::u16string>& arguments);

// The text --help shows: the commands, the exit codes, and that the caller must be elevated.
std::u16string CommandLineHelp();

// Whether a command needs the single-instance guard: the ones that only read the machine's record or
// give it back (which the record's own lock keeps apart from everything else) do not.
bool CommandNeedsGuard(TCommand command);

// Runs a command other than Window and answers its exit code. The single-instance guard is the
// caller's, where CommandNeedsGuard asks for it. --apply and --revert run the window's own sequence
// (RunSequence): the caller's status is recorded right after the tweak values are written, before the
// connection is cycled and the wait begins.
// --revert with nothing to give back changes nothing and cycles nothing; without an adapter it gives back
// and cycles nothing. No command takes over anything because of the caller's own recorded status; only
// --takeover does, machine-wide. A settings value that cannot be read (wrong type) counts as missing here: a
// command has no one to show an error to, and must never stop an uninstaller.
// `waitLimit`: how long the wait after the cycle lasts at most (a build setting, shorter than the window's).
// `outcome`, when given, gets what --apply or --revert did (for the log).
int RunCommand(TCommand command, RunSettings& settings, RunTweaks& tweaks, RunAdapterServices& services,
               ConnectivityWaitEnvironment& wait, std::chrono::milliseconds waitLimit,
               TRunOutcome* outcome = nullptr);

// What --status (or --status --tsv) prints: the machine's record as StatusText (StatusTable) tells it.
std::u16string StatusReport(TCommand command, RunTweaks& tweaks, const AdapterNameOf& adapterName);

}  // namespace tarnell
