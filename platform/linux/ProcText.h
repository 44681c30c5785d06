// Readers of the text in /proc and /sys files. They never trust it: a malformed number
// reads as 0.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace platform::os {

// Parses an unsigned decimal at the start of s (after blanks); advances s past it. A token
// that is not a number reads as 0 and is skipped, so that callers keep their field count.
std::uint64_t NextNumber(std::string_view& s);

// The value of "key" in a "key: value ..." or "key value" line list (meminfo, vmstat,
// status, io), or 0 when missing.
std::uint64_t KeyedValue(std::string_view text, std::string_view key);

// The next token of s (after blanks and tabs), up to a blank, a tab or a line end; s loses it.
std::string_view NextToken(std::string_view& s);

// The first line of text, which loses it and its line end.
std::string_view TakeLine(std::string_view& text);

// TCP's segments received and sent (InSegs + OutSegs) in /proc/net/snmp text; nothing when the
// text has no such counters. While the sum stands still, no connection carried a byte, opened
// or closed.
std::optional<std::uint64_t> TcpSegments(std::string_view snmp);

}  // namespace platform::os
