// Cutting fields out of the service's answer without parsing it: the text between two literal markers,
// found without regard to the case of a-z, and the resolution of JSON string escapes.
// Positions are 1-based indices of UTF-16 code units; 0 means "not found".
#pragma once

#include <cstdint>
#include <string>

namespace tarnell {

// The text of `text` between `startMarker` (searched from `position`) and the next `endMarker`.
// On return `position` is 0 when a marker was missing, else the position just after the first code unit
// of the end marker. An empty start marker means "from the beginning", an empty end marker "to the end".
// A backslash in front of a quote-like end marker masks it, so \" inside a value does not end it.
std::u16string FindBetween(const std::u16string& text, const std::u16string& startMarker,
                           const std::u16string& endMarker, int32_t& position);

// FindBetween from position 1. With `wrap`, a found text that is not blank comes back framed by the
// markers exactly as given.
std::u16string ExtractBetween(const std::u16string& text, const std::u16string& startMarker,
                              const std::u16string& endMarker, bool wrap = false);

// Resolves \" \' \/ \\ \b \f \n \r \t and \uXXXX (one code unit per escape). A backslash before any other
// character is dropped with it; a trailing backslash is dropped. A \u that is not followed by hex digits
// is kept as it stands.
std::u16string JSONUnescape(const std::u16string& text);

}  // namespace tarnell
