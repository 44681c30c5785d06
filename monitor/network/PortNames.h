// Service names by port, read once at start-up from ports.txt beside the program.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace ombrix {

inline constexpr std::size_t PortCount = 65536;

// Index = port in host byte order. Written at start-up, before the trace starts; read-only
// afterwards.
extern std::array<std::string, PortCount> PortNames;

// One line of ports.txt: true with the port and its name when the line names a port
// (1..65535); the name may be empty. Lines that name nothing give false.
bool ParsePortLine(std::string_view line, std::uint16_t& port, std::string& name);

// Entry 0 := "Non-TCP Packets", then the named file's lines, the first naming of a port
// winning. A missing file leaves the other entries as they are.
void LoadPortNamesFrom(const std::string& fileName);
// The same with ports.txt in the program's folder.
void LoadPortNames();

}  // namespace ombrix
