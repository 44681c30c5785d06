#include "platform/checked/Checked.h"

namespace platform {

void RaiseOverflow() {
  throw EIntOverflow();
}
void RaiseRange() {
  throw ERangeError();
}

}  // namespace platform
