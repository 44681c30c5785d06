// Processor time the calling thread has used, for measuring a worker's own cost.
#pragma once
#include <cstdint>

namespace platform {

std::int64_t ThreadCpuNanoseconds();

}  // namespace platform
