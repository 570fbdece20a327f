// Parameters: clamping, command-line texts, and values that travel through
// the host's scripting descriptor and come back unchanged.
#include <gtest/gtest.h>

#include <algorithm>

#include "parameters/parameters.h"
#include "tests/support/fake_host.h"

namespace kv {
namespace {

template <class P, class V>
P& Add(ParameterList& list, V* value, const char* label, const char* key) {
  auto p = std::make_unique<P>();
  p->text.label = label;
  if constexpr (std::is_base_of_v<SingleKeyParameter, P>)
    p->key = uint32_t(uint8_t(key[0])) << 24 | uint32_t(uint8_t(key[1])) << 16 | uint32_t(uint8_t(key[2])) << 8 |
             uint8_t(key[3]);
  p->value = value;
  P& ref = *p;
  EXPECT_EQ(list.AddParameter(std::move(p)), 0);
  return ref;
}

std::string Fails(FilterParameter& p, const char* text) {
  std::string error;
  EXPECT_NE(p.SetFromText(text, error), 0) << text;
  return error;
}

void Sets(FilterParameter& p, const char* text) {
  std::string error;
  EXPECT_EQ(p.SetFromText(text, error), 0) << text << ": " << error;
}

TEST(ParameterList, FindsByNameAsPeopleTypeIt) {
  ParameterList list;
  double a = 0, b = 0;
  Add<SliderParameter>(list, &a, "Scanline Strength", "TEss");
  Add<SliderParameter>(list, &b, "Curvature", "TEcu");
  EXPECT_EQ(list.FindByName("scanline strength"), list.Find(ps::FourCC("TEss")));
  EXPECT_EQ(list.FindByName("scanline-strength"), list.Find(ps::FourCC("TEss")));
  EXPECT_EQ(list.FindByName("TEcu"), list.Find(ps::FourCC("TEcu")));
  EXPECT_EQ(list.FindByName("Strength"), nullptr);
}

TEST(Slider, ClampsAndRefusesText) {
  ParameterList list;
  double v = 0;
  auto& s = Add<SliderParameter>(list, &v, "Amount", "Amnt");
  s.minimum = 10;
  s.maximum = 20;
  Sets(s, "15.5");
  EXPECT_DOUBLE_EQ(v, 15.5);
  Sets(s, "99");
  EXPECT_DOUBLE_EQ(v, 20);
  EXPECT_EQ(Fails(s, "lots"), "Amount takes " + s.RangeText());
  EXPECT_DOUBLE_EQ(v, 20) << "a refused text leaves the value";
  v = -5;
  s.Clamp();
  EXPECT_DOUBLE_EQ(v, 10);
}

TEST(Slider, TrackSplitMapsBothPartsOntoTheRange) {
  SliderRange r;
  r.minimum = 2;
  r.maximum = 300;
  r.SetTrackSplit(0.8, 80);
  EXPECT_DOUBLE_EQ(r.TrackToValue(0.0), 2);
  EXPECT_DOUBLE_EQ(r.TrackToValue(0.8), 80);
  EXPECT_DOUBLE_EQ(r.TrackToValue(1.0), 300);
  EXPECT_DOUBLE_EQ(r.TrackToValue(0.4), 41);
  EXPECT_DOUBLE_EQ(r.TrackToValue(0.9), 190);
  for (double t : {0.0, 0.13, 0.5, 0.8, 0.95, 1.0}) EXPECT_NEAR(r.ValueToTrack(r.TrackToValue(t)), t, 1e-12);
  EXPECT_DOUBLE_EQ(r.TrackToValue(7.0), 300);
}

TEST(LengthSlider, ClampsInPixelsAndKeepsTheUnit) {
  ParameterList list;
  list.resolution = 100;
  Length v{2.54, kUnitCentimeters};
  auto& p = Add<LengthSliderParameter>(list, &v, "Width", "Wdth");
  p.minimum = 1;
  p.maximum = 50;
  p.Clamp();
  EXPECT_EQ(v.unit, kUnitCentimeters);
  EXPECT_NEAR(v.amount, 1.27, 1e-9);
  Sets(p, "12");
  EXPECT_EQ(v, (Length{12, kUnitPixels}));
  Sets(p, "0.1 in");
  EXPECT_EQ(v.unit, kUnitInches);
  EXPECT_NEAR(v.amount, 0.1, 1e-9);
  Fails(p, "3 furlongs");
  EXPECT_EQ(v.unit, kUnitInches);
  for (int unit = 0; unit < kLengthUnitCount; ++unit) {
    const Length l{1.5, unit};
    Length back;
    ASSERT_TRUE(ParseLengthText(LengthText(l), back)) << LengthText(l);
    EXPECT_EQ(back.unit, unit);
    EXPECT_NEAR(back.amount, 1.5, 1e-9);
  }
}

TEST(Color, TextsRoundTripInEverySpace) {
  for (const Color c : {Color::RGB(255, 128, 0), Color{kSpaceHSB, {200, 50, 75, 0}}, Color{kSpaceCMYK, {10, 20, 30, 40}},
                        Color{kSpaceLab, {60, 140, 100, 0}}, Color{kSpaceGray, {77, 0, 0, 0}}}) {
    Color back{kSpaceXYZ, {1, 1, 1, 1}};
    ASSERT_TRUE(ParseColorText(ColorText(c), back)) << ColorText(c);
    EXPECT_EQ(back, c) << ColorText(c);
    Color friendly;
    ASSERT_TRUE(ParseColorValue(ColorValueText(c), friendly)) << ColorValueText(c);
    EXPECT_EQ(friendly, c) << ColorValueText(c);
  }
  Color c;
  ASSERT_TRUE(ParseColorText("RGB: 100% 50% 0%", c));
  EXPECT_EQ(c, Color::RGB(255, 128, 0));
  ASSERT_TRUE(ParseColorValue("#0a0B0c", c));
  EXPECT_EQ(c, Color::RGB(10, 11, 12));
  ASSERT_TRUE(ParseColorValue("1, 2, 3", c));
  EXPECT_EQ(c, Color::RGB(1, 2, 3));
  for (const char* bad : {"", "#12345", "#ggggggg", "RGB:", "1,2", "300,0,0", "Plaid: 1 2 3"}) {
    Color untouched = Color::RGB(9, 9, 9);
    EXPECT_FALSE(ParseColorValue(bad, untouched)) << bad;
    EXPECT_EQ(untouched, Color::RGB(9, 9, 9)) << bad;
  }
}

TEST(Color, ClampFollowsTheSpace) {
  Color unknown{99, {1, 2, 3, 4}};
  ClampColor(unknown);
  EXPECT_EQ(unknown, Color::RGB(192, 192, 192));
  Color hsb{kSpaceHSB, {500, 200, 300, 9}};
  ClampColor(hsb);
  EXPECT_EQ(hsb, (Color{kSpaceHSB, {359, 200, 255, 0}}));
  Color gray{kSpaceGray, {300, 5, 6, 7}};
  ClampColor(gray);
  EXPECT_EQ(gray.component[1], 0);
  EXPECT_EQ(gray.component[2], 0);
  EXPECT_EQ(gray.component[3], 0);
}

TEST(Listbox, TakesItsItemsAndNothingElse) {
  ParameterList list;
  int32_t v = 7;
  auto& p = Add<ListboxParameter>(list, &v, "Shape", "Shpe");
  p.enumType = ps::FourCC("ShpT");
  p.AddItem(0, ps::FourCC("Rnd "), "Round");
  p.AddItem(1, ps::FourCC("Sqr "), "Square");
  p.Clamp();
  EXPECT_EQ(v, 0) << "an unknown value becomes the first item";
  Sets(p, "square");
  EXPECT_EQ(v, 1);
  EXPECT_EQ(p.ValueText(), "Square");
  Fails(p, "Triangle");
  EXPECT_EQ(v, 1);
  EXPECT_EQ(p.Choices(), (std::vector<std::string>{"Round", "Square"}));
}

TEST(LayerFill, RespectsTheAllowedModes) {
  ParameterList list;
  LayerFill fill{ps::FourCC("zzzz"), Color::RGB(1, 2, 3)};
  auto& p = Add<LayerFillParameter>(list, &fill, "Fill", nullptr);
  p.modeKey = ps::FourCC("Fibe");
  p.colorKey = ps::FourCC("FiCl");
  p.Clamp();
  EXPECT_EQ(fill.mode, kFillWithColor);
  p.allowedModes = kAllowFillColor | kAllowKeepOriginal;
  Fails(p, "transparent");
  EXPECT_EQ(fill.mode, kFillWithColor);
  EXPECT_TRUE(p.HasKey(ps::FourCC("Fibe")) && p.HasKey(ps::FourCC("FiCl")));
}

TEST(Lighting, ClampsEveryField) {
  ParameterList list;
  Lighting l{150, -3, 400, 5, Color::RGB(1, 1, 1)};
  auto& p = Add<LightingParameter>(list, &l, "Light", nullptr);
  p.SetMinimumInclination(20);
  p.Clamp();
  EXPECT_DOUBLE_EQ(l.brightness, 100);
  EXPECT_DOUBLE_EQ(l.sharpness, 0);
  EXPECT_GE(l.direction, 0);
  EXPECT_LE(l.direction, 360);
  EXPECT_DOUBLE_EQ(l.inclination, 20);
}

TEST(PuzzleArrangement, TravelsInChunksInAnyOrder) {
  PuzzleArrangementParameter p;
  for (int i = 0; i < 8; ++i) EXPECT_EQ(p.Key(i), ps::FourCC("PUa0") + uint32_t(i)) << i;
  EXPECT_TRUE(p.HasKey(ps::FourCC("PUa7")));
  EXPECT_FALSE(p.HasKey(ps::FourCC("PUb0")));

  std::string text = "   50    50 ";
  for (int i = 0; i < 2500; ++i) text += char('a' + i % 26);
  const std::vector<std::string> chunks = PuzzleArrangementParameter::Chunks(text);
  ASSERT_GT(chunks.size(), 2u);
  for (const std::string& c : chunks) EXPECT_LE(c.size(), size_t(PuzzleArrangementParameter::kChunkSize) + 12);
  std::string complete;
  for (size_t i = chunks.size(); i-- > 0;) ASSERT_GE(p.TakeChunk(chunks[i], complete), 0) << i;
  EXPECT_EQ(complete, text);
}

TEST(PuzzleArrangement, CommandsOfThePreviewControl) {
  PuzzleArrangement a;
  RestoreAllPieces(a);
  SetPuzzleColumns(a, 12, 1200, 800);
  EXPECT_EQ(a.rows, 8);
  SetPuzzleColumns(a, 7, 4000, 100);
  EXPECT_EQ(a.rows, 1) << "never fewer than one row";
  SetPuzzleColumns(a, 80, 100, 300);
  EXPECT_EQ(a.columns, 50);
  EXPECT_EQ(a.rows, 50);

  SetPuzzleColumns(a, 10, 100, 100);
  const auto present = [&] {
    int n = 0;
    for (int y = 0; y < a.rows; ++y)
      for (int x = 0; x < a.columns; ++x) n += a.Piece(x, y);
    return n;
  };
  RandomNumberGenerator random(5);
  KnockOutPieces(a, 0.5, random);
  EXPECT_EQ(present(), 50);
  KnockOutPieces(a, 0.5, random);
  EXPECT_EQ(present(), 25);
  InvertAllPieces(a);
  EXPECT_EQ(present(), 75);
  EXPECT_TRUE(a.Piece(20, 20)) << "pieces beyond the grid are left alone";
  InvertAllPieces(a);
  for (int i = 0; i < 30; ++i) KnockOutPieces(a, 0.5, random);
  EXPECT_EQ(present(), 0) << "at least one goes each time, until none is left";
  RestoreAllPieces(a);
  EXPECT_EQ(present(), 100);

  RandomizeConnectors(a, random);
  const int up = int(std::count(std::begin(a.connectorUp), std::end(a.connectorUp), true));
  EXPECT_NEAR(up, int(std::size(a.connectorUp)) / 2, 150);

  // On the command line the size alone will do: the old grid's pieces and
  // connectors stay, new pieces are in place, whatever lay beyond the old grid
  // (nothing, when the grid came from text).
  FreshPuzzle(a, 8, 5);
  a.Piece(3, 2) = false;
  PuzzleArrangement parsed{};
  ASSERT_TRUE(ParseArrangementText(ArrangementText(a), parsed));
  ParameterList list, other;
  auto& p = Add<PuzzleArrangementParameter>(list, &a, "Arrangement", nullptr);
  auto& q = Add<PuzzleArrangementParameter>(other, &parsed, "Arrangement", nullptr);
  const std::string small = ArrangementText(a);
  Sets(p, "12 x 8");
  Sets(q, "12x8");
  EXPECT_EQ(a.columns, 12);
  EXPECT_EQ(a.rows, 8);
  EXPECT_EQ(present(), 95);
  EXPECT_FALSE(a.Piece(3, 2));
  EXPECT_EQ(ArrangementText(parsed), ArrangementText(a));
  Sets(p, "8x5");
  EXPECT_EQ(ArrangementText(a), small) << "the stored grid's connectors came through";
  Fails(p, "51x2");
  Fails(p, "12x");
  EXPECT_EQ(a.columns, 8);
}

TEST(FlagConnections, ShortTextsLeaveTheRestFree) {
  FlagConnections c;
  ParseConnectionText("X X", c);
  EXPECT_TRUE(c.attached[kAttachTopLeft]);
  EXPECT_FALSE(c.attached[kAttachTop]);
  EXPECT_TRUE(c.attached[kAttachTopRight]);
  for (int i = 3; i < kFlagAttachmentCount; ++i) EXPECT_FALSE(c.attached[i]) << i;
  EXPECT_EQ(ConnectionText(c).substr(0, 3), "X X");
}

TEST(Position, PixelsOnceTheFrameIsKnownPercentAlways) {
  ParameterList list;
  PointD v{};
  auto& p = Add<PositionParameter>(list, &v, "Start", "LIor");
  // Without an image only fractions of the working area make sense.
  EXPECT_NE(Fails(p, "100,50").find("x%,y%"), std::string::npos);
  Sets(p, "25%, 150%");
  EXPECT_DOUBLE_EQ(v.x, 0.25);
  EXPECT_DOUBLE_EQ(v.y, 1.5);
  EXPECT_EQ(p.ValueText(), "25%,150%");
  Fails(p, "250%,0%");

  // A selection at (200,100)-(600,300) of an 800 x 400 image.
  list.positionFrame = PositionFrame{{200, 100, 600, 300}, {0, 0, 800, 400}};
  Sets(p, "300,150");
  EXPECT_DOUBLE_EQ(v.x, 0.25);
  EXPECT_DOUBLE_EQ(v.y, 0.25);
  EXPECT_EQ(p.ValueText(), "300,150");
  Sets(p, "50% 0%");
  EXPECT_EQ(p.ValueText(), "400,100");
  // Left of the image, but within its longer side of it.
  Sets(p, "-700,150");
  EXPECT_DOUBLE_EQ(v.x, -2.25);
  const std::string far = Fails(p, "-900,150");
  EXPECT_NE(far.find("800 x 400"), std::string::npos) << far;
  EXPECT_DOUBLE_EQ(v.x, -2.25) << "a refused text leaves the value";
  Fails(p, "300");
  Fails(p, "300,abc");
}

// Every class writes its value through the host's descriptor suite and reads
// the same value back into a second block.
struct Block {
  double slider = 37.5;
  Length length{0.3, kUnitCentimeters};
  bool box = true;
  double direction = 123;
  uint16_t seed = 4242;
  Color color{kSpaceCMYK, {10, 20, 30, 40}};
  int32_t item = 1;
  LayerFill fill{kFillKeepOriginal, Color::RGB(5, 6, 7)};
  Lighting light{60, 40, 270, 45, Color::RGB(250, 240, 230)};
  PointD position{120.5, 80.25};
  FlagConnections flag{{true, false, true, false, false, true, false, true}};
  PuzzleArrangement arrangement;
};

void BuildAll(ParameterList& list, Block& b) {
  Add<SliderParameter>(list, &b.slider, "Slider", "Sldr");
  auto& length = Add<LengthSliderParameter>(list, &b.length, "Length", "Lnth");
  length.minimum = 1;
  length.maximum = 100;
  Add<CheckboxParameter>(list, &b.box, "Box", "Chbx");
  Add<DirectionParameter>(list, &b.direction, "Direction", "Drct");
  Add<RandomSeedParameter>(list, &b.seed, "Seed", "RndS");
  Add<ColorParameter>(list, &b.color, "Color", "Colr");
  auto& item = Add<ListboxParameter>(list, &b.item, "Item", "Item");
  item.enumType = ps::FourCC("ItmT");
  item.AddItem(0, ps::FourCC("One "), "One");
  item.AddItem(1, ps::FourCC("Two "), "Two");
  auto& fill = Add<LayerFillParameter>(list, &b.fill, "Fill", nullptr);
  fill.modeKey = ps::FourCC("Fibe");
  fill.colorKey = ps::FourCC("FiCl");
  auto& light = Add<LightingParameter>(list, &b.light, "Light", nullptr);
  light.directionKey = ps::FourCC("LiDi");
  light.inclinationKey = ps::FourCC("LiIn");
  light.brightnessKey = ps::FourCC("LiBr");
  light.sharpnessKey = ps::FourCC("LiSh");
  light.highlightKey = ps::FourCC("LiHi");
  Add<PositionParameter>(list, &b.position, "Position", "Posn");
  Add<FlagConnectionsParameter>(list, &b.flag, "Flag", "FlCn");
  Add<PuzzleArrangementParameter>(list, &b.arrangement, "Arrangement", nullptr);
}

TEST(Scripting, EveryClassComesBackThroughTheDescriptor) {
  test::FakeHost host(1, 1, ps::plugInModeRGBColor, 3);
  Block original;
  // The largest grid needs all eight chunks.
  PuzzleArrangement grid;
  grid.columns = grid.rows = 50;
  for (int i = 0; i < 50 * 50; ++i) grid.present[i] = i % 7 != 3;
  for (size_t i = 0; i < std::size(grid.connectorUp); ++i) {
    grid.connectorUp[i] = i % 3 == 0;
    grid.connectorLeft[i] = i % 5 == 1;
  }
  ASSERT_TRUE(ParseArrangementText(ArrangementText(grid), original.arrangement));
  ASSERT_EQ(PuzzleArrangementParameter::Chunks(ArrangementText(grid)).size(), 8u);
  ParameterList source;
  BuildAll(source, original);

  ps::PIWriteDescriptor w = host.writeProcs.openWriteDescriptorProc();
  ASSERT_EQ(source.WriteDescriptor(host.writeProcs, w, host.handleProcs), 0);
  ps::PIDescriptorHandle written = nullptr;
  ASSERT_EQ(host.writeProcs.closeWriteDescriptorProc(w, &written), 0);

  Block copy;
  copy.slider = 0;
  copy.length = {};
  copy.box = false;
  copy.direction = 0;
  copy.seed = 0;
  copy.color = {};
  copy.item = 0;
  copy.fill = {};
  copy.light = {};
  copy.position = {};
  copy.flag = {};
  ParameterList target;
  BuildAll(target, copy);
  const std::vector<uint32_t> keys = target.Keys();
  ps::PIReadDescriptor r = host.readProcs.openReadDescriptorProc(written, nullptr);
  ASSERT_NE(r, nullptr);
  uint32_t key = 0;
  ps::DescType type = 0;
  int32_t flags = 0;
  int read = 0;
  while (host.readProcs.getKeyProc(r, &key, &type, &flags)) {
    ASSERT_EQ(target.ReadDescriptorValue(host.readProcs, r, key, host.handleProcs), 0) << key;
    ++read;
  }
  host.readProcs.closeReadDescriptorProc(r);
  host.handleProcs.disposeProc(written);
  EXPECT_EQ(read, int(keys.size()));

  EXPECT_DOUBLE_EQ(copy.slider, original.slider);
  EXPECT_EQ(copy.length.unit, original.length.unit);
  EXPECT_NEAR(copy.length.amount, original.length.amount, 1e-9);
  EXPECT_EQ(copy.box, original.box);
  EXPECT_DOUBLE_EQ(copy.direction, original.direction);
  EXPECT_EQ(copy.seed, original.seed);
  EXPECT_EQ(copy.color, original.color);
  EXPECT_EQ(copy.item, original.item);
  EXPECT_EQ(copy.fill, original.fill);
  EXPECT_EQ(copy.light, original.light);
  EXPECT_EQ(copy.position.x, original.position.x);
  EXPECT_EQ(copy.position.y, original.position.y);
  EXPECT_EQ(copy.flag, original.flag);
  EXPECT_EQ(copy.arrangement, original.arrangement);
}

}  // namespace
}  // namespace kv
