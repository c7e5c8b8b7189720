#include "crash/crash_report.h"

#include <cstdio>

namespace tarnell {

namespace {

constexpr char kEol[] = "\r\n";

struct CodeName {
    uint32_t code;
    const char* name;
};

constexpr CodeName kCodeNames[] = {
    {0xC0000005u, "EXCEPTION_ACCESS_VIOLATION"},
    {0xC0000006u, "EXCEPTION_IN_PAGE_ERROR"},
    {0xC000001Du, "EXCEPTION_ILLEGAL_INSTRUCTION"},
    {0xC0000094u, "EXCEPTION_INT_DIVIDE_BY_ZERO"},
    {0xC0000095u, "EXCEPTION_INT_OVERFLOW"},
    {0xC000008Cu, "EXCEPTION_ARRAY_BOUNDS_EXCEEDED"},
    {0xC000008Eu, "EXCEPTION_FLT_DIVIDE_BY_ZERO"},
    {0xC0000090u, "EXCEPTION_FLT_INVALID_OPERATION"},
    {0xC0000096u, "EXCEPTION_PRIV_INSTRUCTION"},
    {0xC00000FDu, "EXCEPTION_STACK_OVERFLOW"},
    {0xC0000025u, "EXCEPTION_NONCONTINUABLE_EXCEPTION"},
    {0xC0000409u, "STATUS_STACK_BUFFER_OVERRUN"},
    {0xC0000374u, "STATUS_HEAP_CORRUPTION"},
    {0x80000003u, "EXCEPTION_BREAKPOINT"},
    {0x80000002u, "EXCEPTION_DATATYPE_MISALIGNMENT"},
    {0xE06D7363u, "C++ exception (Visual C++)"},
    {0x20474343u, "C++ exception (GCC)"},
};

std::string Hex32(uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(value));
    return buffer;
}

std::string HexShort(uint64_t value) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%llX", static_cast<unsigned long long>(value));
    return buffer;
}

std::string Where(const std::string& module, uint64_t offset) {
    return module.empty() ? std::string("(no module)") : module + "+" + HexShort(offset);
}

// The line parts before each report header: where whole reports begin.
std::vector<std::string> SplitReports(const std::string& text) {
    std::vector<std::string> parts;
    const std::string header = kCrashReportHeader;
    size_t start = 0;
    size_t search = 0;
    for (;;) {
        size_t found = text.find(header, search);
        while (found != std::string::npos && found != 0 && text[found - 1] != '\n')
            found = text.find(header, found + 1);
        if (found == std::string::npos) break;
        if (found > start) parts.push_back(text.substr(start, found - start));
        start = found;
        search = found + header.size();
    }
    if (start < text.size()) parts.push_back(text.substr(start));
    return parts;
}

// One line a frame: "    #00 0x0000000140001234 tarnell.exe!0x1234 symbol".
template <typename Line>
void AddFrames(Line& line, const std::vector<CrashFrame>& frames) {
    for (size_t i = 0; i < frames.size(); ++i) {
        const CrashFrame& f = frames[i];
        char index[16];
        std::snprintf(index, sizeof index, "    #%02u ", static_cast<unsigned>(i));
        std::string frame = index + Hex64(f.address) + " ";
        frame += f.module.empty() ? std::string("(no module)") : f.module + "!" + HexShort(f.offset);
        if (!f.symbol.empty()) frame += " " + f.symbol;
        line(frame);
    }
}

}  // namespace

std::string Hex64(uint64_t value) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%016llX", static_cast<unsigned long long>(value));
    return buffer;
}

std::string ExceptionCodeName(uint32_t code) {
    for (const CodeName& entry : kCodeNames)
        if (entry.code == code) return entry.name;
    return std::string();
}

std::string StructuredMessage(uint32_t code, uint64_t address, const std::string& moduleAndOffset,
                              const std::vector<uint64_t>& info) {
    std::string what;
    switch (code) {
        case 0xC0000005u:
            what = "Access violation";
            break;
        case 0xC00000FDu:
            what = "Stack overflow";
            break;
        case 0xC0000094u:
            what = "Integer division by zero";
            break;
        case 0xC000001Du:
            what = "Illegal instruction";
            break;
        case 0xC0000096u:
            what = "Privileged instruction";
            break;
        default: {
            const std::string name = ExceptionCodeName(code);
            what = "Exception " + Hex32(code) + (name.empty() ? "" : " (" + name + ")");
        }
    }
    std::string text = what + " at address " + Hex64(address) + " in " + moduleAndOffset + ".";
    if (code == 0xC0000005u && info.size() >= 2) {
        const char* operation = info[0] == 1 ? "Write to" : info[0] == 8 ? "Execution of" : "Read of";
        text += std::string(" ") + operation + " address " + Hex64(info[1]) + ".";
    }
    return text;
}

std::string FormatCrashReport(const CrashReport& r) {
    std::string out;
    auto line = [&out](const std::string& text) {
        out += text;
        out += kEol;
    };
    line(kCrashReportHeader);
    line("Time: " + r.time);
    line("Program: Tarnell " + r.programVersion);
    line("Windows: " + r.windowsVersion);
    line("");
    line("Exception");
    if (r.structured) {
        const std::string name = ExceptionCodeName(r.code);
        line("  Code: " + Hex32(r.code) + (name.empty() ? "" : " " + name));
    } else {
        line("  Type: " + r.type);
    }
    line("  Message: " + r.message);
    line("  Address: " + Hex64(r.address) + " " + Where(r.module, r.offset));
    line("  Thread: " + std::to_string(r.threadId));
    if (!r.minidump.empty()) line("  Minidump: " + r.minidump);
    line("");

    if (!r.thrownAt.empty()) {
        line("Thrown at");
        AddFrames(line, r.thrownAt);
        line("");
    }

    line("Code around " + Hex64(r.address));
    if (r.codeBytes.empty()) line("  (not readable)");
    for (size_t i = 0; i < r.codeBytes.size(); i += 16) {
        std::string row = "  " + Hex64(r.codeStart + i) + ":";
        for (size_t j = i; j < i + 16 && j < r.codeBytes.size(); ++j) {
            char byte[8];
            const bool at = r.codeStart + j == r.address;
            std::snprintf(byte, sizeof byte, at ? ">%02X" : " %02X", static_cast<unsigned>(r.codeBytes[j]));
            row += byte;
        }
        line(row);
    }
    line("");

    line("Threads (" + std::to_string(r.threads.size()) + ")");
    for (const CrashThread& t : r.threads) {
        line("  Thread " + std::to_string(t.id) + (t.faulting ? " (faulting)" : ""));
        if (!t.note.empty()) line("    " + t.note);
        std::string row;
        int inRow = 0;
        for (const auto& [name, value] : t.registers) {
            char cell[48];
            std::snprintf(cell, sizeof cell, "%-6s= %s", name.c_str(), Hex64(value).c_str());
            row += (inRow ? "  " : "    ") + std::string(cell);
            if (++inRow == 4) {
                line(row);
                row.clear();
                inRow = 0;
            }
        }
        if (inRow) line(row);
        AddFrames(line, t.frames);
    }
    line("");

    line("Modules (" + std::to_string(r.modules.size()) + ")");
    for (const CrashModule& m : r.modules) {
        line("  " + Hex64(m.base) + " " + HexShort(m.size) + " " + (m.version.empty() ? "-" : m.version) +
             " " + m.path);
    }
    line("");

    line("Processes (" + std::to_string(r.processes.size()) + ")");
    for (const CrashProcess& p : r.processes) line("  " + std::to_string(p.id) + " " + p.name);
    if (!r.logTail.empty()) {
        line("");
        line("Log (last lines)");
        // The log's own lines, each indented, whatever line breaks they end with.
        size_t start = 0;
        while (start < r.logTail.size()) {
            size_t end = r.logTail.find('\n', start);
            if (end == std::string::npos) end = r.logTail.size();
            size_t stop = end;
            if (stop > start && r.logTail[stop - 1] == '\r') --stop;
            // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about "  " + text.
            out += "  ";
            out.append(r.logTail, start, stop - start);
            out += kEol;
            start = end + 1;
        }
    }
    line("");
    return out;
}

std::string CappedReport(const std::string& report, size_t cap) {
    if (report.size() <= cap) return report;
    const std::string cut = std::string("[report cut at ") + std::to_string(cap) + " bytes]\r\n";
    if (cap <= cut.size()) return std::string();
    size_t end = report.rfind('\n', cap - cut.size() - 1);
    end = end == std::string::npos ? 0 : end + 1;
    std::string kept = report.substr(0, end);
    kept += cut;
    return kept;
}

bool RemoveFiledReport(std::string& contents, const std::string& filed) {
    if (filed.empty()) return false;
    for (size_t at = contents.find(filed); at != std::string::npos; at = contents.find(filed, at + 1)) {
        if (at == 0 || contents[at - 1] == '\n') {
            contents.erase(at, filed.size());
            return true;
        }
    }
    return false;
}

CrashDecision DecideCrash(const CrashCircumstances& c) {
    CrashDecision d;
    if (c.origin == CrashOrigin::Boundary) {
        // The program goes on; once it is ending, a late boundary error adds nothing.
        if (c.processEnding) return d;
        d.report = c.firstOfItsKind;
        d.box = c.firstOfItsKind && !c.headless;
        return d;
    }
    d.endsProcess = true;
    d.report = c.firstOfItsKind;
    d.dump = c.firstOfItsKind;
    if (c.processEnding) return d;  // the first fatal error's box, or headless end, ends it
    d.box = !c.headless;
    d.errorPage = !c.headless;
    d.exitCode = c.headless                            ? kCrashExitCode
                 : c.origin == CrashOrigin::Structured ? c.code
                                                       : kCppFatalExitCode;
    return d;
}

std::string AppendCapped(const std::string& existing, const std::string& report, size_t cap) {
    if (report.size() > cap) return CappedReport(report, cap);
    std::vector<std::string> parts = SplitReports(existing);
    size_t total = report.size();
    for (const std::string& part : parts) total += part.size();
    size_t drop = 0;
    while (total > cap && drop < parts.size()) total -= parts[drop++].size();
    std::string out;
    out.reserve(total);
    for (size_t i = drop; i < parts.size(); ++i) out += parts[i];
    out += report;
    return out;
}

bool CrashOnce::First(bool structured, uint32_t code, uint64_t address, const std::string& type,
                      const std::string& message) {
    const std::string key = structured ? "S" + Hex32(code) + Hex64(address) : "C" + type + '\n' + message;
    std::lock_guard<std::mutex> guard(lock_);
    return seen_.insert(key).second;
}

}  // namespace tarnell
