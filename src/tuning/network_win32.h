// Adapter services: discovery of the active adapter, connection cycling and the connectivity probe.
#pragma once

#include <string>
#include <vector>

#include "tuning/network.h"

namespace tarnell {

// The first active physical adapter that is not virtual or shared and has an IP-enabled configuration.
// Asks WMI; where the locator, the connection or the adapter query fails (Wine, a broken WMI
// repository), or WMI does not answer within kDiscoveryWmiBounds (a hung service or provider), the IP
// Helper API supplies the adapter records instead. Initialises COM around the call.
// False when no adapter qualifies; never throws.
bool GetActiveAdapter(std::u16string& name, std::u16string& guid, std::u16string& ip);

// Connects (enable) or disconnects the network connection whose GUID equals `guid`, letter case
// ignored, through netshell's connection manager. COM must be initialised on the calling thread.
// Unavailable when netshell or its manager is missing (Wine has none); Failed when the enumeration or a
// matching connection is missing, or the request failed.
ConnectionChange ChangeConnection(const std::u16string& guid, bool enable);
// ChangeConnection answered Done.
bool EnableConnection(const std::u16string& guid, bool enable);

// One GET of the probe URL with 3000 ms time-outs; true when any HTTP answer arrives.
bool CheckConnectivity();
bool CheckConnectivity(const std::u16string& url);

// The machine's adapters as the IP Helper API reports them (empty when it fails).
std::vector<IpHelperAdapter> ReadIpHelperAdapters();

class WmiSession;

// Discovery's view of this machine: the adapter and configuration queries through `wmi` (not connected
// stands for a WMI that failed), the IP Helper API for the stand-in.
class SystemAdapters final : public AdapterSystem {
  public:
    SystemAdapters(WmiSession& wmi, bool connected) : wmi_(wmi), connected_(connected) {}
    bool WalkWmiAdapters(const std::function<bool(const AdapterRecord&)>& visit) override;
    std::optional<std::vector<AdapterConfiguration>> WmiConfigurations(const AdapterRecord& adapter) override;
    std::vector<IpHelperAdapter> IpHelperAdapters() override;

  private:
    WmiSession& wmi_;
    bool connected_;
};

}  // namespace tarnell
