// Per-user settings under HKEY_CURRENT_USER\Software\<Path>. An instance is short-lived: create it,
// read or write, let it go. Reads give the default for a missing value; writes never report failure.
#pragma once

#include <windows.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/scoped_win.h"

namespace tarnell {

// A stored value that its reader cannot use. Not caught by TConfig: it reaches the application's
// top-level handler. what() is the message in UTF-8.
class ERegistryException : public std::runtime_error {
  public:
    explicit ERegistryException(const std::u16string& message);
    std::u16string Message() const { return message_; }

  private:
    std::u16string message_;
};

class TConfig {
  public:
    // Opens Software\<path> below HKEY_CURRENT_USER with KEY_ALL_ACCESS, creating it when missing.
    // When that fails the instance still works: reads give defaults, writes do nothing.
    explicit TConfig(const std::u16string& path);
    ~TConfig();
    TConfig(const TConfig&) = delete;
    TConfig& operator=(const TConfig&) = delete;

    // The stored value when one of that name exists, else def. A value of the wrong type or size
    // raises ERegistryException instead.
    bool ReadBoolean(const std::u16string& name, bool def);
    int32_t ReadInteger(const std::u16string& name, int32_t def);
    std::u16string ReadString(const std::u16string& name, const std::u16string& def);

    // Store the value (REG_DWORD 1/0, REG_DWORD, REG_SZ) and return it, whether or not the store succeeded.
    bool WriteBoolean(const std::u16string& name, bool value);
    int32_t WriteInteger(const std::u16string& name, int32_t value);
    std::u16string WriteString(const std::u16string& name, const std::u16string& value);

  private:
    bool ValueExists(const std::u16string& name) const;
    void WriteRaw(const std::u16string& name, DWORD type, const std::vector<uint8_t>& data);

    ScopedHKey FReg;
};

}  // namespace tarnell
