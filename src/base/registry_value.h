// A registry value as stored: its type and all of its bytes. No <windows.h> here, so the rules built on
// it (settings decoding, the machine record) are tested natively.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnell {

// The registry's value types that the program knows (winnt.h numbering).
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegDwordBigEndian = 5;
inline constexpr uint32_t kRegMultiSz = 7;
inline constexpr uint32_t kRegQword = 11;

// One stored value: its type and all of its bytes, exactly as stored.
struct RawRegistryValue {
    uint32_t type = 0;
    std::vector<uint8_t> data;

    bool operator==(const RawRegistryValue&) const = default;
};

// A REG_DWORD value: the 32-bit pattern, little-endian.
inline RawRegistryValue DwordValue(uint32_t value) {
    return {kRegDword,
            {uint8_t(value & 0xFF), uint8_t((value >> 8) & 0xFF), uint8_t((value >> 16) & 0xFF),
             uint8_t((value >> 24) & 0xFF)}};
}

// A registry value in words: "DWORD 1 (0x00000001)", "SZ \"text\"", "BINARY 01 02"...
std::u16string RegistryValueText(const RawRegistryValue& value);

// The same for a script: "dword:1", "qword:…", "sz:text", "expand_sz:text", "multi_sz:a\u0000b",
// "binary:0102", "type9:0102". Control characters of a text are written \uXXXX, so that a field holds no
// tab or line break.
std::u16string RegistryValueField(const RawRegistryValue& value);

// `text` with its control characters written \uXXXX.
std::u16string VisibleText(const std::u16string& text);

}  // namespace tarnell
