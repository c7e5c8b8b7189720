// Which links the program hands to the shell. Portable, so the rule is tested natively.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnell {

// Real links are short; a longer one is refused before it reaches the shell's fixed buffers.
inline constexpr size_t kMaxShellUrlLength = 2048;  // UTF-16 code units

// True for an absolute http:// or https:// URL (scheme in any case) with a non-empty host and no user
// information before it (user@host shows one host and goes to another), at most kMaxShellUrlLength long,
// and without control characters, blanks of any kind (every Unicode space, line and paragraph
// separators), format characters (general category Cf: bidirectional overrides and isolates, zero-width
// characters...), private-use (Co) and unassigned (Cn) code points, lone surrogates, noncharacters,
// combining marks with nothing to sit on (at the start of a label or segment), enclosing and overlay
// marks, symbols that draw as a blank, quotes or other characters that could break out of a command line.
// Hosts in other scripts and xn-- forms pass: the browser shows them. Only such links from the service's
// answer are handed to the shell.
bool IsShellSafeUrl(std::u16string_view url);

// The host of an http(s) URL as written (a bracketed IPv6 literal keeps its brackets), without port;
// empty when there is none, or when user information comes before it.
std::u16string_view LinkHost(std::u16string_view url);

// The program and command line that open `url` by the scheme's "open" command `command` as the registry
// gives it (`"C:\\...\\browser.exe" --flag "%1"`): %1 and %L become the link, %* and other placeholders
// nothing, %% a percent sign; without %1 or %L the link is added quoted at the end. The program is the
// command's first part: quoted, or unquoted up to the first ".exe" that ends a word. False when the
// command names no program.
bool CommandForLink(std::u16string_view command, std::u16string_view url, std::u16string& program,
                    std::u16string& commandLine);

}  // namespace tarnell
