// The run control's tweak set over the machine's record of what it changed.
#pragma once

#include "app/run_control.h"
#include "tuning/tweak_record.h"

namespace tarnell {

class TRecordRunTweaks final : public RunTweaks {
  public:
    TRecordRunTweaks(MachineRegistry& registry, RecordLock& lock, TTweakRecord::Note note = nullptr)
        : FRecord(registry, lock, std::move(note)) {}

    RecordState State() override { return FRecord.State(); }
    RecordResult Apply(const std::array<bool, kRunOptionCount>& enabled,
                       const std::u16string& networkGuid) override;
    RecordResult GiveBack() override { return FRecord.GiveBack(); }
    RecordResult TakeOver() override { return FRecord.TakeOver(); }
    std::vector<TRecordedValue> Inspect() override { return FRecord.Inspect(); }

  private:
    TTweakRecord FRecord;
};

}  // namespace tarnell
