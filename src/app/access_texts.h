// What a screen reader hears beyond the window's captions, in the seven UI languages: what the run
// switch does, the logo link, the busy indicator, the option switches' note and the default actions.
// Kept apart from the translation table, which holds the window's captions and messages.
#pragma once

#include <string>
#include <string_view>

namespace tarnell {

enum class AccessText {
    Applies,     // what the run switch does while idle (its description; its name is its caption)
    Reverts,     // what it does while running
    Busy,        // the run switch and the indicator while the settings change
    Website,     // the logo link
    OptionNote,  // every option switch's description, after its group's caption
    Press,       // default actions
    Switch,
    Open,
    Check,
    Uncheck,
};

// The text in `language` (a two-letter code); English for a language without one.
std::u16string AccessTextIn(AccessText text, std::u16string_view language);

// Two sentences as one text in `language`: Japanese and Chinese end the first with "。" and no space, the
// others with ". ".
std::u16string JoinSentences(std::u16string_view first, std::u16string_view second,
                             std::u16string_view language);

}  // namespace tarnell
