#include "tuning/tweaks.h"

namespace tarnell {

namespace {
constexpr const char16_t* kMsmqParameters = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSMQ\\Parameters";
constexpr const char16_t* kSystemProfile =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Multimedia\\SystemProfile";

constexpr std::array<Tweak, kTweakCount> kCatalogue = {{
    {TweakOption::TcpAckFrequency, u"tcpackfrequency", true, kInterfacesKeyPath, u"TcpAckFrequency", 1, true,
     0},
    {TweakOption::TcpDelAckTick, u"tcpdelacktick", true, kInterfacesKeyPath, u"TcpDelAckTicks", 0, true, 0},
    {TweakOption::TcpNoDelay, u"tcpnodelay", false, kMsmqParameters, u"TCPNoDelay", 1, true, 0},
    {TweakOption::NetworkThrottlingIndex, u"networkthrottleindex", false, kSystemProfile,
     u"NetworkThrottlingIndex", -1, false, 10},
    {TweakOption::SystemResponsiveness, u"systemresponsiveness", false, kSystemProfile,
     u"SystemResponsiveness", 0, false, 20},
}};

bool Addressable(const Tweak& tweak, const std::u16string& networkGuid) {
    return !tweak.perAdapter || !networkGuid.empty();
}
}  // namespace

const std::array<Tweak, kTweakCount>& TweakCatalogue() {
    return kCatalogue;
}

std::u16string TweakPath(const Tweak& tweak, const std::u16string& networkGuid) {
    std::u16string path = tweak.path;
    if (tweak.perAdapter) path += networkGuid;
    return path;
}

void ApplyTweaks(const std::array<bool, kTweakCount>& enabled, const std::u16string& networkGuid,
                 RegistryWriter& writer) {
    for (size_t i = 0; i < kTweakCount; ++i) {
        const Tweak& tweak = kCatalogue[i];
        if (!enabled[i] || !Addressable(tweak, networkGuid)) continue;
        writer.WriteInteger(TweakPath(tweak, networkGuid), tweak.valueName, tweak.applyValue);
    }
}

}  // namespace tarnell
