// Texts of the main window's start-up sequence. Korean sources, shown through the translation table.
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace tarnell {

inline constexpr std::array<const char16_t*, 3> kTaglines = {
    u"<B>게임 반응 속도</B>를 손쉽게 향상 시킵니다.",
    u"최적화된 네트워크로 <B>지연 시간을 최소화</B>합니다.",
    u"간편한 설정으로 <B>게임 속도와 안정성</B>을 동시에 개선합니다.",
};
inline constexpr char16_t kTextVersion[] = u"버전";  // "Version"

// The tagline's markup: centred, gray, the translated tagline with its own bold run inside.
inline std::u16string TaglineMarkup(const std::u16string& translatedTagline) {
    return u"<C><FC:clGray>" + translatedTagline + u"</FC></C>";
}

// "Version: 1.2.3.4" with the translated word.
inline std::u16string VersionLine(const std::u16string& translatedVersion,
                                  const std::u16string& fileVersion) {
    return translatedVersion + u": " + fileVersion;
}

// The service check's layout offset for the update prompt.
inline constexpr int kUpdateOffset = 10;

}  // namespace tarnell
