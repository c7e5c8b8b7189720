// Win32 glue only: reading a registry value whole, shared by the settings store and the machine record.
#pragma once

#include <windows.h>

#include <string>

#include "base/registry_value.h"

namespace tarnell {

// All bytes of value `name` under an open key, with its type. ERROR_SUCCESS, ERROR_FILE_NOT_FOUND when
// there is no such value, or the error that stopped the read. A value that grows between the size query
// and the read is asked for again.
LONG FetchRegistryValue(HKEY key, const std::u16string& name, RawRegistryValue& value);

}  // namespace tarnell
