// The run control's tweak set over the tuning catalogue and a registry writer.
#pragma once

#include "app/run_control.h"
#include "tuning/tweaks.h"

namespace tarnell {

class TCatalogueRunTweaks final : public RunTweaks {
  public:
    explicit TCatalogueRunTweaks(RegistryWriter& writer) : FWriter(writer) {}

    void Apply(const std::array<bool, kRunOptionCount>& enabled, const std::u16string& networkGuid) override;
    void Revert(const std::u16string& networkGuid) override;

  private:
    RegistryWriter& FWriter;
};

}  // namespace tarnell
