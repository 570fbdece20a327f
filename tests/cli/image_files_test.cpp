#include "hosts/cli/image_files.h"

#include <gtest/gtest.h>

#include <cctype>
#include <png.h>
#include <tiffio.h>

#include <cstdlib>

#include "tests/cli/test_support.h"

namespace kv::cli {
namespace {

using test::Pattern;
using test::ScratchFolder;

std::vector<std::string> warnings;
const Warn kCollect = [](const std::string& w) { warnings.push_back(w); };

Document RoundTrip(const Document& doc, const std::filesystem::path& file) {
  WriteImage(doc, file);
  warnings.clear();
  return ReadImage(file, kCollect);
}

struct Case {
  const char* extension;
  Mode mode;
  bool alpha;
};

class LosslessRoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(LosslessRoundTrip, KeepsPixelsModeAndResolution) {
  const Case c = GetParam();
  ScratchFolder dir;
  const Document doc = Pattern(37, 23, c.mode, c.alpha);
  const Document back = RoundTrip(doc, dir / (std::string("image") + c.extension));
  EXPECT_EQ(back.width, 37);
  EXPECT_EQ(back.height, 23);
  EXPECT_EQ(back.mode, c.mode);
  EXPECT_EQ(back.hasAlpha, c.alpha);
  EXPECT_EQ(back.pixels, doc.pixels);
  EXPECT_DOUBLE_EQ(back.xResolution, 300);
  EXPECT_DOUBLE_EQ(back.yResolution, 150);
  EXPECT_TRUE(warnings.empty());
}

INSTANTIATE_TEST_SUITE_P(Files, LosslessRoundTrip,
                         ::testing::Values(Case{".png", Mode::Grey, false}, Case{".png", Mode::Grey, true},
                                           Case{".png", Mode::RGB, false}, Case{".PNG", Mode::RGB, true},
                                           Case{".tif", Mode::Grey, false}, Case{".tif", Mode::RGB, true},
                                           Case{".tiff", Mode::CMYK, false}, Case{".tif", Mode::CMYK, true},
                                           Case{".tif", Mode::Lab, false}, Case{".tif", Mode::Lab, true}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string name = std::string(info.param.extension + 1) + "_" + ModeName(info.param.mode) +
                                              (info.param.alpha ? "_alpha" : "") + "_" + std::to_string(info.index);
                           for (char& ch : name)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

// Tall enough for TIFF files of many strips, which are read straight into
// the document's rows.
TEST(Compression, EveryLevelKeepsThePixelsAndHigherOnesWriteSmallerFiles) {
  ScratchFolder dir;
  for (const char* extension : {".png", ".tif"})
    for (const Mode mode : {Mode::RGB, Mode::CMYK, Mode::Lab}) {
      if (extension == std::string(".png") && mode != Mode::RGB) continue;
      const Document doc = Pattern(300, 200, mode, true);
      uintmax_t stored = 0;
      for (const int level : {0, kDefaultCompression, 9}) {
        const std::filesystem::path file = dir / ("l" + std::to_string(level) + extension);
        WriteImage(doc, file, {}, level);
        EXPECT_EQ(ReadImage(file, {}).pixels, doc.pixels) << file << " " << ModeName(mode);
        const uintmax_t size = std::filesystem::file_size(file);
        if (level == 0) stored = size;
        if (level == 9) {
          EXPECT_LT(size * 2, stored) << file;
        }
      }
    }
}

double MeanError(const Document& a, const Document& b) {
  double sum = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i) sum += std::abs(int(a.pixels[i]) - int(b.pixels[i]));
  return sum / double(a.pixels.size());
}

// JPEG loses detail, so smooth images and a loose bound.
Document Smooth(Mode mode) {
  Document d(64, 48, mode, false);
  for (int32_t y = 0; y < d.height; ++y)
    for (int32_t x = 0; x < d.width; ++x)
      for (int32_t p = 0; p < d.Planes(); ++p) d.Row(y)[x * d.Planes() + p] = uint8_t(40 + x * 2 + y + p * 30);
  d.xResolution = d.yResolution = 240;
  return d;
}

TEST(JpegFiles, RoundTripStaysCloseInEveryMode) {
  ScratchFolder dir;
  for (const Mode mode : {Mode::Grey, Mode::RGB, Mode::CMYK}) {
    const Document doc = Smooth(mode);
    const Document back = RoundTrip(doc, dir / "image.jpg");
    ASSERT_EQ(back.mode, mode);
    ASSERT_EQ(back.pixels.size(), doc.pixels.size());
    EXPECT_LT(MeanError(doc, back), 2.0) << ModeName(mode);
    EXPECT_DOUBLE_EQ(back.xResolution, 240) << ModeName(mode);
  }
}

TEST(JpegFiles, CmykInkIsNotInverted) {
  // A CMYK sample of 255 means no ink: the file must come back as paper white.
  ScratchFolder dir;
  Document doc(16, 16, Mode::CMYK, false);
  for (size_t i = 0; i < doc.pixels.size(); i += 4) doc.pixels[i] = 255, doc.pixels[i + 1] = 255, doc.pixels[i + 2] = 20, doc.pixels[i + 3] = 255;
  const Document back = RoundTrip(doc, dir / "ink.jpeg");
  EXPECT_NEAR(back.pixels[0], 255, 3);
  EXPECT_NEAR(back.pixels[2], 20, 3);
}

TEST(WriteImage, RefusesModesTheFormatCannotHold) {
  ScratchFolder dir;
  const auto refuses = [&](const Document& doc, const char* name, const char* why) {
    try {
      WriteImage(doc, dir / name);
      ADD_FAILURE() << name << " was written";
    } catch (const FileError& e) {
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(dir / name));
  };
  refuses(Pattern(4, 4, Mode::CMYK, false), "cmyk.png", "PNG cannot hold a CMYK image");
  refuses(Pattern(4, 4, Mode::Lab, false), "lab.png", "PNG cannot hold a Lab image");
  refuses(Pattern(4, 4, Mode::Lab, false), "lab.jpg", "JPEG cannot hold a Lab image");
  refuses(Pattern(4, 4, Mode::RGB, true), "alpha.jpg", "JPEG cannot hold transparency");
  refuses(Pattern(4, 4, Mode::RGB, false), "picture.bmp", "unknown file type '.bmp'");
  EXPECT_TRUE(dir.Names().empty());
}

// 16-bit files made with the libraries themselves.
void Write16BitPng(const std::filesystem::path& file, const std::vector<uint16_t>& grey, uint32_t w, uint32_t h) {
  FILE* f = std::fopen(file.c_str(), "wb");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, f);
  png_set_IHDR(png, info, w, h, 16, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_swap(png);  // our samples are little-endian in memory
  for (uint32_t y = 0; y < h; ++y)
    png_write_row(png, reinterpret_cast<png_const_bytep>(grey.data() + size_t(y) * w));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
}

void Write16BitTiff(const std::filesystem::path& file, const std::vector<uint16_t>& rgb, uint32_t w, uint32_t h) {
  TIFF* t = TIFFOpen(file.c_str(), "w");
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(3));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(16));
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  for (uint32_t y = 0; y < h; ++y) TIFFWriteScanline(t, const_cast<uint16_t*>(rgb.data() + size_t(y) * w * 3), y, 0);
  TIFFClose(t);
}

TEST(SixteenBitFiles, AreReducedToEightBitsWithAWarning) {
  ScratchFolder dir;
  const std::vector<uint16_t> grey = {0, 257, 0x8000, 0xFFFF, 1000, 0x7F7F};
  Write16BitPng(dir / "deep.png", grey, 3, 2);
  warnings.clear();
  const Document png = ReadImage(dir / "deep.png", kCollect);
  EXPECT_EQ(png.pixels, (std::vector<uint8_t>{0, 1, 128, 255, 4, 127}));
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("deep.png"), std::string::npos);
  EXPECT_NE(warnings[0].find("16-bit"), std::string::npos);

  std::vector<uint16_t> rgb = {0xFFFF, 0, 0x8000, 257, 514, 0x1234};
  Write16BitTiff(dir / "deep.tif", rgb, 2, 1);
  warnings.clear();
  const Document tiff = ReadImage(dir / "deep.tif", kCollect);
  EXPECT_EQ(tiff.mode, Mode::RGB);
  EXPECT_EQ(tiff.pixels, (std::vector<uint8_t>{255, 0, 128, 1, 2, 18}));
  EXPECT_EQ(warnings.size(), 1u);
}

TEST(TiffFiles, ReadsTiledPlanarFiles) {
  // Tiles of 16 that overhang the image, one plane after the other.
  ScratchFolder dir;
  const Document doc = Pattern(40, 20, Mode::RGB, false);
  TIFF* t = TIFFOpen((dir / "tiled.tif").c_str(), "w");
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 40u);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, 20u);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(3));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE);
  TIFFSetField(t, TIFFTAG_TILEWIDTH, 16u);
  TIFFSetField(t, TIFFTAG_TILELENGTH, 16u);
  std::vector<uint8_t> tile(16 * 16);
  for (uint16_t p = 0; p < 3; ++p)
    for (uint32_t ty = 0; ty < 20; ty += 16)
      for (uint32_t tx = 0; tx < 40; tx += 16) {
        for (uint32_t y = 0; y < 16; ++y)
          for (uint32_t x = 0; x < 16; ++x)
            tile[y * 16 + x] = tx + x < 40 && ty + y < 20 ? doc.Row(int32_t(ty + y))[(tx + x) * 3 + p] : 0;
        TIFFWriteTile(t, tile.data(), tx, ty, 0, p);
      }
  TIFFClose(t);
  const Document back = ReadImage(dir / "tiled.tif", kCollect);
  EXPECT_EQ(back.pixels, doc.pixels);
}

TEST(TiffFiles, MinIsWhiteGreyIsInverted) {
  ScratchFolder dir;
  TIFF* t = TIFFOpen((dir / "white.tif").c_str(), "w");
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 2u);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, 1u);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(1));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  uint8_t row[2] = {0, 200};
  TIFFWriteScanline(t, row, 0, 0);
  TIFFClose(t);
  EXPECT_EQ(ReadImage(dir / "white.tif", kCollect).pixels, (std::vector<uint8_t>{255, 55}));
}

TEST(TiffFiles, CmykAndLabFollowTheFileConventions) {
  // On disk CMYK 0 is no ink and CIELab keeps a and b as signed bytes.
  ScratchFolder dir;
  Document cmyk(1, 1, Mode::CMYK, false);
  cmyk.pixels = {255, 200, 0, 255};
  WriteImage(cmyk, dir / "cmyk.tif");
  Document lab(1, 1, Mode::Lab, false);
  lab.pixels = {128, 100, 200};
  WriteImage(lab, dir / "lab.tif");
  uint8_t raw[4] = {};
  TIFF* t = TIFFOpen((dir / "cmyk.tif").c_str(), "r");
  TIFFReadScanline(t, raw, 0, 0);
  TIFFClose(t);
  EXPECT_EQ(std::vector<uint8_t>(raw, raw + 4), (std::vector<uint8_t>{0, 55, 255, 0}));
  t = TIFFOpen((dir / "lab.tif").c_str(), "r");
  uint16_t photometric = 0;
  TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
  TIFFReadScanline(t, raw, 0, 0);
  TIFFClose(t);
  EXPECT_EQ(photometric, PHOTOMETRIC_CIELAB);
  EXPECT_EQ(std::vector<uint8_t>(raw, raw + 3), (std::vector<uint8_t>{128, uint8_t(-28), 72}));
}

// Damaged files: one clear error that names the file, never a crash.
void ExpectRefused(const std::filesystem::path& file) {
  try {
    ReadImage(file, kCollect);
    ADD_FAILURE() << file << " was read";
  } catch (const FileError& e) {
    const std::string text = e.what();
    EXPECT_NE(text.find(file.string()), std::string::npos) << text;
    EXPECT_EQ(text.find('\n'), std::string::npos) << text;
  }
}

TEST(DamagedFiles, TruncatedFilesAreRefused) {
  ScratchFolder dir;
  const Document doc = Pattern(120, 90, Mode::RGB, false);
  for (const char* name : {"whole.png", "whole.jpg", "whole.tif"}) {
    WriteImage(doc, dir / name);
    const std::vector<uint8_t> bytes = test::ReadBytes(dir / name);
    for (const double keep : {0.2, 0.6, 0.95}) {
      const auto cut = dir / ("cut-" + std::to_string(int(keep * 100)) + "-" + name);
      test::WriteBytes(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + ptrdiff_t(bytes.size() * keep)));
      ExpectRefused(cut);
    }
  }
}

TEST(Selections, OtherModesBecomeGreyAndTransparencyIsOutside) {
  ScratchFolder dir;
  Document rgb(3, 1, Mode::RGB, true);
  rgb.pixels = {255, 255, 255, 255, /**/ 255, 0, 0, 255, /**/ 255, 255, 255, 0};
  WriteImage(rgb, dir / "mask.png");
  EXPECT_EQ(ReadSelection(dir / "mask.png", 3, 1, kCollect), (std::vector<uint8_t>{255, 76, 0}));

  Document cmyk(2, 1, Mode::CMYK, false);
  cmyk.pixels = {255, 255, 255, 255, /**/ 255, 255, 255, 0};  // paper, full black
  WriteImage(cmyk, dir / "mask.tif");
  EXPECT_EQ(ReadSelection(dir / "mask.tif", 2, 1, kCollect), (std::vector<uint8_t>{255, 0}));
}

TEST(Selections, ASizeMismatchIsAClearError) {
  ScratchFolder dir;
  WriteImage(Pattern(5, 4, Mode::Grey, false), dir / "small.png");
  try {
    ReadSelection(dir / "small.png", 6, 4, kCollect);
    FAIL();
  } catch (const FileError& e) {
    EXPECT_NE(std::string(e.what()).find("5 x 4"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("6 x 4"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace kv::cli
