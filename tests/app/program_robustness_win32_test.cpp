// The real tarnell.exe under stress and against hostile service answers, driven from outside.
//
// What reaches the shell is observed from outside the program: for the test's duration the shell's
// http, https and file associations, and a test-only URL scheme "tarnellrec", start a small recording
// program (program_shell_recorder_win32.cpp) that writes its command line to a log; the hostile links also
// point at that recorder directly (as a path, a file: URL, a \\?\ path), so a link the shell ran in any
// way ends up in the log. A safe-link scenario of each kind (prompt's Yes, notice line, note label) shows
// the observation works.
//
// Crash reporting is driven the same way: faults are caused from outside (a thread started in the program
// at an unmapped address, at code that overflows its stack, or at the test build's hook that throws), the
// box is read and closed, and the loopback fixture's /except.php receives the reports.
//
// Environment: TARNELL_PROGRAM, TARNELL_SHELL_RECORDER (the recorder's path), TARNELL_LOOPBACK_DIR (the
// loopback fixture server's folder) and TARNELL_LOOPBACK_URL (its base URL, e.g. http://127.0.0.1:18471);
// for the planted DLLs, TARNELL_PLANTED_DLL (planted_dll_win32.cpp built) and TARNELL_PLANT_DIR (a folder
// the test may fill).
#include <shlobj.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "build_config.h"
#include "config/config_win32.h"
#include "program_driver_win32.h"
#include "tuning/network_win32.h"
#include "tuning/registry_path.h"
#include "tuning/tweaks.h"
#include "update/update_dialog_win32.h"

using namespace tarnell;
using namespace tarnell::e2e;

namespace {

std::string Narrow(const std::wstring& s) {
    return Utf16ToUtf8(FromWide(s));
}

// Backslashes and quotes escaped for a JSON string.
std::string JsonEscaped(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

// Points the shell's associations at the recorder for as long as it lives, then restores them.
class RecordingShell {
  public:
    RecordingShell() : recorder_(PathFromEnv("TARNELL_SHELL_RECORDER")) {
        const std::wstring command = L"\"" + recorder_ + L"\" \"%1\"";
        for (const wchar_t* scheme : {L"http", L"https", L"file", L"tarnellrec"}) Redirect(scheme, command);
        HKEY key = nullptr;
        REQUIRE(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"tarnellrec", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                nullptr) == ERROR_SUCCESS);
        RegSetValueExW(key, L"URL Protocol", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), sizeof(wchar_t));
        RegCloseKey(key);
        Clear();
    }
    ~RecordingShell() {
        for (const Saved& saved : saved_) {
            if (saved.scheme == L"tarnellrec") {
                RegDeleteTreeW(HKEY_CLASSES_ROOT, L"tarnellrec");
                RegDeleteKeyW(HKEY_CLASSES_ROOT, L"tarnellrec");
                continue;
            }
            const std::wstring path = saved.scheme + L"\\shell\\open\\command";
            HKEY key = nullptr;
            if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
                continue;
            if (saved.existed) {
                RegSetValueExW(key, nullptr, 0, saved.type, reinterpret_cast<const BYTE*>(saved.value.data()),
                               DWORD(saved.value.size() * sizeof(wchar_t)));
            } else {
                RegDeleteValueW(key, nullptr);
            }
            RegCloseKey(key);
        }
    }

    const std::wstring& Recorder() const { return recorder_; }
    void Clear() {
        DeleteFileW((recorder_ + L".log").c_str());
        DeleteFileW((recorder_ + L".parents").c_str());
    }

    // The executable names of the processes that started the recorder, in order.
    std::vector<std::string> Parents() const { return Lines(ReadWholeFile(recorder_ + L".parents")); }

    // The targets the recorder was started with, in order: its command line without its own name.
    std::vector<std::string> Targets() const {
        std::vector<std::string> targets;
        for (std::string line : Lines(ReadWholeFile(recorder_ + L".log"))) {
            size_t cut = 0;
            if (!line.empty() && line[0] == '"') {
                cut = line.find('"', 1);
                cut = cut == std::string::npos ? line.size() : cut + 1;
            } else {
                cut = std::min(line.find(' '), line.size());
            }
            std::string rest = line.substr(cut);
            while (!rest.empty() && rest.front() == ' ') rest.erase(0, 1);
            if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"')
                rest = rest.substr(1, rest.size() - 2);
            targets.push_back(rest);
        }
        return targets;
    }

  private:
    struct Saved {
        std::wstring scheme;
        bool existed = false;
        DWORD type = REG_SZ;
        std::wstring value;
    };

    void Redirect(const wchar_t* scheme, const std::wstring& command) {
        const std::wstring path = std::wstring(scheme) + L"\\shell\\open\\command";
        HKEY key = nullptr;
        REQUIRE(RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0,
                                KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS);
        Saved saved;
        saved.scheme = scheme;
        DWORD bytes = 0;
        if (RegQueryValueExW(key, nullptr, nullptr, &saved.type, nullptr, &bytes) == ERROR_SUCCESS) {
            saved.existed = true;
            saved.value.resize(bytes / sizeof(wchar_t) + 1);
            bytes = DWORD(saved.value.size() * sizeof(wchar_t));
            RegQueryValueExW(key, nullptr, nullptr, &saved.type, reinterpret_cast<BYTE*>(saved.value.data()),
                             &bytes);
            saved.value.resize(bytes / sizeof(wchar_t));
        }
        saved_.push_back(saved);
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                       DWORD((command.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }

    std::wstring recorder_;
    std::vector<Saved> saved_;
};

bool IsWebLink(const std::string& target) {
    auto starts = [&](const char* prefix) {
        const size_t n = std::strlen(prefix);
        if (target.size() <= n) return false;
        for (size_t i = 0; i < n; ++i)
            if (std::tolower(static_cast<unsigned char>(target[i])) != prefix[i]) return false;
        return true;
    };
    return starts("http://") || starts("https://");
}

enum class Answer { No, Yes };

struct Scenario {
    const char* name;
    std::string body;
    bool prompt;                        // the update prompt is offered
    bool noteLabel;                     // ... with a note link label, which the test clicks
    Answer answer;                      // what the test answers the prompt
    bool notice;                        // the notice line is shown afterwards; the test clicks it
    std::vector<std::string> expected;  // what the recorder must have seen, in order
};

// Serves the scenario's answer to a fresh start of the program and plays the user's part.
void Play(const Scenario& s, Loopback& loopback, RecordingShell& shell) {
    const std::string scenario = s.name;
    CAPTURE(scenario);
    loopback.SetServiceAnswer(s.body);
    shell.Clear();
    const size_t logStart = loopback.Size();
    Program program;
    REQUIRE(program.WaitForWindow());
    // The check has been answered once the server saw it; its completion follows on the UI thread.
    REQUIRE(WaitUntil([&] { return loopback.Count(logStart, "/api.init.php") >= 1; }, 20000));

    HWND prompt = nullptr;
    WaitUntil([&] { return (prompt = program.Prompt()) != nullptr && IsWindowVisible(prompt); },
              s.prompt ? 20000 : 2500);
    CHECK((prompt != nullptr) == s.prompt);
    if (prompt) {
        Sleep(300);  // laid out and shown
        HWND label = GetDlgItem(prompt, kPromptNoteLabelId);
        CHECK((label != nullptr) == s.noteLabel);
        if (label) {
            PostMessageW(prompt, WM_COMMAND, MAKEWPARAM(kPromptNoteLabelId, STN_CLICKED), LPARAM(label));
            Sleep(1500);
            CHECK(program.Prompt() == prompt);  // the link opens beside the prompt
        }
        PostMessageW(prompt, WM_COMMAND, s.answer == Answer::Yes ? IDYES : IDNO, 0);
    }

    if (s.answer == Answer::Yes && s.prompt) {
        // The update taken: the program closes itself.
        DWORD code = 1;
        CHECK(program.WaitForExit(20000, &code));
        CHECK(code == 0);
    } else {
        HWND notice = nullptr;
        WaitUntil([&] { return (notice = program.NoticeLine()) != nullptr; }, s.notice ? 10000 : 1500);
        CHECK((notice != nullptr) == s.notice);
        if (notice) {
            RECT r;
            GetClientRect(notice, &r);
            const LPARAM at = MAKELPARAM(r.right / 2, r.bottom / 2);
            PostMessageW(notice, WM_LBUTTONDOWN, MK_LBUTTON, at);
            PostMessageW(notice, WM_LBUTTONUP, 0, at);
        }
        // Still running and answering.
        CHECK(program.Running());
        CHECK(program.Responsive());
    }
    // Whatever the shell was handed has started the recorder by now.
    WaitUntil([&] { return shell.Targets().size() >= s.expected.size(); }, 10000);
    Sleep(1500);
    const std::vector<std::string> targets = shell.Targets();
    for (const std::string& target : targets) {
        CAPTURE(target);
        CHECK(IsWebLink(target));
    }
    CHECK(targets == s.expected);
    CHECK_FALSE(CrashHandlerRunning());

    if (program.Running()) {
        PostMessageW(program.form, WM_CLOSE, 0, 0);
        DWORD code = 1;
        CHECK(program.WaitForExit(15000, &code));
        CHECK(code == 0);
    }
}

std::string BaseUrl() {
    const char* url = std::getenv("TARNELL_LOOPBACK_URL");
    REQUIRE(url);
    return url;
}

// A Windows path as a file: URL.
std::string FileUrl(const std::wstring& path) {
    std::string url = "file:///";
    for (wchar_t c : path) url += c == L'\\' ? '/' : char(c);
    return url;
}

}  // namespace

TEST_CASE("program: hostile links never reach the shell; web links do") {
    Loopback loopback;
    RecordingShell shell;
    const std::string base = BaseUrl();
    const std::string recorder = Narrow(shell.Recorder());
    const std::string path = JsonEscaped(recorder);
    const std::string file = JsonEscaped(FileUrl(shell.Recorder()));
    const std::string device = JsonEscaped("\\\\?\\" + recorder);
    const std::string share = JsonEscaped("\\\\127.0.0.1\\share\\setup.exe");
    const std::string safe = base + "/setup";

    const Scenario scenarios[] = {
        // The observation itself: each way a web link reaches the shell.
        {"web update link, Yes", "{\"update\":\"" + safe + "\"}", true, false, Answer::Yes, false, {safe}},
        {"web notice link",
         "{\"notify\":\"" + base + "/news\"}",
         false,
         false,
         Answer::No,
         true,
         {base + "/news"}},
        {"web note link",
         "{\"update\":\"" + safe + "\",\"info\":{\"style\":\"note\",\"text\":\"Read\",\"url\":\"" + base +
             "/notes\"}}",
         true,
         true,
         Answer::No,
         false,
         {base + "/notes"}},
        {"upper-case scheme",
         "{\"update\":\"HTTP://127.0.0.1/Setup\"}",
         true,
         false,
         Answer::Yes,
         false,
         {"HTTP://127.0.0.1/Setup"}},
        // Hostile links: no prompt, no notice, nothing to the shell.
        {"paths",
         "{\"update\":\"" + path + "\",\"notify\":\"" + path + "\"}",
         false,
         false,
         Answer::No,
         false,
         {}},
        {"file: URLs",
         "{\"update\":\"" + file + "\",\"notify\":\"" + file + "\"}",
         false,
         false,
         Answer::No,
         false,
         {}},
        {"other schemes",
         "{\"update\":\"tarnellrec:update\",\"notify\":\"TarnellRec://notify\"}",
         false,
         false,
         Answer::No,
         false,
         {}},
        {"UNC and device paths",
         "{\"update\":\"" + device + "\",\"notify\":\"" + share + "\"}",
         false,
         false,
         Answer::No,
         false,
         {}},
        {"scheme without a host",
         "{\"update\":\"http:///Z:/x.exe\",\"notify\":\"http:" + share + "\"}",
         false,
         false,
         Answer::No,
         false,
         {}},
        {"quote breaking out of the command line",
         "{\"update\":\"" + base + "/a\\\" " + path + "\",\"notify\":\" " + base + "/lead\"}",
         false,
         false,
         Answer::No,
         false,
         {}},
        {"javascript and mailto",
         "{\"update\":\"javascript:alert(1)\",\"notify\":\"mailto:a@b.c\"}",
         false,
         false,
         Answer::No,
         false,
         {}},
        // Hostile note links beside a web update link: the prompt shows, the link opens nothing.
        {"note link to a file: URL",
         "{\"update\":\"" + safe + "\",\"info\":{\"style\":\"note\",\"text\":\"Read\",\"url\":\"" + file +
             "\"}}",
         true,
         true,
         Answer::No,
         false,
         {}},
        {"note link to a path",
         "{\"update\":\"" + safe + "\",\"info\":{\"style\":\"note\",\"text\":\"Read\",\"url\":\"" + path +
             "\"}}",
         true,
         true,
         Answer::No,
         false,
         {}},
        {"note link to another scheme",
         "{\"update\":\"" + safe +
             "\",\"info\":{\"style\":\"note\",\"text\":\"Read\",\"url\":\"tarnellrec:note\"}}",
         true,
         true,
         Answer::No,
         false,
         {}},
    };
    for (const Scenario& s : scenarios) Play(s, loopback, shell);
}

TEST_CASE("program: malformed and oversized answers leave the program running") {
    Loopback loopback;
    RecordingShell shell;
    const std::string base = BaseUrl();
    const std::string safe = base + "/setup";
    const std::string file = JsonEscaped(FileUrl(shell.Recorder()));

    std::string huge = "{\"update\":\"" + safe + "\",\"notify\":\"" + base + "/n\",\"pad\":\"";
    huge.append((size_t(1) << 20) + 16, 'x');
    huge += "\"}";
    std::string markers;
    while (markers.size() < 900000) markers += "\"update\":\"";
    const std::string braces(200000, '{');
    const std::string longPath(200000, 'a');

    const Scenario scenarios[] = {
        // An answer over 1 MiB is no answer: the attempt fails whatever it holds.
        {"body over 1 MiB", huge, false, false, Answer::No, false, {}},
        {"invalid UTF-8",
         std::string("\xff\xfe\xc3(\x80{\"update\":\"") + safe +
             "\",\"info\":{\"style\":\"note\",\"text\":\"\xed\xa0\x80\xf8\x88\x80\x80\x80\",\"url\":\"" +
             file + "\"},\"notify\":\"" + base + "/n\xc3\"}",
         true,
         true,
         Answer::No,
         true,
         {base + "/n\xef\xbf\xbd"}},
        {"unterminated info object",
         "{\"update\":\"" + safe + "\",\"info\":{\"style\":\"note\",\"text\":\"Read\",\"url\":\"" + file +
             "\"",
         true,
         false,
         Answer::No,
         false,
         {}},
        {"\\u at the end of a value and of the body",
         "{\"notify\":\"" + base + "/e\\u\",\"update\":\"" + base + "/f\\u",
         false,
         false,
         Answer::No,
         false,
         {}},
        {"short \\u escapes",
         "{\"notify\":\"" + base + "/g\\u00\",\"update\":\"" + base + "/h\\u12G4\"}",
         false,
         false,
         Answer::No,
         false,
         {}},
        {"nested braces",
         braces +
             "{\"info\":{\"x\":{\"style\":\"note\"},\"style\":\"note\",\"text\":\"{{{{\",\"url\":\"{"
             "\\\"a\\\":{}}\"},"
             "\"update\":\"" +
             safe + "\",\"y\":{\"z\":{}}}}",
         true,
         true,
         Answer::No,
         false,
         {}},
        {"very long fields",  // the update link is over the length limit: no prompt
         "{\"update\":\"" + base + "/" + longPath + "\",\"info\":{\"style\":\"note\",\"text\":\"" +
             std::string(100000, 'W') + "\",\"url\":\"tarnellrec:x\"},\"notify\":\"tarnellrec:" + longPath +
             "\"}",
         false,
         false,
         Answer::No,
         false,
         {}},
        {"a field marker repeated to the limit", "{" + markers + "}", false, false, Answer::No, false, {}},
        {"not JSON at all", std::string("\0\0\0\x01<html>", 11), false, false, Answer::No, false, {}},
    };
    for (const Scenario& s : scenarios) Play(s, loopback, shell);
}

TEST_CASE("program: long links: over the limit nothing opens; the program stays alive and starts again") {
    Loopback loopback;
    RecordingShell shell;
    const std::string base = BaseUrl();
    const std::string safe = base + "/setup";
    // A web link of exactly `length` characters.
    auto link = [&](size_t length) { return base + "/" + std::string(length - base.size() - 1, 'a'); };
    std::vector<Scenario> scenarios;
    std::vector<std::string> names;  // the scenarios point at these
    names.reserve(9);
    // Links from 2,049 units on are refused by the link check. (Under Wine the shell itself faults on
    // links of about 1,000 units and more that it is handed, so no row between 918 and 2,048 runs here.)
    for (size_t length : {size_t(900), size_t(2049), size_t(200000)}) {
        const std::string l = link(length);
        const bool fits = length <= 2048;
        const std::string tag = std::to_string(length);
        names.push_back("update link of " + tag + ", Yes");
        scenarios.push_back({names.back().c_str(), "{\"update\":\"" + l + "\"}", fits, false, Answer::Yes,
                             false, fits ? std::vector<std::string>{l} : std::vector<std::string>{}});
        names.push_back("notice link of " + tag + ", clicked");
        scenarios.push_back({names.back().c_str(), "{\"notify\":\"" + l + "\"}", false, false, Answer::No,
                             fits, fits ? std::vector<std::string>{l} : std::vector<std::string>{}});
        names.push_back("note link of " + tag + ", clicked");
        scenarios.push_back({names.back().c_str(),
                             "{\"update\":\"" + safe +
                                 "\",\"info\":{\"style\":\"note\",\"text\":\"Read\",\"url\":\"" + l + "\"}}",
                             true, true, Answer::No, false,
                             fits ? std::vector<std::string>{l} : std::vector<std::string>{}});
    }
    // Each scenario starts the program afresh: a start after the one before works.
    for (const Scenario& s : scenarios) Play(s, loopback, shell);
}

TEST_CASE("program: a ticked hold box sends exactly one hold request, whatever closes the prompt") {
    Loopback loopback;
    RecordingShell shell;
    const std::string base = BaseUrl();
    loopback.SetServiceAnswer("{\"update\":\"" + base +
                              "/setup\",\"info\":{\"style\":\"hold\",\"text\":\"Later\"}}");
    struct Case {
        const char* what;
        WPARAM command;  // Esc reaches a dialog as IDCANCEL
    };
    const Case cases[] = {{"Yes", IDYES}, {"No", IDNO}, {"Esc", IDCANCEL}};
    for (const Case& c : cases) {
        const std::string what = c.what;
        CAPTURE(what);
        const size_t logStart = loopback.Size();
        Program program;
        REQUIRE(program.WaitForWindow());
        HWND prompt = nullptr;
        REQUIRE(WaitUntil([&] { return (prompt = program.Prompt()) != nullptr && IsWindowVisible(prompt); },
                          20000));
        Sleep(300);
        HWND box = GetDlgItem(prompt, kPromptHoldCheckId);
        REQUIRE(box);
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(box, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
        PostMessageW(prompt, WM_COMMAND, c.command, 0);
        if (c.command != IDYES) {
            // The prompt gone, the user closes the window at once.
            REQUIRE(WaitUntil([&] { return program.Prompt() == nullptr; }, 10000));
            PostMessageW(program.form, WM_CLOSE, 0, 0);
        }
        DWORD code = 1;
        REQUIRE(program.WaitForExit(30000, &code));
        CHECK(code == 0);

        std::vector<std::string> holds;
        auto readHolds = [&] {
            holds.clear();
            const std::vector<std::string> log = loopback.Log();
            for (size_t i = logStart; i < log.size(); ++i) {
                if (log[i].rfind("/api.init.php", 0) == 0 && log[i].find(" command ") != std::string::npos)
                    holds.push_back(log[i].substr(log[i].find(" command ") + 9));
            }
            return !holds.empty();
        };
        WaitUntil(readHolds, 5000);
        Sleep(300);  // a second one would have arrived by now
        readHolds();
        REQUIRE(holds.size() == 1);
        // Exactly two custom headers, in this order.
        const std::string& headers = holds[0];
        CAPTURE(headers);
        CHECK(headers.rfind("User-Version=", 0) == 0);
        const size_t second = headers.find(' ');
        REQUIRE(second != std::string::npos);
        CHECK(headers.substr(second + 1) == "User-Command=hold");
        CHECK(headers.substr(13, second - 13).find('.') != std::string::npos);
    }
}

namespace {

int32_t TConfigStatus() {
    return TConfig(u"Tarnell").ReadInteger(u"status", -1);
}

const Tweak& FirstTweak() {
    return TweakCatalogue().front();
}

bool TweakPresent(const std::u16string& guid) {
    const RegistryPathParts parts = SplitRegistryPath(TweakPath(FirstTweak(), guid));
    HKEY root = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(GetRootKey(parts.root)));
    DWORD value = 0, size = sizeof(value);
    return RegGetValueW(root, W(parts.subkey), W(std::u16string(FirstTweak().valueName)),
                        RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY, nullptr, &value, &size) == ERROR_SUCCESS;
}

void DeleteTweak(const std::u16string& guid) {
    const RegistryPathParts parts = SplitRegistryPath(TweakPath(FirstTweak(), guid));
    HKEY root = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(GetRootKey(parts.root)));
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, W(parts.subkey), 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, W(std::u16string(FirstTweak().valueName)));
        RegCloseKey(key);
    }
}

// Starts the program with the probe failing or slow and clicks the run switch: returns once the wait has
// sent its first probe.
void StartWaiting(Program& program, Loopback& loopback) {
    REQUIRE(program.WaitForWindow());
    HWND start = program.Control(u"BtnStart");
    REQUIRE(start);
    REQUIRE(TextOf(start) == "Run");
    const size_t from = loopback.Size();
    Click(start);
    REQUIRE(WaitUntil([&] { return loopback.Count(from, "/generate_204") >= 1; }, 20000, 10));
}

}  // namespace

TEST_CASE("program: run switch clicks during a wait start nothing twice") {
    Loopback loopback;
    loopback.SetServiceAnswer("{}");
    loopback.SetProbeMode("drop");
    ForgetSettings();
    std::u16string name, guid, ip;
    REQUIRE(GetActiveAdapter(name, guid, ip));

    Program program;
    StartWaiting(program, loopback);
    HWND start = program.Control(u"BtnStart");
    CHECK(IsWindowEnabled(start) == FALSE);
    // The values are written once, before the wait: a second start would write them again.
    REQUIRE(TweakPresent(guid));
    DeleteTweak(guid);

    const size_t beforeClicks = loopback.Size();
    const DWORD clicksStarted = GetTickCount();
    for (int i = 0; i < 100; ++i) {
        Click(start);
        Sleep(2);
    }
    CHECK(program.Responsive());  // every click handled
    const DWORD clicksMs = GetTickCount() - clicksStarted;
    MESSAGE("100 clicks took " << clicksMs << " ms");
    Sleep(4000);
    const DWORD spanMs = GetTickCount() - clicksStarted;
    // One wait probes about once a second (a failed probe, then a pause of a second).
    const int dropped = loopback.DroppedProbes(beforeClicks);
    CAPTURE(spanMs);
    CHECK(dropped <= int(spanMs / 1000) + 1);
    CHECK_FALSE(TweakPresent(guid));
    CHECK(TConfigStatus() == 1);  // recorded as soon as the values were written, before the wait

    // Let the probe answer: exactly one wait ends, once, in the running look; nothing follows it.
    const size_t beforeAnswer = loopback.Size();
    loopback.SetProbeMode("answer");
    REQUIRE(WaitUntil([&] { return TextOf(start) == "Running" && IsWindowEnabled(start); }, 20000));
    Sleep(3000);
    CHECK(loopback.AnsweredProbes(beforeAnswer) == 1);
    const size_t afterRunning = loopback.Size();
    Sleep(2500);
    CHECK(loopback.Count(afterRunning, "/generate_204") == 0);
    CHECK(TextOf(start) == "Running");
    CHECK(TConfigStatus() == 1);
    CHECK_FALSE(TweakPresent(guid));

    // Back to idle for the tests that follow.
    Click(start);
    CHECK(WaitUntil([&] { return TextOf(start) == "Run" && IsWindowEnabled(start); }, 30000));
    CHECK(TConfigStatus() == 0);
}

TEST_CASE("program: closing the window during a wait ends the process within a second, 20 times") {
    Loopback loopback;
    loopback.SetServiceAnswer("{}");
    DWORD slowest = 0;
    for (int round = 0; round < 20; ++round) {
        CAPTURE(round);
        // Every other round the probe is still in flight when the window closes (its answer would take 30 s).
        loopback.SetProbeMode(round % 2 ? "slow 30" : "drop");
        ForgetSettings();
        Program program;
        StartWaiting(program, loopback);
        const DWORD closed = GetTickCount();
        PostMessageW(program.form, WM_CLOSE, 0, 0);
        DWORD code = 1;
        const bool ended = program.WaitForExit(1000, &code);
        CHECK(ended);
        if (!ended) {
            CHECK(program.WaitForExit(15000, &code));
        }
        slowest = std::max(slowest, GetTickCount() - closed);
        CHECK(code == 0);
        CHECK_FALSE(CrashHandlerRunning());
    }
    MESSAGE("slowest exit after WM_CLOSE: " << slowest << " ms");
    ForgetSettings();
}

namespace {

// The five tweak values as the machine registry holds them: the value, or -2 for "absent" (no tweak value
// is -2). Paths and names typed from the tweak table.
std::vector<int64_t> TweakValues(const std::u16string& guid) {
    struct Row {
        std::wstring key;
        const wchar_t* name;
    };
    const std::wstring interfaces =
        L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\" + std::wstring(W(guid));
    const std::wstring profile =
        L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Multimedia\\SystemProfile";
    const Row rows[] = {{interfaces, L"TcpAckFrequency"},
                        {interfaces, L"TcpDelAckTicks"},
                        {L"SOFTWARE\\Microsoft\\MSMQ\\Parameters", L"TCPNoDelay"},
                        {profile, L"NetworkThrottlingIndex"},
                        {profile, L"SystemResponsiveness"}};
    std::vector<int64_t> values;
    for (const Row& row : rows) {
        DWORD value = 0, size = sizeof(value);
        const bool present =
            RegGetValueW(HKEY_LOCAL_MACHINE, row.key.c_str(), row.name,
                         RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY, nullptr, &value, &size) == ERROR_SUCCESS;
        values.push_back(present ? int64_t(int32_t(value)) : -2);
    }
    return values;
}

// Sets the five values (-2: removes one), in catalogue order.
void SetTweakValues(const std::u16string& guid, const std::vector<int64_t>& values) {
    const std::wstring interfaces =
        L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\" + std::wstring(W(guid));
    const std::wstring profile =
        L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Multimedia\\SystemProfile";
    const std::pair<std::wstring, const wchar_t*> rows[] = {
        {interfaces, L"TcpAckFrequency"},
        {interfaces, L"TcpDelAckTicks"},
        {L"SOFTWARE\\Microsoft\\MSMQ\\Parameters", L"TCPNoDelay"},
        {profile, L"NetworkThrottlingIndex"},
        {profile, L"SystemResponsiveness"}};
    for (size_t i = 0; i < values.size(); ++i) {
        HKEY key = nullptr;
        REQUIRE(RegCreateKeyExW(HKEY_LOCAL_MACHINE, rows[i].first.c_str(), 0, nullptr, 0,
                                KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr) == ERROR_SUCCESS);
        const DWORD value = DWORD(values[i]);
        if (values[i] == -2)
            RegDeleteValueW(key, rows[i].second);
        else
            RegSetValueExW(key, rows[i].second, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                           sizeof value);
        RegCloseKey(key);
    }
}

void Kill(Program& program) {
    REQUIRE(TerminateProcess(program.pi.hProcess, 9));
    REQUIRE(program.WaitForExit(10000));
}

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The DLL names in a PE file's import directory (loaded by the system before the program's first line).
std::vector<std::string> StaticImports(const std::wstring& exe) {
    const std::string image = ReadWholeFile(exe);
    REQUIRE(image.size() > sizeof(IMAGE_DOS_HEADER));
    IMAGE_DOS_HEADER dos;
    std::memcpy(&dos, image.data(), sizeof dos);
    REQUIRE(size_t(dos.e_lfanew) + sizeof(IMAGE_NT_HEADERS64) <= image.size());
    IMAGE_NT_HEADERS64 nt;
    std::memcpy(&nt, image.data() + dos.e_lfanew, sizeof nt);
    REQUIRE(nt.OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC);
    const size_t sectionsAt = size_t(dos.e_lfanew) + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                              nt.FileHeader.SizeOfOptionalHeader;
    std::vector<IMAGE_SECTION_HEADER> sections(nt.FileHeader.NumberOfSections);
    REQUIRE(sectionsAt + sections.size() * sizeof(IMAGE_SECTION_HEADER) <= image.size());
    std::memcpy(sections.data(), image.data() + sectionsAt, sections.size() * sizeof(IMAGE_SECTION_HEADER));
    auto offsetOf = [&](DWORD rva) -> size_t {
        for (const IMAGE_SECTION_HEADER& s : sections)
            if (rva >= s.VirtualAddress &&
                rva < s.VirtualAddress + std::max(s.Misc.VirtualSize, s.SizeOfRawData))
                return size_t(rva - s.VirtualAddress + s.PointerToRawData);
        FAIL("import RVA outside every section");
        return 0;
    };
    std::vector<std::string> names;
    const IMAGE_DATA_DIRECTORY& dir = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return names;
    for (size_t at = offsetOf(dir.VirtualAddress);; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        REQUIRE(at + sizeof(IMAGE_IMPORT_DESCRIPTOR) <= image.size());
        IMAGE_IMPORT_DESCRIPTOR d;
        std::memcpy(&d, image.data() + at, sizeof d);
        if (d.Name == 0) break;
        names.push_back(Lower(image.c_str() + offsetOf(d.Name)));
    }
    return names;
}

std::wstring Widened(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

std::vector<std::string> MarkersIn(const std::wstring& dir) {
    std::vector<std::string> found;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\*.loaded").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return found;
    do found.push_back(Narrow(data.cFileName));
    while (FindNextFileW(find, &data));
    FindClose(find);
    return found;
}

}  // namespace

TEST_CASE("program: the Restart Manager's end-session messages close it, idle and during a wait") {
    // What Windows Installer's Restart Manager sends a window whose program holds a file it must replace:
    // WM_QUERYENDSESSION with ENDSESSION_CLOSEAPP, then WM_ENDSESSION (TRUE when every application agreed,
    // FALSE when the shutdown was called off). Wine's msiexec has no Restart Manager: the messages are
    // sent here as it would send them.
    Loopback loopback;
    loopback.SetServiceAnswer("{}");
    loopback.SetProbeMode("drop");
    std::u16string name, guid, ip;
    REQUIRE(GetActiveAdapter(name, guid, ip));
    const std::vector<int64_t> applied{1, 0, 1, -1, 0}, users{3, -2, -2, 70, -2};
    auto recordPresent = [] {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vorbeck\\Tarnell\\Applied", 0,
                          KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    };
    struct Row {
        const char* name;
        bool waiting;  // Start clicked, the probe failing: the connectivity wait is running
        bool confirmed;
        bool ends;
        std::vector<int64_t> valuesAfter;
        bool recordAfter;
    };
    const Row rows[] = {
        {"idle, shutdown confirmed", false, true, true, users, false},
        {"during the wait after Start, shutdown confirmed", true, true, true, applied, true},
        {"idle, shutdown called off", false, false, false, users, false},
        {"during the wait, shutdown called off", true, false, false, applied, true},
    };
    for (const Row& row : rows) {
        INFO(std::string(row.name));
        ForgetSettings();
        SetTweakValues(guid, users);
        Program program;
        if (row.waiting)
            StartWaiting(program, loopback);
        else
            REQUIRE(program.WaitForWindow());
        DWORD_PTR agreed = 0;
        REQUIRE(SendMessageTimeoutW(program.form, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP,
                                    SMTO_ABORTIFHUNG, 5000, &agreed));
        CHECK(agreed == TRUE);
        const DWORD sent = GetTickCount();
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(program.form, WM_ENDSESSION, row.confirmed ? TRUE : FALSE, ENDSESSION_CLOSEAPP,
                            SMTO_ABORTIFHUNG, 5000, &ignored);
        DWORD code = 1;
        const bool ended = program.WaitForExit(5000, &code);
        const std::string timing = std::string(row.name) +
                                   (ended ? ": ended after " : ": still running after ") +
                                   std::to_string(GetTickCount() - sent) + " ms";
        MESSAGE(timing);
        CHECK(ended == row.ends);
        if (ended) {
            CHECK(code == 0);
        } else {
            CHECK(program.Responsive());
        }
        CHECK_FALSE(CrashHandlerRunning());
        // Nothing half-done: the values and the record agree, and so does the caller's own status.
        CHECK(TweakValues(guid) == row.valuesAfter);
        CHECK(recordPresent() == row.recordAfter);
        CHECK(TConfigStatus() == (row.recordAfter ? 1 : 0));
    }
    ForgetSettings();
    SetTweakValues(guid, users);
}

TEST_CASE("program: killed during a wait, it starts again in the look that matches the registry") {
    Loopback loopback;
    loopback.SetServiceAnswer("{}");
    loopback.SetProbeMode("drop");
    ForgetSettings();
    std::u16string name, guid, ip;
    REQUIRE(GetActiveAdapter(name, guid, ip));
    // Applied: 1, 0, 1, -1 (0xFFFFFFFF), 0. Given back: what the user had before the first Start (-2:
    // absent).
    const std::vector<int64_t> applied{1, 0, 1, -1, 0}, users{3, -2, -2, 70, -2};
    SetTweakValues(guid, users);
    REQUIRE(TweakValues(guid) == users);

    {  // Killed while the start waits: every value is applied.
        Program program;
        StartWaiting(program, loopback);
        Kill(program);
    }
    CHECK(TweakValues(guid) == applied);
    CHECK(TConfigStatus() == 1);

    {  // The next start shows the running look; killed again while the stop waits.
        Program program;
        REQUIRE(program.WaitForWindow());
        HWND start = program.Control(u"BtnStart");
        CHECK(TextOf(start) == "Running");
        CHECK(IsWindowEnabled(program.Control(u"ChkTcpNoDelay")) == FALSE);
        const size_t from = loopback.Size();
        Click(start);
        REQUIRE(WaitUntil([&] { return loopback.Count(from, "/generate_204") >= 1; }, 20000, 10));
        CHECK(TextOf(start).empty());  // busy: the look settles only after the wait
        Kill(program);
    }
    CHECK(TweakValues(guid) == users);
    CHECK(TConfigStatus() == 0);

    {  // And back in the idle look.
        Program program;
        REQUIRE(program.WaitForWindow());
        CHECK(TextOf(program.Control(u"BtnStart")) == "Run");
        CHECK(IsWindowEnabled(program.Control(u"ChkTcpNoDelay")) != FALSE);
        CHECK(TConfigStatus() == 0);
    }
    ForgetSettings();
}

TEST_CASE("program: DLLs planted beside the program are never loaded") {
    // What the loader resolves before the program's first line: only KnownDLLs, which Windows always takes
    // from System32 (the list under HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs).
    const std::wstring original = PathFromEnv("TARNELL_PROGRAM");
    const std::vector<std::string> known = {"kernel32.dll", "user32.dll",  "gdi32.dll",    "advapi32.dll",
                                            "msvcrt.dll",   "ole32.dll",   "oleaut32.dll", "shell32.dll",
                                            "ws2_32.dll",   "shlwapi.dll", "comdlg32.dll", "imm32.dll"};
    for (const std::string& name : StaticImports(original)) {
        CAPTURE(name);
        CHECK(std::find(known.begin(), known.end(), name) != known.end());
    }

    // A download folder: a copy of the program beside a planted DLL under each name the program loads
    // itself. version.dll is left out: Wine's own user32 imports it, so under Wine it is loaded before
    // any line of the program runs (Windows' user32 does not). The search order is Windows' own: the
    // planted name preferred to Wine's built-in one.
    const std::vector<std::string> planted = {"winhttp",  "iphlpapi", "gdiplus",
                                              "comctl32", "dwmapi",   "netshell"};
    const std::wstring dir = PathFromEnv("TARNELL_PLANT_DIR");
    CreateDirectoryW(dir.c_str(), nullptr);
    for (const std::string& found : MarkersIn(dir)) DeleteFileW((dir + L"\\" + Widened(found)).c_str());
    const std::wstring program = dir + L"\\tarnell.exe";
    REQUIRE(CopyFileW(original.c_str(), program.c_str(), FALSE));
    const std::wstring plant = PathFromEnv("TARNELL_PLANTED_DLL");
    std::wstring overrides;
    for (const std::string& name : planted) {
        REQUIRE(CopyFileW(plant.c_str(), (dir + L"\\" + Widened(name) + L".dll").c_str(), FALSE));
        overrides += (overrides.empty() ? L"" : L",") + Widened(name);
    }
    overrides += L"=n,b";
    // Set for the whole test (TARNELL_WINEDLLOVERRIDES): Wine takes the static imports' load order from
    // the environment the process was started with on the Unix side.
    const char* wineOverrides = std::getenv("WINEDLLOVERRIDES");
    REQUIRE(wineOverrides);
    REQUIRE(Widened(wineOverrides).find(overrides) != std::wstring::npos);

    // The planted DLL shows when it is loaded.
    {
        const std::wstring probe = dir + L"\\probe.dll";
        REQUIRE(CopyFileW(plant.c_str(), probe.c_str(), FALSE));
        HMODULE loaded = LoadLibraryW(probe.c_str());
        REQUIRE(loaded);
        FreeLibrary(loaded);
        CHECK(MarkersIn(dir) == std::vector<std::string>{"probe.dll.loaded"});
        DeleteFileW((probe + L".loaded").c_str());
        DeleteFileW(probe.c_str());
    }

    // Every feature that loads one of them: the window (GDI+, DWM, common controls), discovery (IP
    // Helper), the service check and the probe (WinHTTP), connection cycling (netshell), a link.
    Loopback loopback;
    RecordingShell shell;
    const std::string base = BaseUrl();
    loopback.SetServiceAnswer("{\"notify\":\"" + base + "/planted\"}");
    loopback.SetProbeMode("answer");
    ForgetSettings();
    const size_t logStart = loopback.Size();
    {
        Program copy(program);
        REQUIRE(copy.WaitForWindow());
        CHECK(WaitUntil([&] { return loopback.Count(logStart, "/api.init.php") >= 1; }, 20000));
        HWND notice = nullptr;
        CHECK(WaitUntil([&] { return (notice = copy.NoticeLine()) != nullptr; }, 10000));
        if (notice) {
            RECT r;
            GetClientRect(notice, &r);
            const LPARAM at = MAKELPARAM(r.right / 2, r.bottom / 2);
            PostMessageW(notice, WM_LBUTTONDOWN, MK_LBUTTON, at);
            PostMessageW(notice, WM_LBUTTONUP, 0, at);
            CHECK(WaitUntil([&] { return shell.Targets().size() >= 1; }, 10000));
            CHECK(shell.Targets() == std::vector<std::string>{base + "/planted"});
        }
        HWND start = copy.Control(u"BtnStart");
        REQUIRE(start);
        Click(start);
        CHECK(WaitUntil([&] { return TextOf(start) == "Running" && IsWindowEnabled(start); }, 20000));
        CHECK(loopback.Count(logStart, "/generate_204") >= 1);
        Click(start);
        CHECK(WaitUntil([&] { return TextOf(start) == "Run" && IsWindowEnabled(start); }, 20000));
        PostMessageW(copy.form, WM_CLOSE, 0, 0);
        DWORD code = 1;
        CHECK(copy.WaitForExit(15000, &code));
        CHECK(code == 0);
    }
    CHECK_FALSE(CrashHandlerRunning());
    std::string markers;
    for (const std::string& marker : MarkersIn(dir)) markers += marker + " ";
    CHECK(markers == "");
    ForgetSettings();
}

TEST_CASE("program: a link opens through the desktop shell, exactly as given") {
    // The program runs elevated; a link it opens itself would open elevated too. Which process started
    // the browser (here the recorder) tells the path: the desktop shell's process, or the program.
    Loopback loopback;
    RecordingShell shell;
    const std::string url = BaseUrl() + "/news?a=1&b=%20c#part";
    loopback.SetServiceAnswer("{\"notify\":\"" + url + "\"}");
    ForgetSettings();
    Program program;
    REQUIRE(program.WaitForWindow());
    HWND notice = nullptr;
    REQUIRE(WaitUntil([&] { return (notice = program.NoticeLine()) != nullptr; }, 20000));
    RECT r;
    GetClientRect(notice, &r);
    const LPARAM at = MAKELPARAM(r.right / 2, r.bottom / 2);
    PostMessageW(notice, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(notice, WM_LBUTTONUP, 0, at);
    REQUIRE(WaitUntil([&] { return shell.Targets().size() >= 1; }, 10000));
    Sleep(1000);  // nothing else follows
    CHECK(shell.Targets() == std::vector<std::string>{url});
    const std::vector<std::string> parents = shell.Parents();
    REQUIRE(parents.size() == 1);
    CHECK(Lower(parents[0]) == "explorer.exe");
    CHECK(program.Responsive());
}

// ----- Crash reporting: faults caused from outside the running program ------------------------------

namespace {

enum class Fault { AccessViolation, CppException, StackOverflow };

// The exported test hook's address inside the running program (e2e builds only): the program's image
// base there plus the hook's offset in the file's export table.
uintptr_t RemoteTestHook(const Program& program, const char* name = "TarnellTestThrow") {
    HMODULE image =
        LoadLibraryExW(PathFromEnv("TARNELL_PROGRAM").c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    REQUIRE(image);
    const auto* base = reinterpret_cast<const BYTE*>(reinterpret_cast<uintptr_t>(image) & ~uintptr_t(3));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    REQUIRE(dir.VirtualAddress != 0);
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    const auto* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
    const auto* functions = reinterpret_cast<const DWORD*>(base + exports->AddressOfFunctions);
    DWORD rva = 0;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        if (std::strcmp(reinterpret_cast<const char*>(base + names[i]), name) == 0)
            rva = functions[ordinals[i]];
    }
    FreeLibrary(image);
    REQUIRE(rva != 0);

    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, program.pi.dwProcessId);
    REQUIRE(snapshot != INVALID_HANDLE_VALUE);
    MODULEENTRY32W module{};
    module.dwSize = sizeof module;
    REQUIRE(Module32FirstW(snapshot, &module));  // the first module is the program itself
    CloseHandle(snapshot);
    return reinterpret_cast<uintptr_t>(module.modBaseAddr) + rva;
}

// Starts a thread in the program that faults: at an unmapped address, in the test hook that throws, or
// in five bytes of code that call themselves until the stack runs out. The same start address each time.
class FaultInjector {
  public:
    FaultInjector(const Program& program, Fault fault) : process_(program.pi.hProcess) {
        switch (fault) {
            case Fault::AccessViolation:
                start_ = 0x10;
                break;
            case Fault::CppException:
                start_ = RemoteTestHook(program);
                break;
            case Fault::StackOverflow: {
                void* code =
                    VirtualAllocEx(process_, nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
                REQUIRE(code);
                const BYTE callSelf[] = {0xE8, 0xFB, 0xFF, 0xFF, 0xFF};  // call rel32 -5
                REQUIRE(WriteProcessMemory(process_, code, callSelf, sizeof callSelf, nullptr));
                start_ = reinterpret_cast<uintptr_t>(code);
                break;
            }
        }
    }
    void Fire() {
        HANDLE thread = CreateRemoteThread(
            process_, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(start_), nullptr, 0, nullptr);
        REQUIRE(thread);
        CloseHandle(thread);
    }

  private:
    HANDLE process_;
    uintptr_t start_ = 0;
};

std::vector<HWND> Boxes(DWORD pid) {
    std::pair<DWORD, std::vector<HWND>> search{pid, {}};
    EnumWindows(
        [](HWND hwnd, LPARAM lp) -> BOOL {
            auto* s = reinterpret_cast<std::pair<DWORD, std::vector<HWND>>*>(lp);
            DWORD owner = 0;
            GetWindowThreadProcessId(hwnd, &owner);
            if (owner == s->first && ClassOf(hwnd) == L"#32770" && IsWindowVisible(hwnd))
                s->second.push_back(hwnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.second;
}

// Visible buttons' captions and every child's text, once the box shows its buttons.
void ReadBox(HWND box, std::vector<std::string>& buttons, std::string& texts) {
    struct Read {
        std::vector<std::string> buttons;
        std::string texts;
    } read;
    WaitUntil(
        [&] {
            read = Read{};
            EnumChildWindows(
                box,
                [](HWND child, LPARAM lp) -> BOOL {
                    auto* r = reinterpret_cast<Read*>(lp);
                    const std::string text = TextOf(child);
                    if (ClassOf(child) == L"Button" && IsWindowVisible(child)) r->buttons.push_back(text);
                    r->texts += text + "\n";
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&read));
            return !read.buttons.empty();
        },
        10000);
    buttons = read.buttons;
    texts = read.texts;
}

std::wstring ReportFile() {
    PWSTR base = nullptr;
    REQUIRE(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &base)));
    std::wstring path = std::wstring(base) + L"\\Tarnell\\bugreport.txt";
    CoTaskMemFree(base);
    return path;
}

int ReportsIn(const std::string& text) {
    int count = 0;
    for (const std::string& line : Lines(text)) count += line == "=== Tarnell crash report ===";
    return count;
}

// The reports the loopback fixture received, in order.
std::vector<std::string> ReceivedReports() {
    const std::wstring dir = PathFromEnv("TARNELL_LOOPBACK_DIR") + L"\\reports\\";
    std::vector<std::string> reports;
    for (int n = 1;; ++n) {
        const std::wstring path = dir + std::to_wstring(n) + L".txt";
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) break;
        reports.push_back(ReadWholeFile(path));
    }
    return reports;
}

void SetReportMode(const std::string& mode) {
    const std::wstring path = PathFromEnv("TARNELL_LOOPBACK_DIR") + L"\\report_mode";
    if (mode.empty()) {
        DeleteFileW(path.c_str());
    } else {
        REQUIRE(WriteWholeFile(path, mode));
    }
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST_CASE("program: crash faults from outside show the Close box, report once, open the error page and end") {
    struct Case {
        const char* name;
        Fault fault;
        const char* boxText;     // in the box
        const char* reportLine;  // in the report's exception section
    };
    const Case cases[] = {
        {"access violation", Fault::AccessViolation, "Access violation at address 0x0000000000000010",
         "  Code: 0xC0000005 EXCEPTION_ACCESS_VIOLATION"},
        {"C++ exception on a thread", Fault::CppException, "Test exception thrown on a thread of its own",
         "  Type: std::runtime_error"},
        {"stack overflow", Fault::StackOverflow, "Stack overflow at address",
         "  Code: 0xC00000FD EXCEPTION_STACK_OVERFLOW"},
    };
    Loopback loopback;
    loopback.SetServiceAnswer("{}");
    RecordingShell shell;
    const std::string errorPage = std::string(std::getenv("TARNELL_LOOPBACK_URL")) + "/error";
    for (const Case& c : cases) {
        for (const bool endpointUp : {true, false}) {
            CAPTURE(std::string(c.name));
            CAPTURE(endpointUp);
            SetReportMode(endpointUp ? "" : "drop");
            shell.Clear();
            const size_t reportsBefore = ReceivedReports().size();
            DeleteFileW(ReportFile().c_str());  // a file near its cap would not grow by a whole report
            const int filedBefore = 0;

            Program program;
            REQUIRE(program.WaitForWindow());
            FaultInjector injector(program, c.fault);
            injector.Fire();
            HWND box = nullptr;
            const bool shown = WaitUntil(
                [&] {
                    const std::vector<HWND> boxes = Boxes(program.pi.dwProcessId);
                    box = boxes.empty() ? nullptr : boxes.front();
                    return box != nullptr;
                },
                30000);
            const std::string state =
                program.Running() ? "no box; the program is still running" : "no box; the program is gone";
            CHECK_MESSAGE(shown, state);
            if (!shown) continue;
            CHECK(TextOf(box) == "Tarnell");
            std::vector<std::string> buttons;
            std::string texts;
            ReadBox(box, buttons, texts);
            CHECK(buttons == std::vector<std::string>{"Close"});
            CHECK_MESSAGE(Contains(texts, c.boxText), texts);

            // The same fault again while the box is up: no second box, no second report.
            injector.Fire();
            Sleep(3000);
            CHECK(Boxes(program.pi.dwProcessId).size() == 1);
            CHECK(program.Running());

            PostMessageW(box, WM_COMMAND, IDCLOSE, 0);
            CHECK(program.WaitForExit(30000));
            CHECK_FALSE(CrashHandlerRunning());
            WaitUntil([&] { return !shell.Targets().empty(); }, 10000);  // the shell starts the recorder
            const std::vector<std::string> opened = shell.Targets();
            CHECK_MESSAGE((opened == std::vector<std::string>{errorPage}),
                          (opened.empty() ? std::string("nothing") : opened[0]));

            const std::vector<std::string> received = ReceivedReports();
            const std::string filed = ReadWholeFile(ReportFile());
            if (endpointUp) {
                REQUIRE(received.size() == reportsBefore + 1);
                CHECK(ReportsIn(filed) == filedBefore);
                const std::string& report = received.back();
                CHECK(report.rfind("=== Tarnell crash report ===\r\n", 0) == 0);
                CHECK(Contains(report, std::string(c.reportLine) + "\r\n"));
                CHECK(Contains(report, "Program: Tarnell " TARNELL_VERSION_TEXT));
                CHECK(Contains(report, " (faulting)\r\n"));
                CHECK(Contains(report, "Threads ("));
                CHECK(Contains(report, "\\tarnell.exe\r\n"));  // the program among the modules
                CHECK(Contains(report, "Processes ("));
                CHECK(Contains(report, " app_program_robustness_win32_test.exe\r\n"));  // another process
                CHECK(Contains(report, "\\Tarnell\\tarnell.dmp\r\n"));
            } else {
                CHECK(received.size() == reportsBefore);
                CHECK(ReportsIn(filed) == filedBefore + 1);
                CHECK(Contains(filed, std::string(c.reportLine) + "\r\n"));
                CHECK(filed.size() <= 100000);
            }
        }
    }
    SetReportMode("");
}

namespace {

void StartRemoteThread(const Program& program, uintptr_t start) {
    HANDLE thread = CreateRemoteThread(program.pi.hProcess, nullptr, 0,
                                       reinterpret_cast<LPTHREAD_START_ROUTINE>(start), nullptr, 0, nullptr);
    REQUIRE(thread);
    CloseHandle(thread);
}

HWND WaitForBox(const Program& program, DWORD timeoutMs) {
    HWND box = nullptr;
    WaitUntil(
        [&] {
            const std::vector<HWND> boxes = Boxes(program.pi.dwProcessId);
            box = boxes.empty() ? nullptr : boxes.front();
            return box != nullptr;
        },
        timeoutMs);
    return box;
}

bool HasVisibleWindow(DWORD pid) {
    std::pair<DWORD, bool> search{pid, false};
    EnumWindows(
        [](HWND hwnd, LPARAM lp) -> BOOL {
            auto* s = reinterpret_cast<std::pair<DWORD, bool>*>(lp);
            DWORD owner = 0;
            GetWindowThreadProcessId(hwnd, &owner);
            if (owner == s->first && IsWindowVisible(hwnd)) s->second = true;
            return !s->second;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.second;
}

// A handled error on the UI thread (the test build's hook), its box answered "Close".
void HandledErrorClosed(const Program& program) {
    StartRemoteThread(program, RemoteTestHook(program, "TarnellTestThrowOnUiThread"));
    HWND box = WaitForBox(program, 30000);
    REQUIRE(box);
    PostMessageW(box, WM_COMMAND, IDCLOSE, 0);
    REQUIRE(WaitUntil([&] { return Boxes(program.pi.dwProcessId).empty(); }, 10000));
}

// Sets an environment variable for the programs this test starts, and takes it away again.
struct ScopedEnvironment {
    const wchar_t* name;
    ScopedEnvironment(const wchar_t* n, const wchar_t* value) : name(n) { SetEnvironmentVariableW(n, value); }
    ~ScopedEnvironment() { SetEnvironmentVariableW(name, nullptr); }
};

}  // namespace

TEST_CASE(
    "program: crash ends: every fatal error ends the process, within a bound, and never waits for nobody") {
    Loopback loopback;
    loopback.SetServiceAnswer("{}");
    RecordingShell shell;
    SetReportMode("");

    SUBCASE("a handled error, then the same error as a fatal one: a box again, and Close ends the process") {
        Program program;
        REQUIRE(program.WaitForWindow());
        HandledErrorClosed(program);
        CHECK(program.Running());  // a handled error: the program goes on

        StartRemoteThread(program, RemoteTestHook(program));
        HWND fatal = WaitForBox(program, 30000);
        CHECK_MESSAGE(fatal,
                      (program.Running() ? "no box; the program hangs" : "no box; the program is gone"));
        if (fatal) {
            PostMessageW(fatal, WM_COMMAND, IDCLOSE, 0);
            CHECK(program.WaitForExit(30000));
        }
    }
    SUBCASE(
        "Close while the endpoint holds the report: the window and the guard go at once, the report is "
        "already filed, and the process ends within the bound") {
        SetReportMode("hang");
        DeleteFileW(ReportFile().c_str());
        const size_t logStart = loopback.Size();
        Program program;
        REQUIRE(program.WaitForWindow());
        StartRemoteThread(program, RemoteTestHook(program));
        HWND box = WaitForBox(program, 30000);
        REQUIRE(box);
        // The endpoint took the report and does not answer; it is in the file all the same.
        REQUIRE(WaitUntil([&] { return loopback.Count(logStart, "/except.php held") == 1; }, 30000));
        CHECK(ReportsIn(ReadWholeFile(ReportFile())) == 1);

        PostMessageW(box, WM_COMMAND, IDCLOSE, 0);
        const DWORD closed = GetTickCount();
        const bool hidden =
            WaitUntil([&] { return !program.Running() || !IsWindowVisible(program.form); }, 5000);
        const DWORD hiddenAfter = GetTickCount() - closed;
        const bool released = WaitUntil(
            [&] {
                HANDLE guard = OpenMutexW(SYNCHRONIZE, FALSE, L"TarnellMutex");
                if (guard) CloseHandle(guard);
                return guard == nullptr;
            },
            5000);
        const DWORD releasedAfter = GetTickCount() - closed;
        const bool ended = program.WaitForExit(60000);
        const DWORD endedAfter = GetTickCount() - closed;
        MESSAGE("after Close: window gone " << hiddenAfter << " ms, guard released " << releasedAfter
                                            << " ms, process ended " << endedAfter << " ms");
        CHECK(hidden);
        CHECK(released);
        CHECK(ended);
        CHECK(endedAfter < 15000);  // the bound is 10 s
        const std::string filed = ReadWholeFile(ReportFile());
        CHECK(ReportsIn(filed) == 1);  // not sent: it stays in the file
        CHECK(Contains(filed, "  Message: Test exception thrown on a thread of its own\r\n"));
        SetReportMode("");
    }
    SUBCASE(
        "a handled error's report in flight when the window is closed: filed, and the exit waits a bound") {
        SetReportMode("hang");
        DeleteFileW(ReportFile().c_str());
        Program program;
        REQUIRE(program.WaitForWindow());
        HandledErrorClosed(program);
        PostMessageW(program.form, WM_CLOSE, 0, 0);
        const DWORD closed = GetTickCount();
        CHECK(program.WaitForExit(60000));
        MESSAGE("the process ended " << GetTickCount() - closed << " ms after the window was closed");
        const std::string filed = ReadWholeFile(ReportFile());
        CHECK(ReportsIn(filed) == 1);
        CHECK(Contains(filed, "  Message: Test exception thrown on a thread of its own\r\n"));
        // Where it was thrown, not only where the hand-over caught it.
        CHECK(Contains(filed, "\r\nThrown at\r\n"));
        SetReportMode("");
    }
    SUBCASE("the crash thread stuck: the faulting thread ends the process itself with a short report") {
        DeleteFileW(ReportFile().c_str());
        ScopedEnvironment stall(L"TARNELL_TEST_CRASH_THREAD_STALLS", L"1");
        Program program;
        REQUIRE(program.WaitForWindow());
        const DWORD fired = GetTickCount();
        StartRemoteThread(program, 0x10);
        DWORD code = 0;
        REQUIRE(program.WaitForExit(60000, &code));
        MESSAGE("ended " << GetTickCount() - fired << " ms after the fault");
        CHECK(code == 0xC0000005);
        const std::string filed = ReadWholeFile(ReportFile());
        CHECK_MESSAGE(Contains(filed, "short report"), filed);
        CHECK(Contains(filed, "Exception: code 0xC0000005 at "));
    }
    SUBCASE("a fatal error in a command: no window at all, the report out, and the command's error code") {
        SetReportMode("drop");
        DeleteFileW(ReportFile().c_str());
        ScopedEnvironment fault(L"TARNELL_TEST_COMMAND_FAULT", L"1");
        const std::wstring path = PathFromEnv("TARNELL_PROGRAM");
        std::wstring commandLine = L"\"" + path + L"\" --revert";
        STARTUPINFOW si{sizeof si};
        PROCESS_INFORMATION pi{};
        REQUIRE(CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &si, &pi));
        bool windowSeen = false;
        const DWORD started = GetTickCount();
        while (WaitForSingleObject(pi.hProcess, 20) == WAIT_TIMEOUT && GetTickCount() - started < 60000)
            windowSeen = windowSeen || HasVisibleWindow(pi.dwProcessId);
        DWORD code = 0;
        const bool ended = WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0;
        GetExitCodeProcess(pi.hProcess, &code);
        if (!ended) TerminateProcess(pi.hProcess, 1);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        MESSAGE("the command ended after " << GetTickCount() - started << " ms");
        CHECK(ended);
        CHECK_FALSE(windowSeen);
        CHECK(code == 6);
        CHECK(ReportsIn(ReadWholeFile(ReportFile())) == 1);
        CHECK(shell.Targets().empty());  // no error page either
        SetReportMode("");
    }
}
