// The one-line messages the window shows when the machine's record refuses a change, in the seven UI
// languages. Kept apart from the translation table, which holds the window's captions and messages as
// the product has always carried them.
#pragma once

#include <string>
#include <string_view>

namespace tarnell {

enum class RecordMessage {
    Busy,     // another Tarnell holds the record past the bound
    Foreign,  // a newer version's record is on the machine
};

// The text in `language` (a two-letter code); English for a language without one.
std::u16string RecordMessageIn(RecordMessage message, std::u16string_view language);

}  // namespace tarnell
