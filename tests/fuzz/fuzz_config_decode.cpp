// Settings value decoding over arbitrary registry value records.
#include <cstdint>

#include "config/config.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarnell::fuzz::Pieces in(data, size);
    tarnell::RawRegistryValue raw;
    raw.type = in.NextByte() % 12;
    const std::string_view bytes = in.NextBytes(true);
    raw.data.assign(bytes.begin(), bytes.end());
    const std::optional<tarnell::RawRegistryValue> value(raw);

    const auto text = tarnell::DecodeString(value);
    const auto number = tarnell::DecodeInteger(value);
    const auto flag = tarnell::DecodeBoolean(value);
    if (text.error == tarnell::ConfigReadError::None && text.value.size() * 2 > raw.data.size())
        __builtin_trap();
    if (number.error == tarnell::ConfigReadError::None && flag.value != (number.value != 0)) __builtin_trap();
    tarnell::ConfigReadErrorMessage(text.error, text.value);
    return 0;
}
