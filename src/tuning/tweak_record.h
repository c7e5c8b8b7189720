// The machine's own record of what the tweak set changed, and the giving back of exactly that.
//
// The tweak values are machine-wide, so what decides whether and how they are given back is kept
// on the machine too, under the program's machine key: one entry per value the tweak set changed,
// holding the value's full key path, its name, whether it existed, its type and bytes before, and
// what was written. An entry is written (and flushed) before its value changes and is replaced only when
// the user changed the value by hand since, so the record names the machine as it was before the first
// apply, or as the user last set it, whichever account, session or adapter applied it.
//
// Portable rules over a small registry interface; tuning/registry_writer_win32.h is the system's.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/registry_value.h"
#include "tuning/tweaks.h"

namespace tarnell {

// The program's machine key (64-bit view), beside the installer's "InstalledVersion".
inline constexpr char16_t kMachineKeyPath[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorbeck\\Tarnell";
// The record. Its "Format" value says how its entries are laid out and marks it whole; every other value
// is one entry, named after the key path and value name it stands for. A record is on while its format is
// this one and it holds at least one entry. A record of another format (a newer version's) is left exactly
// as it is. Entries without "Format" are a take-over that never finished: nothing, cleared by the next
// writer.
inline constexpr char16_t kRecordKeyPath[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorbeck\\Tarnell\\Applied";
inline constexpr char16_t kRecordFormatName[] = u"Format";
inline constexpr uint32_t kRecordFormat = 1;

// The machine registry as the record needs it. Paths are textual registry paths (root name, backslash,
// subkey), always in the 64-bit view. Nothing here creates a key except WriteValue.
class MachineRegistry {
  public:
    virtual ~MachineRegistry() = default;

    enum class Read { Absent, Present, Failed };

    virtual bool KeyExists(const std::u16string& path) = 0;
    // Absent also when the key itself is missing; Failed when the value exists but cannot be read.
    virtual Read ReadValue(const std::u16string& path, const std::u16string& name,
                           RawRegistryValue& value) = 0;
    // Stores the value exactly, creating the key and any missing levels. False when nothing was written.
    virtual bool WriteValue(const std::u16string& path, const std::u16string& name,
                            const RawRegistryValue& value) = 0;
    // Removes the value; a missing value or key counts as removed. Never creates a key.
    virtual bool DeleteValue(const std::u16string& path, const std::u16string& name) = 0;
    virtual std::vector<std::u16string> ValueNames(const std::u16string& path) = 0;
    virtual std::vector<std::u16string> SubkeyNames(const std::u16string& path) = 0;
    // Removes the key when it holds no values and no subkeys; anything else is left as it is.
    virtual void DeleteKeyIfEmpty(const std::u16string& path) = 0;
    // Writes what has changed in the key's hive to disk before returning (a missing key: nothing).
    virtual void Flush(const std::u16string& path) = 0;
};

// One changed value.
struct TRecordEntry {
    std::u16string keyPath;    // the full textual path of the value's key
    std::u16string valueName;  // as the tweak writes it
    uint32_t sequence = 0;     // order of writing; entries are given back newest first
    bool existed = false;      // whether the value existed before
    RawRegistryValue before;   // its type and bytes before, when it existed
    RawRegistryValue written;  // what the tweak set wrote
    // The topmost key level that did not exist before and was created for this value; empty when the
    // value's key existed. Given back by removing the levels from the value's key up to this one, each
    // only when empty.
    std::u16string createdKey;

    bool operator==(const TRecordEntry&) const = default;
};

// The entry's name in the record: its key path, a backslash, its value name.
std::u16string RecordEntryName(const std::u16string& keyPath, const std::u16string& valueName);

// The stored form of an entry (REG_BINARY), and back. Decoding never trusts its input: anything that
// is not exactly one well-formed entry gives nullopt.
std::vector<uint8_t> EncodeRecordEntry(const TRecordEntry& entry);
std::optional<TRecordEntry> DecodeRecordEntry(std::span<const uint8_t> bytes);

// Whether an entry names what the tweak set itself writes: one of the catalogue's values in its own key
// (an adapter's interface key named by a braced GUID, the MSMQ parameters, the multimedia profile), the
// tweak's own value as written, an earlier value of a kind such a value may hold, and created levels no
// higher than the tweak could have created. Giving back acts on nothing else.
bool EntryInCatalogue(const TRecordEntry& entry);

// Whether an earlier value is one the record keeps: a DWORD or QWORD at its size, a short text, a few bytes.
// Anything else is not changed by the tweak set, since it could not be given back.
bool RecordableValue(const RawRegistryValue& value);

// The topmost level of `path` that does not exist ("" when the whole path exists), asking the registry
// level by level from the root down.
std::u16string FirstMissingKey(MachineRegistry& registry, const std::u16string& path);

// One writer at a time, machine-wide: held while entries and values change, by every session and account.
class RecordLock {
  public:
    virtual ~RecordLock() = default;
    // False when the lock could not be had within its bound: then nothing may change.
    virtual bool Enter() = 0;
    virtual void Leave() = 0;
};

enum class RecordState {
    Off,      // no record, or one without entries
    On,       // a record of this format with at least one entry
    Foreign,  // a record of another format (a newer version's): left as it is
};

enum class RecordResult {
    Done,     // the record was written or given back
    Nothing,  // nothing to do: nothing changed, no record left behind
    Busy,     // another writer held the lock past its bound: nothing changed
    Foreign,  // a record of another format is there: nothing changed
};

// One entry of the record with what its value holds now: what telling the record shows.
struct TRecordedValue {
    TRecordEntry entry;
    MachineRegistry::Read now = MachineRegistry::Read::Absent;
    RawRegistryValue nowValue;  // when now is Present
    // Giving back would put the earlier state back: the value still holds what was written. Otherwise it
    // would be left as it is now (changed or removed since).
    bool restores = false;
};

class TTweakRecord {
  public:
    // Told one line for each value written or given back, each left, and each refusal (the program's log).
    using Note = std::function<void(const std::u16string&)>;

    TTweakRecord(MachineRegistry& registry, RecordLock& lock, Note note = nullptr)
        : FRegistry(registry), FLock(lock), FNote(std::move(note)) {}

    // Reads only: no lock.
    RecordState State();

    // Applies the enabled tweaks (catalogue order) for the adapter: every value that will change is
    // written down first, the record flushed, then the values written; a value whose entry cannot be
    // written is left unchanged. A value that already has an entry keeps it while it still holds what was
    // written; one changed by hand since gets a new entry naming the hand-set value as its earlier state,
    // so giving back returns the user's value. Per-adapter tweaks are left out for an empty GUID. Nothing
    // when no value is recorded (every switch off): then no record is written.
    RecordResult Apply(const std::array<bool, kTweakCount>& enabled, const std::u16string& networkGuid);

    // Gives back every entry, newest first: a value still holding what was written gets its earlier state
    // back (an absent one is removed), a value someone changed since is left; keys created for a value are
    // removed again when empty. The values' keys are flushed, then the entries go; when none is left, the
    // record goes. Values without a catalogue entry are never touched and no key is created. Nothing when
    // the record is off (an empty record, or one never finished, is cleared).
    RecordResult GiveBack();

    // Takes over a tweak set applied by a version that kept no record, once, at the upgrade: every value
    // of the catalogue, in every adapter's interface key, that holds its tweak's apply value gets an entry
    // whose earlier state is what that version's Stop left (the first three absent, the last two 10 and
    // 20). The entries are written first and "Format" last, so a record is either whole or not there.
    // Nothing when a record is on already or no value holds its apply value.
    RecordResult TakeOver();

    // The catalogue entries as stored, in writing order; undecodable and foreign ones are left out. Reads
    // only: no lock.
    std::vector<TRecordEntry> Entries();

    // Entries() with what each value holds now and what giving back would do with it. Reads only.
    std::vector<TRecordedValue> Inspect();

  private:
    enum class Format { Absent, Known, Other };
    Format ReadFormat();
    void ClearRecord();

    void Tell(const std::u16string& line) const {
        if (FNote) FNote(line);
    }
    RecordResult Refused(RecordResult result) const;

    MachineRegistry& FRegistry;
    RecordLock& FLock;
    Note FNote;
};

}  // namespace tarnell
