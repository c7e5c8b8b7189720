#include "base/application_title.h"

namespace tarnell {

namespace {

std::u16string& TitleStorage() {
    static std::u16string title = u"Tarnell";
    return title;
}

}  // namespace

void SetApplicationTitle(const std::u16string& title) {
    TitleStorage() = title;
}

const std::u16string& ApplicationTitle() {
    return TitleStorage();
}

}  // namespace tarnell
