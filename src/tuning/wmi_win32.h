// Adapter discovery through WMI's own COM interfaces (IWbemLocator, IWbemServices), as on any Windows
// machine with a healthy WMI repository. The caller has COM initialised on its thread.
#pragma once

// clang-format off
#include <windows.h>
#include <wbemidl.h>
// clang-format on

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/com_win32.h"
#include "tuning/network.h"

namespace tarnell {

class WmiSession {
  public:
    WmiSession() = default;
    // A session on a services object obtained elsewhere (a stand-in, in the tests).
    explicit WmiSession(ComRef<IWbemServices> services) : services_(std::move(services)) {}

    // Creates the WMI locator and connects to the local "root\CIMV2" namespace. False on any failure.
    bool Connect();

    // Runs a WQL query and hands its objects to `visit` one at a time, as the enumerator yields them,
    // while it yields objects and `visit` answers true. False when the query could not be run or its
    // walk failed before yielding an object; an error after some objects ends the walk, and what was
    // handed over stands.
    bool Walk(const std::u16string& wql, const std::function<bool(IWbemClassObject*)>& visit);

    // Runs a WQL query and collects its objects (see Walk); nullopt when Walk answers false.
    std::optional<std::vector<ComRef<IWbemClassObject>>> Query(const std::u16string& wql);

    // The adapter query (physical, enabled adapters), each adapter handed to `visit` as it is read;
    // false when WMI failed before yielding one (see Walk).
    bool WalkAdapters(const std::function<bool(const AdapterRecord&)>& visit);

    // The configuration query for one adapter index; nullopt when it fails. A configuration whose
    // IPEnabled or IPAddress cannot be read is listed as not usable.
    std::optional<std::vector<AdapterConfiguration>> QueryConfigurations(const std::u16string& index);

  private:
    ComRef<IWbemServices> services_;
};

// A property of a WMI object, read by name into `value` (an initialised VARIANT, cleared first);
// false when the object does not have it.
bool GetWmiProperty(IWbemClassObject* object, const wchar_t* name, VARIANT* value);

}  // namespace tarnell
