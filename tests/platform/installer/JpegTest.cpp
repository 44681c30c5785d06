#include "platform/installer/Jpeg.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

namespace {

std::vector<std::uint8_t> Banner() {
  std::ifstream in(OMBRIX_BANNER_JPEG, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(Jpeg, DecodesTheBannerToRgb) {
  const auto image = platform::LoadJpegFile(OMBRIX_BANNER_JPEG);
  ASSERT_TRUE(image.has_value());
  EXPECT_EQ(image->Width, 408);
  EXPECT_EQ(image->Height, 149);
  ASSERT_EQ(image->Rgb.size(), 408u * 149u * 3u);
  // The banner runs from dark blue at the top to lighter blue at the foot.
  const auto* top = &image->Rgb[(2 * 408 + 2) * 3];
  const auto* foot = &image->Rgb[(146 * 408 + 2) * 3];
  EXPECT_GT(top[2], top[0]);
  EXPECT_GT(foot[2], top[2]);
}

TEST(Jpeg, RefusesDamagedAndForeignData) {
  const auto bytes = Banner();
  ASSERT_GT(bytes.size(), 1000u);
  EXPECT_FALSE(platform::DecodeJpeg(nullptr, 0).has_value());
  EXPECT_FALSE(platform::DecodeJpeg(bytes.data(), 2).has_value());
  EXPECT_FALSE(platform::DecodeJpeg(bytes.data() + 1, bytes.size() - 1).has_value());
  const std::vector<std::uint8_t> text = {'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'g'};
  EXPECT_FALSE(platform::DecodeJpeg(text.data(), text.size()).has_value());
  EXPECT_FALSE(platform::LoadJpegFile("/nonexistent/banner.jpg").has_value());
}

}  // namespace
