#include "hosts/cli/image_files.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "hosts/cli/atomic_file.h"

namespace kv::cli {

namespace formats {

void FailRead(const std::filesystem::path& file, std::string_view why) {
  throw FileError("cannot read '" + file.string() + "': " + std::string(why));
}

void WarnReduced(const Warn& warn, const std::filesystem::path& file) {
  if (warn) warn(file.string() + ": 16-bit samples reduced to 8 bits");
}

void CheckSize(const std::filesystem::path& file, uint64_t width, uint64_t height) {
  if (width == 0 || height == 0) FailRead(file, "the image is empty");
  if (width > 32767 || height > 32767)
    FailRead(file, std::to_string(width) + " x " + std::to_string(height) +
                       " pixels is larger than the 32767 pixels a side that effects can work on");
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
  std::ifstream in(file, std::ios::binary);
  if (!in) formats::FailRead(file, std::strerror(errno));
  unsigned char magic[8] = {};
  in.read(reinterpret_cast<char*>(magic), sizeof magic);
  const std::streamsize got = in.gcount();
  in.close();
  if (got >= 8 && std::memcmp(magic, "\x89PNG\r\n\x1a\n", 8) == 0) return formats::ReadPng(file, warn);
  if (got >= 3 && magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF) return formats::ReadJpeg(file, warn);
  if (got >= 4 && (std::memcmp(magic, "II*\0", 4) == 0 || std::memcmp(magic, "MM\0*", 4) == 0 ||
                   std::memcmp(magic, "II+\0", 4) == 0 || std::memcmp(magic, "MM\0+", 4) == 0))
    return formats::ReadTiff(file, warn);
  formats::FailRead(file, got == 0 ? "the file is empty" : "not a PNG, JPEG or TIFF file");
}

void WriteImage(const Document& doc, const std::filesystem::path& file, const std::function<bool()>& cancelled,
                int compression) {
  const FileFormat format = FormatForName(file);
  if (const std::string why = Unfit(doc, format); !why.empty())
    throw FileError("cannot write '" + file.string() + "': " + why);
  const auto write = [&](const std::filesystem::path& temp) {
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
  };
  WriteThroughTemporary(file, write, cancelled);
}

std::vector<uint8_t> ReadSelection(const std::filesystem::path& file, int32_t width, int32_t height,
                                   const Warn& warn) {
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
