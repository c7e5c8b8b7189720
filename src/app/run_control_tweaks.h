// The run control's tweak set over the machine's record of what it changed.
#pragma once

#include "app/run_control.h"
#include "tuning/tweak_record.h"

namespace tarnell {

class TRecordRunTweaks final : public RunTweaks {
  public:
    TRecordRunTweaks(MachineRegistry& registry, RecordLock& lock) : FRecord(registry, lock) {}

    bool Applied() override { return FRecord.Present(); }
    void Apply(const std::array<bool, kRunOptionCount>& enabled, const std::u16string& networkGuid) override;
    bool GiveBack() override { return FRecord.GiveBack(); }
    void Adopt(const std::u16string& networkGuid) override { FRecord.Adopt(networkGuid); }

  private:
    TTweakRecord FRecord;
};

}  // namespace tarnell
