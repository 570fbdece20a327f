#include "tests/effects/reference.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace kv::test {

namespace {

std::filesystem::path ReferenceFile(const std::string& name) {
  return std::filesystem::path(KV_TEST_DATA_DIR) / "reference" / (name + ".png");
}

png_uint_32 PngFormat(const Picture& p) {
  const png_uint_32 colour = p.colorPlanes == 1 ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
  return p.alpha ? colour | PNG_FORMAT_FLAG_ALPHA : colour;
}

bool WritePng(const std::filesystem::path& file, const Picture& p) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(p.width);
  image.height = png_uint_32(p.height);
  image.format = PngFormat(p);
  return png_image_write_to_file(&image, file.c_str(), 0, p.pixels.data(), 0, nullptr) != 0;
}

bool ReadPng(const std::filesystem::path& file, const Picture& like, Picture& out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, file.c_str()) == 0) return false;
  out = like;
  out.width = int(image.width);
  out.height = int(image.height);
  image.format = PngFormat(like);
  out.pixels.assign(PNG_IMAGE_SIZE(image), 0);
  return png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr) != 0;
}

}  // namespace

void ExpectMatchesReference(const std::string& name, const Picture& picture, Tolerance tolerance) {
  ASSERT_TRUE(picture.colorPlanes == 1 || picture.colorPlanes == 3) << name << ": only grey and RGB are kept";
  const std::filesystem::path file = ReferenceFile(name);
  if (const char* update = std::getenv("KV_UPDATE_REFERENCES"); update != nullptr && *update == '1') {
    ASSERT_TRUE(WritePng(file, picture)) << "cannot write " << file;
    std::printf("rewrote reference %s\n", file.c_str());
    return;
  }
  Picture expected;
  ASSERT_TRUE(ReadPng(file, picture, expected))
      << "no reference " << file << "; run with KV_UPDATE_REFERENCES=1 to make it, look at it, commit it";
  bool sameSize = expected.width == picture.width && expected.height == picture.height;
  int worst = 0;
  size_t loose = 0;
  if (sameSize) {
    for (size_t i = 0; i < picture.pixels.size(); ++i) {
      const int d = std::abs(int(picture.pixels[i]) - int(expected.pixels[i]));
      worst = std::max(worst, d);
      loose += d > tolerance.shareLevel;
    }
  }
  const double share = sameSize ? double(loose) / double(picture.pixels.size()) : 1.0;
  const bool within = sameSize && worst <= tolerance.maxLevel && share <= tolerance.maxShare;
  if (!within) WritePng(name + ".actual.png", picture);
  EXPECT_TRUE(within) << name << ": " << (sameSize ? "" : "size differs; ") << "worst difference " << worst
                      << " levels, " << share * 100.0 << " % of samples beyond " << tolerance.shareLevel
                      << "; the render is in " << std::filesystem::current_path() / (name + ".actual.png");
}

}  // namespace kv::test
