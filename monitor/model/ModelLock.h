// The one lock over the statistics model: entity tables, entities, their averages, FileNames
// and the address table's entries. Re-entrant, because a tick that holds it calls operations
// that may take it again (a view resolving a file name, a lookup completion).
#pragma once
#include <mutex>

namespace ombrix {

extern std::recursive_mutex ModelLock;

}  // namespace ombrix
