#include "update/service_check.h"

#include "base/text.h"
#include "update/fields.h"

namespace tarnell {

ServiceWorkerResult RunServiceAttempts(const ServiceWorkerSteps& steps, std::u16string& data) {
    for (int attempt = 0; attempt < kServiceAttempts; ++attempt) {
        if (steps.fetch(data)) return ServiceWorkerResult::Answered;
        if (!steps.pause(kPauseMs)) return ServiceWorkerResult::Terminated;
    }
    return ServiceWorkerResult::GaveUp;
}

UpdateInfo ReadUpdateInfo(const std::u16string& data) {
    const std::u16string object = ExtractBetween(data, kInfoMarker, u"}");
    UpdateInfo info;
    info.style = JSONUnescape(ExtractBetween(object, kStyleMarker, u"\""));
    info.text = JSONUnescape(ExtractBetween(object, kTextMarker, u"\""));
    info.flag = JSONUnescape(ExtractBetween(object, kFlagMarker, u"\""));
    info.url = JSONUnescape(ExtractBetween(object, kUrlMarker, u"\""));
    return info;
}

bool IsStayOnTop(const UpdateInfo& info) {
    return info.flag.find(u"stayontop") != std::u16string::npos;
}

std::u16string ReadUpdateLink(const std::u16string& data) {
    return JSONUnescape(ExtractBetween(data, kUpdateMarker, u"\""));
}
std::u16string ReadNotifyLink(const std::u16string& data) {
    return JSONUnescape(ExtractBetween(data, kNotifyMarker, u"\""));
}

bool CompleteServiceCheck(const std::u16string& data, const ServiceCompletionSteps& steps) {
    bool flag = false;
    const std::u16string update = ReadUpdateLink(data);
    if (IsShellSafeUrl(update) && steps.updateDialog(data)) {
        steps.shellOpen(update);
        flag = true;
    }
    const std::u16string notify = ReadNotifyLink(data);
    if (IsShellSafeUrl(notify)) steps.showStatus(notify);
    return flag;
}

}  // namespace tarnell
