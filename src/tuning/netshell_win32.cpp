#include "tuning/netshell_win32.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "base/com_win32.h"
#include "tuning/network.h"

namespace tarnell {

namespace {

constexpr int kEnumDefault = 0;  // NCME_DEFAULT

std::u16string GuidText(const GUID& guid) {
    std::array<uint8_t, 16> bytes{};
    static_assert(sizeof(GUID) == 16, "GUID layout");
    std::memcpy(bytes.data(), &guid, sizeof guid);
    return FormatGuid(bytes);
}

}  // namespace

bool CycleConnection(NetConnectionManager& manager, FreeNetconPropertiesFn freeProperties,
                     const std::u16string& guid, bool enable) {
    ComRef<EnumNetConnection> connections;
    if (FAILED(manager.EnumConnections(kEnumDefault, connections.put())) || !connections) return false;

    bool result = false;
    for (;;) {
        ComRef<NetConnection> connection;
        ULONG fetched = 0;
        if (connections->Next(1, connection.put(), &fetched) != S_OK || !connection) break;
        NetConProperties* properties = nullptr;
        if (connection->GetProperties(&properties) != S_OK || !properties) continue;
        const bool match = GuidTextEquals(GuidText(properties->guidId), guid);
        if (match) result = (enable ? connection->Connect() : connection->Disconnect()) == S_OK;
        freeProperties(properties);
        if (match) break;
    }
    return result;
}

}  // namespace tarnell
