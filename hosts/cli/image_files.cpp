#include "hosts/cli/image_files.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "hosts/cli/atomic_file.h"
#include "hosts/cli/memory_budget.h"
#include "parameters/parameter_io.h"
#include "platform/file_system.h"

namespace kv::cli {

namespace formats {

void FailRead(const std::filesystem::path& file, std::string_view why) {
  throw FileError("cannot read '" + file.string() + "': " + std::string(why));
}

void WarnReduced(const Warn& warn, const std::filesystem::path& file) {
  if (warn) warn(file.string() + ": 16-bit samples reduced to 8 bits");
}

void CheckSize(const std::filesystem::path& file, uint64_t width, uint64_t height, int planes) {
  if (width == 0 || height == 0) FailRead(file, "the image is empty");
  const std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels";
  if (width > 32767 || height > 32767)
    FailRead(file, size + " is larger than the 32767 pixels a side that effects can work on");
  if (const std::string shortfall = MemoryShortfall(width * height * uint64_t(planes)); !shortfall.empty())
    FailRead(file, "an image of " + size + " " + shortfall);
}

}  // namespace formats

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return s;
}

const char* FormatName(FileFormat f) {
  switch (f) {
    case FileFormat::PNG: return "PNG";
    case FileFormat::JPEG: return "JPEG";
    case FileFormat::TIFF: return "TIFF";
  }
  return "";
}

// Why `format` cannot hold the document, or empty when it can.
std::string Unfit(const Document& doc, FileFormat format) {
  const std::string mode = ModeName(doc.mode);
  switch (format) {
    case FileFormat::PNG:
      if (doc.mode == Mode::CMYK || doc.mode == Mode::Lab)
        return "PNG cannot hold a " + mode + " image; write a TIFF (.tif) instead";
      return {};
    case FileFormat::JPEG:
      if (doc.mode == Mode::Lab) return "JPEG cannot hold a Lab image; write a TIFF (.tif) instead";
      if (doc.hasAlpha) return "JPEG cannot hold transparency; write a PNG or TIFF instead";
      return {};
    case FileFormat::TIFF: return {};
  }
  return {};
}

}  // namespace

FileFormat FormatForName(const std::filesystem::path& file) {
  const std::string ext = Lower(file.extension().string());
  if (ext == ".png") return FileFormat::PNG;
  if (ext == ".jpg" || ext == ".jpeg") return FileFormat::JPEG;
  if (ext == ".tif" || ext == ".tiff") return FileFormat::TIFF;
  throw FileError("cannot write '" + file.string() + "': unknown file type '" + ext +
                  "'; use .png, .jpg, .jpeg, .tif or .tiff");
}

Document ReadImage(const std::filesystem::path& file, const Warn& warn) {
  std::string why;
  const int fd = platform::OpenRegularFile(file.string(), SIZE_MAX, why);
  if (fd < 0) formats::FailRead(file, why);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  unsigned char magic[8] = {};
  const ssize_t got = ::pread(fd, magic, sizeof magic, 0);
  const bool png = got >= 8 && std::memcmp(magic, "\x89PNG\r\n\x1a\n", 8) == 0;
  const bool jpeg = got >= 3 && magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF;
  const bool tiff = got >= 4 && (std::memcmp(magic, "II*\0", 4) == 0 || std::memcmp(magic, "MM\0*", 4) == 0 ||
                                 std::memcmp(magic, "II+\0", 4) == 0 || std::memcmp(magic, "MM\0+", 4) == 0);
  if (!png && !jpeg && !tiff)
    formats::FailRead(file, got < 0    ? std::strerror(errno)
                            : got == 0 ? "the file is empty"
                                       : "it is not a PNG, JPEG or TIFF file");
  Document doc = png    ? formats::ReadPng(file, fd, warn)
                 : jpeg ? formats::ReadJpeg(file, fd, warn)
                        : formats::ReadTiff(file, fd, warn);
  // The protocol holds resolutions in 16.16 fixed point, and lengths in
  // inches become pixels by them: nonsense here would make nonsense sizes.
  const auto sane = [](double ppi) { return ppi >= 1.0 && ppi <= 32767.0; };
  if (!sane(doc.xResolution) || !sane(doc.yResolution)) {
    if (warn)
      warn(file.string() + ": a resolution of " + param_io::Format("%.0f x %.0f", doc.xResolution, doc.yResolution) +
           " pixels per inch is beyond 1 to 32767; 72 is used");
    doc.xResolution = doc.yResolution = 72.0;
  }
  return doc;
}

void CheckWritable(const Document& doc, const std::filesystem::path& file) {
  if (const std::string why = platform::NotAFileToReplace(file.string()); !why.empty())
    throw FileError("cannot write '" + file.string() + "': " + why);
  if (const std::string why = Unfit(doc, FormatForName(file)); !why.empty())
    throw FileError("cannot write '" + file.string() + "': " + why);
}

void WriteImageAs(const Document& doc, const std::filesystem::path& file, const std::filesystem::path& temp,
                  int compression) {
  CheckWritable(doc, file);
  const FileFormat format = FormatForName(file);
  try {
    switch (format) {
      case FileFormat::PNG: formats::WritePng(doc, temp, compression); break;
      case FileFormat::JPEG: formats::WriteJpeg(doc, temp); break;
      case FileFormat::TIFF: formats::WriteTiff(doc, temp, compression); break;
    }
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::runtime_error& e) {
    throw FileError("cannot write '" + file.string() + "' as " + FormatName(format) + ": " + e.what());
  }
}

void WriteImage(const Document& doc, const std::filesystem::path& file, const std::function<bool()>& cancelled,
                int compression) {
  CheckWritable(doc, file);
  WriteThroughTemporary(
      file, [&](const std::filesystem::path& temp) { WriteImageAs(doc, file, temp, compression); }, cancelled);
}

std::vector<uint8_t> ReadSelection(const std::filesystem::path& file, int32_t width, int32_t height, const Warn& warn) {
  const Document doc = ReadImage(file, warn);
  if (doc.width != width || doc.height != height)
    throw FileError("selection '" + file.string() + "' is " + std::to_string(doc.width) + " x " +
                    std::to_string(doc.height) + " pixels but the image is " + std::to_string(width) + " x " +
                    std::to_string(height));
  std::vector<uint8_t> mask(size_t(width) * size_t(height));
  const int planes = doc.Planes();
  const uint8_t* p = doc.pixels.data();
  for (uint8_t& m : mask) {
    int v;
    switch (doc.mode) {
      case Mode::RGB: v = (299 * p[0] + 587 * p[1] + 114 * p[2] + 500) / 1000; break;
      case Mode::CMYK: {
        // 255 = no ink: each ink darkens, black darkens all.
        const int k = p[3];
        v = (299 * p[0] * k + 587 * p[1] * k + 114 * p[2] * k) / (1000 * 255);
        break;
      }
      default: v = p[0]; break;  // grey, and Lab's lightness
    }
    if (doc.hasAlpha) v = v * p[doc.ColorPlanes()] / 255;
    m = uint8_t(v);
    p += planes;
  }
  return mask;
}

}  // namespace kv::cli
