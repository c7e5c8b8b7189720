// The application's title: what the unhandled-error box and the update prompt are titled with. The main
// window sets it to its own translated caption at start-up; until then it is "Tarnell".
#pragma once

#include <string>

namespace tarnell {

void SetApplicationTitle(const std::u16string& title);
const std::u16string& ApplicationTitle();

}  // namespace tarnell
