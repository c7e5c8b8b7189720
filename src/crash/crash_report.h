// The crash report as data and as text, the size-capped report file, and the once-per-run rule.
// Portable: the Win32 glue (crash_win32.cpp) fills a CrashReport; everything here is computed without
// the operating system.
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
    std::string minidump;  // path of the dump written beside the report, empty when none was written
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
