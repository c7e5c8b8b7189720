// Hostile, malformed and oversized service answers, the hold request and the desktop shell road: what
// reaches the shell, and that the program stays alive.
#include "program_robustness_win32.h"

using namespace tarnell;
using namespace tarnell::e2e;

namespace {

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
    bool prompt = false;                // the update prompt is offered
    bool noteLabel = false;             // ... with a note link label, which the test clicks
    Answer answer = Answer::No;         // what the test answers the prompt
    bool notice = false;                // the notice line is shown afterwards; the test clicks it
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
        REQUIRE_FALSE(ReadBox(prompt).buttons.empty());  // laid out: its buttons are there
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
        {.name = "web update link, Yes",
         .body = "{\"update\":\"" + safe + "\"}",
         .prompt = true,
         .answer = Answer::Yes,
         .expected = {safe}},
        {.name = "web notice link",
         .body = "{\"notify\":\"" + base + "/news\"}",
         .notice = true,
         .expected = {base + "/news"}},
        {.name = "web note link",
         .body = "{\"update\":\"" + safe + "\",\"info\":{\"style\":\"note\",\"text\":\"Read\",\"url\":\"" +
                 base + "/notes\"}}",
         .prompt = true,
         .noteLabel = true,
         .expected = {base + "/notes"}},
        {.name = "upper-case scheme",
         .body = "{\"update\":\"HTTP://127.0.0.1/Setup\"}",
         .prompt = true,
         .answer = Answer::Yes,
         .expected = {"HTTP://127.0.0.1/Setup"}},
        // Hostile links: no prompt, no notice, nothing to the shell.
        {.name = "paths", .body = "{\"update\":\"" + path + "\",\"notify\":\"" + path + "\"}"},
        {.name = "file: URLs", .body = "{\"update\":\"" + file + "\",\"notify\":\"" + file + "\"}"},
        {.name = "other schemes",
         .body = "{\"update\":\"tarnellrec:update\",\"notify\":\"TarnellRec://notify\"}"},
        {.name = "UNC and device paths",
         .body = "{\"update\":\"" + device + "\",\"notify\":\"" + share + "\"}"},
        {.name = "scheme without a host",
         .body = "{\"update\":\"http:///Z:/x.exe\",\"notify\":\"http:" + share + "\"}"},
        {.name = "quote breaking out of the command line",
         .body = "{\"update\":\"" + base + "/a\\\" " + path + "\",\"notify\":\" " + base + "/lead\"}"},
        {.name = "javascript and mailto",
         .body = "{\"update\":\"javascript:alert(1)\",\"notify\":\"mailto:a@b.c\"}"},
        // Hostile note links beside a web update link: the prompt shows, the link opens nothing.
        {.name = "note link to a file: URL",
         .body = "{\"update\":\"" + safe + "\",\"info\":{\"style\":\"note\",\"text\":\"Read\",\"url\":\"" +
                 file + "\"}}",
         .prompt = true,
         .noteLabel = true},
        {.name = "note link to a path",
         .body = "{\"update\":\"" + safe + "\",\"info\":{\"style\":\"note\",\"text\":\"Read\",\"url\":\"" +
                 path + "\"}}",
         .prompt = true,
         .noteLabel = true},
        {.name = "note link to another scheme",
         .body = "{\"update\":\"" + safe +
                 "\",\"info\":{\"style\":\"note\",\"text\":\"Read\",\"url\":\"tarnellrec:note\"}}",
         .prompt = true,
         .noteLabel = true},
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
        {.name = "body over 1 MiB", .body = huge},
        {.name = "invalid UTF-8",
         .body = std::string("\xff\xfe\xc3(\x80{\"update\":\"") + safe +
                 "\",\"info\":{\"style\":\"note\",\"text\":\"\xed\xa0\x80\xf8\x88\x80\x80\x80\",\"url\":\"" +
                 file + "\"},\"notify\":\"" + base + "/n\xc3\"}",
         .prompt = true,
         .noteLabel = true,
         .notice = true,
         .expected = {base + "/n\xef\xbf\xbd"}},
        {.name = "unterminated info object",
         .body = "{\"update\":\"" + safe + "\",\"info\":{\"style\":\"note\",\"text\":\"Read\",\"url\":\"" +
                 file + "\"",
         .prompt = true},
        {.name = "\\u at the end of a value and of the body",
         .body = "{\"notify\":\"" + base + "/e\\u\",\"update\":\"" + base + "/f\\u"},
        {.name = "short \\u escapes",
         .body = "{\"notify\":\"" + base + "/g\\u00\",\"update\":\"" + base + "/h\\u12G4\"}"},
        {.name = "nested braces",
         .body = braces +
                 "{\"info\":{\"x\":{\"style\":\"note\"},\"style\":\"note\",\"text\":\"{{{{\",\"url\":\"{"
                 "\\\"a\\\":{}}\"},"
                 "\"update\":\"" +
                 safe + "\",\"y\":{\"z\":{}}}}",
         .prompt = true,
         .noteLabel = true},
        // The update link is over the length limit: no prompt.
        {.name = "very long fields",
         .body = "{\"update\":\"" + base + "/" + longPath + "\",\"info\":{\"style\":\"note\",\"text\":\"" +
                 std::string(100000, 'W') +
                 "\",\"url\":\"tarnellrec:x\"},\"notify\":\"tarnellrec:" + longPath + "\"}"},
        {.name = "a field marker repeated to the limit", .body = "{" + markers + "}"},
        {.name = "not JSON at all", .body = std::string("\0\0\0\x01<html>", 11)},
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
        scenarios.push_back({.name = names.back().c_str(),
                             .body = "{\"update\":\"" + l + "\"}",
                             .prompt = fits,
                             .answer = Answer::Yes,
                             .expected = fits ? std::vector<std::string>{l} : std::vector<std::string>{}});
        names.push_back("notice link of " + tag + ", clicked");
        scenarios.push_back({.name = names.back().c_str(),
                             .body = "{\"notify\":\"" + l + "\"}",
                             .notice = fits,
                             .expected = fits ? std::vector<std::string>{l} : std::vector<std::string>{}});
        names.push_back("note link of " + tag + ", clicked");
        scenarios.push_back({.name = names.back().c_str(),
                             .body = "{\"update\":\"" + safe +
                                     "\",\"info\":{\"style\":\"note\",\"text\":\"Read\",\"url\":\"" + l +
                                     "\"}}",
                             .prompt = true,
                             .noteLabel = true,
                             .expected = fits ? std::vector<std::string>{l} : std::vector<std::string>{}});
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
        REQUIRE_FALSE(ReadBox(prompt).buttons.empty());  // laid out: its buttons are there
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
