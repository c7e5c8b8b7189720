// The language name read through a GetLocaleInfoW-shaped query, and the two-letter choice.
#include "translate/ui_language.h"

#include <doctest/doctest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/text.h"

using namespace tarnell;

namespace {

// Answers like GetLocaleInfoW for a stored name, with optional failures, and records its calls.
struct FakeLocale {
    std::u16string name;
    std::optional<int> sizeAnswer;  // default: the real size, name + NUL
    std::optional<int> fillAnswer;  // default: the number of characters written
    bool writeNul = true;
    std::vector<int> sizes;

    int operator()(char16_t* buffer, int size) {
        sizes.push_back(size);
        const int needed = static_cast<int>(name.size()) + 1;
        if (!buffer) return sizeAnswer.value_or(needed);
        if (fillAnswer && *fillAnswer <= 0) return *fillAnswer;
        int n = 0;
        for (; n < size && n < static_cast<int>(name.size()); ++n) buffer[n] = name[n];
        if (writeNul && n < size) buffer[n++] = u'\0';
        return fillAnswer.value_or(n);
    }
};

std::string Read(FakeLocale& fake) {
    return Utf16ToUtf8(ReadLocaleLanguageName([&](char16_t* b, int s) { return fake(b, s); }));
}

}  // namespace

TEST_CASE("language name: two calls, the second with the size the first answered") {
    FakeLocale fake{u"ko"};
    CHECK(Read(fake) == "ko");
    CHECK(fake.sizes == std::vector<int>{0, 3});

    FakeLocale fil{u"fil"};
    CHECK(Read(fil) == "fil");
    CHECK(fil.sizes == std::vector<int>{0, 4});
}

TEST_CASE("language name: failures give \"en\"; odd answers never read past the buffer") {
    struct Case {
        const char* what;
        FakeLocale fake;
        const char* expected;
    };
    Case cases[] = {
        {"size query fails", {u"ko", 0}, "en"},
        {"size query negative", {u"ko", -5}, "en"},
        {"fill fails", {u"ko", std::nullopt, 0}, "en"},
        {"fill negative", {u"ko", std::nullopt, -1}, "en"},
        {"cut at the first NUL", {std::u16string(u"ja\0xx", 5)}, "ja"},
        {"no NUL written", {u"fil", std::nullopt, std::nullopt, false}, "fil"},
        {"more claimed than the buffer holds", {u"de", std::nullopt, 1000}, "de"},
        {"fewer claimed than written", {u"abc", std::nullopt, 2, false}, "ab"},
        {"empty name", {u""}, ""},
    };
    for (Case& c : cases) {
        const std::string what = c.what;
        CAPTURE(what);
        CHECK(Read(c.fake) == c.expected);
    }
}

TEST_CASE("UI language: the first two characters of the name, all of it when shorter") {
    CHECK(ChooseUILanguage(u"ko") == u"ko");
    CHECK(ChooseUILanguage(u"fil") == u"fi");
    CHECK(ChooseUILanguage(u"haw") == u"ha");
    CHECK(ChooseUILanguage(u"e") == u"e");
    CHECK(ChooseUILanguage(u"") == u"");
}
