#include "base/log.h"

#include <cstdio>

namespace tarnell {

namespace {

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(char(c));
    } else if (c < 0x800) {
        out.push_back(char(0xC0 | (c >> 6)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(char(0xE0 | (c >> 12)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (c >> 18)));
        out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    }
}

}  // namespace

std::string FormatLogLine(const TUtcTime& t, std::u16string_view text) {
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03dZ ", t.year, t.month, t.day, t.hour,
                  t.minute, t.second, t.millisecond);
    std::string line = stamp;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", unsigned(c));
            line += escaped;
        } else {
            AppendUtf8(line, c);
        }
    }
    line += "\r\n";
    return line;
}

bool NeedsRollover(uint64_t fileSize, size_t adding, uint64_t cap) {
    return fileSize > 0 && fileSize + adding > cap;
}

TLogQueue::TLogQueue(size_t tailLines, size_t maxPendingBytes)
    : tailLines_(tailLines), maxPendingBytes_(maxPendingBytes) {}

bool TLogQueue::Add(std::string line) {
    std::lock_guard<std::mutex> hold(mutex_);
    const bool wasEmpty = pending_.empty();
    tail_.push_back(line);
    while (tail_.size() > tailLines_) tail_.pop_front();
    pendingBytes_ += line.size();
    pending_.push_back(std::move(line));
    while (pendingBytes_ > maxPendingBytes_ && pending_.size() > 1) {
        pendingBytes_ -= pending_.front().size();
        pending_.pop_front();
        ++dropped_;
    }
    return wasEmpty;
}

std::string TLogQueue::TakePending() {
    std::lock_guard<std::mutex> hold(mutex_);
    std::string out;
    if (dropped_ != 0) {
        char note[96];
        std::snprintf(note, sizeof note, "(%zu older %s dropped: the disk was too slow)\r\n", dropped_,
                      dropped_ == 1 ? "line was" : "lines were");
        out = note;
        dropped_ = 0;
    }
    for (const std::string& line : pending_) out += line;
    pending_.clear();
    pendingBytes_ = 0;
    return out;
}

bool TLogQueue::Waiting() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return !pending_.empty() || dropped_ != 0;
}

bool TLogQueue::TryTail(std::string& out) const {
    std::unique_lock<std::mutex> hold(mutex_, std::try_to_lock);
    if (!hold.owns_lock()) return false;
    out.clear();
    for (const std::string& line : tail_) out += line;
    return true;
}

std::string TLogQueue::Tail() const {
    std::lock_guard<std::mutex> hold(mutex_);
    std::string out;
    for (const std::string& line : tail_) out += line;
    return out;
}

}  // namespace tarnell
