#include "tuning/tweak_record.h"

#include <algorithm>

#include "base/text.h"

namespace tarnell {

namespace {

// Stored form: a format byte, a flags byte (bit 0: existed), the sequence, then the written value, the
// earlier value, the key path, the value name and the created key, each as a 32-bit length followed by
// its bytes (texts as UTF-16LE code units). All numbers little-endian.
constexpr uint8_t kEntryFormat = 1;
constexpr uint8_t kFlagExisted = 1;
// Far above anything a registry value holds: a length beyond it is damage, not data.
constexpr uint32_t kMaxPiece = 1u << 20;

class Writer {
  public:
    void Byte(uint8_t b) { out.push_back(b); }
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
    }
    void Bytes(const std::vector<uint8_t>& bytes) {
        U32(uint32_t(bytes.size()));
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    void Text(const std::u16string& text) {
        U32(uint32_t(text.size()));
        for (char16_t c : text) {
            out.push_back(uint8_t(c & 0xFF));
            out.push_back(uint8_t(c >> 8));
        }
    }
    std::vector<uint8_t> out;
};

class Reader {
  public:
    explicit Reader(std::span<const uint8_t> in) : in_(in) {}
    bool Byte(uint8_t& b) {
        if (pos_ >= in_.size()) return false;
        b = in_[pos_++];
        return true;
    }
    bool U32(uint32_t& v) {
        if (in_.size() - pos_ < 4) return false;
        v = 0;
        for (int i = 0; i < 4; ++i) v |= uint32_t(in_[pos_ + i]) << (8 * i);
        pos_ += 4;
        return true;
    }
    bool Bytes(std::vector<uint8_t>& bytes) {
        uint32_t size = 0;
        if (!U32(size) || size > kMaxPiece || in_.size() - pos_ < size) return false;
        bytes.assign(in_.begin() + pos_, in_.begin() + pos_ + size);
        pos_ += size;
        return true;
    }
    bool Text(std::u16string& text) {
        uint32_t units = 0;
        if (!U32(units) || units > kMaxPiece || (in_.size() - pos_) / 2 < units) return false;
        text.resize(units);
        for (uint32_t i = 0; i < units; ++i)
            text[i] = char16_t(in_[pos_ + 2 * i] | (in_[pos_ + 2 * i + 1] << 8));
        pos_ += size_t(units) * 2;
        return true;
    }
    bool AtEnd() const { return pos_ == in_.size(); }

  private:
    std::span<const uint8_t> in_;
    size_t pos_ = 0;
};

// `child` is `ancestor` or lies below it.
bool IsAtOrBelow(const std::u16string& child, const std::u16string& ancestor) {
    if (child.size() < ancestor.size()) return false;
    if (!EqualsAsciiNoCase(std::u16string_view(child).substr(0, ancestor.size()), ancestor)) return false;
    return child.size() == ancestor.size() || child[ancestor.size()] == u'\\';
}

std::u16string ParentKey(const std::u16string& path) {
    const size_t cut = path.rfind(u'\\');
    return cut == std::u16string::npos ? std::u16string() : path.substr(0, cut);
}

// Short enough for a value someone set by hand (a number typed as text, a few bytes), far below what
// would let a planted entry write a block of data into a network setting.
constexpr size_t kMaxRecordedText = 512;
constexpr size_t kMaxRecordedBytes = 16;

// A braced GUID, as Windows names an adapter's interface key: {8-4-4-4-12} hexadecimal digits.
bool IsBracedGuid(std::u16string_view text) {
    if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') return false;
    for (size_t i = 1; i < 37; ++i) {
        const char16_t c = text[i];
        if (i == 9 || i == 14 || i == 19 || i == 24) {
            if (c != u'-') return false;
        } else if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'))) {
            return false;
        }
    }
    return true;
}

// The catalogue row whose value the entry names, in that row's own key; null for anything else.
const Tweak* CatalogueRow(const std::u16string& keyPath, const std::u16string& valueName) {
    const std::u16string_view interfaces = kInterfacesKeyPath;
    const bool adapterKey =
        keyPath.size() > interfaces.size() &&
        EqualsAsciiNoCase(std::u16string_view(keyPath).substr(0, interfaces.size()), interfaces) &&
        IsBracedGuid(std::u16string_view(keyPath).substr(interfaces.size()));
    for (const Tweak& tweak : TweakCatalogue()) {
        const bool inKey = tweak.perAdapter ? adapterKey : EqualsAsciiNoCase(keyPath, tweak.path);
        if (inKey && EqualsAsciiNoCase(valueName, tweak.valueName)) return &tweak;
    }
    return nullptr;
}

// The highest level the tweak set may have created for a value of this row: an adapter's key only (its
// parent is the system's), for the other rows the value's key or its parent (MSMQ, Multimedia).
bool CreatedKeyAllowed(const Tweak& tweak, const std::u16string& keyPath, const std::u16string& created) {
    if (created.empty()) return true;
    if (!IsAtOrBelow(keyPath, created)) return false;
    if (EqualsAsciiNoCase(created, keyPath)) return true;
    return !tweak.perAdapter && EqualsAsciiNoCase(created, ParentKey(keyPath));
}

RawRegistryValue ApplyValue(const Tweak& tweak) {
    return DwordValue(static_cast<uint32_t>(tweak.applyValue));
}

bool SameEntryName(const TRecordEntry& entry, const std::u16string& path, const std::u16string& name) {
    return EqualsAsciiNoCase(RecordEntryName(entry.keyPath, entry.valueName), RecordEntryName(path, name));
}

class Locked {
  public:
    explicit Locked(RecordLock& lock) : lock_(lock), held_(lock.Enter()) {}
    ~Locked() {
        if (held_) lock_.Leave();
    }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    explicit operator bool() const { return held_; }

  private:
    RecordLock& lock_;
    bool held_;
};

// Collects what the enabled tweaks would write, so that every entry can be written down (and flushed)
// before the first value changes.
class PlannedWrites final : public RegistryWriter {
  public:
    struct Write {
        std::u16string path;
        std::u16string name;
        RawRegistryValue value;
    };
    void WriteInteger(const std::u16string& path, const std::u16string& name, int32_t value) override {
        writes.push_back({path, name, DwordValue(static_cast<uint32_t>(value))});
    }
    std::vector<Write> writes;
};

}  // namespace

std::u16string RecordEntryName(const std::u16string& keyPath, const std::u16string& valueName) {
    return keyPath + u"\\" + valueName;
}

std::vector<uint8_t> EncodeRecordEntry(const TRecordEntry& entry) {
    Writer w;
    w.Byte(kEntryFormat);
    w.Byte(entry.existed ? kFlagExisted : 0);
    w.U32(entry.sequence);
    w.U32(entry.written.type);
    w.Bytes(entry.written.data);
    w.U32(entry.before.type);
    w.Bytes(entry.before.data);
    w.Text(entry.keyPath);
    w.Text(entry.valueName);
    w.Text(entry.createdKey);
    return std::move(w.out);
}

std::optional<TRecordEntry> DecodeRecordEntry(std::span<const uint8_t> bytes) {
    Reader r(bytes);
    TRecordEntry entry;
    uint8_t format = 0, flags = 0;
    if (!r.Byte(format) || format != kEntryFormat || !r.Byte(flags) || (flags & ~kFlagExisted) != 0)
        return std::nullopt;
    entry.existed = (flags & kFlagExisted) != 0;
    if (!r.U32(entry.sequence) || !r.U32(entry.written.type) || !r.Bytes(entry.written.data) ||
        !r.U32(entry.before.type) || !r.Bytes(entry.before.data) || !r.Text(entry.keyPath) ||
        !r.Text(entry.valueName) || !r.Text(entry.createdKey) || !r.AtEnd())
        return std::nullopt;
    // An entry must name a value below a key, and a created key can only be the value's key or above it.
    if (entry.keyPath.empty() || (!entry.existed && !entry.before.data.empty())) return std::nullopt;
    if (!entry.createdKey.empty() && !IsAtOrBelow(entry.keyPath, entry.createdKey)) return std::nullopt;
    return entry;
}

bool RecordableValue(const RawRegistryValue& value) {
    switch (value.type) {
        case kRegDword:
        case kRegDwordBigEndian:
            return value.data.size() == 4;
        case kRegQword:
            return value.data.size() == 8;
        case kRegSz:
        case kRegExpandSz:
        case kRegMultiSz:
            return value.data.size() % 2 == 0 && value.data.size() <= kMaxRecordedText;
        case kRegBinary:
            return value.data.size() <= kMaxRecordedBytes;
        default:
            return false;
    }
}

bool EntryInCatalogue(const TRecordEntry& entry) {
    const Tweak* tweak = CatalogueRow(entry.keyPath, entry.valueName);
    if (!tweak || entry.written != ApplyValue(*tweak)) return false;
    if (entry.existed ? !RecordableValue(entry.before) : !(entry.before == RawRegistryValue())) return false;
    return CreatedKeyAllowed(*tweak, entry.keyPath, entry.createdKey);
}

std::u16string FirstMissingKey(MachineRegistry& registry, const std::u16string& path) {
    // The root (before the first backslash) always exists; walk the subkey levels below it.
    size_t cut = path.find(u'\\');
    while (cut != std::u16string::npos) {
        cut = path.find(u'\\', cut + 1);
        const std::u16string level = cut == std::u16string::npos ? path : path.substr(0, cut);
        if (!registry.KeyExists(level)) return level;
    }
    return std::u16string();
}

namespace {

std::u16string StateText(bool existed, const RawRegistryValue& value) {
    return existed ? RegistryValueText(value) : std::u16string(u"absent");
}

}  // namespace

RecordResult TTweakRecord::Refused(RecordResult result) const {
    Tell(result == RecordResult::Busy
             ? u"record: another writer kept the lock past its bound; nothing changed"
             : u"record: a record of another format (a newer version's) is here; left as it is, nothing "
               u"changed");
    return result;
}

TTweakRecord::Format TTweakRecord::ReadFormat() {
    RawRegistryValue format;
    switch (FRegistry.ReadValue(kRecordKeyPath, kRecordFormatName, format)) {
        case MachineRegistry::Read::Absent:
            return Format::Absent;
        case MachineRegistry::Read::Present:
            return format == DwordValue(kRecordFormat) ? Format::Known : Format::Other;
        case MachineRegistry::Read::Failed:
            break;
    }
    return Format::Other;  // what cannot be read is not ours to change
}

RecordState TTweakRecord::State() {
    switch (ReadFormat()) {
        case Format::Known:
            return Entries().empty() ? RecordState::Off : RecordState::On;
        case Format::Other:
            return RecordState::Foreign;
        case Format::Absent:
            break;
    }
    return RecordState::Off;
}

std::vector<TRecordEntry> TTweakRecord::Entries() {
    std::vector<TRecordEntry> entries;
    for (const std::u16string& name : FRegistry.ValueNames(kRecordKeyPath)) {
        if (EqualsAsciiNoCase(name, kRecordFormatName)) continue;
        RawRegistryValue stored;
        if (FRegistry.ReadValue(kRecordKeyPath, name, stored) != MachineRegistry::Read::Present) continue;
        if (stored.type != kRegBinary) continue;
        std::optional<TRecordEntry> entry = DecodeRecordEntry(stored.data);
        // An entry is only trusted under its own name (a value copied or renamed by hand names nothing),
        // and only for what the tweak set itself writes.
        if (entry && EqualsAsciiNoCase(RecordEntryName(entry->keyPath, entry->valueName), name) &&
            EntryInCatalogue(*entry))
            entries.push_back(std::move(*entry));
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const TRecordEntry& a, const TRecordEntry& b) { return a.sequence < b.sequence; });
    return entries;
}

std::vector<TRecordedValue> TTweakRecord::Inspect() {
    std::vector<TRecordedValue> values;
    if (ReadFormat() != Format::Known) return values;
    for (TRecordEntry& entry : Entries()) {
        TRecordedValue value;
        value.now = FRegistry.ReadValue(entry.keyPath, entry.valueName, value.nowValue);
        if (value.now != MachineRegistry::Read::Present) value.nowValue = RawRegistryValue();
        // The same test GiveBack makes.
        value.restores = value.now == MachineRegistry::Read::Present && value.nowValue == entry.written;
        value.entry = std::move(entry);
        values.push_back(std::move(value));
    }
    return values;
}

void TTweakRecord::ClearRecord() {
    for (const std::u16string& name : FRegistry.ValueNames(kRecordKeyPath)) {
        if (!EqualsAsciiNoCase(name, kRecordFormatName)) FRegistry.DeleteValue(kRecordKeyPath, name);
    }
    // "Format" last: until then, what is left is still marked as a record of this format.
    FRegistry.DeleteValue(kRecordKeyPath, kRecordFormatName);
    // The record's key, then the program's and the maker's keys when nothing else (the installer's
    // version, another product) keeps them.
    for (std::u16string key = kRecordKeyPath; IsAtOrBelow(key, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorbeck");
         key = ParentKey(key)) {
        FRegistry.DeleteKeyIfEmpty(key);
    }
}

RecordResult TTweakRecord::Apply(const std::array<bool, kTweakCount>& enabled,
                                 const std::u16string& networkGuid) {
    Locked locked(FLock);
    if (!locked) return Refused(RecordResult::Busy);
    const Format format = ReadFormat();
    if (format == Format::Other) return Refused(RecordResult::Foreign);
    // What a take-over that never finished left.
    if (format == Format::Absent && FRegistry.KeyExists(kRecordKeyPath)) ClearRecord();

    PlannedWrites planned;
    ApplyTweaks(enabled, networkGuid, planned);
    std::vector<TRecordEntry> existing = format == Format::Known ? Entries() : std::vector<TRecordEntry>();
    uint32_t next = 1;
    for (const TRecordEntry& entry : existing) next = std::max(next, entry.sequence + 1);

    // Each value to write, with the entry to write down first when it needs a new one.
    struct Step {
        const PlannedWrites::Write* write;
        std::optional<TRecordEntry> entry;
    };
    std::vector<Step> steps;
    for (const PlannedWrites::Write& write : planned.writes) {
        auto known = std::find_if(existing.begin(), existing.end(), [&](const TRecordEntry& e) {
            return SameEntryName(e, write.path, write.name);
        });
        RawRegistryValue now;
        const MachineRegistry::Read read = FRegistry.ReadValue(write.path, write.name, now);
        if (read == MachineRegistry::Read::Failed) {  // what is there cannot be written down
            Tell(u"left " + RecordEntryName(write.path, write.name) + u": its value cannot be read");
            continue;
        }
        const bool present = read == MachineRegistry::Read::Present;
        if (known != existing.end() && present && now == known->written) continue;  // still as written

        TRecordEntry entry;
        entry.keyPath = write.path;
        entry.valueName = write.name;
        entry.written = write.value;
        entry.existed = present;
        if (present) {
            if (!RecordableValue(now)) {  // could not be given back: left as it is
                Tell(u"left " + RecordEntryName(write.path, write.name) + u": its value (" +
                     RegistryValueText(now) + u") could not be given back");
                continue;
            }
            entry.before = now;
        }
        if (known != existing.end()) {
            // Changed by hand since it was written: the hand-set state is what giving back returns to. The
            // keys created for the first write stay the ones to remove again.
            entry.sequence = known->sequence;
            entry.createdKey = known->createdKey;
        } else {
            entry.sequence = next++;
            if (!present) {
                const Tweak* tweak = CatalogueRow(write.path, write.name);
                entry.createdKey = FirstMissingKey(FRegistry, write.path);
                // Levels above what the tweak may create are left to stay; the allowed ones are removed.
                if (tweak && !CreatedKeyAllowed(*tweak, write.path, entry.createdKey))
                    entry.createdKey = tweak->perAdapter ? write.path : ParentKey(write.path);
            }
        }
        if (!EntryInCatalogue(entry)) continue;
        steps.push_back({&write, std::move(entry)});
    }

    if (steps.empty()) return existing.empty() ? RecordResult::Nothing : RecordResult::Done;

    // Write-ahead: the record and every entry, durable, before the first value changes.
    if (format != Format::Known &&
        !FRegistry.WriteValue(kRecordKeyPath, kRecordFormatName, DwordValue(kRecordFormat)))
        return existing.empty() ? RecordResult::Nothing : RecordResult::Done;
    std::vector<const Step*> recorded;
    for (const Step& step : steps) {
        if (FRegistry.WriteValue(kRecordKeyPath, RecordEntryName(step.entry->keyPath, step.entry->valueName),
                                 {kRegBinary, EncodeRecordEntry(*step.entry)}))
            recorded.push_back(&step);
    }
    FRegistry.Flush(kRecordKeyPath);
    for (const Step* step : recorded) {
        const TRecordEntry& entry = *step->entry;
        const bool ok = FRegistry.WriteValue(step->write->path, step->write->name, step->write->value);
        Tell((ok ? u"wrote " : u"could not write ") + RecordEntryName(entry.keyPath, entry.valueName) +
             u": " + StateText(entry.existed, entry.before) + u" -> " + RegistryValueText(entry.written));
    }

    if (recorded.empty() && existing.empty()) {
        ClearRecord();  // the record could not be written: nothing changed, nothing is left behind
        return RecordResult::Nothing;
    }
    return RecordResult::Done;
}

RecordResult TTweakRecord::GiveBack() {
    Locked locked(FLock);
    if (!locked) return Refused(RecordResult::Busy);
    const Format format = ReadFormat();
    if (format == Format::Other) return Refused(RecordResult::Foreign);

    std::vector<TRecordEntry> entries = format == Format::Known ? Entries() : std::vector<TRecordEntry>();
    if (entries.empty()) {
        // Off: an empty record (every switch was off, or a kill right after it was started) or a take-over
        // that never finished. Nothing to give back; what is left goes.
        if (FRegistry.KeyExists(kRecordKeyPath)) ClearRecord();
        return RecordResult::Nothing;
    }

    std::vector<std::u16string> kept;       // entries whose value could not be given back: tried again
    std::vector<const TRecordEntry*> done;  // given back (or the value someone else changed), newest first
    std::vector<std::u16string> touched;    // keys whose values were written
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        const TRecordEntry& entry = *it;
        const std::u16string entryName = RecordEntryName(entry.keyPath, entry.valueName);
        RawRegistryValue now;
        const MachineRegistry::Read read = FRegistry.ReadValue(entry.keyPath, entry.valueName, now);
        bool ok = true;
        if (read == MachineRegistry::Read::Failed) {
            ok = false;
        } else if (read == MachineRegistry::Read::Present && now == entry.written) {
            ok = entry.existed ? FRegistry.WriteValue(entry.keyPath, entry.valueName, entry.before)
                               : FRegistry.DeleteValue(entry.keyPath, entry.valueName);
            if (ok) touched.push_back(entry.keyPath);
            Tell((ok ? u"gave back " : u"could not give back (kept for next time) ") + entryName + u": " +
                 RegistryValueText(now) + u" -> " + StateText(entry.existed, entry.before));
        } else {
            Tell(u"left " + entryName + u": changed since (now " +
                 (read == MachineRegistry::Read::Present ? RegistryValueText(now)
                                                         : std::u16string(u"absent")) +
                 u")");
        }
        if (read == MachineRegistry::Read::Failed)
            Tell(u"could not read " + entryName + u" (kept for next time)");
        // Otherwise someone changed or removed the value since: theirs stays.
        if (!ok) {
            kept.push_back(entryName);
            continue;
        }
        done.push_back(&entry);
    }

    // The values given back are on disk before the entries that name them go.
    std::sort(touched.begin(), touched.end());
    touched.erase(
        std::unique(touched.begin(), touched.end(),
                    [](const std::u16string& a, const std::u16string& b) { return EqualsAsciiNoCase(a, b); }),
        touched.end());
    for (const std::u16string& key : touched) FRegistry.Flush(key);

    // Keys created for a value go when empty again (a key left by a cut is removed by the next give-back,
    // which finds the value gone and the entry still there).
    for (const TRecordEntry* entry : done) {
        if (entry->createdKey.empty()) continue;
        for (std::u16string key = entry->keyPath; IsAtOrBelow(key, entry->createdKey); key = ParentKey(key))
            FRegistry.DeleteKeyIfEmpty(key);
    }

    // Entries given back go; so does whatever in the record is not a kept entry (damaged or foreign values:
    // dropped without acting on them, or they would keep the tweak set "on" for good).
    for (const std::u16string& name : FRegistry.ValueNames(kRecordKeyPath)) {
        if (EqualsAsciiNoCase(name, kRecordFormatName)) continue;
        const bool keep = std::any_of(kept.begin(), kept.end(),
                                      [&](const std::u16string& k) { return EqualsAsciiNoCase(k, name); });
        if (!keep) FRegistry.DeleteValue(kRecordKeyPath, name);
    }
    if (kept.empty()) ClearRecord();
    FRegistry.Flush(kRecordKeyPath);
    return RecordResult::Done;
}

RecordResult TTweakRecord::TakeOver() {
    Locked locked(FLock);
    if (!locked) return Refused(RecordResult::Busy);
    const Format format = ReadFormat();
    if (format == Format::Other) return Refused(RecordResult::Foreign);
    if (format == Format::Known && !Entries().empty()) return RecordResult::Nothing;  // kept already

    // Every adapter's interface key, not only today's active one: that version applied on whichever
    // adapter was active then.
    std::vector<std::u16string> adapterKeys;
    std::u16string interfaces = kInterfacesKeyPath;
    interfaces.pop_back();  // the prefix ends with a backslash
    for (const std::u16string& name : FRegistry.SubkeyNames(interfaces)) {
        if (IsBracedGuid(name)) adapterKeys.push_back(kInterfacesKeyPath + name);
    }

    std::vector<TRecordEntry> entries;
    uint32_t sequence = 0;
    auto consider = [&](const Tweak& tweak, const std::u16string& keyPath) {
        TRecordEntry entry;
        entry.keyPath = keyPath;
        entry.valueName = tweak.valueName;
        entry.written = ApplyValue(tweak);
        RawRegistryValue now;
        if (FRegistry.ReadValue(keyPath, entry.valueName, now) != MachineRegistry::Read::Present ||
            now != entry.written)
            return;
        entry.existed = !tweak.revertRemoves;
        if (entry.existed) entry.before = DwordValue(static_cast<uint32_t>(tweak.revertValue));
        entry.sequence = ++sequence;
        entries.push_back(std::move(entry));
    };
    for (const Tweak& tweak : TweakCatalogue()) {
        if (!tweak.perAdapter) {
            consider(tweak, tweak.path);
            continue;
        }
        for (const std::u16string& key : adapterKeys) consider(tweak, key);
    }

    // An empty record, or a take-over that never finished, makes way.
    if (FRegistry.KeyExists(kRecordKeyPath)) ClearRecord();
    if (entries.empty()) return RecordResult::Nothing;
    for (const TRecordEntry& entry : entries) {
        FRegistry.WriteValue(kRecordKeyPath, RecordEntryName(entry.keyPath, entry.valueName),
                             {kRegBinary, EncodeRecordEntry(entry)});
    }
    // The entries on disk first, then "Format", which makes them a record: a take-over cut short before it
    // leaves none, one cut after leaves a whole one.
    FRegistry.Flush(kRecordKeyPath);
    FRegistry.WriteValue(kRecordKeyPath, kRecordFormatName, DwordValue(kRecordFormat));
    FRegistry.Flush(kRecordKeyPath);
    for (const TRecordEntry& entry : entries) {
        Tell(u"took over " + RecordEntryName(entry.keyPath, entry.valueName) + u": " +
             RegistryValueText(entry.written) + u", given back as " + StateText(entry.existed, entry.before));
    }
    return RecordResult::Done;
}

}  // namespace tarnell
