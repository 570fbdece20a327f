// PNG through libpng. libpng reports errors by longjmp, so every call into
// it sits in a small function whose frame holds nothing with a destructor;
// the C++ objects live in the callers, which the jump never crosses.
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "hosts/cli/image_files.h"

namespace kv::cli::formats {

using host::kMetresPerInch;
using host::WholeResolution;

namespace {

struct PngMessages {
  char error[256] = {};
  char warning[256] = {};
};

extern "C" void PngError(png_structp png, png_const_charp message) {
  auto* m = static_cast<PngMessages*>(png_get_error_ptr(png));
  std::snprintf(m->error, sizeof m->error, "%s", message);
  png_longjmp(png, 1);
}

extern "C" void PngWarning(png_structp png, png_const_charp message) {
  auto* m = static_cast<PngMessages*>(png_get_error_ptr(png));
  if (m->warning[0] == '\0') std::snprintf(m->warning, sizeof m->warning, "%s", message);
}

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

struct PngHeader {
  uint32_t width, height;
  int colorType, bitDepth;  // as stored, before the transforms
  int channels;             // after the transforms
  uint32_t xPpm, yPpm;
  bool havePhys;
};

// Reads the header and sets up 8-bit grey, grey+alpha, RGB or RGBA rows.
bool ReadPngHeader(png_structp png, png_infop info, FILE* f, PngHeader* h) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, f);
  // Backstops to the size check made before libpng reads the header: no
  // chunk it keeps may grow without end either.
  png_set_user_limits(png, 32767, 32767);
  png_set_chunk_cache_max(png, 1000);
  png_set_chunk_malloc_max(png, 8 << 20);
  png_read_info(png, info);
  h->width = png_get_image_width(png, info);
  h->height = png_get_image_height(png, info);
  h->colorType = png_get_color_type(png, info);
  h->bitDepth = png_get_bit_depth(png, info);
  int unit = 0;
  png_uint_32 x = 0, y = 0;
  h->havePhys = png_get_pHYs(png, info, &x, &y, &unit) != 0 && unit == PNG_RESOLUTION_METER;
  h->xPpm = x;
  h->yPpm = y;
  if (h->colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (h->colorType == PNG_COLOR_TYPE_GRAY && h->bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (h->bitDepth == 16) png_set_scale_16(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  h->channels = png_get_channels(png, info);
  return true;
}

bool ReadPngRows(png_structp png, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  png_read_end(png, nullptr);
  return true;
}

struct PngWriteSetup {
  uint32_t width, height;
  int colorType;
  uint32_t xPpm, yPpm;
  int level;    // zlib's, 0 to 9
  int filters;  // PNG_FILTER_ bits libpng may choose from per row
};

bool WritePngRows(png_structp png, png_infop info, FILE* f, const PngWriteSetup* s, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, f);
  png_set_IHDR(png, info, s->width, s->height, 8, s->colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_pHYs(png, info, s->xPpm, s->yPpm, PNG_RESOLUTION_METER);
  png_set_compression_level(png, s->level);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, s->filters);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, info);
  return true;
}

// libpng's words, said as ours.
std::string Damage(const char* message) {
  const std::string m = message;
  if (m.find("CRC") != std::string::npos) return "it is damaged: its data fail their checksums";
  if (m.find("Read Error") != std::string::npos || m.find("Not enough") != std::string::npos ||
      m.find("end") != std::string::npos)
    return "it is cut short: the file ends before its image does";
  if (m.find("IHDR") != std::string::npos || m.find("Invalid") != std::string::npos ||
      m.find("limit") != std::string::npos)
    return "its PNG header is damaged or describes an image kalvero cannot read";
  return "it is damaged: its PNG data do not decode";
}

// Width, height and the samples a pixel will need, from the header chunk
// as stored, before libpng allocates anything by them.
void CheckStoredSize(const std::filesystem::path& file, int fd) {
  unsigned char head[26];
  if (::pread(fd, head, sizeof head, 0) != ssize_t(sizeof head) || std::memcmp(head + 12, "IHDR", 4) != 0)
    FailRead(file, Damage("IHDR"));
  const auto be = [&](int at) {
    return uint32_t(head[at]) << 24 | head[at + 1] << 16 | head[at + 2] << 8 | head[at + 3];
  };
  const uint32_t width = be(16), height = be(20);
  const int depth = head[24], type = head[25];
  const int planes = type == PNG_COLOR_TYPE_GRAY         ? 1
                     : type == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                     : type == PNG_COLOR_TYPE_RGB        ? 3
                                                         : 4;
  CheckSize(file, width, height, planes);
  // Deflate makes at most 1032 bytes of every byte it reads: a file too
  // short to hold its rows is cut short, and known so before its pixels
  // are allocated.
  const int stored = type == PNG_COLOR_TYPE_PALETTE ? 1 : type == PNG_COLOR_TYPE_RGB ? 3 : planes;
  const uint64_t rows = uint64_t(height) * (1 + (uint64_t(width) * uint64_t(stored) * uint64_t(depth) + 7) / 8);
  struct stat s {};
  if (::fstat(fd, &s) == 0 && rows > uint64_t(s.st_size) * 1032 + 4096)
    FailRead(file, "it is cut short: its " + std::to_string(s.st_size) + " bytes cannot hold " + std::to_string(width) +
                       " x " + std::to_string(height) + " pixels");
}

// As fast writers do: one cheap filter and a low zlib level, which write a
// photo several times faster than libpng's defaults for files about a half
// larger. From level 6 every row tries every filter, for the smallest files.
constexpr int kFastLevel = 2;

int Filters(int compression) {
  if (compression == 0) return PNG_FILTER_NONE;
  return compression >= 6 ? PNG_ALL_FILTERS : PNG_FILTER_SUB;
}

std::vector<png_bytep> RowPointers(uint8_t* base, uint32_t height, size_t rowBytes) {
  std::vector<png_bytep> rows(height);
  for (uint32_t y = 0; y < height; ++y) rows[y] = base + size_t(y) * rowBytes;
  return rows;
}

}  // namespace

Document ReadPng(const std::filesystem::path& file, int fd, const Warn& warn) {
  CheckStoredSize(file, fd);
  File f(::fdopen(::dup(fd), "rb"));
  if (!f) FailRead(file, std::strerror(errno));
  PngMessages messages;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &messages, PngError, PngWarning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  struct Guard {
    png_structp* png;
    png_infop* info;
    ~Guard() { png_destroy_read_struct(png, info, nullptr); }
  } guard{&png, &info};
  if (info == nullptr) FailRead(file, "out of memory");

  PngHeader h{};
  if (!ReadPngHeader(png, info, f.get(), &h)) FailRead(file, Damage(messages.error));
  const bool colour = (h.colorType & PNG_COLOR_MASK_COLOR) != 0;
  const Mode mode = colour ? Mode::RGB : Mode::Grey;
  const bool alpha = h.channels == ColorPlanes(mode) + 1;
  Document doc(int32_t(h.width), int32_t(h.height), mode, alpha);
  if (doc.Planes() != h.channels) FailRead(file, "unexpected PNG layout");
  std::vector<png_bytep> rows = RowPointers(doc.pixels.data(), h.height, doc.RowBytes());
  if (!ReadPngRows(png, rows.data())) FailRead(file, Damage(messages.error));
  if (h.bitDepth == 16) WarnReduced(warn, file);
  if (h.havePhys && h.xPpm > 0 && h.yPpm > 0) {
    doc.xResolution = WholeResolution(h.xPpm * kMetresPerInch);
    doc.yResolution = WholeResolution(h.yPpm * kMetresPerInch);
  }
  return doc;
}

void WritePng(const Document& doc, const std::filesystem::path& temp, int compression) {
  File f(std::fopen(temp.c_str(), "wb"));
  if (!f) throw std::runtime_error(std::strerror(errno));
  PngMessages messages;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &messages, PngError, PngWarning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  struct Guard {
    png_structp* png;
    png_infop* info;
    ~Guard() { png_destroy_write_struct(png, info); }
  } guard{&png, &info};
  if (info == nullptr) throw std::runtime_error("out of memory");

  int type = doc.mode == Mode::Grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB;
  if (doc.hasAlpha) type |= PNG_COLOR_MASK_ALPHA;
  const PngWriteSetup setup{uint32_t(doc.width), uint32_t(doc.height), type,
                            uint32_t(std::lround(doc.xResolution / kMetresPerInch)),
                            uint32_t(std::lround(doc.yResolution / kMetresPerInch)),
                            compression < 0 ? kFastLevel : compression, Filters(compression)};
  // libpng only reads through these pointers.
  std::vector<png_bytep> rows =
      RowPointers(const_cast<uint8_t*>(doc.pixels.data()), uint32_t(doc.height), doc.RowBytes());
  if (!WritePngRows(png, info, f.get(), &setup, rows.data()))
    throw std::runtime_error("the data could not be written; the disk may be full");
  if (std::fclose(f.release()) != 0) throw std::runtime_error(std::strerror(errno));
}

}  // namespace kv::cli::formats
