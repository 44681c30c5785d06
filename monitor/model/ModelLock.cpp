#include "monitor/model/ModelLock.h"

namespace ombrix {

std::recursive_mutex ModelLock;

}  // namespace ombrix
