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

// The tweak writer that writes each value's entry down first.
class RecordingWriter final : public RegistryWriter {
  public:
    RecordingWriter(MachineRegistry& registry, std::vector<TRecordEntry> existing)
        : registry_(registry), existing_(std::move(existing)) {
        for (const TRecordEntry& entry : existing_) next_ = std::max(next_, entry.sequence + 1);
    }

    void WriteInteger(const std::u16string& path, const std::u16string& name, int32_t value) override {
        const RawRegistryValue written = DwordValue(static_cast<uint32_t>(value));
        if (!Recorded(path, name) && !Record(path, name, written)) return;
        registry_.WriteValue(path, name, written);
    }

  private:
    bool Recorded(const std::u16string& path, const std::u16string& name) const {
        const std::u16string entryName = RecordEntryName(path, name);
        return std::any_of(existing_.begin(), existing_.end(), [&](const TRecordEntry& e) {
            return EqualsAsciiNoCase(RecordEntryName(e.keyPath, e.valueName), entryName);
        });
    }

    bool Record(const std::u16string& path, const std::u16string& name, const RawRegistryValue& written) {
        TRecordEntry entry;
        entry.keyPath = path;
        entry.valueName = name;
        entry.sequence = next_;
        entry.written = written;
        switch (registry_.ReadValue(path, name, entry.before)) {
            case MachineRegistry::Read::Present:
                entry.existed = true;
                break;
            case MachineRegistry::Read::Absent:
                entry.before = RawRegistryValue();
                entry.createdKey = FirstMissingKey(registry_, path);
                break;
            case MachineRegistry::Read::Failed:
                return false;  // what is there cannot be written down, so it is not changed
        }
        if (!registry_.WriteValue(kRecordKeyPath, RecordEntryName(path, name),
                                  {kRegBinary, EncodeRecordEntry(entry)}))
            return false;
        existing_.push_back(entry);
        ++next_;
        return true;
    }

    MachineRegistry& registry_;
    std::vector<TRecordEntry> existing_;
    uint32_t next_ = 1;
};

class Locked {
  public:
    explicit Locked(RecordLock& lock) : lock_(lock) { lock_.Enter(); }
    ~Locked() { lock_.Leave(); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

  private:
    RecordLock& lock_;
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

bool TTweakRecord::Present() {
    return FRegistry.KeyExists(kRecordKeyPath);
}

std::vector<TRecordEntry> TTweakRecord::Entries() {
    std::vector<TRecordEntry> entries;
    for (const std::u16string& name : FRegistry.ValueNames(kRecordKeyPath)) {
        if (EqualsAsciiNoCase(name, kRecordFormatName)) continue;
        RawRegistryValue stored;
        if (FRegistry.ReadValue(kRecordKeyPath, name, stored) != MachineRegistry::Read::Present) continue;
        if (stored.type != kRegBinary) continue;
        std::optional<TRecordEntry> entry = DecodeRecordEntry(stored.data);
        // An entry is only trusted under its own name: a value copied or renamed by hand names nothing.
        if (entry && EqualsAsciiNoCase(RecordEntryName(entry->keyPath, entry->valueName), name))
            entries.push_back(std::move(*entry));
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const TRecordEntry& a, const TRecordEntry& b) { return a.sequence < b.sequence; });
    return entries;
}

bool TTweakRecord::StartRecord() {
    if (Present()) return true;
    return FRegistry.WriteValue(kRecordKeyPath, kRecordFormatName, DwordValue(kRecordFormat));
}

bool TTweakRecord::Apply(const std::array<bool, kTweakCount>& enabled, const std::u16string& networkGuid) {
    Locked locked(FLock);
    if (!StartRecord()) return false;
    RecordingWriter writer(FRegistry, Entries());
    ApplyTweaks(enabled, networkGuid, writer);
    return true;
}

bool TTweakRecord::GiveBack() {
    Locked locked(FLock);
    if (!Present()) return false;

    std::vector<TRecordEntry> entries = Entries();
    std::vector<std::u16string> kept;  // entries whose value could not be given back: tried again next time
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        const TRecordEntry& entry = *it;
        RawRegistryValue now;
        const MachineRegistry::Read read = FRegistry.ReadValue(entry.keyPath, entry.valueName, now);
        bool done = true;
        if (read == MachineRegistry::Read::Failed) {
            done = false;
        } else if (read == MachineRegistry::Read::Present && now == entry.written) {
            done = entry.existed ? FRegistry.WriteValue(entry.keyPath, entry.valueName, entry.before)
                                 : FRegistry.DeleteValue(entry.keyPath, entry.valueName);
        }
        // Otherwise someone changed or removed the value since: theirs stays.
        if (!done) {
            kept.push_back(RecordEntryName(entry.keyPath, entry.valueName));
            continue;
        }
        if (!entry.createdKey.empty()) {
            for (std::u16string key = entry.keyPath; IsAtOrBelow(key, entry.createdKey);
                 key = ParentKey(key)) {
                FRegistry.DeleteKeyIfEmpty(key);
            }
        }
        FRegistry.DeleteValue(kRecordKeyPath, RecordEntryName(entry.keyPath, entry.valueName));
    }

    // Whatever is left in the record and is not an entry being kept (damaged or foreign values) cannot be
    // given back and would keep the tweak set "on" for good: it goes.
    for (const std::u16string& name : FRegistry.ValueNames(kRecordKeyPath)) {
        if (EqualsAsciiNoCase(name, kRecordFormatName)) continue;
        const bool keep = std::any_of(kept.begin(), kept.end(),
                                      [&](const std::u16string& k) { return EqualsAsciiNoCase(k, name); });
        if (!keep) FRegistry.DeleteValue(kRecordKeyPath, name);
    }
    if (kept.empty()) DropRecordIfEmpty();
    return true;
}

void TTweakRecord::DropRecordIfEmpty() {
    FRegistry.DeleteValue(kRecordKeyPath, kRecordFormatName);
    // The record's key, then the program's and the maker's keys when nothing else (the installer's
    // version, another product) keeps them.
    for (std::u16string key = kRecordKeyPath; IsAtOrBelow(key, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorbeck");
         key = ParentKey(key)) {
        FRegistry.DeleteKeyIfEmpty(key);
    }
}

void TTweakRecord::Adopt(const std::u16string& networkGuid) {
    Locked locked(FLock);
    if (Present()) return;
    std::vector<TRecordEntry> entries;
    uint32_t sequence = 0;
    for (const Tweak& tweak : TweakCatalogue()) {
        if (tweak.perAdapter && networkGuid.empty()) continue;
        TRecordEntry entry;
        entry.keyPath = TweakPath(tweak, networkGuid);
        entry.valueName = tweak.valueName;
        entry.written = DwordValue(static_cast<uint32_t>(tweak.applyValue));
        RawRegistryValue now;
        if (FRegistry.ReadValue(entry.keyPath, entry.valueName, now) != MachineRegistry::Read::Present ||
            now != entry.written)
            continue;
        entry.existed = !tweak.revertRemoves;
        if (entry.existed) entry.before = DwordValue(static_cast<uint32_t>(tweak.revertValue));
        entry.sequence = ++sequence;
        entries.push_back(std::move(entry));
    }
    if (entries.empty() || !StartRecord()) return;
    for (const TRecordEntry& entry : entries) {
        FRegistry.WriteValue(kRecordKeyPath, RecordEntryName(entry.keyPath, entry.valueName),
                             {kRegBinary, EncodeRecordEntry(entry)});
    }
}

}  // namespace tarnell
