// Adapter discovery through WMI's own COM interfaces (IWbemLocator, IWbemServices), as on any Windows
// machine with a healthy WMI repository. The caller has COM initialised on its thread.
#pragma once

// clang-format off
#include <windows.h>
#include <wbemidl.h>
// clang-format on

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/com_win32.h"
#include "tuning/network.h"

namespace tarnell {

// How long a session waits for WMI: each object of a walk at most `perItem`, and all its walks together
// at most `overall`, counted from its first query. A WMI that hangs (a damaged repository, a stuck
// provider) then counts as a WMI that failed, and discovery takes the IP Helper road. A healthy WMI
// answers in a fraction of either, so the bounds cost nothing when it answers.
struct WmiBounds {
    std::chrono::milliseconds perItem;
    std::chrono::milliseconds overall;
};
inline constexpr WmiBounds kDiscoveryWmiBounds{std::chrono::milliseconds(2000),
                                               std::chrono::milliseconds(4000)};

class WmiSession {
  public:
    explicit WmiSession(WmiBounds bounds = kDiscoveryWmiBounds) : bounds_(bounds) {}
    // A session on a services object obtained elsewhere (a stand-in, in the tests).
    explicit WmiSession(ComRef<IWbemServices> services, WmiBounds bounds = kDiscoveryWmiBounds)
        : services_(std::move(services)), bounds_(bounds) {}

    // Creates the WMI locator and connects to the local "root\CIMV2" namespace. False on any failure.
    // The connection itself is bounded only by WMI's own maximum wait (two minutes).
    bool Connect();

    // Runs a WQL query and hands its objects to `visit` one at a time, as the enumerator yields them,
    // while it yields objects and `visit` answers true. False when the query could not be run or its
    // walk failed before yielding an object; an error after some objects ends the walk, and what was
    // handed over stands. Also false, whatever was handed over, when an object did not come within the
    // session's bounds (see TimedOut).
    bool Walk(const std::u16string& wql, const std::function<bool(IWbemClassObject*)>& visit);

    // True once a walk ended because WMI did not answer within the bounds; every walk still going, and
    // every later one, then fails at its next step.
    bool TimedOut() const { return timedOut_; }

    // Runs a WQL query and collects its objects (see Walk); nullopt when Walk answers false.
    std::optional<std::vector<ComRef<IWbemClassObject>>> Query(const std::u16string& wql);

    // The adapter query (physical, enabled adapters), each adapter handed to `visit` as it is read;
    // false when WMI failed before yielding one (see Walk).
    bool WalkAdapters(const std::function<bool(const AdapterRecord&)>& visit);

    // The configuration query for one adapter index; nullopt when it fails. A configuration whose
    // IPEnabled or IPAddress cannot be read is listed as not usable.
    std::optional<std::vector<AdapterConfiguration>> QueryConfigurations(const std::u16string& index);

  private:
    // The time left for the next object, never more than the per-item bound; zero once the session's
    // deadline has passed or one of its walks timed out.
    std::chrono::milliseconds NextWait();

    ComRef<IWbemServices> services_;
    WmiBounds bounds_;
    std::optional<std::chrono::steady_clock::time_point> deadline_;  // set by the first query
    bool timedOut_ = false;
};

// A property of a WMI object, read by name into `value` (an initialised VARIANT, cleared first);
// false when the object does not have it.
bool GetWmiProperty(IWbemClassObject* object, const wchar_t* name, VARIANT* value);

}  // namespace tarnell
