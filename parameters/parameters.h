// Parameters: one object per setting of an effect, bound to a field of the
// effect's parameter block. The dialog shows them, the settings file and the
// command line read and write their value texts, and the host's scripting
// exchanges them through its descriptor suites.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "parameters/parameter_values.h"
#include "platform/protocol.h"

namespace kv {

class ParameterList;

// The dialog control that shows a parameter; the dialog owns it.
class ParameterControl {
 public:
  virtual ~ParameterControl() = default;
  virtual void Enable(bool enabled) = 0;
};

// A label key and its help key; the help key defaults to the label key
// followed by " Help". Texts are looked up when the dialog asks for them.
struct TextKeys {
  std::string label;
  std::string help;

  std::string HelpKey() const { return help.empty() ? label + " Help" : help; }
  std::string LabelText() const;
  std::string HelpText() const;
};

// One line of a settings file: the key and the value text.
using ValueLine = std::pair<uint32_t, std::string>;

// The classes of parameter, as descriptions of effects name them.
enum class ParameterKind : int32_t {
  kSlider,
  kLength,
  kCheckbox,
  kDirection,
  kSeed,
  kColor,
  kListbox,
  kLayerFill,
  kLighting,
  kPosition,
  kFlagConnections,
  kPuzzleArrangement,
};

class FilterParameter {
 public:
  virtual ~FilterParameter() = default;

  virtual ParameterKind Kind() const = 0;
  // Forces the bound value into its legal range.
  virtual void Clamp() = 0;
  virtual bool HasKey(uint32_t key) const;
  // 0, or -1 when a host procedure fails or the value cannot be expressed.
  [[nodiscard]] virtual int32_t WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                                  const ps::HandleProcs& handles) const = 0;
  // Reads the value of `key`, the key the descriptor has just yielded.
  [[nodiscard]] virtual int32_t ReadDescriptor(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token, uint32_t key,
                                 const ps::HandleProcs& handles) = 0;
  virtual int32_t KeyCount() const { return 1; }
  virtual uint32_t Key(int32_t index) const = 0;

  // Settings-file form: the lines written for this parameter, and the
  // reading of one line's value as the file's scanf forms read it: 0, 1
  // when a value was read but cut (text after a number, a seed beyond 16
  // bits), -1 when there is none to read. The caller clamps.
  virtual std::vector<ValueLine> ValueLines() const = 0;
  [[nodiscard]] virtual int32_t ReadValue(uint32_t key, std::string_view text) = 0;

  // Command-line form. ValueText is a text SetFromText reads back to the same
  // value; SetFromText also takes friendlier forms, clamps, and on failure
  // leaves the value alone and says what it accepts in `error`.
  virtual std::string ValueText() const;
  [[nodiscard]] virtual int32_t SetFromText(std::string_view text, std::string& error) = 0;
  // The kind of value, its range and unit, for listings.
  virtual std::string RangeText() const = 0;
  // The words SetFromText accepts, where the value is one of a few.
  virtual std::vector<std::string> Choices() const { return {}; }

  // The label key, or the first scripting key when there is no label.
  std::string Name() const;
  // The label as the dialog shows it.
  virtual std::string Label() const { return text.LabelText(); }
  std::string HelpText() const { return text.HelpText(); }

  void Enable(bool enabled) {
    if (control != nullptr) control->Enable(enabled);
  }

  TextKeys text;
  int32_t page = 0;
  ParameterControl* control = nullptr;
  const ParameterList* owner = nullptr;  // set by AddParameter

 protected:
  int32_t Refuse(std::string& error, std::string_view accepted) const;
};

// A parameter under one scripting key.
class SingleKeyParameter : public FilterParameter {
 public:
  uint32_t Key(int32_t) const override { return key; }
  bool HasKey(uint32_t k) const override { return k == key; }

  uint32_t key = 0;
};

// The range and track of a slider. With a split fraction the track's part
// left of the split covers minimum..splitValue, the rest splitValue..maximum.
struct SliderRange {
  double maximum = 100.0;
  double minimum = 0.0;
  double trackSplitFraction = 0.0;
  double trackSplitValue = 0.0;

  void SetTrackSplit(double fraction, double value) {
    trackSplitFraction = fraction;
    trackSplitValue = value;
  }
  // Position on the track 0..1 and value, each clamped to its range.
  double TrackToValue(double position) const;
  double ValueToTrack(double value) const;
};

inline constexpr uint32_t kUnitPlain = ps::FourCC("#Prd");
inline constexpr uint32_t kUnitAngle = ps::FourCC("#Ang");
inline constexpr uint32_t kUnitPercent = ps::FourCC("#Prc");

class SliderParameter : public SingleKeyParameter, public SliderRange {
 public:
  ParameterKind Kind() const override { return ParameterKind::kSlider; }
  void Clamp() override;
  [[nodiscard]] int32_t WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                          const ps::HandleProcs& handles) const override;
  [[nodiscard]] int32_t ReadDescriptor(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token, uint32_t key,
                         const ps::HandleProcs& handles) override;
  std::vector<ValueLine> ValueLines() const override;
  [[nodiscard]] int32_t ReadValue(uint32_t key, std::string_view text) override;
  [[nodiscard]] int32_t SetFromText(std::string_view text, std::string& error) override;
  std::string RangeText() const override;
  std::string Label() const override;

  uint32_t unit = kUnitPlain;
  double* value = nullptr;
};

// Range in pixels; the value keeps the unit the user chose.
class LengthSliderParameter : public SingleKeyParameter, public SliderRange {
 public:
  ParameterKind Kind() const override { return ParameterKind::kLength; }
  void Clamp() override;
  [[nodiscard]] int32_t WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                          const ps::HandleProcs& handles) const override;
  [[nodiscard]] int32_t ReadDescriptor(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token, uint32_t key,
                         const ps::HandleProcs& handles) override;
  std::vector<ValueLine> ValueLines() const override;
  [[nodiscard]] int32_t ReadValue(uint32_t key, std::string_view text) override;
  [[nodiscard]] int32_t SetFromText(std::string_view text, std::string& error) override;
  std::string RangeText() const override;

  // The owner list's resolution, pixels per inch.
  double Resolution() const;

  Length* value = nullptr;
};

class CheckboxParameter : public SingleKeyParameter {
 public:
  ParameterKind Kind() const override { return ParameterKind::kCheckbox; }
  void Clamp() override { NormaliseBool(value); }
  [[nodiscard]] int32_t WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                          const ps::HandleProcs& handles) const override;
  [[nodiscard]] int32_t ReadDescriptor(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token, uint32_t key,
                         const ps::HandleProcs& handles) override;
  std::vector<ValueLine> ValueLines() const override;
  [[nodiscard]] int32_t ReadValue(uint32_t key, std::string_view text) override;
  std::string ValueText() const override;
  [[nodiscard]] int32_t SetFromText(std::string_view text, std::string& error) override;
  std::string RangeText() const override;
  std::vector<std::string> Choices() const override { return {"on", "off"}; }

  bool* value = nullptr;
};

class DirectionParameter : public SingleKeyParameter {
 public:
  ParameterKind Kind() const override { return ParameterKind::kDirection; }
  void Clamp() override;
  [[nodiscard]] int32_t WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                          const ps::HandleProcs& handles) const override;
  [[nodiscard]] int32_t ReadDescriptor(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token, uint32_t key,
                         const ps::HandleProcs& handles) override;
  std::vector<ValueLine> ValueLines() const override;
  [[nodiscard]] int32_t ReadValue(uint32_t key, std::string_view text) override;
  [[nodiscard]] int32_t SetFromText(std::string_view text, std::string& error) override;
  std::string RangeText() const override;

  double* value = nullptr;  // degrees
};

class RandomSeedParameter : public SingleKeyParameter {
 public:
  RandomSeedParameter() { key = ps::FourCC("RndS"); }
  ParameterKind Kind() const override { return ParameterKind::kSeed; }
  void Clamp() override {}
  [[nodiscard]] int32_t WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                          const ps::HandleProcs& handles) const override;
  [[nodiscard]] int32_t ReadDescriptor(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token, uint32_t key,
                         const ps::HandleProcs& handles) override;
  std::vector<ValueLine> ValueLines() const override;
  [[nodiscard]] int32_t ReadValue(uint32_t key, std::string_view text) override;
  [[nodiscard]] int32_t SetFromText(std::string_view text, std::string& error) override;
  std::string RangeText() const override;

  uint16_t* value = nullptr;
};

class ColorParameter : public SingleKeyParameter {
 public:
  ParameterKind Kind() const override { return ParameterKind::kColor; }
  void Clamp() override;
  [[nodiscard]] int32_t WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                          const ps::HandleProcs& handles) const override;
  [[nodiscard]] int32_t ReadDescriptor(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token, uint32_t key,
                         const ps::HandleProcs& handles) override;
  std::vector<ValueLine> ValueLines() const override;
  [[nodiscard]] int32_t ReadValue(uint32_t key, std::string_view text) override;
  std::string ValueText() const override;
  [[nodiscard]] int32_t SetFromText(std::string_view text, std::string& error) override;
  std::string RangeText() const override;

  Color* value = nullptr;
};

class ListboxParameter : public SingleKeyParameter {
 public:
  ParameterKind Kind() const override { return ParameterKind::kListbox; }
  struct Item {
    int32_t value;
    uint32_t enumCode;
    std::string label;  // key in the string table
  };

  void AddItem(int32_t itemValue, uint32_t enumCode, std::string label) {
    items.push_back({itemValue, enumCode, std::move(label)});
  }
  // The item whose value is bound, or null.
  const Item* Selected() const;

  void Clamp() override;
  [[nodiscard]] int32_t WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                          const ps::HandleProcs& handles) const override;
  [[nodiscard]] int32_t ReadDescriptor(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token, uint32_t key,
                         const ps::HandleProcs& handles) override;
  std::vector<ValueLine> ValueLines() const override;
  [[nodiscard]] int32_t ReadValue(uint32_t key, std::string_view text) override;
  std::string ValueText() const override;
  [[nodiscard]] int32_t SetFromText(std::string_view text, std::string& error) override;
  std::string RangeText() const override;
  std::vector<std::string> Choices() const override;

  std::vector<Item> items;
  uint32_t enumType = 0;
  int32_t* value = nullptr;
};

class LayerFillParameter : public FilterParameter {
 public:
  ParameterKind Kind() const override { return ParameterKind::kLayerFill; }
  void Clamp() override;
  bool HasKey(uint32_t key) const override { return key == colorKey || key == modeKey; }
  [[nodiscard]] int32_t WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                          const ps::HandleProcs& handles) const override;
  [[nodiscard]] int32_t ReadDescriptor(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token, uint32_t key,
                         const ps::HandleProcs& handles) override;
  int32_t KeyCount() const override { return 2; }
  uint32_t Key(int32_t index) const override { return index == 0 ? modeKey : colorKey; }
  std::vector<ValueLine> ValueLines() const override;
  [[nodiscard]] int32_t ReadValue(uint32_t key, std::string_view text) override;
  std::string ValueText() const override;
  [[nodiscard]] int32_t SetFromText(std::string_view text, std::string& error) override;
  std::string RangeText() const override;
  std::vector<std::string> Choices() const override;

  uint32_t modeKey = 0;
  uint32_t colorKey = 0;
  uint32_t allowedModes = kAllowTransparent | kAllowFillColor | kAllowKeepOriginal;
  TextKeys fillChoice;         // the solid-colour choice
  TextKeys colorSwatch;
  TextKeys keepChoice;         // keep the original image
  TextKeys transparentChoice;
  LayerFill* value = nullptr;
};

class LightingParameter : public FilterParameter {
 public:
  ParameterKind Kind() const override { return ParameterKind::kLighting; }
  void SetMinimumInclination(double degrees) { minInclination = degrees; }

  void Clamp() override;
  bool HasKey(uint32_t key) const override;
  [[nodiscard]] int32_t WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                          const ps::HandleProcs& handles) const override;
  [[nodiscard]] int32_t ReadDescriptor(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token, uint32_t key,
                         const ps::HandleProcs& handles) override;
  int32_t KeyCount() const override { return 5; }
  uint32_t Key(int32_t index) const override;
  std::vector<ValueLine> ValueLines() const override;
  [[nodiscard]] int32_t ReadValue(uint32_t key, std::string_view text) override;
  std::string ValueText() const override;
  [[nodiscard]] int32_t SetFromText(std::string_view text, std::string& error) override;
  std::string RangeText() const override;

  uint32_t directionKey = 0;
  uint32_t inclinationKey = 0;
  uint32_t brightnessKey = 0;
  uint32_t sharpnessKey = 0;
  uint32_t highlightKey = 0;
  double minInclination = 0.0;
  Lighting* value = nullptr;

 private:
  double* Field(uint32_t key) const;
};

// Positions are kept as fractions of the working area, so a bolt keeps its
// place when the selection moves. On the command line they are image pixels
// once the list knows its frame, and "x%,y%" of the working area always.
class PositionParameter : public SingleKeyParameter {
 public:
  ParameterKind Kind() const override { return ParameterKind::kPosition; }
  // Within a million areas of the area, where arithmetic stays exact
  // enough; a coordinate that is no number goes to the area's corner.
  void Clamp() override;
  [[nodiscard]] int32_t WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                          const ps::HandleProcs& handles) const override;
  [[nodiscard]] int32_t ReadDescriptor(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token, uint32_t key,
                         const ps::HandleProcs& handles) override;
  std::vector<ValueLine> ValueLines() const override;
  [[nodiscard]] int32_t ReadValue(uint32_t key, std::string_view text) override;
  std::string ValueText() const override;
  [[nodiscard]] int32_t SetFromText(std::string_view text, std::string& error) override;
  std::string RangeText() const override;

  PointD* value = nullptr;
};

// What positions are measured against once the image is known: the working
// area they are fractions of, and the image, which bounds how far they reach.
struct PositionFrame {
  Rect area;
  Rect image;
};

// The farthest a position may lie: the image grown by its longer side, so
// a bolt may come in from well outside without its work growing without end.
inline Rect PositionReach(const Rect& image) {
  const int32_t d = std::max(image.Width(), image.Height());
  return image.Inflate(d, d);
}

class FlagConnectionsParameter : public SingleKeyParameter {
 public:
  ParameterKind Kind() const override { return ParameterKind::kFlagConnections; }
  void Clamp() override;
  [[nodiscard]] int32_t WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                          const ps::HandleProcs& handles) const override;
  [[nodiscard]] int32_t ReadDescriptor(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token, uint32_t key,
                         const ps::HandleProcs& handles) override;
  std::vector<ValueLine> ValueLines() const override;
  [[nodiscard]] int32_t ReadValue(uint32_t key, std::string_view text) override;
  std::string ValueText() const override;
  [[nodiscard]] int32_t SetFromText(std::string_view text, std::string& error) override;
  std::string RangeText() const override;
  std::vector<std::string> Choices() const override;

  FlagConnections* value = nullptr;
};

// Scripted in chunks of at most 1000 characters under keys 'PUa0'..'PUa7'
// (the key's '0' replaced by the chunk's number).
class PuzzleArrangementParameter : public FilterParameter {
 public:
  ParameterKind Kind() const override { return ParameterKind::kPuzzleArrangement; }
  static constexpr int32_t kChunkSize = 1000;

  PuzzleArrangementParameter() : key(ps::FourCC("PUa0")) {}

  void Clamp() override;
  bool HasKey(uint32_t k) const override;
  [[nodiscard]] int32_t WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                          const ps::HandleProcs& handles) const override;
  [[nodiscard]] int32_t ReadDescriptor(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token, uint32_t key,
                         const ps::HandleProcs& handles) override;
  int32_t KeyCount() const override { return 8; }
  uint32_t Key(int32_t index) const override;
  std::vector<ValueLine> ValueLines() const override;
  [[nodiscard]] int32_t ReadValue(uint32_t key, std::string_view text) override;
  [[nodiscard]] int32_t SetFromText(std::string_view text, std::string& error) override;
  std::string RangeText() const override;

  // The chunk texts written under Key(0), Key(1), ...
  static std::vector<std::string> Chunks(std::string_view text);
  // Takes one chunk text; 0 while more are due, -1 on a malformed chunk.
  // When the last character has arrived `complete` holds the whole text.
  int32_t TakeChunk(std::string_view chunk, std::string& complete);

  uint32_t key;
  PuzzleArrangement* value = nullptr;

 private:
  int32_t DigitPosition() const;

  std::string pending_;
  std::vector<bool> received_;
};

class ParameterList {
 public:
  static constexpr int32_t kCapacity = 256;

  ParameterList() = default;
  ParameterList(const ParameterList&) = delete;
  ParameterList& operator=(const ParameterList&) = delete;

  // 0, or -1 when all 256 entries are taken (the parameter is then dropped).
  [[nodiscard]] int32_t AddParameter(std::unique_ptr<FilterParameter> parameter);
  // Appends a page; its index is pages.size() after the call. 0 or -108.
  [[nodiscard]] int32_t AddPage(std::string label);
  // The host's 16.16 horizontal resolution, for the length parameters.
  void SetResolution(ps::Fixed hostResolution) { resolution = ResolutionFromFixed(hostResolution); }

  auto begin() { return items.begin(); }
  auto end() { return items.begin() + count; }
  auto begin() const { return items.begin(); }
  auto end() const { return items.begin() + count; }

  // The first parameter with the key, or null.
  FilterParameter* Find(uint32_t key) const;
  // The first parameter whose Name() equals `name` ignoring case, else
  // ignoring spaces, '-' and '_' too, else the one with that scripting key.
  FilterParameter* FindByName(std::string_view name) const;

  // Scripting: every key in list order; the read of one key the descriptor
  // yields (keys no parameter has are skipped); the write of every key.
  std::vector<uint32_t> Keys() const;
  [[nodiscard]] int32_t ReadDescriptorValue(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token, uint32_t key,
                              const ps::HandleProcs& handles);
  [[nodiscard]] int32_t WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                          const ps::HandleProcs& handles) const;

  std::array<std::unique_ptr<FilterParameter>, kCapacity> items;
  int32_t count = 0;
  std::vector<std::string> pages;  // label keys of the pages after the first
  std::string dialogHelp;          // key of the dialog's general help
  double resolution = 72.0;        // pixels per inch
  // Set by a host that knows the image: positions' texts are then pixels.
  std::optional<PositionFrame> positionFrame;
};

}  // namespace kv
