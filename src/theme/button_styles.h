// Styled-button attribute records, the style family interface and the program's own family "Vorbeck".
//
// A styled button keeps one attribute record per state. A style family fills those five records from
// the button's class and appearance names; families are found by name in a process-wide registry.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "theme/color.h"

namespace tarnell {

enum class TStyledButtonDrawType { btRoundRect, btRounded, btRect, btEllipse };
enum class TButtonDrawStyle { btnClear, btnSolid };
enum class TBorderDrawStyle { brdClear, brdSolid };

// Record order everywhere: Normal, Pressed, Selected, Hot, Disabled.
enum class TStyledButtonState { bsmNormal, bsmPressed, bsmSelected, bsmHot, bsmDisabled };
inline constexpr size_t kButtonStateCount = 5;

// Font style set, as bits.
using TFontStyles = uint8_t;
inline constexpr TFontStyles fsBold = 1;
inline constexpr TFontStyles fsItalic = 2;
inline constexpr TFontStyles fsUnderline = 4;
inline constexpr TFontStyles fsStrikeOut = 8;

// Rounded corners, as bits.
using TRoundedCorners = uint8_t;
inline constexpr TRoundedCorners rcTopLeft = 1;
inline constexpr TRoundedCorners rcTopRight = 2;
inline constexpr TRoundedCorners rcBottomRight = 4;
inline constexpr TRoundedCorners rcBottomLeft = 8;
inline constexpr TRoundedCorners rcAllCorners = 15;

// A fresh record holds exactly these defaults.
struct TStyledButtonAttributes {
    TStyledButtonDrawType DrawType = TStyledButtonDrawType::btRoundRect;
    TButtonDrawStyle ButtonDrawStyle = TButtonDrawStyle::btnSolid;
    TBorderDrawStyle BorderDrawStyle = TBorderDrawStyle::brdSolid;
    TColor ButtonColor = clBlack;
    TColor BorderColor = clBlack;
    int BorderWidth = 0;  // pixels at 96 DPI; 0 is the thinnest line that can be drawn
    TColor FontColor = clBlack;
    TFontStyles FontStyle = 0;
    int Radius = 6;
    TRoundedCorners RoundedCorners = rcAllCorners;

    friend bool operator==(const TStyledButtonAttributes&, const TStyledButtonAttributes&) = default;
};

using TStyledButtonRecords = std::array<TStyledButtonAttributes, kButtonStateCount>;
using TButtonClasses = std::vector<std::u16string>;
using TButtonAppearances = std::vector<std::u16string>;

// Dialog result code "none".
inline constexpr int mrNone = 0;

// What a style family offers the styled controls.
class IStyledButtonAttributes {
  public:
    virtual ~IStyledButtonAttributes() = default;
    virtual void FillAttributes(std::u16string_view family, std::u16string_view buttonClass,
                                std::u16string_view appearance, TStyledButtonAttributes& normal,
                                TStyledButtonAttributes& pressed, TStyledButtonAttributes& selected,
                                TStyledButtonAttributes& hot, TStyledButtonAttributes& disabled) const = 0;
    virtual std::u16string GetFamilyName() const = 0;
    virtual const TButtonClasses& GetClassList() const = 0;
    virtual const TButtonAppearances& GetAppearanceList() const = 0;
    virtual void GetDefaultStyle(int modalResult, std::u16string& buttonClass,
                                 std::u16string& appearance) const = 0;
};

// The program's family: "Vorbeck", class "Primary", appearances "Normal", "Header", "Outline".
class TVorbeckButtonStyles final : public IStyledButtonAttributes {
  public:
    void FillAttributes(std::u16string_view family, std::u16string_view buttonClass,
                        std::u16string_view appearance, TStyledButtonAttributes& normal,
                        TStyledButtonAttributes& pressed, TStyledButtonAttributes& selected,
                        TStyledButtonAttributes& hot, TStyledButtonAttributes& disabled) const override;
    std::u16string GetFamilyName() const override;
    const TButtonClasses& GetClassList() const override;
    const TButtonAppearances& GetAppearanceList() const override;
    void GetDefaultStyle(int modalResult, std::u16string& buttonClass,
                         std::u16string& appearance) const override;
};

inline constexpr char16_t kVorbeckFamily[] = u"Vorbeck";

// Families by name, compared without regard to ASCII letter case. The registry owns its families.
class TButtonFamilyRegistry {
  public:
    // A family whose name is already registered replaces the earlier one.
    void Register(std::unique_ptr<IStyledButtonAttributes> family);
    const IStyledButtonAttributes* Find(std::u16string_view name) const;
    void Clear();
    size_t Count() const { return families_.size(); }

  private:
    struct TButtonFamily {
        std::u16string name;
        std::unique_ptr<IStyledButtonAttributes> family;
    };
    std::vector<TButtonFamily> families_;
};

// The process-wide registry the styled controls consult.
TButtonFamilyRegistry& ButtonFamilyRegistry();
// Start-up and shut-down steps: register the program's family once; release every family.
void RegisterVorbeckButtonStyles();
void UnregisterButtonStyles();

// The check made whenever a control's family, class or appearance is set: a class or appearance found in
// the family's list (any letter case) is replaced by the list's own spelling, a missing one by the
// family's default. Answers true only when both were found, i.e. the combination is valid.
bool CheckButtonStyle(const IStyledButtonAttributes& family, std::u16string& buttonClass,
                      std::u16string& appearance);

// Applies a family to a control's five records: the family is looked up in registry, class and
// appearance are checked (and corrected in place) as above, and for a valid combination five fresh
// records are filled and copied over the control's. A missing family or an invalid combination leaves
// the records untouched and answers false.
bool ApplyButtonStyle(const TButtonFamilyRegistry& registry, std::u16string_view familyName,
                      std::u16string& buttonClass, std::u16string& appearance, TStyledButtonRecords& records);

}  // namespace tarnell
