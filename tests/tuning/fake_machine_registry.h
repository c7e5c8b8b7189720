// A machine registry held in memory, with the registry's own rules: key paths and value names compare
// without regard to ASCII case, a value write creates its key's missing levels, nothing else creates a
// key, and a key can only be removed while it is empty. Two instances compare equal when they hold the
// same keys and values, so a test can compare a whole machine before and after.
#pragma once

#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "tuning/tweak_record.h"

namespace tarnell::test {

inline const std::u16string kTestGuid = u"{7A3B0C1D-5E6F-4A1B-8C2D-3E4F5A6B7C8D}";
inline const std::u16string kOtherGuid = u"{11111111-2222-3333-4444-555555555555}";
inline const std::u16string kInterfaces =
    u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces";
inline const std::u16string kAdapterKey = kInterfaces + u"\\" + kTestGuid;
inline const std::u16string kOtherAdapterKey = kInterfaces + u"\\" + kOtherGuid;
inline const std::u16string kMsmqKey = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSMQ\\Parameters";
inline const std::u16string kProfileKey =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Multimedia\\SystemProfile";

// What a process killed at that moment would leave: thrown from a write hook.
struct Killed : std::runtime_error {
    Killed() : std::runtime_error("killed") {}
};

class FakeMachineRegistry final : public MachineRegistry {
  public:
    // Lower-cased key path -> lower-cased value name -> value.
    std::map<std::u16string, std::map<std::u16string, RawRegistryValue>> keys;

    // Run before and after each value write or removal; may throw Killed.
    std::function<void(const std::u16string& path, const std::u16string& name)> beforeChange;
    std::function<void(const std::u16string& path, const std::u16string& name)> afterChange;
    // When set, every change must be made while *lockHeld is true; others are counted here.
    const bool* lockHeld = nullptr;
    int changesOutsideLock = 0;
    // Values whose reading fails (lower-cased "path\name").
    std::u16string unreadable;
    // Every change and flush in order: "write <path>\<name>", "delete <path>\<name>", "flush <path>"
    // (paths and names lower-cased).
    std::vector<std::u16string> journal;

    // A machine as Windows ships it: two adapters' interface keys, the multimedia profile with its
    // defaults, SOFTWARE\Microsoft without MSMQ.
    static FakeMachineRegistry Fresh() {
        FakeMachineRegistry r;
        r.AddKey(kAdapterKey);
        r.AddKey(kOtherAdapterKey);
        r.Set(kAdapterKey, u"DhcpIPAddress", RawRegistryValue{kRegSz, {'1', 0, 0, 0}});
        r.Set(kProfileKey, u"NetworkThrottlingIndex", DwordValue(10));
        r.Set(kProfileKey, u"SystemResponsiveness", DwordValue(20));
        r.AddKey(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows");
        return r;
    }

    void AddKey(const std::u16string& path) {
        for (size_t cut = path.find(u'\\'); cut != std::u16string::npos; cut = path.find(u'\\', cut + 1))
            keys[AsciiLowerCase(path.substr(0, cut))];
        keys[AsciiLowerCase(path)];
    }
    void Set(const std::u16string& path, const std::u16string& name, const RawRegistryValue& value) {
        AddKey(path);
        keys[AsciiLowerCase(path)][AsciiLowerCase(name)] = value;
    }
    void Remove(const std::u16string& path, const std::u16string& name) {
        auto key = keys.find(AsciiLowerCase(path));
        if (key != keys.end()) key->second.erase(AsciiLowerCase(name));
    }
    void RemoveKeyTree(const std::u16string& path) {
        const std::u16string lower = AsciiLowerCase(path);
        for (auto it = keys.begin(); it != keys.end();) {
            if (it->first == lower || it->first.rfind(lower + u"\\", 0) == 0)
                it = keys.erase(it);
            else
                ++it;
        }
    }
    const RawRegistryValue* Get(const std::u16string& path, const std::u16string& name) const {
        auto key = keys.find(AsciiLowerCase(path));
        if (key == keys.end()) return nullptr;
        auto value = key->second.find(AsciiLowerCase(name));
        return value == key->second.end() ? nullptr : &value->second;
    }
    bool HasKey(const std::u16string& path) const { return keys.count(AsciiLowerCase(path)) != 0; }

    bool operator==(const FakeMachineRegistry& other) const { return keys == other.keys; }

    // Readable differences, for a failing comparison.
    std::string Diff(const FakeMachineRegistry& other) const {
        std::string out;
        auto show = [](const RawRegistryValue& v) {
            std::string s = "type " + std::to_string(v.type) + " [";
            for (uint8_t b : v.data) s += std::to_string(b) + " ";
            return s + "]";
        };
        for (const auto& [path, values] : keys) {
            auto theirs = other.keys.find(path);
            if (theirs == other.keys.end()) {
                out += "only here: key " + Utf16ToUtf8(path) + "\n";
                continue;
            }
            for (const auto& [name, value] : values) {
                auto v = theirs->second.find(name);
                if (v == theirs->second.end())
                    out += "only here: " + Utf16ToUtf8(path + u"\\" + name) + " " + show(value) + "\n";
                else if (!(v->second == value))
                    out += "differs: " + Utf16ToUtf8(path + u"\\" + name) + " " + show(value) + " vs " +
                           show(v->second) + "\n";
            }
            for (const auto& [name, value] : theirs->second)
                if (!values.count(name))
                    out += "only there: " + Utf16ToUtf8(path + u"\\" + name) + " " + show(value) + "\n";
        }
        for (const auto& [path, values] : other.keys)
            if (!keys.count(path)) out += "only there: key " + Utf16ToUtf8(path) + "\n";
        return out;
    }

    // MachineRegistry
    bool KeyExists(const std::u16string& path) override {
        return path.find(u'\\') == std::u16string::npos || HasKey(path);
    }
    Read ReadValue(const std::u16string& path, const std::u16string& name, RawRegistryValue& value) override {
        if (!unreadable.empty() && AsciiLowerCase(path + u"\\" + name) == unreadable) return Read::Failed;
        const RawRegistryValue* v = Get(path, name);
        if (!v) return Read::Absent;
        value = *v;
        return Read::Present;
    }
    bool WriteValue(const std::u16string& path, const std::u16string& name,
                    const RawRegistryValue& value) override {
        Change(path, name);
        journal.push_back(u"write " + AsciiLowerCase(path + u"\\" + name));
        Set(path, name, value);
        if (afterChange) afterChange(path, name);
        return true;
    }
    bool DeleteValue(const std::u16string& path, const std::u16string& name) override {
        Change(path, name);
        if (Get(path, name)) journal.push_back(u"delete " + AsciiLowerCase(path + u"\\" + name));
        Remove(path, name);
        if (afterChange) afterChange(path, name);
        return true;
    }
    std::vector<std::u16string> ValueNames(const std::u16string& path) override {
        std::vector<std::u16string> names;
        auto key = keys.find(AsciiLowerCase(path));
        if (key != keys.end())
            for (const auto& [name, value] : key->second) names.push_back(name);
        return names;
    }
    std::vector<std::u16string> SubkeyNames(const std::u16string& path) override {
        std::vector<std::u16string> names;
        const std::u16string prefix = AsciiLowerCase(path) + u"\\";
        for (const auto& [key, values] : keys) {
            if (key.rfind(prefix, 0) == 0 && key.find(u'\\', prefix.size()) == std::u16string::npos)
                names.push_back(key.substr(prefix.size()));
        }
        return names;
    }
    void Flush(const std::u16string& path) override {
        if (HasKey(path)) journal.push_back(u"flush " + AsciiLowerCase(path));
    }
    void DeleteKeyIfEmpty(const std::u16string& path) override {
        const std::u16string lower = AsciiLowerCase(path);
        auto key = keys.find(lower);
        if (key == keys.end() || !key->second.empty()) return;
        for (const auto& [other, values] : keys)
            if (other.rfind(lower + u"\\", 0) == 0) return;
        Change(path, u"");
        keys.erase(lower);
    }

  private:
    void Change(const std::u16string& path, const std::u16string& name) {
        if (lockHeld && !*lockHeld) ++changesOutsideLock;
        if (beforeChange) beforeChange(path, name);
    }
};

// The record's lock as a flag the fake registry can check.
class FakeRecordLock final : public RecordLock {
  public:
    bool held = false;
    int entered = 0;
    bool busy = false;  // another writer holds it past the bound
    bool Enter() override {
        if (held) throw std::logic_error("record lock entered twice");
        if (busy) return false;
        held = true;
        ++entered;
        return true;
    }
    void Leave() override { held = false; }
};

}  // namespace tarnell::test
