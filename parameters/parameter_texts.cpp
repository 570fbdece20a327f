// The texts of the parameter value types, shared by scripting, the settings
// files and the command line.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "parameters/parameter_io.h"
#include "parameters/parameter_values.h"

namespace kv {

using param_io::Format;

namespace {

constexpr const char* kDegreeSign = "\xC2\xB0";  // U+00B0 in our 8-bit code page, UTF-8

uint16_t ClampTo(uint16_t v, uint16_t maximum) { return std::min(v, maximum); }

double Percent(uint16_t component) { return ClampTo(component, 255) * 100.0 / 255.0; }

uint16_t FromPercent(double p) {
  p = std::clamp(p, 0.0, 100.0);
  return uint16_t(std::floor(p * 255.0 * 0.01 + 0.5));
}

// Reads a text the way the colour formats' scanf directives do: "%*s" a
// word, "%lf" and "%d" numbers after white space, "%*1c" one character (one
// code point, so that a two-byte degree sign counts as one).
class Scanner {
 public:
  explicit Scanner(std::string_view text) : s_(text) {}

  bool SkipWord() {
    SkipSpace();
    const size_t start = pos_;
    while (pos_ < s_.size() && !IsSpace(s_[pos_])) ++pos_;
    return pos_ > start;
  }
  bool Double(double& value) {
    SkipSpace();
    const char* begin = s_.c_str() + pos_;
    char* end = nullptr;
    value = std::strtod(begin, &end);
    if (end == begin || !std::isfinite(value)) return false;
    pos_ += size_t(end - begin);
    return true;
  }
  bool Int(int32_t& value) {
    SkipSpace();
    const char* begin = s_.c_str() + pos_;
    char* end = nullptr;
    const long v = std::strtol(begin, &end, 10);
    if (end == begin) return false;
    value = int32_t(std::clamp<long>(v, INT32_MIN, INT32_MAX));
    pos_ += size_t(end - begin);
    return true;
  }
  void SkipChar() {
    if (pos_ >= s_.size()) return;
    ++pos_;
    while (pos_ < s_.size() && (uint8_t(s_[pos_]) & 0xC0) == 0x80) ++pos_;
  }

 private:
  static bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
  void SkipSpace() {
    while (pos_ < s_.size() && IsSpace(s_[pos_])) ++pos_;
  }

  std::string s_;
  size_t pos_ = 0;
};

// Reads `count` percentages, each followed by one skipped character.
bool ReadPercentages(Scanner& in, int count, uint16_t* out) {
  for (int i = 0; i < count; ++i) {
    double p;
    if (!in.Double(p)) return false;
    in.SkipChar();
    out[i] = FromPercent(p);
  }
  return true;
}

uint16_t OffsetComponent(int32_t v, int32_t offset, int32_t maximum) {
  return uint16_t(std::clamp<int64_t>(int64_t(v) + offset, 0, maximum));
}

}  // namespace

void ClampColor(Color& color) {
  uint16_t* c = color.component;
  switch (color.space) {
    case kSpaceRGB:
    case kSpaceLab:
      for (int i = 0; i < 3; ++i) c[i] = ClampTo(c[i], 255);
      c[3] = 0;
      break;
    case kSpaceHSB:
      c[0] = ClampTo(c[0], 359);
      c[1] = ClampTo(c[1], 255);
      c[2] = ClampTo(c[2], 255);
      c[3] = 0;
      break;
    case kSpaceCMYK:
      for (int i = 0; i < 4; ++i) c[i] = ClampTo(c[i], 255);
      break;
    case kSpaceGray:
      c[0] = ClampTo(c[0], 255);
      c[1] = c[2] = c[3] = 0;
      break;
    case kSpaceHSL:
    case kSpaceXYZ:
      break;
    default:
      color = Color::RGB(192, 192, 192);
  }
}

std::string ColorText(const Color& color) {
  Color k = color;
  if (k.space > kSpaceXYZ) ClampColor(k);
  const uint16_t* c = k.component;
  switch (k.space) {
    case kSpaceRGB:
      return Format("RGB: %.1f%% %.1f%% %.1f%% (%d %d %d)", Percent(c[0]), Percent(c[1]), Percent(c[2]),
                    ClampTo(c[0], 255), ClampTo(c[1], 255), ClampTo(c[2], 255));
    case kSpaceHSB:
    case kSpaceHSL:
      return Format("%s: %d%s %.1f%% %.1f%%", k.space == kSpaceHSB ? "HSB" : "HSL", c[0], kDegreeSign, Percent(c[1]),
                    Percent(c[2]));
    case kSpaceCMYK:
      return Format("CMYK: %.1f%% %.1f%% %.1f%% %.1f%%", Percent(c[0]), Percent(c[1]), Percent(c[2]), Percent(c[3]));
    case kSpaceLab:
      return Format("Lab: %.1f%% %d %d", Percent(c[0]), c[1] - 128, c[2] - 128);
    case kSpaceGray:
      return Format("Gray: %.1f%% (%d)", Percent(c[0]), ClampTo(c[0], 255));
    default:
      return Format("XYZ: %d %d %d", c[0], c[1], c[2]);
  }
}

bool ParseColorText(std::string_view text, Color& color) {
  Scanner words(text);
  if (!words.SkipWord() || !words.SkipWord()) return false;
  const std::string_view trimmed = Trim(text);
  const std::string_view first = trimmed.substr(0, trimmed.find_first_of(" \t\r\n\v\f"));

  Scanner in(text);
  in.SkipWord();
  Color out;
  uint16_t* c = out.component;
  int32_t a = 0, b = 0, d = 0;
  if (first == "RGB:") {
    out.space = kSpaceRGB;
    if (!ReadPercentages(in, 3, c)) return false;
  } else if (first == "HSB:" || first == "HSL:") {
    out.space = first == "HSB:" ? kSpaceHSB : kSpaceHSL;
    if (!in.Int(a)) return false;
    in.SkipChar();
    if (!ReadPercentages(in, 2, c + 1)) return false;
    c[0] = OffsetComponent(a, 0, 359);
  } else if (first == "CMYK:") {
    out.space = kSpaceCMYK;
    if (!ReadPercentages(in, 4, c)) return false;
  } else if (first == "Lab:") {
    out.space = kSpaceLab;
    if (!ReadPercentages(in, 1, c) || !in.Int(a) || !in.Int(b)) return false;
    c[1] = OffsetComponent(a, 128, 255);
    c[2] = OffsetComponent(b, 128, 255);
  } else if (first == "Gray:") {
    out.space = kSpaceGray;
    if (!ReadPercentages(in, 1, c)) return false;
  } else if (first == "XYZ:") {
    out.space = kSpaceXYZ;
    if (!in.Int(a) || !in.Int(b) || !in.Int(d)) return false;
    c[0] = OffsetComponent(a, 0, 65535);
    c[1] = OffsetComponent(b, 0, 65535);
    c[2] = OffsetComponent(d, 0, 65535);
  } else {
    return false;
  }
  color = out;
  return true;
}

std::string ColorValueText(const Color& color) {
  if (color.space != kSpaceRGB) return ColorText(color);
  const uint16_t* c = color.component;
  return Format("#%02x%02x%02x", ClampTo(c[0], 255), ClampTo(c[1], 255), ClampTo(c[2], 255));
}

bool ParseColorValue(std::string_view text, Color& color) {
  const std::string_view t = Trim(text);
  if (t.size() == 7 && t[0] == '#') {
    uint16_t c[3];
    for (int i = 0; i < 3; ++i) {
      const std::string pair(t.substr(size_t(1 + 2 * i), 2));
      char* end = nullptr;
      const long v = std::strtol(pair.c_str(), &end, 16);
      if (end != pair.c_str() + 2 || pair[0] == '-' || pair[0] == '+') return false;
      c[i] = uint16_t(v);
    }
    color = Color::RGB(c[0], c[1], c[2]);
    return true;
  }
  if (std::count(t.begin(), t.end(), ',') == 2) {
    int64_t c[3];
    std::string_view rest = t;
    for (int i = 0; i < 3; ++i) {
      const size_t comma = rest.find(',');
      if (!param_io::ParseInt(rest.substr(0, comma), c[i]) || c[i] < 0 || c[i] > 255) return false;
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    color = Color::RGB(uint16_t(c[0]), uint16_t(c[1]), uint16_t(c[2]));
    return true;
  }
  return ParseColorText(t, color);
}

void NormaliseBool(bool* value) {
  uint8_t byte;
  std::memcpy(&byte, value, 1);
  const bool normal = byte != 0;
  std::memcpy(value, &normal, 1);
}

// --- length -----------------------------------------------------------------

namespace {

constexpr const char* kUnitWords[kLengthUnitCount] = {"pixels", "inches", "centimeters", "millimeters", "points",
                                                      "picas"};

int32_t ValidUnit(int32_t unit) { return unit >= 0 && unit < kLengthUnitCount ? unit : kUnitPixels; }

double ToInches(double amount, int32_t unit, double resolution) {
  switch (ValidUnit(unit)) {
    case kUnitInches: return amount;
    case kUnitCentimeters: return amount * 0.3937007874;
    case kUnitMillimeters: return amount * 0.03937007874;
    case kUnitPoints: return amount / 72.0;
    case kUnitPicas: return amount / 6.0;
    default: return amount / resolution;
  }
}

double FromInches(double inches, int32_t unit, double resolution) {
  switch (ValidUnit(unit)) {
    case kUnitInches: return inches;
    case kUnitCentimeters: return inches * 2.54;
    case kUnitMillimeters: return inches * 25.4;
    case kUnitPoints: return inches * 72.0;
    case kUnitPicas: return inches * 6.0;
    default: return inches * resolution;
  }
}

}  // namespace

double ResolutionFromFixed(ps::Fixed resolution) {
  const double r = resolution / 65536.0;
  return r < 0.01 ? 72.0 : r;
}

// Pixels stay exact rather than passing through inches.
double LengthToPixels(const Length& length, double resolution) {
  if (ValidUnit(length.unit) == kUnitPixels) return length.amount;
  return ToInches(length.amount, length.unit, resolution) * resolution;
}

double PixelsToUnit(double pixels, int32_t unit, double resolution) {
  if (ValidUnit(unit) == kUnitPixels) return pixels;
  return FromInches(pixels / resolution, unit, resolution);
}

const char* LengthUnitWord(int32_t unit) { return kUnitWords[ValidUnit(unit)]; }

std::string LengthText(const Length& length) { return Format("%.2f %s", length.amount, LengthUnitWord(length.unit)); }

bool ParseLengthText(std::string_view text, Length& length) {
  text = Trim(text);
  const size_t gap = text.find_first_of(" \t");
  if (gap == std::string_view::npos) return false;
  const std::string_view word = Trim(text.substr(gap));
  double amount;
  if (!param_io::ParseDouble(text.substr(0, gap), amount)) return false;
  for (int32_t unit = 0; unit < kLengthUnitCount; ++unit) {
    if (word == kUnitWords[unit]) {
      length = {amount, unit};
      return true;
    }
  }
  return false;
}

bool ParseLengthValue(std::string_view text, Length& length) {
  constexpr const char* kShort[kLengthUnitCount] = {"px", "in", "cm", "mm", "pt", "pc"};
  text = Trim(text);
  const size_t split = text.find_first_not_of("0123456789+-.eE");
  double amount;
  if (!param_io::ParseDouble(text.substr(0, split), amount)) return false;
  if (split == std::string_view::npos) {
    length = {amount, kUnitPixels};
    return true;
  }
  const std::string_view word = Trim(text.substr(split));
  for (int32_t unit = 0; unit < kLengthUnitCount; ++unit) {
    if (param_io::EqualsIgnoreCase(word, kUnitWords[unit]) || param_io::EqualsIgnoreCase(word, kShort[unit])) {
      length = {amount, unit};
      return true;
    }
  }
  return false;
}

// --- position -----------------------------------------------------------------

std::string PositionText(const PointD& position) { return Format("%.3f %.3f", position.x, position.y); }

bool ParsePositionText(std::string_view text, PointD& position) {
  text = Trim(text);
  const size_t gap = text.find_first_of(" \t");
  if (gap == std::string_view::npos) return false;
  PointD p;
  if (!param_io::ParseDouble(text.substr(0, gap), p.x) || !param_io::ParseDouble(text.substr(gap), p.y)) return false;
  position = p;
  return true;
}

// --- flag attachments -------------------------------------------------------

std::string ConnectionText(const FlagConnections& connections) {
  std::string text(kFlagAttachmentCount, ' ');
  for (int32_t i = 0; i < kFlagAttachmentCount; ++i)
    if (connections.attached[i]) text[size_t(i)] = 'X';
  return text;
}

void ParseConnectionText(std::string_view text, FlagConnections& connections) {
  for (int32_t i = 0; i < kFlagAttachmentCount; ++i) connections.attached[i] = size_t(i) < text.size() && text[size_t(i)] == 'X';
}

// --- puzzle arrangement ---------------------------------------------------------

namespace {

// One run of flag letters: `set` for true, `clear` for false.
struct FlagRun {
  char set, clear;
};
constexpr FlagRun kPieceLetters{'V', 'I'};
constexpr FlagRun kHorizontalLetters{'U', 'D'};
constexpr FlagRun kVerticalLetters{'L', 'R'};

template <typename Flag>
void AppendRun(std::string& out, int32_t width, int32_t height, FlagRun letters, Flag flag) {
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) out += flag(x, y) ? letters.set : letters.clear;
}

template <typename Flag>
bool ReadRun(std::string_view text, size_t& pos, int32_t width, int32_t height, FlagRun letters, Flag flag) {
  if (text.size() - pos < size_t(width) * size_t(height)) return false;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const char c = text[pos++];
      if (c != letters.set && c != letters.clear) return false;
      flag(x, y) = c == letters.set;
    }
  }
  return true;
}

bool ReadCount(std::string_view text, size_t& pos, int32_t& value) {
  while (pos < text.size() && text[pos] == ' ') ++pos;
  const size_t start = pos;
  value = 0;
  while (pos < text.size() && pos - start < 3 && text[pos] >= '0' && text[pos] <= '9') value = value * 10 + (text[pos++] - '0');
  return pos > start && value >= 1 && value <= kPuzzleMaxSize;
}

}  // namespace

std::string ArrangementText(const PuzzleArrangement& a) {
  const int32_t w = std::clamp<int32_t>(a.columns, 1, kPuzzleMaxSize);
  const int32_t h = std::clamp<int32_t>(a.rows, 1, kPuzzleMaxSize);
  std::string out = Format("%3d %3d", w, h);
  out.reserve(out.size() + size_t(3 * w * h + w + h + 2));
  AppendRun(out, w, h, kPieceLetters, [&](int32_t x, int32_t y) { return a.Piece(x, y); });
  out += ' ';
  AppendRun(out, w, h + 1, kHorizontalLetters, [&](int32_t x, int32_t y) { return a.HorizontalEdge(x, y); });
  out += ' ';
  AppendRun(out, w + 1, h, kVerticalLetters, [&](int32_t x, int32_t y) { return a.VerticalEdge(x, y); });
  return out;
}

bool ParseArrangementText(std::string_view text, PuzzleArrangement& arrangement) {
  text = Trim(text);
  size_t pos = 0;
  int32_t w = 0, h = 0;
  if (!ReadCount(text, pos, w) || pos >= text.size() || text[pos] != ' ' || !ReadCount(text, pos, h)) return false;
  auto a = std::make_unique<PuzzleArrangement>(arrangement);
  a->columns = int16_t(w);
  a->rows = int16_t(h);
  const auto separator = [&] { return pos < text.size() && text[pos++] == ' '; };
  if (!ReadRun(text, pos, w, h, kPieceLetters, [&](int32_t x, int32_t y) -> bool& { return a->Piece(x, y); }) ||
      !separator() ||
      !ReadRun(text, pos, w, h + 1, kHorizontalLetters,
               [&](int32_t x, int32_t y) -> bool& { return a->HorizontalEdge(x, y); }) ||
      !separator() ||
      !ReadRun(text, pos, w + 1, h, kVerticalLetters, [&](int32_t x, int32_t y) -> bool& { return a->VerticalEdge(x, y); }) ||
      pos != text.size())
    return false;
  arrangement = *a;
  return true;
}

}  // namespace kv
