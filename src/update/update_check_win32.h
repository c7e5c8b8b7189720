// Win32 glue of the service check: the start-up request to the product's service with its per-user
// client identifier, the hold request, and where the answer shows (the prompt's owner, the notice line).
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/http_win32.h"

namespace tarnell {

using TUpdateProc = std::function<void(bool updateAccepted, const std::u16string& data)>;

// Starts the service check on its own thread and returns at once when `proc` is given; without one it
// returns after the whole check, completion included (the UI thread keeps serving the hand-over while it
// waits). The completion runs on the UI thread: the update prompt, the update link to the shell on Yes,
// the notice line on the main window; then `proc` learns whether the update was taken.
// Needs InitUiTasks() on the UI thread. `url` and `offset` become UpdateURL() and UpdateOffset().
void CheckUpdate(const std::u16string& url, std::function<void(bool updateAccepted)> proc, int offset);
// The same, for a caller that may go before the process does (a window): the completion (the prompt, the
// link to the shell, the notice line and `proc`) runs only while `owner` lives. It is looked at on the UI
// thread, where the owner is also destroyed, so an answer that comes after the owner is gone does nothing.
void CheckUpdate(const std::u16string& url, std::function<void(bool updateAccepted)> proc, int offset,
                 std::weak_ptr<void> owner);
// The same, also handing `proc` the whole answer (empty when no request succeeded).
void CheckUpdateWithAnswer(const std::u16string& url, TUpdateProc proc, int offset);

// The service endpoint and the prompt's layout offset of the latest CheckUpdate.
std::u16string UpdateURL();
int UpdateOffset();

// One GET with the headers in order; true and `data` set to the body (decoded as UTF-8 whatever the
// charset, status code not looked at) on success; false with `data` untouched on any failure. A body over
// 1 MiB is read no further and counts as an answer without fields: true, with `data` empty. Redirects are
// followed up to 5 times; name resolution, connect, send, the wait for the response, each read and the
// whole body are limited to 60 s each.
bool FetchText(const THttpHeaders& headers, std::u16string& data);  // to UpdateURL()
bool FetchText(const std::u16string& url, const THttpHeaders& headers, std::u16string& data);

// "VUID" in HKEY_CURRENT_USER\Software\Vorbeck, created once; "" when it cannot be read as text.
std::u16string GetClientID();
std::u16string NewClientID();

// Tells the service, as a worker of its own (StartWorker), that the user asked to hold the update. Fire and
// forget: the process's drain of its workers at exit lets it go out.
void HoldRequest();

// The window that gets the notice line and owns the prompt. Without one set, the first visible top-level
// window of the calling thread is taken.
void SetUpdateMainWindow(HWND form);
HWND GetUpdateMainWindow();

}  // namespace tarnell
