#include "app/status_report.h"

#include <cstdint>

#include "base/text.h"
#include "tuning/tweaks.h"

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
std::u16string Visible(const std::u16string& text) {
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

// The adapter an interface key belongs to, by its GUID; "" for any other key.
std::u16string AdapterOf(const std::u16string& keyPath, const AdapterNameOf& adapterName) {
    const std::u16string prefix = kInterfacesKeyPath;
    if (!adapterName || keyPath.size() <= prefix.size() ||
        !EqualsAsciiNoCase(std::u16string_view(keyPath).substr(0, prefix.size()), prefix))
        return std::u16string();
    return adapterName(keyPath.substr(prefix.size()));
}

const char16_t* StateWord(RecordState state) {
    switch (state) {
        case RecordState::On:
            return u"on";
        case RecordState::Foreign:
            return u"foreign";
        case RecordState::Off:
            break;
    }
    return u"off";
}

std::u16string NowText(const TRecordedValue& value, bool forScript) {
    switch (value.now) {
        case MachineRegistry::Read::Present:
            return forScript ? RegistryValueField(value.nowValue) : RegistryValueText(value.nowValue);
        case MachineRegistry::Read::Failed:
            return u"unreadable";
        case MachineRegistry::Read::Absent:
            break;
    }
    return u"absent";
}

std::u16string BeforeText(const TRecordEntry& entry, bool forScript) {
    if (!entry.existed) return u"absent";
    return forScript ? RegistryValueField(entry.before) : RegistryValueText(entry.before);
}

}  // namespace

std::u16string RegistryValueText(const RawRegistryValue& value) {
    const char16_t* name = TypeName(value.type);
    if (IsNumber(value)) {
        const uint64_t n = LittleEndian(value.data);
        const int digits = value.type == kRegDword ? 8 : 16;
        return std::u16string(name) + u" " + Ascii(std::to_string(n)) + u" (0x" + HexNumber(n, digits) + u")";
    }
    if (IsText(value.type) && value.data.size() % 2 == 0) {
        std::u16string text = StoredText(value.data);
        if (value.type != kRegMultiSz) return std::u16string(name) + u" \"" + Visible(text) + u"\"";
        std::u16string out = name;
        size_t start = 0;
        for (;;) {
            const size_t end = text.find(u'\0', start);
            out += u" \"" + Visible(text.substr(start, end - start)) + u"\"";
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
        return prefix + Visible(StoredText(value.data));
    }
    if (value.type == kRegBinary) return u"binary:" + Bytes(value.data, u"");
    return u"type" + Ascii(std::to_string(value.type)) + u":" + Bytes(value.data, u"");
}

std::u16string StatusText(RecordState state, const std::vector<TRecordedValue>& values,
                          const AdapterNameOf& adapterName) {
    if (state == RecordState::Foreign) {
        return u"Tarnell's tweak set is on, recorded by a newer version of Tarnell in a form this version "
               u"does "
               u"not read:\r\nthe record is left as it is.\r\n";
    }
    if (state == RecordState::Off || values.empty()) {
        return u"Tarnell's tweak set is off: the machine's record holds nothing to give back.\r\n";
    }
    std::u16string out = u"Tarnell's tweak set is on. The machine's record holds " +
                         Ascii(std::to_string(values.size())) +
                         (values.size() == 1 ? u" value" : u" values") + u" (newest last):\r\n";
    for (const TRecordedValue& value : values) {
        const TRecordEntry& e = value.entry;
        out += u"\r\n" + e.keyPath + u"\\" + e.valueName + u"\r\n";
        const std::u16string adapter = AdapterOf(e.keyPath, adapterName);
        if (!adapter.empty()) out += u"  adapter:   " + Visible(adapter) + u"\r\n";
        out += u"  before:    " + BeforeText(e, false) + u"\r\n";
        out += u"  written:   " + RegistryValueText(e.written) + u"\r\n";
        out += u"  now:       " + NowText(value, false) + u"\r\n";
        out += value.restores ? u"  give-back: restores the value before (unchanged since)\r\n"
                              : u"  give-back: leaves it as it is now (changed since)\r\n";
    }
    return out;
}

std::u16string StatusTable(RecordState state, const std::vector<TRecordedValue>& values,
                           const AdapterNameOf& adapterName) {
    std::u16string out = u"state\t" + std::u16string(StateWord(state)) + u"\r\n";
    out += u"key\tname\tadapter\tbefore\twritten\tnow\tgive-back\r\n";
    if (state != RecordState::On) return out;
    for (const TRecordedValue& value : values) {
        const TRecordEntry& e = value.entry;
        out += Visible(e.keyPath) + u"\t" + Visible(e.valueName) + u"\t" +
               Visible(AdapterOf(e.keyPath, adapterName)) + u"\t" + BeforeText(e, true) + u"\t" +
               RegistryValueField(e.written) + u"\t" + NowText(value, true) + u"\t" +
               (value.restores ? u"restore" : u"leave") + u"\r\n";
    }
    return out;
}

}  // namespace tarnell
