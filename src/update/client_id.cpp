#include "update/client_id.h"

namespace tarnell {

namespace {

void AppendHex(std::u16string& out, uint32_t value, int digits) {
    static const char16_t kDigits[] = u"0123456789ABCDEF";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out.push_back(kDigits[(value >> shift) & 0xF]);
}

void AppendTwoDigits(std::u16string& out, int value) {
    value %= 100;
    if (value < 0) value += 100;
    out.push_back(static_cast<char16_t>(u'0' + value / 10));
    out.push_back(static_cast<char16_t>(u'0' + value % 10));
}

}  // namespace

std::u16string ComposeClientID(const RandomBelow& random, const LocalClock& now) {
    std::u16string id;
    id.reserve(32);
    AppendHex(id, random(kClientIdWideBound), 8);
    const LocalDateTime date = now();
    AppendTwoDigits(id, date.year);
    AppendTwoDigits(id, date.month);
    AppendTwoDigits(id, date.day);
    AppendHex(id, random(kClientIdShortBound), 4);
    const LocalDateTime time = now();
    AppendTwoDigits(id, time.hour);
    AppendTwoDigits(id, time.minute);
    AppendTwoDigits(id, time.second);
    AppendHex(id, random(kClientIdWideBound), 8);
    return id;
}

}  // namespace tarnell
