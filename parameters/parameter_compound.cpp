// Parameters that bind a structure or travel under several keys: layer
// fill, lighting, position, flag connections and the puzzle arrangement.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "parameters/parameter_io.h"
#include "parameters/parameters.h"
#include "platform/string_table.h"

namespace kv {

using param_io::Format;

namespace {

int32_t Ok(ps::OSErr err) { return err == 0 ? 0 : -1; }

int32_t ReadTextValue(FilterParameter& p, const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token,
                      uint32_t key, const ps::HandleProcs& handles) {
  std::string text;
  if (param_io::GetText(procs, token, handles, text) != 0) return -1;
  return p.ReadValue(key, text) < 0 ? -1 : 0;
}

constexpr uint32_t kFillEnumType = ps::FourCC("Fibe");

}  // namespace

// --- layer fill ---------------------------------------------------------------------

namespace {

struct FillMode {
  uint32_t code;
  uint32_t allowBit;
  const char* word;
};
constexpr FillMode kFillModes[] = {{kFillWithColor, kAllowFillColor, "color"},
                                   {kFillTransparent, kAllowTransparent, "transparent"},
                                   {kFillKeepOriginal, kAllowKeepOriginal, "keep"}};

const FillMode* FindMode(uint32_t code) {
  for (const FillMode& m : kFillModes)
    if (m.code == code) return &m;
  return nullptr;
}

}  // namespace

void LayerFillParameter::Clamp() {
  if (FindMode(value->mode) == nullptr) value->mode = kFillWithColor;
  ClampColor(value->color);
}

int32_t LayerFillParameter::WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                                            const ps::HandleProcs& handles) const {
  if (procs.putEnumeratedProc(token, modeKey, kFillEnumType, value->mode) != 0) return -1;
  return param_io::PutText(procs, token, colorKey, ColorText(value->color), handles);
}

int32_t LayerFillParameter::ReadDescriptor(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token,
                                           uint32_t key, const ps::HandleProcs& handles) {
  if (key == colorKey) return ReadTextValue(*this, procs, token, key, handles);
  ps::DescriptorEnumID code = 0;
  if (procs.getEnumeratedProc(token, &code) != 0 || FindMode(code) == nullptr) return -1;
  value->mode = code;
  return 0;
}

std::vector<ValueLine> LayerFillParameter::ValueLines() const {
  return {{modeKey, Format("%d", int32_t(value->mode))}, {colorKey, ColorText(value->color)}};
}

int32_t LayerFillParameter::ReadValue(uint32_t key, std::string_view text) {
  if (key == colorKey) return ParseColorText(text, value->color) ? 0 : -1;
  int32_t v = 0;
  const int32_t read = param_io::ScanInt(text, v);
  if (read >= 0) value->mode = uint32_t(v);
  return read;
}

std::string LayerFillParameter::ValueText() const {
  if (value->mode == kFillWithColor) return ColorValueText(value->color);
  const FillMode* m = FindMode(value->mode);
  return m != nullptr ? m->word : "color";
}

int32_t LayerFillParameter::SetFromText(std::string_view text, std::string& error) {
  text = Trim(text);
  LayerFill fill = *value;
  bool known = false;
  for (const FillMode& m : kFillModes) {
    if (param_io::EqualsIgnoreCase(text, m.word)) {
      fill.mode = m.code;
      known = true;
    }
  }
  // A colour alone means: fill with that colour.
  if (!known && ParseColorValue(text, fill.color)) {
    fill.mode = kFillWithColor;
    known = true;
  }
  if (!known || (allowedModes & FindMode(fill.mode)->allowBit) == 0) return Refuse(error, RangeText());
  *value = fill;
  Clamp();
  return 0;
}

std::vector<std::string> LayerFillParameter::Choices() const {
  std::vector<std::string> words;
  for (const FillMode& m : kFillModes)
    if (allowedModes & m.allowBit) words.push_back(m.word);
  return words;
}

std::string LayerFillParameter::RangeText() const {
  std::string text;
  for (const std::string& word : Choices()) text += (text.empty() ? "" : ", ") + word;
  if (allowedModes & kAllowFillColor) text += ", or a fill colour #rrggbb";
  return text;
}

// --- lighting -----------------------------------------------------------------------

double* LightingParameter::Field(uint32_t key) const {
  if (key == directionKey) return &value->direction;
  if (key == inclinationKey) return &value->inclination;
  if (key == brightnessKey) return &value->brightness;
  if (key == sharpnessKey) return &value->sharpness;
  return nullptr;
}

bool LightingParameter::HasKey(uint32_t key) const { return Field(key) != nullptr || key == highlightKey; }

uint32_t LightingParameter::Key(int32_t index) const {
  const uint32_t keys[] = {directionKey, inclinationKey, brightnessKey, sharpnessKey, highlightKey};
  return keys[std::clamp(index, 0, 4)];
}

void LightingParameter::Clamp() {
  value->brightness = ClampNumber(value->brightness, 0.0, 100.0);
  value->sharpness = ClampNumber(value->sharpness, 0.0, 100.0);
  value->direction = ClampNumber(value->direction, 0.0, 360.0);
  value->inclination = ClampNumber(value->inclination, minInclination, 90.0);
  ClampColor(value->highlight);
}

int32_t LightingParameter::WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                                           const ps::HandleProcs& handles) const {
  for (int32_t i = 0; i < 4; ++i)
    if (procs.putFloatProc(token, Key(i), Field(Key(i))) != 0) return -1;
  return param_io::PutText(procs, token, highlightKey, ColorText(value->highlight), handles);
}

int32_t LightingParameter::ReadDescriptor(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token,
                                          uint32_t key, const ps::HandleProcs& handles) {
  if (double* field = Field(key)) return Ok(procs.getFloatProc(token, field));
  return ReadTextValue(*this, procs, token, key, handles);
}

std::vector<ValueLine> LightingParameter::ValueLines() const {
  std::vector<ValueLine> lines;
  for (int32_t i = 0; i < 4; ++i) lines.push_back({Key(i), Format("%.3f", *Field(Key(i)))});
  lines.push_back({highlightKey, ColorText(value->highlight)});
  return lines;
}

int32_t LightingParameter::ReadValue(uint32_t key, std::string_view text) {
  if (double* field = Field(key)) {
    return param_io::ScanDouble(text, *field);
  }
  return ParseColorText(text, value->highlight) ? 0 : -1;
}

std::string LightingParameter::ValueText() const {
  return Format("%g %g %g %g ", value->direction, value->inclination, value->brightness, value->sharpness) +
         ColorValueText(value->highlight);
}

int32_t LightingParameter::SetFromText(std::string_view text, std::string& error) {
  // "direction inclination brightness sharpness [highlight]"
  Lighting lit = *value;
  double* fields[] = {&lit.direction, &lit.inclination, &lit.brightness, &lit.sharpness};
  text = Trim(text);
  for (double* field : fields) {
    const size_t gap = std::min(text.find_first_of(" \t"), text.size());
    if (!param_io::ParseDouble(text.substr(0, gap), *field)) return Refuse(error, RangeText());
    text = Trim(text.substr(gap));
  }
  if (!text.empty() && !ParseColorValue(text, lit.highlight)) return Refuse(error, RangeText());
  *value = lit;
  Clamp();
  return 0;
}

std::string LightingParameter::RangeText() const {
  return Format("\"direction inclination brightness sharpness [highlight]\": 0..360, %g..90, 0..100, 0..100, "
                "#rrggbb",
                minInclination);
}

// --- position -----------------------------------------------------------------------

void PositionParameter::Clamp() {
  constexpr double kReach = 1e6;
  for (double* v : {&value->x, &value->y}) *v = ClampNumber(*v, -kReach, kReach);
}

int32_t PositionParameter::WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                                           const ps::HandleProcs& handles) const {
  return param_io::PutText(procs, token, key, PositionText(*value), handles);
}

int32_t PositionParameter::ReadDescriptor(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token,
                                          uint32_t k, const ps::HandleProcs& handles) {
  return ReadTextValue(*this, procs, token, k, handles);
}

std::vector<ValueLine> PositionParameter::ValueLines() const { return {{key, PositionText(*value)}}; }
int32_t PositionParameter::ReadValue(uint32_t, std::string_view text) { return ParsePositionText(text, *value) ? 0 : -1; }

namespace {

// "120", "-3.5": at most `decimals` decimals, no trailing zeros.
std::string ShortNumber(double v, int decimals) {
  std::string t = Format("%.*f", decimals, v);
  if (t.find('.') != std::string::npos) {
    while (t.back() == '0') t.pop_back();
    if (t.back() == '.') t.pop_back();
  }
  return t == "-0" ? "0" : t;
}

// One coordinate: pixels, or a percentage of the working area.
struct Coordinate {
  double number = 0.0;
  bool percent = false;
};

bool ParseCoordinate(std::string_view text, Coordinate& c) {
  text = Trim(text);
  c.percent = !text.empty() && text.back() == '%';
  if (c.percent) text.remove_suffix(1);
  return param_io::ParseDouble(text, c.number);
}

}  // namespace

std::string PositionParameter::ValueText() const {
  if (owner != nullptr && owner->positionFrame) {
    const Rect& a = owner->positionFrame->area;
    return ShortNumber(a.left + value->x * a.Width(), 2) + "," + ShortNumber(a.top + value->y * a.Height(), 2);
  }
  return ShortNumber(value->x * 100.0, 3) + "%," + ShortNumber(value->y * 100.0, 3) + "%";
}

int32_t PositionParameter::SetFromText(std::string_view text, std::string& error) {
  text = Trim(text);
  size_t split = text.find(',');
  const size_t skip = split == std::string_view::npos ? 0 : 1;
  if (split == std::string_view::npos) split = text.find_first_of(" \t");
  Coordinate x, y;
  if (split == std::string_view::npos || !ParseCoordinate(text.substr(0, split), x) ||
      !ParseCoordinate(text.substr(split + skip), y))
    return Refuse(error, RangeText());

  const PositionFrame* frame = owner != nullptr && owner->positionFrame ? &*owner->positionFrame : nullptr;
  if (frame == nullptr && !(x.percent && y.percent)) {
    error = Name() + " is in image pixels only where there is an image; give it here as \"x%,y%\" of the " +
            "working area, such as \"10%,5%\"";
    return -1;
  }
  const auto fraction = [](const Coordinate& c, int32_t start, int32_t size) {
    return c.percent ? c.number / 100.0 : (c.number - start) / std::max(size, 1);
  };
  PointD f{0.0, 0.0};
  if (frame != nullptr) {
    const Rect& a = frame->area;
    f = {fraction(x, a.left, a.Width()), fraction(y, a.top, a.Height())};
    const PointD pixel{a.left + f.x * a.Width(), a.top + f.y * a.Height()};
    const Rect reach = PositionReach(frame->image);
    if (!(pixel.x >= reach.left && pixel.x <= reach.right && pixel.y >= reach.top && pixel.y <= reach.bottom)) {
      error = Name() + " " + std::string(text) + " lies too far outside the " + std::to_string(frame->image.Width()) +
              " x " + std::to_string(frame->image.Height()) + " image: x may run from " + std::to_string(reach.left) +
              " to " + std::to_string(reach.right) + ", y from " + std::to_string(reach.top) + " to " +
              std::to_string(reach.bottom);
      return -1;
    }
  } else {
    f = {x.number / 100.0, y.number / 100.0};
    // Without the image, one working area beyond its edges stays within reach
    // whatever the image.
    if (!(f.x >= -1.0 && f.x <= 2.0 && f.y >= -1.0 && f.y <= 2.0)) {
      error = Name() + " " + std::string(text) + " lies too far outside the working area: -100% to 200%";
      return -1;
    }
  }
  // Settings files and scripts keep a position to a thousandth of the area;
  // storing it on that grid makes Last Used and a recorded run repeat this
  // one exactly.
  *value = {std::round(f.x * 1000.0) / 1000.0, std::round(f.y * 1000.0) / 1000.0};
  return 0;
}

std::string PositionParameter::RangeText() const {
  return "a position \"x,y\" in image pixels from its top-left corner, or \"x%,y%\" of the working area "
         "(the selection's bounds, else the layer's content, else the whole image)";
}

// --- flag connections -----------------------------------------------------------------

namespace {

constexpr const char* kAttachmentWords[kFlagAttachmentCount] = {"top-left",    "top",    "top-right",
                                                                "left",        "right",  "bottom-left",
                                                                "bottom",      "bottom-right"};

}  // namespace

int32_t FlagConnectionsParameter::WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                                                  const ps::HandleProcs& handles) const {
  return param_io::PutText(procs, token, key, ConnectionText(*value), handles);
}

int32_t FlagConnectionsParameter::ReadDescriptor(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token,
                                                 uint32_t k, const ps::HandleProcs& handles) {
  return ReadTextValue(*this, procs, token, k, handles);
}

void FlagConnectionsParameter::Clamp() {
  for (bool& attached : value->attached) NormaliseBool(&attached);
}

std::vector<ValueLine> FlagConnectionsParameter::ValueLines() const { return {{key, ConnectionText(*value)}}; }

int32_t FlagConnectionsParameter::ReadValue(uint32_t, std::string_view text) {
  ParseConnectionText(text, *value);
  return 0;
}

std::string FlagConnectionsParameter::ValueText() const {
  std::string text;
  for (int32_t i = 0; i < kFlagAttachmentCount; ++i)
    if (value->attached[i]) text += (text.empty() ? "" : ",") + std::string(kAttachmentWords[i]);
  return text.empty() ? "none" : text;
}

int32_t FlagConnectionsParameter::SetFromText(std::string_view text, std::string& error) {
  FlagConnections c;
  std::string words(text);
  std::replace(words.begin(), words.end(), ',', ' ');
  std::string_view rest = Trim(words);
  if (param_io::EqualsIgnoreCase(rest, "none")) rest = {};
  while (!rest.empty()) {
    const size_t gap = std::min(rest.find(' '), rest.size());
    const std::string_view word = rest.substr(0, gap);
    const auto* found = std::find_if(std::begin(kAttachmentWords), std::end(kAttachmentWords),
                                     [&](const char* w) { return param_io::EqualsIgnoreCase(word, w); });
    if (found == std::end(kAttachmentWords)) return Refuse(error, RangeText());
    c.attached[found - std::begin(kAttachmentWords)] = true;
    rest = Trim(rest.substr(gap));
  }
  *value = c;
  return 0;
}

std::vector<std::string> FlagConnectionsParameter::Choices() const {
  return {std::begin(kAttachmentWords), std::end(kAttachmentWords)};
}

std::string FlagConnectionsParameter::RangeText() const {
  return "\"none\" or a comma-separated list of: top-left, top, top-right, left, right, bottom-left, bottom, "
         "bottom-right";
}

// --- puzzle arrangement -----------------------------------------------------------------

void PuzzleArrangementParameter::Clamp() {
  value->columns = int16_t(std::clamp<int32_t>(value->columns, 1, kPuzzleMaxSize));
  value->rows = int16_t(std::clamp<int32_t>(value->rows, 1, kPuzzleMaxSize));
  for (bool& f : value->present) NormaliseBool(&f);
  for (bool& f : value->connectorUp) NormaliseBool(&f);
  for (bool& f : value->connectorLeft) NormaliseBool(&f);
}

int32_t PuzzleArrangementParameter::DigitPosition() const { return (key & 0xFF) == '0' ? 3 : 0; }

uint32_t PuzzleArrangementParameter::Key(int32_t index) const {
  const int32_t shift = 8 * (3 - DigitPosition());
  return (key & ~(0xFFu << shift)) | (uint32_t('0' + std::clamp(index, 0, 7)) << shift);
}

bool PuzzleArrangementParameter::HasKey(uint32_t k) const {
  const uint32_t others = ~(0xFFu << (8 * (3 - DigitPosition())));
  return (k & others) == (key & others);
}

std::vector<std::string> PuzzleArrangementParameter::Chunks(std::string_view text) {
  std::vector<std::string> chunks;
  for (size_t offset = 0; offset < text.size() || chunks.empty(); offset += kChunkSize) {
    const std::string_view part = text.substr(std::min(offset, text.size()), kChunkSize);
    chunks.push_back(Format("%5d %5d ", int(text.size()), int(offset)) + std::string(part));
  }
  return chunks;
}

int32_t PuzzleArrangementParameter::TakeChunk(std::string_view chunk, std::string& complete) {
  int total = 0, offset = 0;
  const std::string header(chunk.substr(0, 12));
  if (std::sscanf(header.c_str(), "%d %d", &total, &offset) != 2 || chunk.size() < 12) return -1;
  const std::string_view body = chunk.substr(12);
  if (total < 0 || total > KeyCount() * kChunkSize || offset < 0 || size_t(offset) + body.size() > size_t(total))
    return -1;
  if (pending_.size() != size_t(total)) {
    pending_.assign(size_t(total), ' ');
    received_.assign(size_t(total), false);
  }
  std::copy(body.begin(), body.end(), pending_.begin() + offset);
  std::fill_n(received_.begin() + offset, body.size(), true);
  if (std::find(received_.begin(), received_.end(), false) == received_.end()) complete = pending_;
  return 0;
}

int32_t PuzzleArrangementParameter::WriteDescriptor(const ps::WriteDescriptorProcs& procs,
                                                    ps::PIWriteDescriptor token,
                                                    const ps::HandleProcs& handles) const {
  const std::vector<std::string> chunks = Chunks(ArrangementText(*value));
  if (chunks.size() > size_t(KeyCount())) return -1;
  for (size_t i = 0; i < chunks.size(); ++i)
    if (param_io::PutText(procs, token, Key(int32_t(i)), chunks[i], handles) != 0) return -1;
  return 0;
}

int32_t PuzzleArrangementParameter::ReadDescriptor(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token,
                                                   uint32_t, const ps::HandleProcs& handles) {
  std::string chunk, complete;
  if (param_io::GetText(procs, token, handles, chunk) != 0 || TakeChunk(chunk, complete) != 0) return -1;
  if (complete.empty()) return 0;
  return ParseArrangementText(complete, *value) ? 0 : -1;
}

std::vector<ValueLine> PuzzleArrangementParameter::ValueLines() const { return {{key, ArrangementText(*value)}}; }

int32_t PuzzleArrangementParameter::ReadValue(uint32_t, std::string_view text) {
  return ParseArrangementText(text, *value) ? 0 : -1;
}

int32_t PuzzleArrangementParameter::SetFromText(std::string_view text, std::string& error) {
  if (ParseArrangementText(text, *value)) return 0;
  // The size alone, "12x8" or "12 8".
  const std::string size(Trim(text));
  int columns = 0, rows = 0, used = 0;
  if (std::sscanf(size.c_str(), "%d%*[ xX]%d%n", &columns, &rows, &used) == 2 && size_t(used) == size.size() &&
      columns >= 1 && columns <= kPuzzleMaxSize && rows >= 1 && rows <= kPuzzleMaxSize) {
    ResizePuzzle(*value, columns, rows);
    return 0;
  }
  return Refuse(error, RangeText());
}

std::string PuzzleArrangementParameter::RangeText() const {
  return "the grid's size \"columns x rows\" (1 to 50 each), or the whole arrangement as settings files keep it: "
         "\"columns rows\", then V/I per piece (present or knocked out), a space, U/D per horizontal edge, a space, "
         "L/R per vertical edge";
}

}  // namespace kv
