#include "update/service_check.h"

#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "base/text.h"

using namespace tarnell;

namespace {

// A scripted service on a clock of its own: the outcome of each attempt, the time paused, and when
// termination begins.
struct FakeService {
    std::vector<bool> answers;  // per attempt: true = success
    int terminateAtMs = -1;     // the flag turns on once this much time has passed in pauses
    int attempts = 0;
    int elapsedMs = 0;
    int pauses = 0;
    std::vector<int> msBeforeAttempt;  // time paused before each attempt

    ServiceWorkerSteps Steps() {
        return {[this](std::u16string& data) {
                    msBeforeAttempt.push_back(elapsedMs);
                    const bool ok = attempts < static_cast<int>(answers.size()) && answers[attempts];
                    ++attempts;
                    if (ok) data = u"answer " + std::u16string(1, char16_t(u'0' + attempts));
                    return ok;
                },
                [this](int ms) {
                    ++pauses;
                    if (terminateAtMs >= 0 && elapsedMs + ms > terminateAtMs) {
                        elapsedMs = terminateAtMs > elapsedMs ? terminateAtMs : elapsedMs;
                        return false;
                    }
                    elapsedMs += ms;
                    return true;
                }};
    }
};

}  // namespace

TEST_CASE("The worker stops at the first answer") {
    FakeService service{{true}};
    std::u16string data;
    CHECK(RunServiceAttempts(service.Steps(), data) == ServiceWorkerResult::Answered);
    CHECK(data == u"answer 1");
    CHECK(service.attempts == 1);
    CHECK(service.pauses == 0);
}

TEST_CASE("A failed attempt is followed by exactly one pause of ten seconds before the next") {
    // One wait against a deadline, not a count of short sleeps that each oversleep to the timer's tick.
    FakeService service{{false, true}};
    std::u16string data;
    CHECK(RunServiceAttempts(service.Steps(), data) == ServiceWorkerResult::Answered);
    CHECK(data == u"answer 2");
    CHECK(service.msBeforeAttempt == std::vector<int>{0, 10000});
    CHECK(service.pauses == 1);
}

TEST_CASE("Without any answer: six attempts, each followed by its pause, then the worker gives up") {
    FakeService service{{}};
    std::u16string data = u"untouched";
    CHECK(RunServiceAttempts(service.Steps(), data) == ServiceWorkerResult::GaveUp);
    CHECK(data == u"untouched");
    CHECK(service.attempts == 6);
    CHECK(service.msBeforeAttempt == std::vector<int>{0, 10000, 20000, 30000, 40000, 50000});
    CHECK(service.elapsedMs == 60000);  // the sixth failure is paused too
}

TEST_CASE("Termination during a pause ends the worker at once") {
    struct Case {
        int terminateAt, attempts, elapsed;
    };
    const Case cases[] = {
        {0, 1, 0},          // already terminating when the first pause begins
        {10, 1, 10},        // 10 ms in
        {15000, 2, 15000},  // in the middle of the second pause
        {59990, 6, 59990},  // during the pause after the last attempt
    };
    for (const auto& c : cases) {
        CAPTURE(c.terminateAt);
        FakeService service{{}, c.terminateAt};
        std::u16string data;
        CHECK(RunServiceAttempts(service.Steps(), data) == ServiceWorkerResult::Terminated);
        CHECK(service.attempts == c.attempts);
        CHECK(service.elapsedMs == c.elapsed);
    }
}

TEST_CASE("Termination is not looked at while attempts succeed") {
    FakeService service{{true}, 0};
    std::u16string data;
    CHECK(RunServiceAttempts(service.Steps(), data) == ServiceWorkerResult::Answered);
}

TEST_CASE("Only absolute http and https URLs may go to the shell") {
    struct Case {
        std::u16string url;
        bool safe;
    };
    const Case cases[] = {
        {u"https://service.example/update.exe", true},
        {u"http://service.example/a?b=c&d=%20#top", true},
        {u"HTTPS://Service.Example/x", true},
        {u"https://例え.jp/パス", true},
        {u"", false},
        {u"https://", false},
        {u"https:///etc/passwd", false},
        {u"http:\\\\server\\share", false},
        {u"http://\\\\server\\share", false},
        {u"file:///C:/Windows/System32/calc.exe", false},
        {u"C:\\Windows\\System32\\calc.exe", false},
        {u"\\\\server\\share\\setup.exe", false},
        {u"calc.exe", false},
        {u"javascript:alert(1)", false},
        {u"ftp://host/file", false},
        {u"httpx://host/", false},
        {u" https://host/", false},
        {u"https://host/\r\nx", false},
        {u"https://host/\tx", false},
        {u"https://host/a b", false},
        {u"https://host/\u0085", false},
        {u"https://host/\" --flag \"", false},
        {u"https://host/a|b", false},
        {u"//host/path", false},
        // Unicode blanks, separators and format characters could disguise the link in the address bar.
        {u"https://a.example/\u202egnp.exe\u00a0\u2028\u3000z", false},
        {u"https://a.example/x\u00a0y", false},      // no-break space
        {u"https://a.example/x\u2007y", false},      // figure space
        {u"https://a.example/x\u202fy", false},      // narrow no-break space
        {u"https://a.example/x\u1680y", false},      // ogham space mark
        {u"https://a.example/x\u3000y", false},      // ideographic space
        {u"https://a.example/x\u2028y", false},      // line separator
        {u"https://a.example/x\u2029y", false},      // paragraph separator
        {u"https://a.example/x\u202ey", false},      // right-to-left override
        {u"https://a.example/x\u2066y", false},      // left-to-right isolate
        {u"https://a.example/x\u200by", false},      // zero-width space
        {u"https://a.example/x\u200dy", false},      // zero-width joiner
        {u"https://a.example/x\u200fy", false},      // right-to-left mark
        {u"https://a.example/x\u00ady", false},      // soft hyphen
        {u"https://a.example/x\ufeffy", false},      // zero-width no-break space
        {u"https://a.example/x\u061cy", false},      // Arabic letter mark
        {u"https://a.example/x\U000E0041y", false},  // a tag character
        {u"https://a.example/x\u3164y", false},      // Hangul filler
        {u"https://a.example/x\u115fy", false},      // Hangul choseong filler
        {u"https://a.example/x\uffa0y", false},      // halfwidth Hangul filler
        {u"https://a.example/x\u034fy", false},      // combining grapheme joiner
        {u"https://a.example/x\ufe0fy", false},      // variation selector 16
        {u"https://a.example/x\u180by", false},      // Mongolian free variation selector
        {u"https://a.example/x\u17b4y", false},      // Khmer inherent vowel
        {u"https://a.example/x\u2800y", false},      // braille pattern blank
        {u"https://a.example/x\ufff0y", false},      // unassigned special
        {u"https://a.example/\u3131", true},         // a Hangul letter that shows
        {u"https://a.example/x" + std::u16string(1, char16_t(0xD800)) + u"y", false},  // lone surrogates
        {u"https://a.example/x" + std::u16string(1, char16_t(0xDC00)), false},
        {u"https://a.example/x" + std::u16string(1, char16_t(0xD800)), false},
        {u"https://a.example/x\ufdd0y", false},  // noncharacters
        {u"https://a.example/x\uffffy", false},
        {u"https://a.example/x\U0001FFFEy", false},
        {u"https://a.example/\U0001F600", true},  // a pair that is a real character is fine
        {u"https://a.example/caf\u00e9", true},
    };
    for (const auto& c : cases) {
        CAPTURE(Utf16ToUtf8(c.url));
        CHECK(IsShellSafeUrl(c.url) == c.safe);
    }
}

TEST_CASE("Links that are not what they show are refused; hosts in other scripts pass") {
    struct Case {
        const char* what;
        std::u16string url;
        bool safe;
    };
    const Case cases[] = {
        // The host is what follows the user information.
        {"user-info before the host", u"https://update.tarnell.example@evil.example/", false},
        {"user and password", u"https://user:pw@evil.example/x", false},
        {"empty user-info", u"http://@evil.example/", false},
        {"an @ in the path is no user-info", u"https://a.example/people/@me", true},
        {"an @ in the query", u"https://a.example/?mail=a@b.example", true},
        // No host at all.
        {"empty host with a port", u"http://:80/x", false},
        {"empty host, port only", u"https://:443", false},
        {"a port after a host", u"https://a.example:8443/x", true},
        {"an IPv6 literal", u"http://[::1]:8080/x", true},
        {"an unclosed IPv6 literal", u"http://[::1/x", false},
        // Format characters (Cf) next to the Arabic number signs the check already refused.
        {"U+0890 Arabic pound mark above", u"https://a.example/x\u0890y", false},
        {"U+0891 Arabic piastre mark above", u"https://a.example/x\u0891y", false},
        {"U+0600 Arabic number sign", u"https://a.example/x\u0600y", false},
        // Combining marks with no base: at the start of a segment, a label or the host.
        {"U+0300 after a slash", u"https://a.example/\u0300x", false},
        {"U+0301 after a dot", u"https://a.example/x.\u0301y", false},
        {"U+0300 first in the host", u"https://\u0300a.example/", false},
        {"U+0300 after a question mark", u"https://a.example/x?\u0300", false},
        {"a combining acute on a letter", u"https://a.example/cafe\u0301", true},
        {"two marks on one letter", u"https://a.example/e\u0301\u0323", true},
        // Marks that strike out or enclose what they follow.
        {"U+0336 long stroke overlay", u"https://a.example/a\u0336b", false},
        {"U+20DD enclosing circle", u"https://a.example/a\u20ddb", false},
        {"U+20DD after a slash", u"https://a.example/\u20dd", false},
        // Private use: drawn as nothing.
        {"U+E000 private use", u"https://a.example/x\ue000y", false},
        {"U+F8FF private use", u"https://a.example/x\uf8ffy", false},
        {"U+F0000 supplementary private use", u"https://a.example/x\U000F0000y", false},
        // Symbols that draw as a blank, and unassigned code points.
        {"U+1D159 null notehead", u"https://a.example/x\U0001D159y", false},
        {"U+FFFC object replacement", u"https://a.example/x\ufffcy", false},
        {"U+16FE4 Khitan filler", u"https://a.example/x\U00016FE4y", false},
        {"U+13440 Egyptian mirror control", u"https://a.example/x\U00013440y", false},
        {"U+1BCA4 after the shorthand controls", u"https://a.example/x\U0001BCA4y", false},
        {"U+0378 unassigned", u"https://a.example/x\u0378y", false},
        {"U+E0080 unassigned", u"https://a.example/x\U000E0080y", false},
        // Hosts in other scripts and their xn-- forms: the browser shows them.
        {"a Korean host", u"https://\ud55c\uad6d.example/", true},
        {"a Cyrillic host", u"https://\u043f\u0440\u0438\u043c\u0435\u0440.example/", true},
        {"an xn-- host", u"https://xn--3e0b707e.example/", true},
        {"a Devanagari word with its vowel signs", u"https://a.example/\u0939\u093f\u0902", true},
    };
    for (const auto& c : cases) {
        const std::string what = c.what;
        CAPTURE(what);
        CHECK(IsShellSafeUrl(c.url) == c.safe);
    }
}

TEST_CASE("LinkHost gives the host the link goes to") {
    struct Case {
        std::u16string url;
        std::u16string host;
    };
    const Case cases[] = {
        {u"https://dl.tarnell.example/setup.exe", u"dl.tarnell.example"},
        {u"HTTP://Dl.Example:8080?x", u"Dl.Example"},
        {u"https://a.example#top", u"a.example"},
        {u"http://[::1]:80/", u"[::1]"},
        {u"https://update.tarnell.example@evil.example/", u""},
        {u"http://:80/x", u""},
        {u"https:///x", u""},
    };
    for (const auto& c : cases) {
        CAPTURE(Utf16ToUtf8(c.url));
        CHECK(std::u16string(LinkHost(c.url)) == c.host);
    }
}

TEST_CASE("A link longer than 2,048 UTF-16 units is never handed to the shell") {
    const std::u16string base = u"https://a.example/";
    struct Case {
        size_t length;
        bool safe;
    };
    const Case cases[] = {{900, true}, {1018, true}, {2048, true}, {2049, false}, {200000, false}};
    for (const auto& c : cases) {
        CAPTURE(c.length);
        const std::u16string url = base + std::u16string(c.length - base.size(), u'a');
        REQUIRE(url.size() == c.length);
        CHECK(IsShellSafeUrl(url) == c.safe);
    }
}

TEST_CASE("ReadUpdateInfo takes the four fields of the info object, unescaped") {
    const UpdateInfo info = ReadUpdateInfo(
        u"{\"update\":\"https://u/\",\"info\":{\"style\":\"note\",\"text\":\"say \\\"hi\\\"\","
        u"\"flag\":\"x stayontop y\",\"url\":\"https:\\/\\/n\\/\"},\"text\":\"outside\"}");
    CHECK(info.style == u"note");
    CHECK(info.text == u"say \"hi\"");
    CHECK(info.flag == u"x stayontop y");
    CHECK(info.url == u"https://n/");
    CHECK(IsStayOnTop(info));

    SUBCASE("without an info object every field is empty, even when the answer has such keys elsewhere") {
        const UpdateInfo none = ReadUpdateInfo(u"{\"style\":\"hold\",\"text\":\"t\"}");
        CHECK(none.style.empty());
        CHECK(none.text.empty());
    }
    SUBCASE("the flag is matched with its exact case") {
        CHECK_FALSE(IsStayOnTop(ReadUpdateInfo(u"{\"info\":{\"flag\":\"StayOnTop\"}}")));
    }
    SUBCASE("a url ending in an escaped backslash runs to the next quote of the object") {
        const UpdateInfo odd = ReadUpdateInfo(u"{\"info\":{\"url\":\"C:\\\\\",\"style\":\"note\"}}");
        CHECK(odd.url == u"C:\\\",");
        CHECK(odd.style == u"note");
    }
}

TEST_CASE("The completion prompts for an update link, opens it on Yes, and shows a notify link") {
    struct Case {
        const char* what;
        std::u16string data;
        bool answerYes;
        std::vector<std::string> expected;
        bool flag;
    };
    const Case cases[] = {
        {"update and notify, Yes",
         u"{\"update\":\"https://u/x\",\"notify\":\"https://n/\"}",
         true,
         {"dialog", "open https://u/x", "status https://n/"},
         true},
        {"update and notify, No",
         u"{\"update\":\"https://u/x\",\"notify\":\"https://n/\"}",
         false,
         {"dialog", "status https://n/"},
         false},
        {"notify only", u"{\"notify\":\"https:\\/\\/n\\/\"}", true, {"status https://n/"}, false},
        {"empty update with an info object",
         u"{\"update\":\"\",\"info\":{\"style\":\"hold\"}}",
         true,
         {},
         false},
        {"an HTML error page", u"<html><body>404 Not Found</body></html>", true, {}, false},
        {"nothing at all", u"", true, {}, false},
        {"an update link the shell must not get",
         u"{\"update\":\"file:///C:/x.exe\",\"notify\":\"https://n/\"}",
         true,
         {"status https://n/"},
         false},
        {"a notify link the shell must not get",
         u"{\"notify\":\"\\\\\\\\server\\\\share\"}",
         true,
         {},
         false},
        {"a malformed \\u escape in a link", u"{\"update\":\"https://u/\\uZZ\"}", true, {}, false},
    };
    for (const auto& c : cases) {
        CAPTURE(c.what);
        std::vector<std::string> calls;
        auto narrow = [](const std::u16string& s) { return std::string(s.begin(), s.end()); };
        const ServiceCompletionSteps steps{
            [&](const std::u16string& data) {
                CHECK(data == c.data);
                calls.push_back("dialog");
                return c.answerYes;
            },
            [&](const std::u16string& link) { calls.push_back("open " + narrow(link)); },
            [&](const std::u16string& link) { calls.push_back("status " + narrow(link)); }};
        CHECK(CompleteServiceCheck(c.data, steps) == c.flag);
        CHECK(calls == c.expected);
    }
}
