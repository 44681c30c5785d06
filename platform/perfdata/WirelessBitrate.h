// The bit rate of a wireless link, which the kernel gives in its nl80211 station information
// where /sys has no link speed for the interface.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// Bits per second of an interface's wireless link: the larger of its send and receive rates
// (with several stations, as an access point has, the fastest link); 0 when the interface
// has no link or the kernel gives no rate.
using BitrateSource = std::function<std::int64_t(const std::string& interfaceName)>;

// The kernel's answer, asked over generic netlink. Needs no privilege.
std::int64_t WirelessBitrate(const std::string& interfaceName);

// The faster of the send and receive rates in one message of the kernel's station dump (a
// netlink message with its generic netlink header, length bytes at most); 0 when it holds
// neither. Every attribute is checked against the message before it is read.
std::int64_t StationRate(const void* message, std::size_t length);

}  // namespace platform
