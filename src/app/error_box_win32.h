// Win32 glue: the application's handling of errors nobody caught. The box is titled with the
// application's title (base/application_title.h), shows the error's message and has one button,
// "Close"; the program goes on.
#pragma once

#include <exception>
#include <string>

namespace tarnell {

// The error's message as the user sees it.
std::u16string ErrorMessageText(std::exception_ptr error);

// Shows the box and returns when the user closed it.
void ShowUnhandledError(std::exception_ptr error);
// The same box with a text of the caller's.
void ShowErrorBox(const std::u16string& text);

}  // namespace tarnell
