// TIFF through libtiff: grey, RGB, CMYK (separated, 0 = no ink on disk) and
// CIELab, stripped or tiled, interleaved or planar, 8 or 16 bits.
#include <fcntl.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include "hosts/cli/image_files.h"

namespace kv::cli::formats {

namespace {

struct TiffMessages {
  char error[512] = {};
};

extern "C" int TiffError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  auto* m = static_cast<TiffMessages*>(user);
  if (m->error[0] == '\0') {
    char text[400];
    std::vsnprintf(text, sizeof text, fmt, ap);
    std::snprintf(m->error, sizeof m->error, "%s%s%s", module != nullptr ? module : "", module != nullptr ? ": " : "",
                  text);
  }
  return 1;
}

// libtiff warns about every tag it does not know; the image is still fine.
extern "C" int TiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};
using Tiff = std::unique_ptr<TIFF, TiffCloser>;

// `fd` becomes the TIFF's: closing it closes the descriptor. Reading caps
// every single allocation of libtiff at `maxAllocation` bytes.
Tiff Open(const std::filesystem::path& path, int fd, const char* mode, TiffMessages& messages,
          uint64_t maxAllocation = 0) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) {
    ::close(fd);
    return nullptr;
  }
  TIFFOpenOptionsSetErrorHandlerExtR(options, TiffError, &messages);
  TIFFOpenOptionsSetWarningHandlerExtR(options, TiffWarning, nullptr);
  if (maxAllocation > 0) TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(maxAllocation));
  ::lseek(fd, 0, SEEK_SET);  // a duplicate shares the offset an earlier reading moved
  Tiff tiff(TIFFFdOpenExt(fd, path.c_str(), mode, options));
  TIFFOpenOptionsFree(options);
  if (!tiff) ::close(fd);
  return tiff;
}

// libtiff's words are its own; the user hears ours.
constexpr const char* kDamaged = "it is damaged or cut short: its TIFF data do not decode";

// Far beyond any real tile or strip, but never gigabytes for a small image.
uint64_t LargestBuffer(uint32_t width, uint32_t height, int planes) {
  return std::max<uint64_t>(64 << 20, 2 * uint64_t(width) * height * uint64_t(planes) * 2);
}

// How a file's samples become document samples.
struct Layout {
  Mode mode = Mode::RGB;
  int samples = 0;       // per pixel in the file
  int bits = 8;
  bool planar = false;
  bool invert = false;   // min-is-white grey, and CMYK (0 = no ink on disk)
  bool signedAb = false; // CIELab keeps a and b as signed bytes
  bool alpha = false;
  bool premultiplied = false;
};

Layout Describe(TIFF* t, const std::filesystem::path& file) {
  Layout l;
  uint16_t photometric = 0, samples = 1, bits = 1, planar = PLANARCONFIG_CONTIG, format = SAMPLEFORMAT_UINT;
  if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric)) FailRead(file, "the TIFF names no colour model");
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
  if (bits != 8 && bits != 16)
    FailRead(file, std::to_string(bits) + "-bit TIFF samples are not supported (8 or 16 are)");
  if (format != SAMPLEFORMAT_UINT && format != SAMPLEFORMAT_INT)
    FailRead(file, "floating-point TIFF samples are not supported");
  l.bits = bits;
  l.samples = samples;
  l.planar = planar == PLANARCONFIG_SEPARATE;
  switch (photometric) {
    case PHOTOMETRIC_MINISWHITE: l.invert = true; [[fallthrough]];
    case PHOTOMETRIC_MINISBLACK: l.mode = Mode::Grey; break;
    case PHOTOMETRIC_RGB: l.mode = Mode::RGB; break;
    case PHOTOMETRIC_SEPARATED: {
      uint16_t inks = INKSET_CMYK;
      TIFFGetFieldDefaulted(t, TIFFTAG_INKSET, &inks);
      if (inks != INKSET_CMYK || samples < 4) FailRead(file, "only CMYK separations are supported");
      l.mode = Mode::CMYK;
      l.invert = true;
      break;
    }
    case PHOTOMETRIC_CIELAB: l.signedAb = true; [[fallthrough]];
    case PHOTOMETRIC_ICCLAB: l.mode = Mode::Lab; break;
    default: FailRead(file, "TIFF colour model " + std::to_string(photometric) + " is not supported");
  }
  const int colour = ColorPlanes(l.mode);
  if (samples < colour) FailRead(file, "too few samples per pixel for its colour model");
  uint16_t extras = 0;
  uint16_t* kinds = nullptr;
  if (samples > colour && TIFFGetField(t, TIFFTAG_EXTRASAMPLES, &extras, &kinds) && extras > 0) {
    l.alpha = kinds[0] == EXTRASAMPLE_ASSOCALPHA || kinds[0] == EXTRASAMPLE_UNASSALPHA;
    l.premultiplied = kinds[0] == EXTRASAMPLE_ASSOCALPHA;
  }
  return l;
}

// One file sample to one document byte.
uint8_t Reduce(const Layout& l, int channel, const uint8_t* sample) {
  const bool ab = l.mode == Mode::Lab && (channel == 1 || channel == 2);
  uint8_t v;
  if (l.bits == 8) {
    v = *sample;
    if (ab && l.signedAb) v ^= 0x80;
  } else {
    uint16_t w;
    std::memcpy(&w, sample, 2);
    v = ab && l.signedAb ? uint8_t((int16_t(w) >> 8) + 128) : uint8_t((w + 128) / 257);
  }
  const bool colour = channel < ColorPlanes(l.mode);
  return l.invert && colour ? uint8_t(255 - v) : v;
}

// Calls put(x, y, sample index, bytes) for every sample of the image, strip
// by strip or tile by tile.
template <class Put>
bool ForEachSample(TIFF* t, const std::filesystem::path& file, const Layout& l, uint32_t width, uint32_t height,
                   Put put) {
  const int bytes = l.bits / 8;
  const int perPixel = l.planar ? 1 : l.samples;
  const int planes = l.planar ? l.samples : 1;
  if (TIFFIsTiled(t)) {
    uint32_t tw = 0, th = 0;
    TIFFGetField(t, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(t, TIFFTAG_TILELENGTH, &th);
    if (tw == 0 || th == 0) return false;
    // Samples are read as the tile's width says: the tile must hold them.
    const uint64_t tileBytes = uint64_t(tw) * th * uint64_t(perPixel) * uint64_t(bytes);
    if (tileBytes > LargestBuffer(width, height, l.samples))
      FailRead(file, "its tiles of " + std::to_string(tw) + " x " + std::to_string(th) +
                         " pixels are far larger than its image");
    if (uint64_t(TIFFTileSize64(t)) < tileBytes) return false;
    std::vector<uint8_t> tile(size_t(TIFFTileSize64(t)));
    for (int p = 0; p < planes; ++p)
      for (uint32_t ty = 0; ty < height; ty += th)
        for (uint32_t tx = 0; tx < width; tx += tw) {
          if (TIFFReadTile(t, tile.data(), tx, ty, 0, uint16_t(p)) < 0) return false;
          for (uint32_t y = ty; y < std::min(height, ty + th); ++y)
            for (uint32_t x = tx; x < std::min(width, tx + tw); ++x)
              for (int s = 0; s < perPixel; ++s)
                put(x, y, p + s, &tile[((size_t(y - ty) * tw + (x - tx)) * perPixel + s) * bytes]);
        }
    return true;
  }
  const uint64_t lineBytes = uint64_t(width) * uint64_t(perPixel) * uint64_t(bytes);
  if (uint64_t(TIFFScanlineSize64(t)) < lineBytes) return false;
  std::vector<uint8_t> line(size_t(TIFFScanlineSize64(t)));
  for (int p = 0; p < planes; ++p)
    for (uint32_t y = 0; y < height; ++y) {
      if (TIFFReadScanline(t, line.data(), y, uint16_t(p)) < 0) return false;
      for (uint32_t x = 0; x < width; ++x)
        for (int s = 0; s < perPixel; ++s) put(x, y, p + s, &line[(size_t(x) * perPixel + s) * bytes]);
    }
  return true;
}

// 8-bit interleaved strips holding just the document's samples are read
// straight into its rows, then put into its conventions in place. False
// when the file is laid out otherwise.
bool ReadStripsDirectly(TIFF* t, const Layout& l, Document& doc, bool& ok) {
  const int planes = doc.Planes(), colour = doc.ColorPlanes();
  if (TIFFIsTiled(t) || l.bits != 8 || l.planar || l.samples != planes ||
      uint64_t(TIFFScanlineSize64(t)) != doc.RowBytes())
    return false;
  uint32_t perStrip = 0;
  TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &perStrip);
  perStrip = std::clamp<uint32_t>(perStrip, 1, uint32_t(doc.height));
  ok = true;
  for (uint32_t y = 0; ok && y < uint32_t(doc.height); y += perStrip) {
    const uint32_t rows = std::min(perStrip, uint32_t(doc.height) - y);
    const tmsize_t bytes = tmsize_t(size_t(rows) * doc.RowBytes());
    ok = TIFFReadEncodedStrip(t, TIFFComputeStrip(t, y, 0), doc.Row(int32_t(y)), bytes) == bytes;
  }
  uint8_t* const begin = doc.pixels.data();
  const uint8_t* const end = begin + doc.pixels.size();
  if (l.invert)
    for (uint8_t* p = begin; p < end; p += planes)
      for (int c = 0; c < colour; ++c) p[c] = uint8_t(255 - p[c]);
  if (l.signedAb)
    for (uint8_t* p = begin; p < end; p += planes) {
      p[1] ^= 0x80;
      p[2] ^= 0x80;
    }
  return true;
}

void Unpremultiply(Document& doc) {
  const int planes = doc.Planes(), colour = doc.ColorPlanes();
  for (size_t i = 0; i < doc.pixels.size(); i += size_t(planes)) {
    const int a = doc.pixels[i + size_t(colour)];
    if (a == 0) continue;
    for (int c = 0; c < colour; ++c)
      doc.pixels[i + size_t(c)] = uint8_t(std::min(255, (doc.pixels[i + size_t(c)] * 255 + a / 2) / a));
  }
}

double Resolution(TIFF* t, ttag_t tag, uint16_t unit) {
  float value = 0;
  if (!TIFFGetField(t, tag, &value) || !(value > 0)) return 72.0;
  return unit == RESUNIT_CENTIMETER ? value * 2.54 : value;
}

}  // namespace

Document ReadTiff(const std::filesystem::path& file, int fd, const Warn& warn) {
  TiffMessages messages;
  // The directory is read twice: first to learn the size, with little
  // memory, then to decode, with what a strip or tile of that size needs.
  Tiff t = Open(file, ::dup(fd), "r", messages, 64 << 20);
  if (!t) FailRead(file, kDamaged);
  uint32_t width = 0, height = 0;
  TIFFGetField(t.get(), TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(t.get(), TIFFTAG_IMAGELENGTH, &height);
  Layout l = Describe(t.get(), file);
  CheckSize(file, width, height, ColorPlanes(l.mode) + (l.alpha ? 1 : 0));
  t = Open(file, ::dup(fd), "r", messages, LargestBuffer(width, height, l.samples));
  if (!t) FailRead(file, kDamaged);
  l = Describe(t.get(), file);

  Document doc(int32_t(width), int32_t(height), l.mode, l.alpha);
  // Extra samples beyond the transparency are dropped.
  const int planes = doc.Planes();
  uint8_t* base = doc.pixels.data();
  bool ok = false;
  if (!ReadStripsDirectly(t.get(), l, doc, ok))
    ok = ForEachSample(t.get(), file, l, width, height, [&](uint32_t x, uint32_t y, int s, const uint8_t* v) {
      if (s < planes) base[(size_t(y) * width + x) * size_t(planes) + size_t(s)] = Reduce(l, s, v);
    });
  if (!ok || messages.error[0] != '\0') FailRead(file, kDamaged);
  if (l.premultiplied) Unpremultiply(doc);
  if (l.bits == 16) WarnReduced(warn, file);

  uint16_t unit = RESUNIT_INCH;
  TIFFGetFieldDefaulted(t.get(), TIFFTAG_RESOLUTIONUNIT, &unit);
  if (unit != RESUNIT_NONE) {
    doc.xResolution = Resolution(t.get(), TIFFTAG_XRESOLUTION, unit);
    doc.yResolution = Resolution(t.get(), TIFFTAG_YRESOLUTION, unit);
  }
  return doc;
}

void WriteTiff(const Document& doc, const std::filesystem::path& temp, int compression) {
  TiffMessages messages;
  const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw std::runtime_error(std::strerror(errno));
  Tiff t = Open(temp, fd, "w", messages);
  if (!t) throw std::runtime_error("the TIFF encoder could not start");
  TIFF* f = t.get();
  const int colour = doc.ColorPlanes(), planes = doc.Planes();
  uint16_t photometric = PHOTOMETRIC_RGB;
  switch (doc.mode) {
    case Mode::Grey: photometric = PHOTOMETRIC_MINISBLACK; break;
    case Mode::RGB: photometric = PHOTOMETRIC_RGB; break;
    case Mode::CMYK: photometric = PHOTOMETRIC_SEPARATED; break;
    case Mode::Lab: photometric = PHOTOMETRIC_CIELAB; break;
  }
  TIFFSetField(f, TIFFTAG_IMAGEWIDTH, uint32_t(doc.width));
  TIFFSetField(f, TIFFTAG_IMAGELENGTH, uint32_t(doc.height));
  TIFFSetField(f, TIFFTAG_SAMPLESPERPIXEL, uint16_t(planes));
  TIFFSetField(f, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
  TIFFSetField(f, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(f, TIFFTAG_PHOTOMETRIC, photometric);
  if (doc.mode == Mode::CMYK) TIFFSetField(f, TIFFTAG_INKSET, INKSET_CMYK);
  if (doc.hasAlpha) {
    const uint16_t kind = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(f, TIFFTAG_EXTRASAMPLES, uint16_t(1), &kind);
  }
  // Uncompressed unless asked: the fastest to write and to read again.
  if (compression > 0) {
    TIFFSetField(f, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(f, TIFFTAG_ZIPQUALITY, compression);
    TIFFSetField(f, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  } else {
    TIFFSetField(f, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  }
  TIFFSetField(f, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(f, 0));
  TIFFSetField(f, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(f, TIFFTAG_XRESOLUTION, float(doc.xResolution));
  TIFFSetField(f, TIFFTAG_YRESOLUTION, float(doc.yResolution));

  // A row at a time through a copy: libtiff's predictor works in place.
  std::vector<uint8_t> line(doc.RowBytes());
  for (int32_t y = 0; y < doc.height; ++y) {
    std::memcpy(line.data(), doc.Row(y), line.size());
    if (doc.mode == Mode::CMYK)
      for (size_t i = 0; i < line.size(); i += size_t(planes))
        for (int c = 0; c < colour; ++c) line[i + size_t(c)] = uint8_t(255 - line[i + size_t(c)]);
    if (doc.mode == Mode::Lab)
      for (size_t i = 0; i < line.size(); i += size_t(planes)) {
        line[i + 1] ^= 0x80;
        line[i + 2] ^= 0x80;
      }
    if (TIFFWriteScanline(f, line.data(), uint32_t(y), 0) < 0) 
      throw std::runtime_error("the data could not be written; the disk may be full");
  }
  TIFFClose(t.release());
  if (messages.error[0] != '\0') throw std::runtime_error("the data could not be written; the disk may be full");
}

}  // namespace kv::cli::formats
