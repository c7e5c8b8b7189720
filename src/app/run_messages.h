// The one-line messages the window shows when a Start or Stop could not do all of its job (the machine's
// record refused the change, or the adapter could not be restarted), in the seven UI languages. Kept apart
// from the translation table, which holds the window's captions and messages as the product has always
// carried them.
#pragma once

#include <string>
#include <string_view>

namespace tarnell {

enum class RunMessage {
    RecordBusy,     // another Tarnell holds the record past the bound: nothing changed
    RecordForeign,  // a newer version's record is on the machine: nothing changed
    CycleFailed,    // the values were changed, but the adapter's connection could not be restarted
};

// The text in `language` (a two-letter code); English for a language without one.
std::u16string RunMessageIn(RunMessage message, std::u16string_view language);

}  // namespace tarnell
