// The program's log: one line per event, its UTC time first, UTF-8. Portable: lines are made and held
// here; base/log_win32.h writes them to the file off the UI thread and keeps the file's size capped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

namespace tarnell {

struct TUtcTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0, millisecond = 0;
};

// "2026-12-11 07:45:01.123Z text\r\n". Control characters of `text` (a line break in a system message,
// say) are written \uXXXX, so one event is always one line; unpaired surrogates become U+FFFD.
std::string FormatLogLine(const TUtcTime& time, std::u16string_view text);

// Whether a file of `fileSize` bytes must be rolled over (kept as the one older file, a new one begun)
// before `adding` more bytes, so that no file grows past `cap`. An empty file never rolls over.
bool NeedsRollover(uint64_t fileSize, size_t adding, uint64_t cap);

// The lines made but not yet written, and the last lines made (for the crash report). Safe to use from
// any thread. What waits to be written is bounded: past `maxPendingBytes` the oldest waiting lines are
// dropped, and the next batch says how many.
class TLogQueue {
  public:
    explicit TLogQueue(size_t tailLines = 50, size_t maxPendingBytes = 64 * 1024);

    // Adds a line (as FormatLogLine made it). True when the queue was empty before: a writer should be
    // started then.
    bool Add(std::string line);
    // Everything waiting, oldest first, with a line saying how many were dropped, if any.
    std::string TakePending();
    // Whether any line waits to be written.
    bool Waiting() const;
    // The last lines, oldest first. Waits for no one: when another thread holds the queue right now,
    // answers false and leaves `out` as it is (the crash path must never wait).
    bool TryTail(std::string& out) const;
    std::string Tail() const;

  private:
    mutable std::mutex mutex_;
    size_t tailLines_;
    size_t maxPendingBytes_;
    std::deque<std::string> pending_;
    size_t pendingBytes_ = 0;
    size_t dropped_ = 0;
    std::deque<std::string> tail_;
};

}  // namespace tarnell
