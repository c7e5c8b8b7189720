// The per-user client identifier: 32 upper-case hex digits and decimal date/time digits in five parts.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tarnell {

struct LocalDateTime {
    int year = 0;  // four digits; only the last two are used
    int month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// A uniformly distributed integer from 0 to bound - 1.
using RandomBelow = std::function<uint32_t(uint32_t bound)>;
using LocalClock = std::function<LocalDateTime()>;

inline constexpr uint32_t kClientIdWideBound = 2147483647;  // 0x7FFFFFFF
inline constexpr uint32_t kClientIdShortBound = 65535;      // 0xFFFF

// 8 hex digits of random(0x7FFFFFFF), the date as yymmdd, 4 hex digits of random(0xFFFF), the time as hhnnss,
// 8 hex digits of random(0x7FFFFFFF); drawn and read in that order, the clock once for each of its parts.
std::u16string ComposeClientID(const RandomBelow& random, const LocalClock& now);

}  // namespace tarnell
