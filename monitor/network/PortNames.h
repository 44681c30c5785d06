// Service names by port, read once at start-up from ports.txt beside the program.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace ombrix {

inline constexpr std::size_t PortCount = 65536;

// Service names by port in host byte order. Written at start-up, before the trace starts;
// read-only afterwards. Only the ports that have a name take room: a few hundred strings, not
// one for each of the 65536 ports.
class TPortNames {
 public:
  // The name, made empty on first use, for writing.
  std::string& operator[](std::uint16_t port) { return names_[port]; }
  // The name; empty when the port has none.
  const std::string& Name(std::uint16_t port) const;
  void Clear() { names_.clear(); }
  // Characters in all the names, for the memory report.
  std::int64_t Bytes() const;

 private:
  std::unordered_map<std::uint16_t, std::string> names_;
};
extern TPortNames PortNames;

// One line of ports.txt: true with the port and its name when the line names a port
// (1..65535); the name may be empty. Lines that name nothing give false.
bool ParsePortLine(std::string_view line, std::uint16_t& port, std::string& name);

// Entry 0 := "Non-TCP Packets", then the named file's lines, the first naming of a port
// winning. A missing file leaves the other entries as they are.
void LoadPortNamesFrom(const std::string& fileName);
// The same with ports.txt in the program's folder.
void LoadPortNames();

}  // namespace ombrix
