// PNG, JPEG and TIFF files to and from documents. Every failure is a
// FileError whose text names the file; a damaged file never crashes.
#pragma once

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "hosts/common/document.h"

namespace kv::cli {

using host::Document;
using host::Mode;

class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raised when the write was called off before the file took its name.
class WriteCancelled : public std::runtime_error {
 public:
  WriteCancelled() : std::runtime_error("cancelled") {}
};

using Warn = std::function<void(const std::string&)>;

enum class FileFormat { PNG, JPEG, TIFF };

// How hard PNG and TIFF outputs are compressed, 0 (not at all) to 9 (the
// smallest files, slowly), or each format's default: PNG fast, TIFF not at
// all. JPEG keeps its quality whatever this says.
constexpr int kDefaultCompression = -1;

// By content, whatever the name says. Only a regular file is read; its
// size is checked against the 16-bit protocol and the memory kalvero may
// use before any pixel is decoded, and a resolution no image has (beyond
// 1 to 32767 pixels per inch) is reported and taken as 72.
Document ReadImage(const std::filesystem::path& file, const Warn& warn);

// The format by extension (.png, .jpg, .jpeg, .tif, .tiff, any case).
FileFormat FormatForName(const std::filesystem::path& file);

// Writes in the format the extension names, keeping the document's mode;
// refuses a mode or transparency the format cannot hold. The file appears
// whole or not at all; `cancelled` is asked once more just before it does.
void WriteImage(const Document& document, const std::filesystem::path& file,
                const std::function<bool()>& cancelled = {}, int compression = kDefaultCompression);
// FileError when `file`'s format cannot hold the document; nothing written.
void CheckWritable(const Document& document, const std::filesystem::path& file);
// The document, in the format `file` names, into `temp`.
void WriteImageAs(const Document& document, const std::filesystem::path& file, const std::filesystem::path& temp,
                  int compression = kDefaultCompression);

// A selection: a grey image of width x height, 0 outside and 255 inside.
// Other modes become grey; transparency counts as outside.
std::vector<uint8_t> ReadSelection(const std::filesystem::path& file, int32_t width, int32_t height,
                                   const Warn& warn);

// Per-format halves, for the dispatcher above. Readers read the open file
// `fd` (not theirs to close); `file` names it in messages.
namespace formats {
Document ReadPng(const std::filesystem::path& file, int fd, const Warn& warn);
Document ReadJpeg(const std::filesystem::path& file, int fd, const Warn& warn);
Document ReadTiff(const std::filesystem::path& file, int fd, const Warn& warn);
void WritePng(const Document& document, const std::filesystem::path& temp, int compression);
void WriteJpeg(const Document& document, const std::filesystem::path& temp);
void WriteTiff(const Document& document, const std::filesystem::path& temp, int compression);

// Readers fail with "cannot read 'FILE': WHY"; writers throw
// std::runtime_error(WHY) and WriteImage names the target.
[[noreturn]] void FailRead(const std::filesystem::path& file, std::string_view why);
// The 16-bit warning, worded once for all formats.
void WarnReduced(const Warn& warn, const std::filesystem::path& file);
// Refuses sizes the filter protocol's 16-bit rectangles cannot address, and
// images whose `planes` 8-bit samples a pixel need more memory than kalvero
// may take. Called before a reader allocates anything by the size.
void CheckSize(const std::filesystem::path& file, uint64_t width, uint64_t height, int planes);
}  // namespace formats

}  // namespace kv::cli
