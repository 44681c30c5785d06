// Any bytes as an initialisation file: parsing, reading, writing and erasing never crash,
// and lines outside the erased section survive unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/inifile/IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  platform::IniFile ini = platform::IniFile::Parse(text);
  if (ini.Text() != text) std::abort();  // an untouched file is written back byte for byte
  for (const auto& key : ini.Keys("Settings")) {
    const auto v = ini.Read("Settings", key);
    if (!v || v->size() > platform::IniFile::MaxValueLength) std::abort();
  }
  ini.Write("Settings", "Width", "587");
  if (ini.Read("settings", "WIDTH") != "587") std::abort();
  ini.EraseSection("Settings");
  if (ini.HasSection("Settings")) std::abort();
  return 0;
}
