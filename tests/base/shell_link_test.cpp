#include "base/shell_link.h"

#include <doctest/doctest.h>

#include <string>

#include "base/text.h"

using namespace tarnell;

TEST_CASE("CommandForLink builds the program and command line of a scheme's open command") {
    const std::u16string url = u"https://a.example/x?y=1";
    struct Case {
        const char* what;
        std::u16string command;
        std::u16string program;
        std::u16string commandLine;
    };
    const Case cases[] = {
        {"quoted program, quoted %1", u"\"C:\\Program Files\\B\\b.exe\" --single-argument \"%1\"",
         u"C:\\Program Files\\B\\b.exe",
         u"\"C:\\Program Files\\B\\b.exe\" --single-argument \"" + url + u"\""},
        {"unquoted program with blanks", u"C:\\Program Files\\B\\b.exe -osint -url %1",
         u"C:\\Program Files\\B\\b.exe", u"\"C:\\Program Files\\B\\b.exe\" -osint -url " + url},
        {"%L and %* and %%", u"\"C:\\b.exe\" %L %* 100%%", u"C:\\b.exe", u"\"C:\\b.exe\" " + url + u"  100%"},
        {"no placeholder: the link is added", u"\"C:\\b.exe\" -new", u"C:\\b.exe",
         u"\"C:\\b.exe\" -new \"" + url + u"\""},
        {"a program without .exe", u"C:\\tools\\open %1", u"C:\\tools\\open", u"\"C:\\tools\\open\" " + url},
    };
    for (const auto& c : cases) {
        const std::string what = c.what;
        CAPTURE(what);
        std::u16string program, commandLine;
        REQUIRE(CommandForLink(c.command, url, program, commandLine));
        CHECK(Utf16ToUtf8(program) == Utf16ToUtf8(c.program));
        CHECK(Utf16ToUtf8(commandLine) == Utf16ToUtf8(c.commandLine));
    }
    std::u16string program, commandLine;
    CHECK_FALSE(CommandForLink(u"", url, program, commandLine));
    CHECK_FALSE(CommandForLink(u"\"C:\\unclosed.exe %1", url, program, commandLine));
}
