#include "base/registry_value.h"

#include <cstdint>
#include <string>

namespace tarnell {

namespace {

constexpr char16_t kHex[] = u"0123456789ABCDEF";

std::u16string Ascii(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

std::u16string HexByte(uint8_t b) {
    return {kHex[b >> 4], kHex[b & 15]};
}

uint64_t LittleEndian(const std::vector<uint8_t>& data) {
    uint64_t v = 0;
    for (size_t i = data.size(); i-- > 0;) v = (v << 8) | data[i];
    return v;
}

std::u16string HexNumber(uint64_t v, int digits) {
    std::u16string out(size_t(digits), u'0');
    for (int i = digits - 1; i >= 0; --i, v >>= 4) out[size_t(i)] = kHex[v & 15];
    return out;
}

// The UTF-16 text of a string value without its terminating NULs.
std::u16string StoredText(const std::vector<uint8_t>& data) {
    std::u16string text;
    for (size_t i = 0; i + 1 < data.size(); i += 2) text.push_back(char16_t(data[i] | (data[i + 1] << 8)));
    while (!text.empty() && text.back() == u'\0') text.pop_back();
    return text;
}

// Control characters as \uXXXX: no tab, line break or NUL reaches the output.
bool IsText(uint32_t type) {
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

const char16_t* TypeName(uint32_t type) {
    switch (type) {
        case kRegSz:
            return u"SZ";
        case kRegExpandSz:
            return u"EXPAND_SZ";
        case kRegBinary:
            return u"BINARY";
        case kRegDword:
            return u"DWORD";
        case kRegDwordBigEndian:
            return u"DWORD_BIG_ENDIAN";
        case kRegMultiSz:
            return u"MULTI_SZ";
        case kRegQword:
            return u"QWORD";
        default:
            return nullptr;
    }
}

bool IsNumber(const RawRegistryValue& value) {
    return (value.type == kRegDword && value.data.size() == 4) ||
           (value.type == kRegQword && value.data.size() == 8);
}

std::u16string Bytes(const std::vector<uint8_t>& data, const char16_t* separator) {
    std::u16string out;
    for (size_t i = 0; i < data.size(); ++i) {
        if (i != 0) out += separator;
        out += HexByte(data[i]);
    }
    return out;
}

}  // namespace

std::u16string VisibleText(const std::u16string& text) {
    std::u16string out;
    for (char16_t c : text) {
        if (c < 0x20 || c == 0x7F) {
            out += u"\\u" + HexNumber(c, 4);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::u16string RegistryValueText(const RawRegistryValue& value) {
    const char16_t* name = TypeName(value.type);
    if (IsNumber(value)) {
        const uint64_t n = LittleEndian(value.data);
        const int digits = value.type == kRegDword ? 8 : 16;
        return std::u16string(name) + u" " + Ascii(std::to_string(n)) + u" (0x" + HexNumber(n, digits) + u")";
    }
    if (IsText(value.type) && value.data.size() % 2 == 0) {
        std::u16string text = StoredText(value.data);
        if (value.type != kRegMultiSz) return std::u16string(name) + u" \"" + VisibleText(text) + u"\"";
        std::u16string out = name;
        size_t start = 0;
        for (;;) {
            const size_t end = text.find(u'\0', start);
            out += u" \"" + VisibleText(text.substr(start, end - start)) + u"\"";
            if (end == std::u16string::npos) break;
            start = end + 1;
        }
        return out;
    }
    const std::u16string type = name ? std::u16string(name) : u"type " + Ascii(std::to_string(value.type));
    if (value.data.empty()) return type + u", no bytes";
    return type + u" " + Bytes(value.data, u" ");
}

std::u16string RegistryValueField(const RawRegistryValue& value) {
    if (IsNumber(value)) {
        return std::u16string(value.type == kRegDword ? u"dword:" : u"qword:") +
               Ascii(std::to_string(LittleEndian(value.data)));
    }
    if (IsText(value.type) && value.data.size() % 2 == 0) {
        const char16_t* prefix = value.type == kRegSz         ? u"sz:"
                                 : value.type == kRegExpandSz ? u"expand_sz:"
                                                              : u"multi_sz:";
        return prefix + VisibleText(StoredText(value.data));
    }
    if (value.type == kRegBinary) return u"binary:" + Bytes(value.data, u"");
    return u"type" + Ascii(std::to_string(value.type)) + u":" + Bytes(value.data, u"");
}

}  // namespace tarnell
