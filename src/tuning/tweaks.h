// The tweak set: five machine-wide registry values that the run switch applies and reverts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tarnell {

inline constexpr size_t kTweakCount = 5;

// Catalogue order: the order in which tweaks are applied and reverted.
enum class TweakOption {
    TcpAckFrequency,
    TcpDelAckTick,
    TcpNoDelay,
    NetworkThrottlingIndex,
    SystemResponsiveness
};

// The adapter's own TCP/IP parameters key is this prefix followed by its braced interface GUID.
inline constexpr const char16_t* kInterfacesKeyPath =
    u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\";

// Where the tweaks go: REG_DWORD values. The machine record writes each one down before it writes it;
// tests record the calls.
class RegistryWriter {
  public:
    virtual ~RegistryWriter() = default;
    virtual void WriteInteger(const std::u16string& path, const std::u16string& name, int32_t value) = 0;
};

struct Tweak {
    TweakOption option;
    const char16_t* settingsKey;  // per-user setting that remembers the option switch
    bool perAdapter;              // true: the key is kInterfacesKeyPath + adapter GUID
    const char16_t* path;         // the key path (the prefix alone for per-adapter rows)
    const char16_t* valueName;    // stored exactly in this letter case
    int32_t applyValue;
    // What the versions that kept no machine record left at Stop: the value removed, or reset to
    // revertValue. Only used to take over a tweak set one of them applied.
    bool revertRemoves;
    int32_t revertValue;
};

const std::array<Tweak, kTweakCount>& TweakCatalogue();

// The key path of one tweak for the given adapter GUID (appended unchanged for per-adapter rows).
std::u16string TweakPath(const Tweak& tweak, const std::u16string& networkGuid);

// Writes the apply value of every enabled tweak, in catalogue order. Per-adapter tweaks are left out
// when the GUID is empty: there is no adapter key to address then.
void ApplyTweaks(const std::array<bool, kTweakCount>& enabled, const std::u16string& networkGuid,
                 RegistryWriter& writer);

}  // namespace tarnell
