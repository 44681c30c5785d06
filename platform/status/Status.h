// Status codes the platform's services answer with, shared by all of them so that one file
// may use several services.
#pragma once
#include <cstdint>

namespace platform {

enum : std::uint32_t {
  ERROR_SUCCESS = 0,
  ERROR_FILE_NOT_FOUND = 2,
  ERROR_INVALID_HANDLE = 6,
  ERROR_BAD_NETPATH = 53,
  ERROR_INVALID_PARAMETER = 87,
  ERROR_BAD_PATHNAME = 161,
  ERROR_ALREADY_EXISTS = 183,
  ERROR_MORE_DATA = 234,
  ERROR_CANCELLED = 1223,
  ERROR_WMI_INSTANCE_NOT_FOUND = 4201,
};

}  // namespace platform
