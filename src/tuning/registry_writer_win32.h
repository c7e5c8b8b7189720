// Machine registry writes for the tweak set, in the 64-bit view. Failures are dropped: a value that
// cannot be written or removed stays as it was.
#pragma once

#include <cstdint>
#include <string>

#include "tuning/tweaks.h"

namespace tarnell {

// KEY_READ | KEY_WRITE | KEY_WOW64_64KEY.
inline constexpr uint32_t kTweakRegistryAccess = 0x2011F;

// Sets `name` under the key at `path` to REG_DWORD `value`, creating the key (and missing levels) first.
void WriteRegistryInteger(const std::u16string& path, const std::u16string& name, int32_t value);
// Removes `name` under the key at `path`. The key is opened with create, so a missing key is created
// and stays, empty.
void DeleteRegistryValue(const std::u16string& path, const std::u16string& name);

class SystemRegistryWriter final : public RegistryWriter {
  public:
    void WriteInteger(const std::u16string& path, const std::u16string& name, int32_t value) override {
        WriteRegistryInteger(path, name, value);
    }
    void DeleteValue(const std::u16string& path, const std::u16string& name) override {
        DeleteRegistryValue(path, name);
    }
};

}  // namespace tarnell
