#include "config/config_win32.h"

#include <optional>
#include <vector>

#include "base/registry_win32.h"
#include "base/text.h"
#include "base/wide.h"
#include "config/config.h"

namespace tarnell {

namespace {

// All bytes of a value, or nullopt when they cannot be fetched.
std::optional<RawRegistryValue> FetchValue(HKEY key, const std::u16string& name) {
    RawRegistryValue raw;
    if (FetchRegistryValue(key, name, raw) != ERROR_SUCCESS) return std::nullopt;
    return raw;
}

template <typename T>
T ValueOrThrow(const Decoded<T>& decoded, const std::u16string& name) {
    if (decoded.error != ConfigReadError::None)
        throw ERegistryException(ConfigReadErrorMessage(decoded.error, name));
    return decoded.value;
}

}  // namespace

ERegistryException::ERegistryException(const std::u16string& message)
    : std::runtime_error(Utf16ToUtf8(message)), message_(message) {}

TConfig::TConfig(const std::u16string& path) {
    const std::u16string subkey = u"Software\\" + path;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, W(subkey), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
        FReg.reset(key);
    }
}

// Closing without RegFlushKey: the system writes the hive out in its own time.
TConfig::~TConfig() = default;

bool TConfig::ValueExists(const std::u16string& name) const {
    return FReg && RegQueryValueExW(FReg.get(), W(name), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool TConfig::ReadBoolean(const std::u16string& name, bool def) {
    if (!ValueExists(name)) return def;
    return ValueOrThrow(DecodeBoolean(FetchValue(FReg.get(), name)), name);
}

int32_t TConfig::ReadInteger(const std::u16string& name, int32_t def) {
    if (!ValueExists(name)) return def;
    return ValueOrThrow(DecodeInteger(FetchValue(FReg.get(), name)), name);
}

std::u16string TConfig::ReadString(const std::u16string& name, const std::u16string& def) {
    if (!ValueExists(name)) return def;
    return ValueOrThrow(DecodeString(FetchValue(FReg.get(), name)), name);
}

void TConfig::WriteRaw(const std::u16string& name, DWORD type, const std::vector<uint8_t>& data) {
    // A failed write is dropped on purpose: the caller carries on exactly as after a successful one.
    if (!FReg) return;
    RegSetValueExW(FReg.get(), W(name), 0, type, data.data(), static_cast<DWORD>(data.size()));
}

bool TConfig::WriteBoolean(const std::u16string& name, bool value) {
    WriteRaw(name, REG_DWORD, EncodeInteger(value ? 1 : 0));
    return value;
}

int32_t TConfig::WriteInteger(const std::u16string& name, int32_t value) {
    WriteRaw(name, REG_DWORD, EncodeInteger(value));
    return value;
}

std::u16string TConfig::WriteString(const std::u16string& name, const std::u16string& value) {
    WriteRaw(name, REG_SZ, EncodeString(value));
    return value;
}

}  // namespace tarnell
