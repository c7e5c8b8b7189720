// The machine registry, in the 64-bit view, addressed by textual paths: the tweak writer and what the
// machine record needs. Failures are quiet results: a value that cannot be written or removed stays as
// it was.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tuning/tweak_record.h"

namespace tarnell {

// KEY_READ | KEY_WRITE | KEY_WOW64_64KEY.
inline constexpr uint32_t kTweakRegistryAccess = 0x2011F;

// Sets `name` under the key at `path` to REG_DWORD `value`, creating the key (and missing levels) first.
void WriteRegistryInteger(const std::u16string& path, const std::u16string& name, int32_t value);

class SystemMachineRegistry final : public MachineRegistry {
  public:
    bool KeyExists(const std::u16string& path) override;
    Read ReadValue(const std::u16string& path, const std::u16string& name, RawRegistryValue& value) override;
    bool WriteValue(const std::u16string& path, const std::u16string& name,
                    const RawRegistryValue& value) override;
    bool DeleteValue(const std::u16string& path, const std::u16string& name) override;
    std::vector<std::u16string> ValueNames(const std::u16string& path) override;
    std::vector<std::u16string> SubkeyNames(const std::u16string& path) override;
    void DeleteKeyIfEmpty(const std::u16string& path) override;
    void Flush(const std::u16string& path) override;
};

// How long a command waits for another writer of the record before it gives up and changes nothing.
inline constexpr uint32_t kCommandRecordLockMs = 10000;

// The machine-wide lock of the record, "Global\TarnellRecord", waited for at most `timeoutMs`.
class SystemRecordLock final : public RecordLock {
  public:
    explicit SystemRecordLock(uint32_t timeoutMs = kCommandRecordLockMs);
    ~SystemRecordLock() override;
    bool Enter() override;
    void Leave() override;

  private:
    struct Held;
    uint32_t FTimeoutMs;
    std::unique_ptr<Held> FHeld;
};

}  // namespace tarnell
