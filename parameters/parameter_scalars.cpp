// The one-value parameter classes: clamping, scripting, settings lines and
// the command-line texts.
#include <algorithm>
#include <cmath>

#include "parameters/parameter_io.h"
#include "parameters/parameters.h"
#include "platform/string_table.h"

namespace kv {

using param_io::Format;

namespace {

int32_t Ok(ps::OSErr err) { return err == 0 ? 0 : -1; }

std::vector<ValueLine> DoubleLine(uint32_t key, double v) { return {{key, Format("%.3f", v)}}; }

int32_t ReadDouble(std::string_view text, double* out) { return param_io::ScanDouble(text, *out); }

// People's numbers are the whole text, or refused.
bool SetDouble(std::string_view text, double* out) {
  double v;
  if (!param_io::ParseDouble(text, v)) return false;
  *out = v;
  return true;
}

std::string Number(double v) { return Format("%g", v); }

}  // namespace

// --- slider track -------------------------------------------------------------

double SliderRange::TrackToValue(double position) const {
  position = std::clamp(position, 0.0, 1.0);
  if (trackSplitFraction <= 0.0 || trackSplitFraction >= 1.0)
    return minimum + position * (maximum - minimum);
  if (position <= trackSplitFraction)
    return minimum + position / trackSplitFraction * (trackSplitValue - minimum);
  return trackSplitValue + (position - trackSplitFraction) / (1.0 - trackSplitFraction) * (maximum - trackSplitValue);
}

double SliderRange::ValueToTrack(double value) const {
  value = std::clamp(value, minimum, maximum);
  const auto part = [](double v, double from, double to) { return to > from ? (v - from) / (to - from) : 0.0; };
  if (trackSplitFraction <= 0.0 || trackSplitFraction >= 1.0) return part(value, minimum, maximum);
  if (value <= trackSplitValue) return trackSplitFraction * part(value, minimum, trackSplitValue);
  return trackSplitFraction + (1.0 - trackSplitFraction) * part(value, trackSplitValue, maximum);
}

// --- slider -------------------------------------------------------------------

void SliderParameter::Clamp() { *value = ClampNumber(*value, minimum, maximum); }

int32_t SliderParameter::WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                                         const ps::HandleProcs&) const {
  return Ok(procs.putFloatProc(token, key, value));
}

int32_t SliderParameter::ReadDescriptor(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token, uint32_t,
                                        const ps::HandleProcs&) {
  double v = *value;
  // 2 means the host pinned the value to the range: still a value.
  const ps::OSErr err = procs.getPinnedFloatProc(token, &minimum, &maximum, &v);
  if (err != 0 && err != 2) return -1;
  *value = v;
  return 0;
}

std::vector<ValueLine> SliderParameter::ValueLines() const { return DoubleLine(key, *value); }
int32_t SliderParameter::ReadValue(uint32_t, std::string_view text) { return ReadDouble(text, value); }

int32_t SliderParameter::SetFromText(std::string_view text, std::string& error) {
  if (!SetDouble(text, value)) return Refuse(error, RangeText());
  Clamp();
  return 0;
}

std::string SliderParameter::RangeText() const {
  const char* suffix = unit == kUnitAngle ? " degrees" : unit == kUnitPercent ? " %" : "";
  return "a number from " + Number(minimum) + " to " + Number(maximum) + suffix;
}

std::string SliderParameter::Label() const {
  std::string label = text.LabelText();
  if (unit == kUnitAngle) label += " (\xC2\xB0)";
  if (unit == kUnitPercent) label += " (%)";
  return label;
}

// --- length slider --------------------------------------------------------------

double LengthSliderParameter::Resolution() const { return owner != nullptr ? owner->resolution : 72.0; }

void LengthSliderParameter::Clamp() {
  if (value->unit < 0 || value->unit >= kLengthUnitCount) value->unit = kUnitPixels;
  const double r = Resolution();
  const double pixels = LengthToPixels(*value, r);
  const double clamped = ClampNumber(pixels, minimum, maximum);
  if (clamped != pixels) value->amount = PixelsToUnit(clamped, value->unit, r);
}

int32_t LengthSliderParameter::WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                                               const ps::HandleProcs& handles) const {
  return param_io::PutText(procs, token, key, LengthText(*value), handles);
}

int32_t LengthSliderParameter::ReadDescriptor(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token,
                                              uint32_t k, const ps::HandleProcs& handles) {
  std::string text;
  if (param_io::GetText(procs, token, handles, text) != 0) return -1;
  return ReadValue(k, text) < 0 ? -1 : 0;
}

std::vector<ValueLine> LengthSliderParameter::ValueLines() const { return {{key, LengthText(*value)}}; }

int32_t LengthSliderParameter::ReadValue(uint32_t, std::string_view text) {
  return ParseLengthText(text, *value) ? 0 : -1;
}

int32_t LengthSliderParameter::SetFromText(std::string_view text, std::string& error) {
  if (!ParseLengthValue(text, *value)) return Refuse(error, RangeText());
  Clamp();
  return 0;
}

std::string LengthSliderParameter::RangeText() const {
  return "a length from " + Number(minimum) + " to " + Number(maximum) +
         " pixels; other units: in, cm, mm, pt, pc (\"1.5 cm\")";
}

// --- check box ------------------------------------------------------------------

int32_t CheckboxParameter::WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                                           const ps::HandleProcs&) const {
  return Ok(procs.putBooleanProc(token, key, *value ? 1 : 0));
}

int32_t CheckboxParameter::ReadDescriptor(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token, uint32_t,
                                          const ps::HandleProcs&) {
  ps::Boolean b = 0;
  if (procs.getBooleanProc(token, &b) != 0) return -1;
  *value = b != 0;
  return 0;
}

std::vector<ValueLine> CheckboxParameter::ValueLines() const { return {{key, *value ? "1" : "0"}}; }

int32_t CheckboxParameter::ReadValue(uint32_t, std::string_view text) {
  int32_t v = 0;
  const int32_t read = param_io::ScanInt(text, v);
  if (read >= 0) *value = v != 0;
  return read;
}

std::string CheckboxParameter::ValueText() const { return *value ? "on" : "off"; }

int32_t CheckboxParameter::SetFromText(std::string_view text, std::string& error) {
  for (const char* on : {"on", "true", "yes", "1"})
    if (param_io::EqualsIgnoreCase(Trim(text), on)) return *value = true, 0;
  for (const char* off : {"off", "false", "no", "0"})
    if (param_io::EqualsIgnoreCase(Trim(text), off)) return *value = false, 0;
  return Refuse(error, RangeText());
}

std::string CheckboxParameter::RangeText() const { return "on or off"; }

// --- direction ------------------------------------------------------------------

void DirectionParameter::Clamp() { *value = ClampNumber(*value, 0.0, 360.0); }

int32_t DirectionParameter::WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                                            const ps::HandleProcs&) const {
  return Ok(procs.putFloatProc(token, key, value));
}

int32_t DirectionParameter::ReadDescriptor(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token, uint32_t,
                                           const ps::HandleProcs&) {
  double v;
  if (procs.getFloatProc(token, &v) != 0) return -1;
  *value = v;
  return 0;
}

std::vector<ValueLine> DirectionParameter::ValueLines() const { return DoubleLine(key, *value); }
int32_t DirectionParameter::ReadValue(uint32_t, std::string_view text) { return ReadDouble(text, value); }

int32_t DirectionParameter::SetFromText(std::string_view text, std::string& error) {
  if (!SetDouble(text, value)) return Refuse(error, RangeText());
  Clamp();
  return 0;
}
std::string DirectionParameter::RangeText() const { return "an angle from 0 to 360 degrees"; }

// --- random seed ------------------------------------------------------------------

int32_t RandomSeedParameter::WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                                             const ps::HandleProcs&) const {
  return Ok(procs.putIntegerProc(token, key, *value));
}

int32_t RandomSeedParameter::ReadDescriptor(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token, uint32_t,
                                            const ps::HandleProcs&) {
  int32_t v;
  if (procs.getIntegerProc(token, &v) != 0) return -1;
  *value = uint16_t(v);
  return 0;
}

std::vector<ValueLine> RandomSeedParameter::ValueLines() const { return {{key, Format("%d", int(*value))}}; }

int32_t RandomSeedParameter::ReadValue(uint32_t, std::string_view text) {
  return param_io::ScanUnsignedShort(text, *value);
}

int32_t RandomSeedParameter::SetFromText(std::string_view text, std::string& error) {
  int64_t v;
  if (!param_io::ParseInt(text, v) || v < 0 || v > 65535) return Refuse(error, RangeText());
  *value = uint16_t(v);
  return 0;
}

std::string RandomSeedParameter::RangeText() const { return "a whole number from 0 to 65535"; }

// --- colour -------------------------------------------------------------------------

void ColorParameter::Clamp() { ClampColor(*value); }

int32_t ColorParameter::WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                                        const ps::HandleProcs& handles) const {
  return param_io::PutText(procs, token, key, ColorText(*value), handles);
}

int32_t ColorParameter::ReadDescriptor(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token, uint32_t k,
                                       const ps::HandleProcs& handles) {
  std::string text;
  if (param_io::GetText(procs, token, handles, text) != 0) return -1;
  return ReadValue(k, text) < 0 ? -1 : 0;
}

std::vector<ValueLine> ColorParameter::ValueLines() const { return {{key, ColorText(*value)}}; }
int32_t ColorParameter::ReadValue(uint32_t, std::string_view text) { return ParseColorText(text, *value) ? 0 : -1; }
std::string ColorParameter::ValueText() const { return ColorValueText(*value); }

int32_t ColorParameter::SetFromText(std::string_view text, std::string& error) {
  if (!ParseColorValue(text, *value)) return Refuse(error, RangeText());
  Clamp();
  return 0;
}

std::string ColorParameter::RangeText() const { return "a colour: #rrggbb or r,g,b with 0..255"; }

// --- list box ---------------------------------------------------------------------

const ListboxParameter::Item* ListboxParameter::Selected() const {
  for (const Item& item : items)
    if (item.value == *value) return &item;
  return nullptr;
}

void ListboxParameter::Clamp() {
  if (Selected() == nullptr && !items.empty()) *value = items.front().value;
}

int32_t ListboxParameter::WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                                          const ps::HandleProcs&) const {
  const Item* item = Selected();
  if (item == nullptr) return -1;
  return Ok(procs.putEnumeratedProc(token, key, enumType, item->enumCode));
}

int32_t ListboxParameter::ReadDescriptor(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token, uint32_t,
                                         const ps::HandleProcs&) {
  ps::DescriptorEnumID code = 0;
  if (procs.getEnumeratedProc(token, &code) != 0) return -1;
  for (const Item& item : items)
    if (item.enumCode == code) return *value = item.value, 0;
  return -1;
}

std::vector<ValueLine> ListboxParameter::ValueLines() const { return {{key, Format("%d", *value)}}; }

int32_t ListboxParameter::ReadValue(uint32_t, std::string_view text) { return param_io::ScanInt(text, *value); }

std::string ListboxParameter::ValueText() const {
  const Item* item = Selected();
  return item != nullptr ? item->label : Format("%d", *value);
}

int32_t ListboxParameter::SetFromText(std::string_view text, std::string& error) {
  text = Trim(text);
  for (const Item& item : items) {
    if (param_io::EqualsIgnoreCase(text, strings::Text(item.label)) || param_io::EqualsIgnoreCase(text, item.label) ||
        param_io::EqualsIgnoreCase(text, param_io::FourCCText(item.enumCode)))
      return *value = item.value, 0;
  }
  return Refuse(error, RangeText());
}

std::vector<std::string> ListboxParameter::Choices() const {
  std::vector<std::string> names;
  // The English keys: command lines and scripts read the same in every language.
  for (const Item& item : items) names.push_back(item.label);
  return names;
}

std::string ListboxParameter::RangeText() const {
  std::string text = "one of:";
  for (const std::string& name : Choices()) text += " \"" + name + "\"";
  return text;
}

}  // namespace kv
