#include "theme/button_styles.h"

#include "base/text.h"

namespace tarnell {

namespace {

enum class Appearance { Normal, Header, Outline };

Appearance Classify(std::u16string_view appearance) {
    if (EqualsAsciiNoCase(appearance, u"Outline")) return Appearance::Outline;
    if (EqualsAsciiNoCase(appearance, u"Header")) return Appearance::Header;
    return Appearance::Normal;
}

void Set(TStyledButtonAttributes& r, TButtonDrawStyle fill, TColor buttonColor, TBorderDrawStyle border,
         TColor borderColor, TColor fontColor) {
    r.ButtonDrawStyle = fill;
    r.ButtonColor = buttonColor;
    r.BorderDrawStyle = border;
    r.BorderColor = borderColor;
    r.FontColor = fontColor;
}

constexpr auto Solid = TButtonDrawStyle::btnSolid;
constexpr auto Clear = TButtonDrawStyle::btnClear;
constexpr auto BorderSolid = TBorderDrawStyle::brdSolid;
constexpr auto BorderClear = TBorderDrawStyle::brdClear;

}  // namespace

void TVorbeckButtonStyles::FillAttributes(std::u16string_view, std::u16string_view,
                                          std::u16string_view appearance, TStyledButtonAttributes& normal,
                                          TStyledButtonAttributes& pressed, TStyledButtonAttributes& selected,
                                          TStyledButtonAttributes& hot,
                                          TStyledButtonAttributes& disabled) const {
    const TColor lighter10 = LightenByPercent(AccentColor, 10);
    const Appearance kind = Classify(appearance);

    normal.DrawType = TStyledButtonDrawType::btRoundRect;
    normal.BorderWidth = 0;
    normal.FontStyle = 0;
    switch (kind) {
        case Appearance::Outline:
            Set(normal, Clear, AccentColor, BorderSolid, AccentColor, clBlack);
            break;
        case Appearance::Header:
            Set(normal, Clear, clWhite, BorderSolid, clBlack, clBlack);
            break;
        case Appearance::Normal:
            Set(normal, Solid, AccentColor, BorderSolid, AccentColor, clWhite);
            break;
    }
    pressed = selected = hot = disabled = normal;

    switch (kind) {
        case Appearance::Normal:
            hot.ButtonColor = lighter10;
            Set(disabled, Solid, clWhite, BorderSolid, clSilver, clSilver);
            break;
        case Appearance::Outline:
            Set(pressed, Solid, AccentColor, BorderSolid, AccentColor, clWhite);
            Set(selected, Solid, lighter10, BorderSolid, AccentColor, clWhite);
            Set(hot, Solid, lighter10, BorderSolid, AccentColor, clWhite);
            disabled.BorderColor = ToGrayscale(LightenByPercent(AccentColor, 70));
            disabled.FontColor = ToGrayscale(LightenByPercent(clBlack, 70));
            break;
        case Appearance::Header:
            Set(pressed, Solid, AccentColor, BorderClear, AccentColor, clWhite);
            Set(selected, Solid, lighter10, BorderClear, AccentColor, clWhite);
            Set(hot, Solid, AccentColor, BorderClear, AccentColor, clWhite);
            disabled.BorderColor = ToGrayscale(LightenByPercent(AccentColor, 50));
            disabled.FontColor = ToGrayscale(LightenByPercent(clBlack, 50));
            break;
    }
}

std::u16string TVorbeckButtonStyles::GetFamilyName() const {
    return kVorbeckFamily;
}

const TButtonClasses& TVorbeckButtonStyles::GetClassList() const {
    static const TButtonClasses classes{u"Primary"};
    return classes;
}

const TButtonAppearances& TVorbeckButtonStyles::GetAppearanceList() const {
    static const TButtonAppearances appearances{u"Normal", u"Header", u"Outline"};
    return appearances;
}

void TVorbeckButtonStyles::GetDefaultStyle(int, std::u16string& buttonClass,
                                           std::u16string& appearance) const {
    buttonClass = u"Primary";
    appearance = u"Normal";
}

void TButtonFamilyRegistry::Register(std::unique_ptr<IStyledButtonAttributes> family) {
    if (!family) return;
    std::u16string name = family->GetFamilyName();
    for (auto& entry : families_) {
        if (EqualsAsciiNoCase(entry.name, name)) {
            entry.name = std::move(name);
            entry.family = std::move(family);
            return;
        }
    }
    families_.push_back({std::move(name), std::move(family)});
}

const IStyledButtonAttributes* TButtonFamilyRegistry::Find(std::u16string_view name) const {
    for (const auto& entry : families_) {
        if (EqualsAsciiNoCase(entry.name, name)) return entry.family.get();
    }
    return nullptr;
}

void TButtonFamilyRegistry::Clear() {
    families_.clear();
}

TButtonFamilyRegistry& ButtonFamilyRegistry() {
    static TButtonFamilyRegistry registry;
    return registry;
}

void RegisterVorbeckButtonStyles() {
    ButtonFamilyRegistry().Register(std::make_unique<TVorbeckButtonStyles>());
}

void UnregisterButtonStyles() {
    ButtonFamilyRegistry().Clear();
}

namespace {
// The list's own spelling of name, or nullptr when the list lacks it.
const std::u16string* FindInList(const std::vector<std::u16string>& list, std::u16string_view name) {
    for (const auto& entry : list) {
        if (EqualsAsciiNoCase(entry, name)) return &entry;
    }
    return nullptr;
}
}  // namespace

bool CheckButtonStyle(const IStyledButtonAttributes& family, std::u16string& buttonClass,
                      std::u16string& appearance) {
    std::u16string defaultClass, defaultAppearance;
    family.GetDefaultStyle(mrNone, defaultClass, defaultAppearance);

    const std::u16string* foundClass = FindInList(family.GetClassList(), buttonClass);
    const std::u16string* foundAppearance = FindInList(family.GetAppearanceList(), appearance);
    buttonClass = foundClass ? *foundClass : defaultClass;
    appearance = foundAppearance ? *foundAppearance : defaultAppearance;
    return foundClass && foundAppearance;
}

bool ApplyButtonStyle(const TButtonFamilyRegistry& registry, std::u16string_view familyName,
                      std::u16string& buttonClass, std::u16string& appearance,
                      TStyledButtonRecords& records) {
    const IStyledButtonAttributes* family = registry.Find(familyName);
    if (!family) return false;
    if (!CheckButtonStyle(*family, buttonClass, appearance)) return false;

    TStyledButtonRecords fresh{};
    family->FillAttributes(familyName, buttonClass, appearance, fresh[0], fresh[1], fresh[2], fresh[3],
                           fresh[4]);
    records = fresh;
    return true;
}

}  // namespace tarnell
