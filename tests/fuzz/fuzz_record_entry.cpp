// The machine record's entries as read back from the registry: any bytes at all.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "tuning/tweak_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<tarnell::TRecordEntry> entry =
        tarnell::DecodeRecordEntry(std::span<const uint8_t>(data, size));
    if (!entry) return 0;
    // What decodes is one whole entry: written again, it is the same bytes.
    const std::vector<uint8_t> again = tarnell::EncodeRecordEntry(*entry);
    if (again.size() != size || !std::equal(again.begin(), again.end(), data)) __builtin_trap();
    return 0;
}
