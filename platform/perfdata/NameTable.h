// The English name table of the provider's objects and counters, as the registry values
// "Counters" and "Help" hold it: zero-terminated strings in pairs, decimal index then text,
// ended by an empty string.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

// Object name indexes.
inline constexpr std::uint32_t kObjSystem = 2;
inline constexpr std::uint32_t kObjMemory = 4;
inline constexpr std::uint32_t kObjProcess = 230;
inline constexpr std::uint32_t kObjThread = 232;
inline constexpr std::uint32_t kObjLogicalDisk = 236;
inline constexpr std::uint32_t kObjProcessor = 238;
inline constexpr std::uint32_t kObjNetworkInterface = 510;

const std::string& CounterNamesValue();  // "Counters"
const std::string& HelpTextsValue();     // "Help": the help index is the name index + 1

// The English name of an index, or nullptr when the table has none.
const char* EnglishNameOf(std::uint32_t index);

}  // namespace platform
