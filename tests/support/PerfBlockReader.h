// Reads a performance data block by its published layout, for tests that look at what a
// provider built: the instances of each object with their counters' values.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ombrix::testing {

struct Instance {
  std::string Name;                              // ASCII names only
  std::map<std::uint32_t, std::int64_t> Values;  // by counter index, first definition
  std::map<std::uint32_t, std::int64_t> Bases;   // by counter index, the base after it
};

// The instances of every object, by the object's name index; an object without instances has
// one nameless instance.
std::map<std::uint32_t, std::vector<Instance>> ReadPerfBlock(const std::vector<std::uint8_t>& b);

const Instance* Named(const std::vector<Instance>& list, const std::string& name);

}  // namespace ombrix::testing
