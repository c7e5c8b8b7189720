// The machine's own record of what the tweak set changed, and the giving back of exactly that.
//
// The tweak values are machine-wide, so what decides whether and how they are given back is kept
// on the machine too, under the program's machine key: one entry per value the tweak set changed,
// holding the value's full key path, its name, whether it existed, its type and bytes before, and
// what was written. An entry is written before its value changes and is never replaced, so the
// record always names the machine as it was before the first apply, whichever account, session or
// adapter applied it. The record's key existing is the tweak set being on.
//
// Portable rules over a small registry interface; tuning/machine_registry_win32.h is the system's.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/registry_value.h"
#include "tuning/tweaks.h"

namespace tarnell {

// The program's machine key (64-bit view), beside the installer's "InstalledVersion".
inline constexpr char16_t kMachineKeyPath[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorbeck\\Tarnell";
// The record: present while the tweak set is on. Its "Format" value marks it; every other value is
// one entry, named after the key path and value name it stands for.
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
    // Removes the key when it holds no values and no subkeys; anything else is left as it is.
    virtual void DeleteKeyIfEmpty(const std::u16string& path) = 0;
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

// The topmost level of `path` that does not exist ("" when the whole path exists), asking the registry
// level by level from the root down.
std::u16string FirstMissingKey(MachineRegistry& registry, const std::u16string& path);

// One writer at a time, machine-wide: held while entries and values change, by every session and account.
class RecordLock {
  public:
    virtual ~RecordLock() = default;
    virtual void Enter() = 0;
    virtual void Leave() = 0;
};

class TTweakRecord {
  public:
    TTweakRecord(MachineRegistry& registry, RecordLock& lock) : FRegistry(registry), FLock(lock) {}

    // The tweak set is on: the record exists.
    bool Present();

    // Applies the enabled tweaks (catalogue order) for the adapter, each written down before its value
    // changes; a value whose entry cannot be written is left unchanged. A value that already has an
    // entry keeps it: the earlier state stays the one before the first apply. Per-adapter tweaks are
    // left out for an empty GUID. False when the record could not be started (nothing was changed).
    bool Apply(const std::array<bool, kTweakCount>& enabled, const std::u16string& networkGuid);

    // Gives back every entry, newest first: a value still holding what was written gets its earlier state
    // back (an absent one is removed), a value someone changed since is left; keys created for a value are
    // removed again when empty; then the entry goes. Values without an entry are never touched and no key
    // is created. When no entry is left the record goes. False when there was no record.
    bool GiveBack();

    // Takes over a tweak set applied by a version that kept no record, so that it can be given back as that
    // version's revert would have: each value that holds the tweak's own apply value gets an entry whose
    // earlier state is that revert's result (the first three absent, the last two 10 and 20). Does
    // nothing when a record exists or no value holds its apply value.
    void Adopt(const std::u16string& networkGuid);

    // The entries as stored, in writing order; undecodable ones are left out. Reads only: no lock.
    std::vector<TRecordEntry> Entries();

  private:
    bool StartRecord();
    void DropRecordIfEmpty();

    MachineRegistry& FRegistry;
    RecordLock& FLock;
};

}  // namespace tarnell
