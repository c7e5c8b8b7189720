// The log's lines, its rollover rule and its queue.
#include "base/log.h"

#include <doctest/doctest.h>

#include <string>
#include <thread>
#include <vector>

using namespace tarnell;

TEST_CASE("A log line: UTC time, the text in UTF-8, control characters escaped, one line per event") {
    const TUtcTime t{2026, 12, 11, 7, 5, 9, 42};
    struct Row {
        std::u16string text;
        std::string line;
    };
    const Row rows[] = {
        {u"start: version 1.0.0.0", "2026-12-11 07:05:09.042Z start: version 1.0.0.0\r\n"},
        {u"a\r\nb\tc", "2026-12-11 07:05:09.042Z a\\u000D\\u000Ab\\u0009c\r\n"},
        {u"\uD55C\uAE00 \U0001F600",
         "2026-12-11 07:05:09.042Z \xED\x95\x9C\xEA\xB8\x80 \xF0\x9F\x98\x80\r\n"},
        {std::u16string(u"x") + char16_t(0xD800) + u"y", "2026-12-11 07:05:09.042Z x\xEF\xBF\xBDy\r\n"},
        {u"", "2026-12-11 07:05:09.042Z \r\n"},
    };
    for (const Row& row : rows) {
        CAPTURE(row.line);
        CHECK(FormatLogLine(t, row.text) == row.line);
    }
}

TEST_CASE("Rollover keeps every file at or under its cap, and never rolls an empty file") {
    struct Row {
        uint64_t size;
        size_t adding;
        bool rolls;
    };
    const Row rows[] = {
        {0, 500, false}, {0, 2000, false}, {900, 100, false}, {900, 101, true}, {1000, 1, true}};
    for (const Row& row : rows) {
        CAPTURE(row.size);
        CAPTURE(row.adding);
        CHECK(NeedsRollover(row.size, row.adding, 1000) == row.rolls);
    }
}

TEST_CASE("The queue: the first line asks for a writer, the tail keeps the last lines, a full queue drops") {
    TLogQueue queue(3, 20);
    CHECK(queue.Add("one\r\n"));
    CHECK_FALSE(queue.Add("two\r\n"));
    CHECK(queue.TakePending() == "one\r\ntwo\r\n");
    CHECK(queue.TakePending().empty());
    CHECK(queue.Add("three\r\n"));
    CHECK(queue.Tail() == "one\r\ntwo\r\nthree\r\n");
    queue.Add("four\r\n");
    CHECK(queue.Tail() == "two\r\nthree\r\nfour\r\n");

    // Over 20 bytes waiting ("three", "four" and this one make 27): the oldest goes, and the batch says so.
    queue.Add("fivefivefive\r\n");
    CHECK(queue.TakePending() ==
          "(1 older line was dropped: the disk was too slow)\r\nfour\r\nfivefivefive\r\n");
    queue.Add("a-long-line-of-twenty-five\r\n");
    queue.Add("b-long-line-of-twenty-five\r\n");
    queue.Add("c\r\n");
    CHECK(queue.TakePending() == "(2 older lines were dropped: the disk was too slow)\r\nc\r\n");
    std::string tail = "unchanged";
    CHECK(queue.TryTail(tail));
    CHECK(tail == "a-long-line-of-twenty-five\r\nb-long-line-of-twenty-five\r\nc\r\n");
}

TEST_CASE("The queue from many threads: every line arrives once, in each thread's order") {
    TLogQueue queue(50, 1 << 20);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&queue, t] {
            for (int i = 0; i < 1000; ++i) queue.Add(std::to_string(t) + ":" + std::to_string(i) + "\n");
        });
    }
    std::string all;
    for (auto& thread : threads) thread.join();
    all += queue.TakePending();
    for (int t = 0; t < 4; ++t) {
        size_t at = 0;
        for (int i = 0; i < 1000; ++i) {
            const std::string line = std::to_string(t) + ":" + std::to_string(i) + "\n";
            const size_t found = all.find(line, at);
            REQUIRE(found != std::string::npos);
            at = found + line.size();
        }
    }
}
