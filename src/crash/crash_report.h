// The crash report as data and as text, the size-capped report file, what each kind of error leads to,
// and the once-per-run rule. Portable: the Win32 glue fills a CrashReport and follows a CrashDecision;
// everything here is computed without the operating system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tarnell {

struct CrashFrame {
    uint64_t address = 0;
    std::string module;   // file name only; empty when no module holds the address
    uint64_t offset = 0;  // from the module's base
    std::string symbol;   // empty when the module has no symbols for it
};

struct CrashThread {
    uint32_t id = 0;
    bool faulting = false;
    std::vector<std::pair<std::string, uint64_t>> registers;  // in the order they are listed
    std::vector<CrashFrame> frames;
    std::string note;  // why registers or frames are missing, if they are
};

struct CrashModule {
    std::string path;
    uint64_t base = 0;
    uint64_t size = 0;
    std::string version;  // "1.2.3.4", empty without version information
};

struct CrashProcess {
    uint32_t id = 0;
    std::string name;
};

struct CrashReport {
    std::string time;            // "2026-12-10 15:54:19 UTC"
    std::string programVersion;  // "1.0.0.0"
    std::string windowsVersion;  // "10.0.19045"
    bool structured = false;     // a processor or system exception (code and address are set)
    uint32_t code = 0;
    std::string type;     // the C++ type, or the name of the structured exception's code
    std::string message;  // what the box shows
    uint64_t address = 0;
    std::string module;  // module holding `address`, file name only
    uint64_t offset = 0;
    uint32_t threadId = 0;
    uint64_t codeStart = 0;  // address of codeBytes[0]
    std::vector<uint8_t> codeBytes;
    std::vector<CrashThread> threads;
    std::vector<CrashModule> modules;
    std::vector<CrashProcess> processes;
    std::vector<CrashFrame> thrownAt;  // where a C++ exception was thrown, when that is known
    std::string minidump;              // where the dump stays on the machine, empty when none was written
    std::string logTail;               // the program log's last lines, what led up to the error
};

// First line of every report; the report file is cut only where a line starts with it.
inline constexpr char kCrashReportHeader[] = "=== Tarnell crash report ===";
// The report file's size limit in bytes.
inline constexpr size_t kCrashFileCap = 100000;

// "0x" and 16 upper-case hexadecimal digits.
std::string Hex64(uint64_t value);
// The name of a structured exception code ("EXCEPTION_ACCESS_VIOLATION"), or "" for an unknown code.
std::string ExceptionCodeName(uint32_t code);
// The box's message for a structured exception. For an access violation `info` holds the operation
// (0 read, 1 write, 8 execute) and the address it touched, as the exception record gives them.
std::string StructuredMessage(uint32_t code, uint64_t address, const std::string& moduleAndOffset,
                              const std::vector<uint64_t>& info);

// The whole report as text (UTF-8, CR LF line ends), beginning with kCrashReportHeader.
std::string FormatCrashReport(const CrashReport& report);

// The file's new contents after appending `report` to `existing`: the oldest reports go first, whole, until
// the result fits in `cap` bytes. A single report larger than `cap` is cut at the last line end that fits
// and marked so. Text before the first report header counts as one old report.
std::string AppendCapped(const std::string& existing, const std::string& report, size_t cap = kCrashFileCap);

// The report as it is filed: whole, or cut as AppendCapped cuts a report larger than `cap`.
std::string CappedReport(const std::string& report, size_t cap = kCrashFileCap);

// The file's contents without `filed` (a report as CappedReport filed it, once it was sent), taken where
// it starts a line. False, and `contents` unchanged, when it is not there.
bool RemoveFiledReport(std::string& contents, const std::string& filed);

// Where an error was caught.
enum class CrashOrigin {
    Boundary,    // a C++ exception that reached a window procedure's, hand-over's or worker's boundary
    CppFatal,    // std::terminate, a pure virtual call, an invalid C runtime parameter
    Structured,  // a processor or system exception nothing handled
};

struct CrashCircumstances {
    CrashOrigin origin = CrashOrigin::Boundary;
    uint32_t code = 0;           // the structured exception's code
    bool headless = false;       // no window: a command, the installer's step
    bool firstOfItsKind = true;  // no report was made for this error in this run yet
    bool processEnding = false;  // an earlier fatal error already ends the process
};

struct CrashDecision {
    bool report = false;       // a report is built, filed and sent
    bool dump = false;         // with a minidump beside it
    bool box = false;          // the application's error box is shown
    bool endsProcess = false;  // the process ends: after "Close", or at once without a box
    bool errorPage = false;    // "Close" runs the close-application action (the error page)
    uint32_t exitCode = 0;     // the process's exit code when it ends
};

// The command line's exit code for an error that ended a command.
inline constexpr uint32_t kCrashExitCode = 6;
// Fail-fast, what abort() ends a process with on current Windows: a fatal C++ error with a window.
inline constexpr uint32_t kCppFatalExitCode = 0xC0000409u;

// What an error leads to. Once per run means one box and one report for each distinct error; every fatal
// error ends the process all the same, and one box at most is shown for the process's end.
CrashDecision DecideCrash(const CrashCircumstances& circumstances);

// Tells whether an exception was already reported in this run: by code and address for a structured
// exception, by C++ type and message otherwise. Thread-safe.
class CrashOnce {
  public:
    // True the first time this exception is seen; false for every repetition.
    bool First(bool structured, uint32_t code, uint64_t address, const std::string& type,
               const std::string& message);

  private:
    std::mutex lock_;
    std::set<std::string> seen_;
};

}  // namespace tarnell
