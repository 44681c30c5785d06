// The one lock over the statistics model: entity tables, entities, their averages, FileNames
// and the address table's entries. Re-entrant, because a tick that holds it calls operations
// that may take it again (a view resolving a file name, a lookup completion). Changes of the
// live Settings record are made under it too, since the event handlers read that record.
#pragma once
#include <mutex>

#include "monitor/settings/Settings.h"

namespace ombrix {

extern std::recursive_mutex ModelLock;

// Settings := value, under ModelLock.
void ReplaceSettings(const TSettings& value);

}  // namespace ombrix
