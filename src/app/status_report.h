// What `--status` tells: the machine's record, value by value, in words for a person or as one
// tab-separated line per value for a script. Portable: the record and the adapters' names come in.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/registry_value.h"
#include "tuning/tweak_record.h"

namespace tarnell {

// The adapter's name for an interface GUID, or "" when no adapter of this machine has it.
using AdapterNameOf = std::function<std::u16string(const std::u16string& guid)>;

// The report in words: the state, then for each recorded value its full key path and name, the adapter
// (where the key is an adapter's), the value before (or absent), what was written, what it is now, and
// whether giving back would restore it or leave it. Lines end with CR LF.
std::u16string StatusText(RecordState state, const std::vector<TRecordedValue>& values,
                          const AdapterNameOf& adapterName);

// The report for a script: a first line "state<TAB>on|off|foreign", a header line, then one line per
// value: key, name, adapter, before, written, now, give-back ("restore" or "leave"). Lines end with CR LF.
std::u16string StatusTable(RecordState state, const std::vector<TRecordedValue>& values,
                           const AdapterNameOf& adapterName);

}  // namespace tarnell
