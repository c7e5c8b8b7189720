// Which links the program hands to the shell. Portable, so the rule is tested natively.
#pragma once

#include <cstddef>
#include <string_view>

namespace tarnell {

// Real links are short; a longer one is refused before it reaches the shell's fixed buffers.
inline constexpr size_t kMaxShellUrlLength = 2048;  // UTF-16 code units

// True for an absolute http:// or https:// URL (scheme in any case) with a host part, at most
// kMaxShellUrlLength long, and without control characters, blanks of any kind (every Unicode space, line
// and paragraph separators), format characters (bidirectional overrides and isolates, zero-width
// characters), lone surrogates, noncharacters, quotes or other characters that could break out of a
// command line. Only such links from the service's answer are handed to the shell.
bool IsShellSafeUrl(std::u16string_view url);

}  // namespace tarnell
