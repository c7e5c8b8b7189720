#include "update/client_id.h"

#include <doctest/doctest.h>

#include <string>
#include <vector>

using namespace tarnell;

TEST_CASE("ComposeClientID joins its five parts in order, drawing and reading the clock part by part") {
    std::vector<std::string> calls;
    std::vector<uint32_t> draws = {0x0000ABCD, 0x0F0E, 0x7FFFFFFE};
    size_t next = 0;
    const RandomBelow random = [&](uint32_t bound) {
        calls.push_back("random " + std::to_string(bound));
        return draws[next++];
    };
    // The clock moves on between the two reads: the time part must come from the second read.
    std::vector<LocalDateTime> clock = {{2026, 3, 7, 23, 59, 58}, {2026, 3, 8, 0, 0, 1}};
    size_t reads = 0;
    const LocalClock now = [&] {
        calls.push_back("clock");
        return clock[reads++];
    };

    const std::u16string id = ComposeClientID(random, now);
    CHECK(id ==
          u"0000ABCD"
          u"260307"
          u"0F0E"
          u"000001"
          u"7FFFFFFE");
    CHECK(calls == std::vector<std::string>{"random 2147483647", "clock", "random 65535", "clock",
                                            "random 2147483647"});
}

TEST_CASE("ComposeClientID keeps two digits per date field and 32 characters of 0-9 and A-F") {
    const RandomBelow random = [](uint32_t bound) { return bound - 1; };
    const LocalClock now = [] { return LocalDateTime{1999, 12, 31, 9, 5, 0}; };
    const std::u16string id = ComposeClientID(random, now);
    CHECK(id ==
          u"7FFFFFFE"
          u"991231"
          u"FFFE"
          u"090500"
          u"7FFFFFFE");
    REQUIRE(id.size() == 32);
    for (char16_t c : id) CHECK(((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F')));
}
