// A table source that fails while being read leaves an empty table and a program that carries on.
#include <doctest/doctest.h>

#include <optional>
#include <stdexcept>
#include <string>

#include "translate/translation.h"

using namespace tarnell;

TEST_CASE("an error while reading the table is dropped; lookups answer their sources") {
    CHECK_NOTHROW(LoadTranslationTableOnce(
        []() -> std::optional<std::string> { throw std::runtime_error("resource unreadable"); }));
    CHECK(TranslationTable().empty());
    SetCurrentLanguage(u"ja");
    CHECK(TranslateText(u"버전") == u"버전");
    CHECK(TranslateText(u"x\\ny") == u"x\ry");
}
