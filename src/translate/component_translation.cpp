#include "translate/component_translation.h"

#include "translate/translation.h"

namespace tarnell {

void TranslateMenuItem(TranslatableMenuItem* item) {
    if (!item) return;
    item->SetCaption(TranslateText(item->Caption()));
    for (size_t i = 0; i < item->SubItemCount(); ++i) TranslateMenuItem(item->SubItem(i));
}

void TranslateComponent(TranslatableComponent* component, const std::u16string& language) {
    if (!language.empty()) SetCurrentLanguage(language);
    if (!component) return;

    if (TranslatableMenuItem* root = component->PopupMenuRoot()) TranslateMenuItem(root);

    if (component->HasCaption()) {
        // A window's own title stays Korean for Korean users and is English for everyone else.
        const bool englishTitle = component->IsForm() && CurrentLanguage() != u"ko";
        component->SetCaption(TranslateText(component->Caption(), englishTitle ? u"en" : u""));
    }

    for (size_t i = 0; i < component->OwnedCount(); ++i) TranslateComponent(component->Owned(i), language);
}

}  // namespace tarnell
