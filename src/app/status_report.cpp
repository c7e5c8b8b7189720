#include "app/status_report.h"

#include <cstdint>
#include <string>

#include "base/text.h"
#include "tuning/tweaks.h"

namespace tarnell {

namespace {

std::u16string Ascii(const std::string& text) {
    return std::u16string(text.begin(), text.end());
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
        if (!adapter.empty()) out += u"  adapter:   " + VisibleText(adapter) + u"\r\n";
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
        out += VisibleText(e.keyPath) + u"\t" + VisibleText(e.valueName) + u"\t" +
               VisibleText(AdapterOf(e.keyPath, adapterName)) + u"\t" + BeforeText(e, true) + u"\t" +
               RegistryValueField(e.written) + u"\t" + NowText(value, true) + u"\t" +
               (value.restores ? u"restore" : u"leave") + u"\r\n";
    }
    return out;
}

}  // namespace tarnell
