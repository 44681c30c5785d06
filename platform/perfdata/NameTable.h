// The English name table of the provider's objects and counters, as the registry values
// "Counters" and "Help" hold it: zero-terminated strings in pairs, decimal index then text,
// ended by an empty string.
#pragma once
#include <cstdint>
#include <string>

#include "platform/perfdata/NameIndexes.h"

namespace platform {

const std::string& CounterNamesValue();  // "Counters"
const std::string& HelpTextsValue();     // "Help": the help index is the name index + 1

// The English name of an index, or nullptr when the table has none.
const char* EnglishNameOf(std::uint32_t index);

}  // namespace platform
