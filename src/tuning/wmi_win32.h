// Adapter discovery through WMI scripting, late-bound (IDispatch), as on any Windows machine with a
// healthy WMI repository. The caller has COM initialised on its thread.
#pragma once

// clang-format off
#include <windows.h>
#include <oaidl.h>
// clang-format on

#include <optional>
#include <string>
#include <vector>

#include "tuning/com_win32.h"
#include "tuning/network.h"

namespace tarnell {

class WmiSession {
  public:
    // Creates "WbemScripting.SWbemLocator" and connects to "." / "root\CIMV2". False on any failure.
    bool Connect();

    // Runs a WQL query and collects its objects in the order the enumeration yields them; nullopt when
    // the query or the walk over its result fails.
    std::optional<std::vector<ComRef<IDispatch>>> Query(const std::u16string& wql);

    // The adapter query: physical, enabled adapters with index, connection name, name and GUID.
    std::optional<std::vector<AdapterRecord>> QueryAdapters();

    // The configuration query for one adapter index; nullopt when it fails. A configuration whose
    // IPEnabled or IPAddress cannot be read is listed as not usable.
    std::optional<std::vector<AdapterConfiguration>> QueryConfigurations(const std::u16string& index);

  private:
    ComRef<IDispatch> services_;
};

// A property of a WMI object, read by name into `value` (an initialised VARIANT, cleared first);
// false when the object does not answer it.
bool GetWmiProperty(IDispatch* object, const wchar_t* name, VARIANT* value);

}  // namespace tarnell
