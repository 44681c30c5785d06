// JPEG decoding for the installer's banner and logo.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct DecodedImage {
  int Width = 0;
  int Height = 0;
  std::vector<std::uint8_t> Rgb;  // Width * Height * 3 bytes, rows top to bottom
};

// Nothing when the data is not a usable JPEG image or is larger than MaxJpegPixels.
std::optional<DecodedImage> DecodeJpeg(const std::uint8_t* data, std::size_t size);
std::optional<DecodedImage> LoadJpegFile(const std::string& path);

// A banner or logo has no business being larger than this; it bounds the memory a
// hostile file can make us allocate.
constexpr std::size_t MaxJpegPixels = 64u * 1024u * 1024u;

}  // namespace platform
