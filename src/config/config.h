// Decoding of per-user setting values as the registry hands them over: a raw value record (type and
// bytes) becomes a Boolean, an integer or a text, or one of the two read errors. No <windows.h> here,
// so the rules are tested natively; config_win32 fetches the records and raises the errors.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/registry_value.h"

namespace tarnell {

// A value that exists but that the reader cannot use.
enum class ConfigReadError {
    None,
    FailedToGetData,  // more bytes than the reader takes, or the data could not be fetched at all
    InvalidDataType,  // wrong type, or a number of the wrong size
};

template <typename T>
struct Decoded {
    ConfigReadError error = ConfigReadError::None;
    T value{};
};

// The argument is std::nullopt when the value exists but its data could not be fetched.
// Integer: REG_DWORD of exactly 4 bytes, little-endian, signed.
Decoded<int32_t> DecodeInteger(const std::optional<RawRegistryValue>& raw);
// Boolean: the integer reader's number, true when it is not 0.
Decoded<bool> DecodeBoolean(const std::optional<RawRegistryValue>& raw);
// Text: empty when there are no bytes (whatever the type) or they could not be fetched; otherwise
// REG_SZ or REG_EXPAND_SZ (left unexpanded), UTF-16LE, cut at the first NUL. A dangling odd byte is ignored.
Decoded<std::u16string> DecodeString(const std::optional<RawRegistryValue>& raw);

// "Failed to get data for 'name'" / "Invalid data type for 'name'"; empty for None.
std::u16string ConfigReadErrorMessage(ConfigReadError error, const std::u16string& name);

// The bytes a write stores: a DWORD as 4 little-endian bytes; a text as UTF-16LE with its terminating NUL,
// 2 x (length + 1) bytes.
std::vector<uint8_t> EncodeInteger(int32_t value);
std::vector<uint8_t> EncodeString(const std::u16string& value);

}  // namespace tarnell
