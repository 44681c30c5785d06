// SZDD files made by hand, so that tests know exactly what the expander must produce.
#pragma once
#include <cstdint>
#include <string>

namespace ombrix::testing {

// Header for a file that expands to `length` bytes.
inline std::string SzddHeader(std::uint32_t length, char missing = 't') {
  std::string h = "SZDD\x88\xF0\x27\x33";
  h += 'A';
  h += missing;
  for (int i = 0; i < 4; ++i) h += static_cast<char>((length >> (8 * i)) & 0xFF);
  return h;
}

// The whole text as literals: a control byte of eight set bits before every eight bytes.
inline std::string SzddLiterals(const std::string& text) {
  std::string out = SzddHeader(static_cast<std::uint32_t>(text.size()));
  for (std::size_t i = 0; i < text.size(); i += 8) {
    const std::size_t n = std::min<std::size_t>(8, text.size() - i);
    out += static_cast<char>((1u << n) - 1u);
    out += text.substr(i, n);
  }
  return out;
}

}  // namespace ombrix::testing
