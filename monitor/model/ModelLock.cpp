#include "monitor/model/ModelLock.h"

namespace ombrix {

std::recursive_mutex ModelLock;

void ReplaceSettings(const TSettings& value) {
  std::lock_guard lock(ModelLock);
  Settings = value;
}

}  // namespace ombrix
