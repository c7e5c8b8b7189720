// The table file's bytes, the reader's line rules and the lookup's rules, on the real table and on
// small tables that show one rule each.
#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "table_file.h"
#include "translate/translation.h"

using namespace tarnell;

namespace {

std::string U8(const std::u16string& s) {
    return Utf16ToUtf8(s);
}

std::vector<std::string> U8(const std::vector<std::u16string>& lines) {
    std::vector<std::string> out;
    for (const auto& l : lines) out.push_back(Utf16ToUtf8(l));
    return out;
}

std::vector<std::u16string> Table(std::string_view utf8) {
    return ReadTranslationLines(utf8);
}

std::u16string Lookup(const std::vector<std::u16string>& table, const char* source, const char* language) {
    return LookupTranslation(table, Utf8ToUtf16(source), Utf8ToUtf16(language));
}

const char* const kCodes[] = {"ko", "en", "ja", "zh", "ru", "it", "fr"};

}  // namespace

TEST_CASE("table file: BOM, 127 lines, CR LF everywhere but one lone LF after the Italian line of entry 5") {
    const std::string bytes = ReadTableFile();
    REQUIRE(bytes.size() > 3);
    CHECK(bytes.compare(0, 3, "\xEF\xBB\xBF") == 0);

    // Walk the raw bytes: every break, and which kind it is.
    std::vector<std::string> lines;
    std::vector<std::string> breaks;
    size_t start = 3;
    for (size_t i = 3; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            lines.push_back(bytes.substr(start, i - start));
            breaks.push_back("CRLF");
            start = ++i + 1;
        } else if (bytes[i] == '\r' || bytes[i] == '\n') {
            lines.push_back(bytes.substr(start, i - start));
            breaks.push_back(bytes[i] == '\r' ? "CR" : "LF");
            start = i + 1;
        }
    }
    CHECK(start == bytes.size());  // the last line has its break too
    REQUIRE(lines.size() == 127);
    for (size_t i = 0; i < breaks.size(); ++i) {
        CAPTURE(i);
        CHECK(breaks[i] == (i == 37 ? "LF" : "CRLF"));
    }
    CHECK(lines[37] == "it=Dona");

    // 16 blocks of seven lines in the fixed language order, one empty line between blocks.
    for (size_t entry = 0; entry < 16; ++entry) {
        for (size_t k = 0; k < 7; ++k) {
            const std::string& line = lines[entry * 8 + k];
            CAPTURE(line);
            CHECK(line.rfind(std::string(kCodes[k]) + "=", 0) == 0);
            CHECK(line.size() > 3);
        }
        if (entry < 15) CHECK(lines[entry * 8 + 7].empty());
    }
}

TEST_CASE("reader: the real table gives its 127 lines with the BOM dropped") {
    const std::vector<std::u16string> table = ReadTranslationLines(ReadTableFile());
    REQUIRE(table.size() == 127);
    CHECK(U8(table[0]) == "ko=타르넬");
    CHECK(U8(table[37]) == "it=Dona");
    CHECK(U8(table[38]) == "fr=Donner");
    CHECK(U8(table[126]) == "fr=Indice de limitation réseau");
    // No texts share a line between entries: each text part appears in one entry only.
    for (size_t i = 0; i < table.size(); ++i) {
        for (size_t j = i + 1; j < table.size(); ++j) {
            if (table[i].empty() || table[j].empty() || i / 8 == j / 8) continue;
            CAPTURE(U8(table[i]));
            CHECK_FALSE(EqualsAsciiNoCase(LineText(table[i]), LineText(table[j])));
        }
    }
}

TEST_CASE("reader: line ends, byte-order mark and invalid bytes") {
    struct Case {
        const char* what;
        std::string bytes;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"CR LF, lone CR and lone LF all end a line",
         "\xEF\xBB\xBFko=가\ren=A\r\n\r\nko=나\nen=B",
         {"ko=가", "en=A", "", "ko=나", "en=B"}},
        {"no BOM: decoded from the first byte", "ko=가\r\nen=A\r\n", {"ko=가", "en=A"}},
        {"only one BOM is skipped", "\xEF\xBB\xBF\xEF\xBB\xBFko=x", {"\xEF\xBB\xBFko=x"}},
        {"a break after the last line adds nothing", "a\r\n", {"a"}},
        {"but an empty line before it stays", "a\r\n\r\n", {"a", ""}},
        {"LF CR is two breaks", "a\n\rb", {"a", "", "b"}},
        {"CR CR LF is two breaks", "a\r\r\nb", {"a", "", "b"}},
        {"nothing at all", "", {}},
        {"only a BOM", "\xEF\xBB\xBF", {}},
        {"a lone break is one empty line", "\r\n", {""}},
        {"spaces are kept", " en = x \r\n \r\n", {" en = x ", " "}},
        {"invalid UTF-8 becomes U+FFFD, the rest is read", "ko=\xFF\r\nen=A", {"ko=\xEF\xBF\xBD", "en=A"}},
    };
    for (const Case& c : cases) {
        const std::string what = c.what;
        CAPTURE(what);
        CHECK(U8(ReadTranslationLines(c.bytes)) == c.lines);
    }
}

TEST_CASE("line parts: split at the first '='") {
    CHECK(U8(std::u16string(LineLanguage(u"ko=a=b"))) == "ko");
    CHECK(U8(std::u16string(LineText(u"ko=a=b"))) == "a=b");
    CHECK(LineLanguage(u"no equals sign").empty());
    CHECK(LineText(u"no equals sign").empty());
    CHECK(LineLanguage(u"=text").empty());
    CHECK(LineText(u"=text") == u"text");
    CHECK(LineText(u"en=").empty());
}

TEST_CASE("lookup on the real table") {
    const std::vector<std::u16string> table = ReadTranslationLines(ReadTableFile());
    struct Case {
        const char* source;
        const char* language;
        const char* expected;
    };
    const Case cases[] = {
        {"", "ja", ""},
        {"not in the table\\n at all\\n", "ja", "not in the table\r at all\r"},
        {"no\\Nchange \\", "ja", "no\\Nchange \\"},
        // Any language is recognised; only ASCII letters are folded.
        {"알수없음", "ja", "不明"},
        {"Unknown", "ja", "不明"},
        {"UNKNOWN", "ja", "不明"},
        {"sconosciuto", "ja", "不明"},
        {"ВЕРСИЯ", "ja", "ВЕРСИЯ"},
        {"Unknown ", "ja", "Unknown "},
        {"exécuter", "ko", "실행하기"},
        {"EXÉCUTER", "ko", "EXÉCUTER"},
        {"<b>게임 반응 속도</b>를 손쉽게 향상 시킵니다.", "ru", "Легко улучшите <B>отзывчивость игры</B>."},
        // A language the table lacks, an upper-case code and no language at all give English.
        {"버전", "de", "Version"},
        {"버전", "fi", "Version"},
        {"버전", "en", "Version"},
        {"버전", "EN", "Version"},
        {"버전", "", "Version"},
        {"실행중", "", "Running"},
        // Texts shared by two languages of one entry.
        {"Version", "ja", "バージョン"},
        {"Home", "ru", "Главная"},
        {"Config", "zh", "设置"},
        {"Config", "ko", "환경설정"},
        {"Tarnell", "ko", "타르넬"},
        {"타르넬", "ko", "타르넬"},
        // The Italian line of entry 5 ends with a lone LF and is still a line of its own.
        {"후원하기", "fr", "Donner"},
        {"후원하기", "it", "Dona"},
        {"Dona", "ko", "후원하기"},
        {"Donner", "it", "Dona"},
        // First and last entries, first and last languages.
        {"네트워크 쓰로틀링", "fr", "Indice de limitation réseau"},
        {"Indice de limitation réseau", "ko", "네트워크 쓰로틀링"},
        {"Network Throttling Index", "zh", "网络限制指数"},
    };
    for (const Case& c : cases) {
        const std::string source = c.source, language = c.language;
        CAPTURE(source);
        CAPTURE(language);
        CHECK(U8(Lookup(table, c.source, c.language)) == c.expected);
    }
}

TEST_CASE("lookup on small tables: entry bounds, codes, '=' in texts, lines without '='") {
    const std::vector<std::u16string> table = Table(
        "ko=가\r\nEN=upper\r\nen=lower\r\n"
        "\r\n"
        "ko=나\r\nno equals sign\r\nen=B\r\n"
        "\r\n"
        "ko=다\r\nja=ダ\r\n"
        "\r\n"
        "ko=a=b\r\nen=c=d\r\n"
        "\r\n"
        "ko=라\\n마\r\nen=R\\nM\\n\r\n"
        "\r\n"
        "ko=바\r\n=empty code\r\nen=F\r\n");
    struct Case {
        const char* source;
        const char* language;
        const char* expected;
    };
    const Case cases[] = {
        {"가", "EN", "upper"},
        {"가", "En", "lower"},
        {"UPPER", "en", "lower"},
        // Reached from any line of its entry, and never past the empty line around it.
        {"B", "ko", "나"},
        {"다", "ja", "ダ"},
        {"나", "ja", "B"},
        {"다", "fr", "다"},
        {"다", "en", "다"},
        // A line without "=" is part of its entry but never matches and never answers.
        {"no equals sign", "en", "no equals sign"},
        {"나", "", "B"},
        {"바", "", "F"},
        {"empty code", "en", "F"},
        // Text parts run from the first "=" and may contain more.
        {"a=b", "en", "c=d"},
        {"A=B", "ko", "a=b"},
        {"d", "ko", "d"},
        {"a", "en", "a"},
        // "\n" in the table becomes CR in the answer; the source is matched as given.
        {"라\\n마", "en", "R\rM\r"},
        {"R\\nM\\n", "ko", "라\r마"},
        {"라\r마", "en", "라\r마"},
    };
    for (const Case& c : cases) {
        const std::string source = c.source, language = c.language;
        CAPTURE(source);
        CAPTURE(language);
        CHECK(U8(Lookup(table, c.source, c.language)) == c.expected);
    }
}

TEST_CASE("lookup without a table answers the source with \\n expanded") {
    const std::vector<std::u16string> none;
    CHECK(U8(Lookup(none, "버전", "ko")) == "버전");
    CHECK(U8(Lookup(none, "a\\nb\\n\\n", "")) == "a\rb\r\r");
    CHECK(ExpandLineBreaks(u"\\\\n") == u"\\\r");
    CHECK(ExpandLineBreaks(u"\\") == u"\\");
}
