// Decoding of stored setting values: which records give a value, which give which of the two errors.
#include <doctest/doctest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "config/config.h"

using namespace tarnell;

namespace {

RawRegistryValue Raw(uint32_t type, std::vector<uint8_t> data) {
    return {type, std::move(data)};
}

RawRegistryValue Text(uint32_t type, const std::u16string& text) {
    return {type, EncodeString(text)};
}

const char* Name(ConfigReadError e) {
    switch (e) {
        case ConfigReadError::None:
            return "None";
        case ConfigReadError::FailedToGetData:
            return "FailedToGetData";
        case ConfigReadError::InvalidDataType:
            return "InvalidDataType";
    }
    return "?";
}

}  // namespace

TEST_CASE("integer and Boolean readers: value or error for each kind of record") {
    constexpr auto kOk = ConfigReadError::None;
    constexpr auto kFailed = ConfigReadError::FailedToGetData;
    constexpr auto kInvalid = ConfigReadError::InvalidDataType;
    struct Case {
        const char* what;
        std::optional<RawRegistryValue> raw;
        ConfigReadError error;
        int32_t integer;
        bool boolean;
    };
    const Case cases[] = {
        {"DWORD 0", Raw(kRegDword, {0, 0, 0, 0}), kOk, 0, false},
        {"DWORD 1", Raw(kRegDword, {1, 0, 0, 0}), kOk, 1, true},
        {"DWORD 7 is true", Raw(kRegDword, {7, 0, 0, 0}), kOk, 7, true},
        {"DWORD 256: only the low byte is 0, still true", Raw(kRegDword, {0, 1, 0, 0}), kOk, 256, true},
        {"little-endian", Raw(kRegDword, {0x78, 0x56, 0x34, 0x12}), kOk, 0x12345678, true},
        {"negative", Raw(kRegDword, {0xFE, 0xFF, 0xFF, 0xFF}), kOk, -2, true},
        {"INT32_MIN", Raw(kRegDword, {0, 0, 0, 0x80}), kOk, INT32_MIN, true},
        {"text longer than 4 bytes", Text(kRegSz, u"true"), kFailed, 0, false},
        {"8-byte number", Raw(11 /* REG_QWORD */, {1, 0, 0, 0, 0, 0, 0, 0}), kFailed, 0, false},
        {"DWORD type with 5 bytes", Raw(kRegDword, {1, 0, 0, 0, 0}), kFailed, 0, false},
        {"text of exactly 4 bytes", Text(kRegSz, u"1"), kInvalid, 0, false},
        {"binary of 4 bytes", Raw(kRegBinary, {1, 0, 0, 0}), kInvalid, 0, false},
        {"empty text", Text(kRegSz, u""), kInvalid, 0, false},
        {"DWORD type with 2 bytes", Raw(kRegDword, {1, 0}), kInvalid, 0, false},
        {"DWORD type with no bytes", Raw(kRegDword, {}), kInvalid, 0, false},
        {"data could not be fetched", std::nullopt, kFailed, 0, false},
    };
    for (const Case& c : cases) {
        const std::string what = c.what;
        CAPTURE(what);
        const Decoded<int32_t> integer = DecodeInteger(c.raw);
        CHECK(Name(integer.error) == std::string(Name(c.error)));
        if (c.error == kOk) CHECK(integer.value == c.integer);
        const Decoded<bool> boolean = DecodeBoolean(c.raw);
        CHECK(Name(boolean.error) == std::string(Name(c.error)));
        if (c.error == kOk) CHECK(boolean.value == c.boolean);
    }
}

TEST_CASE("string reader: cut at the first NUL, expandable text unexpanded, other types rejected") {
    struct Case {
        const char* what;
        std::optional<RawRegistryValue> raw;
        ConfigReadError error;
        std::u16string text;
    };
    const Case cases[] = {
        {"plain", Text(kRegSz, u"Tarnell"), ConfigReadError::None, u"Tarnell"},
        {"non-ASCII", Text(kRegSz, u"타르넬"), ConfigReadError::None, u"타르넬"},
        {"expandable stays unexpanded", Text(kRegExpandSz, u"%TEMP%\\x"), ConfigReadError::None,
         u"%TEMP%\\x"},
        {"cut at the first NUL", Raw(kRegSz, {'a', 0, 0, 0, 'b', 0, 0, 0}), ConfigReadError::None, u"a"},
        {"no terminating NUL", Raw(kRegSz, {'a', 0, 'b', 0}), ConfigReadError::None, u"ab"},
        {"odd byte count", Raw(kRegSz, {'a', 0, 'b'}), ConfigReadError::None, u"a"},
        {"only a NUL", Text(kRegSz, u""), ConfigReadError::None, u""},
        {"no bytes at all, any type", Raw(kRegDword, {}), ConfigReadError::None, u""},
        {"data could not be fetched", std::nullopt, ConfigReadError::None, u""},
        {"a number", Raw(kRegDword, {1, 0, 0, 0}), ConfigReadError::InvalidDataType, u""},
        {"binary", Raw(kRegBinary, {'a', 0, 0, 0}), ConfigReadError::InvalidDataType, u""},
        {"multi-string", Raw(7 /* REG_MULTI_SZ */, {'a', 0, 0, 0, 0, 0}), ConfigReadError::InvalidDataType,
         u""},
    };
    for (const Case& c : cases) {
        const std::string what = c.what;
        CAPTURE(what);
        const Decoded<std::u16string> decoded = DecodeString(c.raw);
        CHECK(Name(decoded.error) == std::string(Name(c.error)));
        CHECK(Utf16ToUtf8(decoded.value) == Utf16ToUtf8(c.text));
    }
}

TEST_CASE("read errors carry the value's name in the exact message") {
    CHECK(ConfigReadErrorMessage(ConfigReadError::FailedToGetData, u"tcpnodelay") ==
          u"Failed to get data for 'tcpnodelay'");
    CHECK(ConfigReadErrorMessage(ConfigReadError::InvalidDataType, u"status") ==
          u"Invalid data type for 'status'");
    CHECK(ConfigReadErrorMessage(ConfigReadError::None, u"status").empty());
}

TEST_CASE("writes encode a DWORD as 4 little-endian bytes and a text with its NUL") {
    CHECK(EncodeInteger(1) == std::vector<uint8_t>{1, 0, 0, 0});
    CHECK(EncodeInteger(-2) == std::vector<uint8_t>{0xFE, 0xFF, 0xFF, 0xFF});
    CHECK(EncodeInteger(0x01020304) == std::vector<uint8_t>{4, 3, 2, 1});
    CHECK(EncodeString(u"ab") == std::vector<uint8_t>{'a', 0, 'b', 0, 0, 0});
    CHECK(EncodeString(u"") == std::vector<uint8_t>{0, 0});
    CHECK(EncodeString(u"\uD55C").size() == 4);
    // What a write stores, a read gives back.
    for (int32_t v : {0, 1, 5, 256, -1, INT32_MAX, INT32_MIN}) {
        CAPTURE(v);
        CHECK(DecodeInteger(RawRegistryValue{kRegDword, EncodeInteger(v)}).value == v);
    }
    CHECK(DecodeString(RawRegistryValue{kRegSz, EncodeString(u"Настройки")}).value == u"Настройки");
}
