#include "app/run_control_tweaks.h"

namespace tarnell {

RecordResult TRecordRunTweaks::Apply(const std::array<bool, kRunOptionCount>& enabled,
                                     const std::u16string& networkGuid) {
    // The switches are indexed by option; the catalogue says which option each of its rows belongs to.
    std::array<bool, kTweakCount> byRow{};
    const auto& catalogue = TweakCatalogue();
    for (size_t row = 0; row < kTweakCount; ++row) byRow[row] = enabled[size_t(catalogue[row].option)];
    return FRecord.Apply(byRow, networkGuid);
}

}  // namespace tarnell
