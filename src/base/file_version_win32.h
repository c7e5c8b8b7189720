// Win32 glue only: version resources, read through version.dll loaded from the system folder at run time,
// so a reader on the crash path can never fail on a delay-loaded import.
#pragma once

#include <string>

namespace tarnell {

// The four numbers of the version resource of the file at `path`; false when it has none.
bool ReadFileVersion(const std::wstring& path, unsigned (&parts)[4]);

// The program file's four-part version put into `format` (each "%d" in turn, "%%" a percent sign);
// "0.0.0.0" without a version resource.
std::u16string GetFileVersionText(const std::u16string& format = u"%d.%d.%d.%d");

// The full path of the program's own file; empty when it cannot be had.
std::wstring OwnModulePath();

}  // namespace tarnell
