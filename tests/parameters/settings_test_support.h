// A parameter list with one parameter of every class, as an effect would
// build it, and values for it that use every corner of the settings text.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "parameters/effect_parameters.h"
#include "parameters/parameters.h"

namespace kv::test {

struct AllKindsBlock {
  int32_t filterId;
  double slider;
  Length length;
  bool checkbox;
  double direction;
  uint16_t seed;
  Color colors[7];  // one in each colour space
  int32_t choice;
  LayerFill fill;
  Lighting lighting;
  PointD position;
  FlagConnections flag;
  PuzzleArrangement puzzle;

  friend bool operator==(const AllKindsBlock&, const AllKindsBlock&) = default;
};

// A key with the high bit set, written as a negative number.
constexpr uint32_t kNegativeKey = 0x80000001u;

// Its settings name is "AllKinds".
struct AllKinds {
  static void SetDefaults(AllKindsBlock& b) {
    b = {};
    b.filterId = 4;
    b.slider = 50.0;
    b.length = {10.0, kUnitPixels};
    b.choice = 10;
    b.fill.mode = kFillWithColor;
    b.lighting.inclination = 30.0;
    for (Color& c : b.colors) c = Color::RGB(1, 2, 3);
  }
  static int32_t BuildParameters(ParameterList& list, AllKindsBlock& b) {
    int32_t err = AddSlider(list, "Slider", ps::FourCC("ALsl"), &b.slider);
    auto length = MakeParameter<LengthSliderParameter>("Length", ps::FourCC("ALln"), &b.length);
    length->maximum = 1000.0;
    err |= list.AddParameter(std::move(length));
    err |= AddParameter<CheckboxParameter>(list, "Checkbox", ps::FourCC("ALcb"), &b.checkbox);
    err |= AddParameter<DirectionParameter>(list, "Direction", kNegativeKey, &b.direction);
    err |= AddParameter<RandomSeedParameter>(list, "Random Seed", ps::FourCC("RndS"), &b.seed);
    for (uint32_t i = 0; i < 7; ++i)
      err |= AddParameter<ColorParameter>(list, "Colour", ps::FourCC("ALc0") + i, &b.colors[i]);
    auto choice = MakeParameter<ListboxParameter>("Choice", ps::FourCC("ALch"), &b.choice);
    for (int32_t v : {10, 20, 30}) choice->AddItem(v, ps::FourCC("ALi0") + uint32_t(v), "Item");
    err |= list.AddParameter(std::move(choice));
    auto fill = std::make_unique<LayerFillParameter>();
    fill->modeKey = ps::FourCC("ALfm");
    fill->colorKey = ps::FourCC("ALfc");
    fill->value = &b.fill;
    err |= list.AddParameter(std::move(fill));
    auto light = std::make_unique<LightingParameter>();
    light->directionKey = ps::FourCC("ALld");
    light->inclinationKey = ps::FourCC("ALli");
    light->brightnessKey = ps::FourCC("ALlb");
    light->sharpnessKey = ps::FourCC("ALls");
    light->highlightKey = ps::FourCC("ALlh");
    light->SetMinimumInclination(10.0);
    light->value = &b.lighting;
    err |= list.AddParameter(std::move(light));
    err |= AddParameter<PositionParameter>(list, "Position", ps::FourCC("ALps"), &b.position);
    err |= AddParameter<FlagConnectionsParameter>(list, "Flag", ps::FourCC("ALfl"), &b.flag);
    auto puzzle = std::make_unique<PuzzleArrangementParameter>();
    puzzle->value = &b.puzzle;
    err |= list.AddParameter(std::move(puzzle));
    return err;
  }
};

// Values away from the defaults, each exactly representable in its text.
inline void SetSample(AllKindsBlock& b, double slider = 37.125) {
  b.slider = slider;
  b.length = {2.54, kUnitCentimeters};
  b.checkbox = true;
  b.direction = 271.5;
  b.seed = 65535;
  b.colors[0] = Color::RGB(255, 128, 1);
  b.colors[1] = {kSpaceHSB, {359, 200, 3, 0}};
  b.colors[2] = {kSpaceCMYK, {10, 20, 30, 255}};
  b.colors[3] = {kSpaceLab, {200, 0, 255, 0}};
  b.colors[4] = {kSpaceGray, {77, 0, 0, 0}};
  b.colors[5] = {kSpaceHSL, {120, 255, 0, 0}};
  b.colors[6] = {kSpaceXYZ, {65535, 0, 1234, 0}};
  b.choice = 30;
  b.fill = {kFillTransparent, Color::RGB(9, 8, 7)};
  b.lighting = {12.5, 99.875, 359.999, 45.25, Color::RGB(250, 240, 230)};
  b.position = {-12.5, 3000.25};
  // Free first and last: the text begins and ends with spaces.
  b.flag = {{false, true, false, true, true, false, false, false}};
  b.puzzle.columns = 7;
  b.puzzle.rows = 5;
  for (int32_t y = 0; y <= 5; ++y) {
    for (int32_t x = 0; x <= 7; ++x) {
      if (x < 7 && y < 5) b.puzzle.Piece(x, y) = (x * 3 + y) % 4 != 0;
      if (x < 7) b.puzzle.HorizontalEdge(x, y) = (x + y) % 2 == 0;
      if (y < 5) b.puzzle.VerticalEdge(x, y) = (x * y) % 3 == 1;
    }
  }
}

// The list bound to a block of its defaults.
struct BoundAllKinds {
  AllKindsBlock values;
  ParameterList list;

  BoundAllKinds() {
    AllKinds::SetDefaults(values);
    AllKinds::BuildParameters(list, values);
  }
  BoundAllKinds(const BoundAllKinds&) = delete;
  AllKindsBlock& block() { return values; }
};

}  // namespace kv::test
