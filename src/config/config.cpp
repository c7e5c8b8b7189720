#include "config/config.h"

namespace tarnell {

Decoded<int32_t> DecodeInteger(const std::optional<RawRegistryValue>& raw) {
    // The reader takes 4 bytes: anything bigger does not fit its buffer, anything else is the wrong kind.
    if (!raw || raw->data.size() > 4) return {ConfigReadError::FailedToGetData, 0};
    if (raw->type != kRegDword || raw->data.size() != 4) return {ConfigReadError::InvalidDataType, 0};
    const auto& d = raw->data;
    const uint32_t u = uint32_t(d[0]) | uint32_t(d[1]) << 8 | uint32_t(d[2]) << 16 | uint32_t(d[3]) << 24;
    return {ConfigReadError::None, static_cast<int32_t>(u)};
}

Decoded<bool> DecodeBoolean(const std::optional<RawRegistryValue>& raw) {
    const Decoded<int32_t> number = DecodeInteger(raw);
    return {number.error, number.error == ConfigReadError::None && number.value != 0};
}

Decoded<std::u16string> DecodeString(const std::optional<RawRegistryValue>& raw) {
    if (!raw || raw->data.empty()) return {};
    if (raw->type != kRegSz && raw->type != kRegExpandSz) return {ConfigReadError::InvalidDataType, {}};
    std::u16string text;
    const auto& d = raw->data;
    for (size_t i = 0; i + 1 < d.size(); i += 2) {
        const char16_t c = static_cast<char16_t>(d[i] | d[i + 1] << 8);
        if (c == 0) break;
        text.push_back(c);
    }
    return {ConfigReadError::None, std::move(text)};
}

std::u16string ConfigReadErrorMessage(ConfigReadError error, const std::u16string& name) {
    switch (error) {
        case ConfigReadError::FailedToGetData:
            return u"Failed to get data for '" + name + u"'";
        case ConfigReadError::InvalidDataType:
            return u"Invalid data type for '" + name + u"'";
        case ConfigReadError::None:
            break;
    }
    return {};
}

std::vector<uint8_t> EncodeInteger(int32_t value) {
    const auto u = static_cast<uint32_t>(value);
    return {uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16), uint8_t(u >> 24)};
}

std::vector<uint8_t> EncodeString(const std::u16string& value) {
    std::vector<uint8_t> bytes;
    bytes.reserve(2 * (value.size() + 1));
    for (char16_t c : value) {
        bytes.push_back(uint8_t(c));
        bytes.push_back(uint8_t(c >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

}  // namespace tarnell
