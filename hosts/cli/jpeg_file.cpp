// JPEG through libjpeg(-turbo). Its errors end in a longjmp, so each call
// sits in a function whose frame holds nothing with a destructor. A file cut
// short is an error here, not the grey padding libjpeg would make of it.
#include <jerror.h>
#include <stdio.h>  // jpeglib.h needs FILE and size_t first
#include <jpeglib.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "hosts/cli/image_files.h"
#include "hosts/cli/memory_budget.h"

namespace kv::cli::formats {

namespace {

// libjpeg's messages are kept by their codes and said in our words.
struct JpegErrors {
  jpeg_error_mgr mgr;
  jmp_buf jump;
  int error;     // the code that ended the work, or -1
  bool damaged;  // a warning: the data were repaired as they were read
};

// A file cut short, otherwise libjpeg would pad it out with grey.
constexpr int kCutShort = JWRN_JPEG_EOF;
// Progressive files may hold any number of scans, each a pass over the
// whole image; no real file needs more than a few dozen.
constexpr int kMaxScans = 500;

extern "C" void JpegExit(j_common_ptr cinfo) {
  auto* e = reinterpret_cast<JpegErrors*>(cinfo->err);
  e->error = e->mgr.msg_code;
  std::longjmp(e->jump, 1);
}

extern "C" void JpegMessage(j_common_ptr cinfo, int level) {
  auto* e = reinterpret_cast<JpegErrors*>(cinfo->err);
  if (level >= 0) return;  // trace messages
  if (e->mgr.msg_code == JWRN_JPEG_EOF) {
    e->error = kCutShort;
    std::longjmp(e->jump, 1);
  }
  e->damaged = true;
}

extern "C" void JpegProgress(j_common_ptr cinfo) {
  if (cinfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
    auto* e = reinterpret_cast<JpegErrors*>(cinfo->err);
    e->error = JERR_NOTIMPL;
    std::longjmp(e->jump, 1);
  }
}

void InitErrors(JpegErrors& e) {
  jpeg_std_error(&e.mgr);
  e.mgr.error_exit = JpegExit;
  e.mgr.emit_message = JpegMessage;
  e.error = -1;
  e.damaged = false;
}

std::string Damage(int code) {
  switch (code) {
    case kCutShort:
    case JERR_INPUT_EOF:
    case JERR_INPUT_EMPTY: return "it is cut short: the file ends before its image does";
    case JERR_IMAGE_TOO_BIG:
    case JERR_WIDTH_OVERFLOW:
    case JERR_EMPTY_IMAGE: return "its JPEG header describes an image size kalvero cannot read";
    case JERR_OUT_OF_MEMORY: return "there is not enough memory to decode it";
    case JERR_NOTIMPL:
    case JERR_BAD_PRECISION:
    case JERR_ARITH_NOTIMPL:
    case JERR_BAD_COMPONENT_ID: return "it uses a kind of JPEG kalvero cannot read";
    default: return "it is damaged: its JPEG data do not decode";
  }
}

struct JpegHeader {
  uint32_t width, height;
  int components;
  bool cmyk, invertedCmyk;
  int densityUnit;
  unsigned xDensity, yDensity;
};

bool ReadJpegHeader(jpeg_decompress_struct* c, JpegErrors* e, FILE* f, JpegHeader* h) {
  if (setjmp(e->jump)) return false;
  jpeg_stdio_src(c, f);
  jpeg_read_header(c, TRUE);
  h->width = c->image_width;
  h->height = c->image_height;
  h->cmyk = c->jpeg_color_space == JCS_CMYK || c->jpeg_color_space == JCS_YCCK;
  c->out_color_space = h->cmyk ? JCS_CMYK : c->num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  // Adobe's CMYK files keep 255 = no ink, as the protocol does.
  h->invertedCmyk = c->saw_Adobe_marker != 0;
  h->densityUnit = c->saw_JFIF_marker ? c->density_unit : 0;
  h->xDensity = c->X_density;
  h->yDensity = c->Y_density;
  h->components = h->cmyk ? 4 : c->num_components == 1 ? 1 : 3;
  return true;
}

// After the size is known to fit: allocates and starts decoding.
bool StartJpeg(jpeg_decompress_struct* c, JpegErrors* e) {
  if (setjmp(e->jump)) return false;
  jpeg_start_decompress(c);
  return true;
}

bool ReadJpegRows(jpeg_decompress_struct* c, JpegErrors* e, uint8_t* base, size_t rowBytes) {
  if (setjmp(e->jump)) return false;
  while (c->output_scanline < c->output_height) {
    JSAMPROW row = base + size_t(c->output_scanline) * rowBytes;
    jpeg_read_scanlines(c, &row, 1);
  }
  jpeg_finish_decompress(c);
  return true;
}

struct JpegWriteSetup {
  uint32_t width, height;
  int components;
  J_COLOR_SPACE space;
  unsigned xDensity, yDensity;
};

bool WriteJpegRows(jpeg_compress_struct* c, JpegErrors* e, FILE* f, const JpegWriteSetup* s, const uint8_t* base,
                   size_t rowBytes) {
  if (setjmp(e->jump)) return false;
  jpeg_stdio_dest(c, f);
  c->image_width = s->width;
  c->image_height = s->height;
  c->input_components = s->components;
  c->in_color_space = s->space;
  jpeg_set_defaults(c);
  jpeg_set_quality(c, 95, TRUE);
  // The resolution travels in the JFIF header, for CMYK as well: libjpeg
  // leaves it out there, but readers take it from any file.
  c->write_JFIF_header = TRUE;
  c->density_unit = 1;
  c->X_density = UINT16(s->xDensity);
  c->Y_density = UINT16(s->yDensity);
  jpeg_start_compress(c, TRUE);
  while (c->next_scanline < c->image_height) {
    // libjpeg only reads the row.
    JSAMPROW row = const_cast<uint8_t*>(base + size_t(c->next_scanline) * rowBytes);
    jpeg_write_scanlines(c, &row, 1);
  }
  jpeg_finish_compress(c);
  return true;
}

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

unsigned Density(double ppi) { return unsigned(std::clamp(std::lround(ppi), 1L, 65535L)); }

}  // namespace

Document ReadJpeg(const std::filesystem::path& file, int fd, const Warn& warn) {
  std::unique_ptr<FILE, FileCloser> f(::fdopen(::dup(fd), "rb"));
  if (!f) FailRead(file, std::strerror(errno));
  JpegErrors errors;
  InitErrors(errors);
  jpeg_decompress_struct c{};
  c.err = &errors.mgr;
  jpeg_create_decompress(&c);
  struct Guard {
    jpeg_decompress_struct* c;
    ~Guard() { jpeg_destroy_decompress(c); }
  } guard{&c};
  jpeg_progress_mgr progress{};
  progress.progress_monitor = JpegProgress;
  c.progress = &progress;

  JpegHeader h{};
  if (!ReadJpegHeader(&c, &errors, f.get(), &h)) FailRead(file, Damage(errors.error));
  CheckSize(file, h.width, h.height, h.components);
  // The decoder's own buffers, beyond the image: a few rows of blocks, or
  // the whole coefficient set of a progressive file.
  c.mem->max_memory_to_use = long(std::min<uint64_t>(MemoryAllowance(), uint64_t(LONG_MAX)));
  if (!StartJpeg(&c, &errors)) FailRead(file, Damage(errors.error));
  const Mode mode = h.cmyk ? Mode::CMYK : h.components == 1 ? Mode::Grey : Mode::RGB;
  Document doc(int32_t(h.width), int32_t(h.height), mode, false);
  if (doc.Planes() != c.output_components || c.output_width != h.width || c.output_height != h.height)
    FailRead(file, Damage(JERR_NOTIMPL));
  if (!ReadJpegRows(&c, &errors, doc.pixels.data(), doc.RowBytes())) FailRead(file, Damage(errors.error));
  if (h.cmyk && !h.invertedCmyk)
    for (uint8_t& v : doc.pixels) v = uint8_t(255 - v);
  if (h.densityUnit == 1 || h.densityUnit == 2) {
    const double perInch = h.densityUnit == 1 ? 1.0 : 2.54;
    if (h.xDensity > 0 && h.yDensity > 0) {
      doc.xResolution = h.xDensity * perInch;
      doc.yResolution = h.yDensity * perInch;
    }
  }
  if (errors.damaged && warn)
    warn(file.string() + ": parts of the JPEG data are damaged; they read as the decoder repaired them");
  return doc;
}

void WriteJpeg(const Document& doc, const std::filesystem::path& temp) {
  std::unique_ptr<FILE, FileCloser> f(std::fopen(temp.c_str(), "wb"));
  if (!f) throw std::runtime_error(std::strerror(errno));
  JpegErrors errors;
  InitErrors(errors);
  jpeg_compress_struct c{};
  c.err = &errors.mgr;
  jpeg_create_compress(&c);
  struct Guard {
    jpeg_compress_struct* c;
    ~Guard() { jpeg_destroy_compress(c); }
  } guard{&c};
  const J_COLOR_SPACE space = doc.mode == Mode::Grey ? JCS_GRAYSCALE : doc.mode == Mode::CMYK ? JCS_CMYK : JCS_RGB;
  const JpegWriteSetup setup{uint32_t(doc.width),         uint32_t(doc.height),        doc.Planes(), space,
                             Density(doc.xResolution), Density(doc.yResolution)};
  if (!WriteJpegRows(&c, &errors, f.get(), &setup, doc.pixels.data(), doc.RowBytes()))
    throw std::runtime_error(errors.error == JERR_FILE_WRITE ? "the data could not be written; the disk may be full"
                                                             : "the JPEG encoder refused the image");
  if (std::fclose(f.release()) != 0) throw std::runtime_error(std::strerror(errno));
}

}  // namespace kv::cli::formats
