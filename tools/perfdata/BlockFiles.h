// Block files of the developer tool: reading, writing and trimming captured blocks.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace ombrix::tools {

std::vector<std::uint8_t> ReadBlockFile(const std::string& path);  // throws on failure
void WriteBlockFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

// A copy of the block with only the first `maxProcesses` Process instances and the
// Thread instances that belong to them; every other object is copied whole.
std::vector<std::uint8_t> TrimBlock(const std::vector<std::uint8_t>& bytes,
                                    std::int32_t maxProcesses);

}  // namespace ombrix::tools
