// The service check's rules, free of the platform: the attempts and pauses of the worker, what the
// completion does with the answer, and which links may be handed to the shell.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "base/shell_link.h"

namespace tarnell {

// Markers of the answer's fields (searched without regard to the case of a-z).
inline constexpr char16_t kUpdateMarker[] = u"\"update\":\"";
inline constexpr char16_t kNotifyMarker[] = u"\"notify\":\"";
inline constexpr char16_t kInfoMarker[] = u"\"info\":{";
inline constexpr char16_t kStyleMarker[] = u"\"style\":\"";
inline constexpr char16_t kTextMarker[] = u"\"text\":\"";
inline constexpr char16_t kFlagMarker[] = u"\"flag\":\"";
inline constexpr char16_t kUrlMarker[] = u"\"url\":\"";

inline constexpr int kServiceAttempts = 6;
inline constexpr int kPauseMs = 10000;  // after every failed attempt
// An answer body larger than this is read no further and taken as an answer without fields.
inline constexpr size_t kMaxAnswerBytes = size_t(1) << 20;

struct ServiceWorkerSteps {
    std::function<bool(std::u16string& data)> fetch;  // one request; true and data set on success
    // Waits the given milliseconds against a deadline; false, at once or as soon as it happens, when the
    // application is terminating.
    std::function<bool(int milliseconds)> pause;
};

enum class ServiceWorkerResult {
    Answered,    // a request succeeded; data holds its answer
    GaveUp,      // every attempt failed and every pause ran out; data is as it was
    Terminated,  // the application began terminating during a pause: no completion may run
};

// Up to kServiceAttempts requests; after each failure (the last one included) a pause of kPauseMs that is
// cut short when the application is terminating.
ServiceWorkerResult RunServiceAttempts(const ServiceWorkerSteps& steps, std::u16string& data);

// The update prompt's info object, each field unescaped; a missing field is empty.
struct UpdateInfo {
    std::u16string style;  // "hold": a check box; "note": a link label; other non-empty: the band alone
    std::u16string text;   // caption of the check box or the link label
    std::u16string flag;   // holds "stayontop" (exact case) for a top-most prompt
    std::u16string url;    // target of the link label
};
UpdateInfo ReadUpdateInfo(const std::u16string& data);
bool IsStayOnTop(const UpdateInfo& info);

// The unescaped "update" and "notify" links of an answer; empty when missing.
std::u16string ReadUpdateLink(const std::u16string& data);
std::u16string ReadNotifyLink(const std::u16string& data);

struct ServiceCompletionSteps {
    std::function<bool(const std::u16string& data)> updateDialog;  // the prompt; true for Yes
    std::function<void(const std::u16string& link)> shellOpen;
    std::function<void(const std::u16string& link)> showStatus;  // the notice line
};

// What the completion does on the UI thread: the prompt for an update link (and, on Yes, the link to the
// shell), then the notice line for a notify link. A link the shell must not get counts as missing, so no
// prompt is offered whose Yes would open nothing. Returns the flag: true when the update was taken.
bool CompleteServiceCheck(const std::u16string& data, const ServiceCompletionSteps& steps);

}  // namespace tarnell
