#include "platform/installer/Jpeg.h"

#include <csetjmp>
#include <cstdio>

#include "platform/linux/Files.h"

// The IJG header expects the standard C declarations to come first.
#include <jpeglib.h>

namespace platform {

namespace {

struct ErrorManager {
  jpeg_error_mgr Base;
  std::jmp_buf Jump;
};

[[noreturn]] void OnError(j_common_ptr info) {
  std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->Jump, 1);
}

void OnMessage(j_common_ptr) {}  // warnings about damaged data are not worth a console line

// Runs the decoder proper; kept apart from setjmp's frame so that no object with a
// destructor lives across the jump.
bool Decode(jpeg_decompress_struct& info, DecodedImage& image) {
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  const std::size_t width = info.output_width;
  const std::size_t height = info.output_height;
  if (info.output_components != 3 || width == 0 || height == 0 || width * height > MaxJpegPixels)
    return false;
  image.Width = static_cast<int>(width);
  image.Height = static_cast<int>(height);
  image.Rgb.resize(width * height * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = image.Rgb.data() + static_cast<std::size_t>(info.output_scanline) * width * 3;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  return true;
}

}  // namespace

std::optional<DecodedImage> DecodeJpeg(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr || size == 0) return std::nullopt;
  DecodedImage image;
  jpeg_decompress_struct info{};
  ErrorManager err{};
  info.err = jpeg_std_error(&err.Base);
  err.Base.error_exit = OnError;
  err.Base.output_message = OnMessage;
  jpeg_create_decompress(&info);
  volatile bool ok = false;
  if (setjmp(err.Jump) == 0) {
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    ok = Decode(info, image);
  }
  jpeg_destroy_decompress(&info);
  if (!ok) return std::nullopt;
  return image;
}

std::optional<DecodedImage> LoadJpegFile(const std::string& path) {
  const auto bytes = os::ReadWholeFile(path);
  if (!bytes) return std::nullopt;
  return DecodeJpeg(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size());
}

}  // namespace platform
