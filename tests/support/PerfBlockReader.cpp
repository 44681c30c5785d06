#include "tests/support/PerfBlockReader.h"

#include <cstring>
#include <utility>

namespace ombrix::testing {
namespace {

template <typename T>
T At(const std::vector<std::uint8_t>& b, std::size_t at) {
  T v{};
  if (at + sizeof v <= b.size()) std::memcpy(&v, b.data() + at, sizeof v);
  return v;
}

}  // namespace

std::map<std::uint32_t, std::vector<Instance>> ReadPerfBlock(const std::vector<std::uint8_t>& b) {
  std::map<std::uint32_t, std::vector<Instance>> out;
  std::size_t at = At<std::uint32_t>(b, 24);
  for (std::uint32_t n = At<std::uint32_t>(b, 28); n > 0; --n) {
    const std::uint32_t index = At<std::uint32_t>(b, at + 12);
    std::vector<std::pair<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>>> defs;
    std::size_t def = at + 64;
    for (std::uint32_t k = At<std::uint32_t>(b, at + 32); k > 0; --k) {
      defs.push_back({At<std::uint32_t>(b, def + 4),
                      {At<std::uint32_t>(b, def + 32), At<std::uint32_t>(b, def + 36)}});
      def += At<std::uint32_t>(b, def);
    }
    auto values = [&](std::size_t block, Instance& inst) {
      for (const auto& [counter, layout] : defs) {
        const std::int64_t v = layout.first == 8 ? At<std::int64_t>(b, block + layout.second)
                                                 : At<std::uint32_t>(b, block + layout.second);
        if (!inst.Values.emplace(counter, v).second) inst.Bases.emplace(counter, v);
      }
    };
    auto& list = out[index];
    std::size_t inst = at + At<std::uint32_t>(b, at + 4);
    const std::int32_t count = At<std::int32_t>(b, at + 40);
    if (count < 0) values(inst, list.emplace_back());
    for (std::int32_t i = 0; i < count; ++i) {
      Instance& x = list.emplace_back();
      for (std::size_t c = inst + 24; At<char16_t>(b, c) != 0; c += 2)
        x.Name += static_cast<char>(At<char16_t>(b, c));
      const std::size_t block = inst + At<std::uint32_t>(b, inst);
      values(block, x);
      inst = block + At<std::uint32_t>(b, block);
    }
    at += At<std::uint32_t>(b, at);
  }
  return out;
}

const Instance* Named(const std::vector<Instance>& list, const std::string& name) {
  for (const Instance& i : list)
    if (i.Name == name) return &i;
  return nullptr;
}

}  // namespace ombrix::testing
