// The value types that parameters bind inside an effect's parameter block,
// and their texts. Layouts are fixed: blocks live in the host's parameters
// handle and outlast builds, so every size and offset is asserted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "image/geometry.h"
#include "image/random.h"
#include "platform/protocol.h"

namespace kv {

// A block may hold any bytes (a stored action of another version, a damaged
// host): a number that is no number takes the bottom of its range.
inline double ClampNumber(double v, double minimum, double maximum) {
  return v >= minimum ? (v <= maximum ? v : maximum) : minimum;
}
// A one-byte bool read as a byte and written back as false or true, since
// any other byte in a bool is no value at all.
void NormaliseBool(bool* value);

// --- colour -----------------------------------------------------------------
// Numbered as the host's colour services number colour spaces.
enum ColorSpace : uint16_t {
  kSpaceRGB = 0,
  kSpaceHSB = 1,
  kSpaceCMYK = 2,
  kSpaceLab = 3,
  kSpaceGray = 4,
  kSpaceHSL = 5,
  kSpaceXYZ = 6,
};

struct Color {
  uint16_t space = kSpaceRGB;
  uint16_t component[4] = {0, 0, 0, 0};

  static constexpr Color RGB(uint16_t red, uint16_t green, uint16_t blue) {
    return {kSpaceRGB, {red, green, blue, 0}};
  }
  friend bool operator==(const Color&, const Color&) = default;
};
static_assert(sizeof(Color) == 10 && alignof(Color) == 2 && offsetof(Color, component) == 2);

// Forces every component into its space's range; an unknown space becomes
// RGB 192, 192, 192.
void ClampColor(Color& color);
std::string ColorText(const Color& color);
// Leaves `color` alone and returns false when the text is not a colour text.
bool ParseColorText(std::string_view text, Color& color);
// Friendlier forms for people: "#rrggbb" for an RGB colour, else the colour
// text; the parser also takes "r,g,b" with components 0..255.
std::string ColorValueText(const Color& color);
bool ParseColorValue(std::string_view text, Color& color);

// --- length -----------------------------------------------------------------
enum LengthUnit : int32_t {
  kUnitPixels = 0,
  kUnitInches = 1,
  kUnitCentimeters = 2,
  kUnitMillimeters = 3,
  kUnitPoints = 4,
  kUnitPicas = 5,
};
inline constexpr int32_t kLengthUnitCount = 6;

struct Length {
  double amount = 0.0;
  int32_t unit = kUnitPixels;  // a unit outside 0..5 counts as pixels

  friend bool operator==(const Length&, const Length&) = default;
};
static_assert(sizeof(Length) == 16 && alignof(Length) == 8 && offsetof(Length, unit) == 8);

// Pixels per inch from the host's 16.16 horizontal resolution; 72 when the
// host reports none.
double ResolutionFromFixed(ps::Fixed resolution);
double LengthToPixels(const Length& length, double resolution);
double PixelsToUnit(double pixels, int32_t unit, double resolution);
// The unit's word in length texts: "pixels", "inches", ...
const char* LengthUnitWord(int32_t unit);
std::string LengthText(const Length& length);
bool ParseLengthText(std::string_view text, Length& length);
// Also takes a bare number as pixels, any letter case, and the short unit
// names px, in, cm, mm, pt and pc with or without a space: "12", "1.5 cm".
bool ParseLengthValue(std::string_view text, Length& length);

// --- layer fill ---------------------------------------------------------------
inline constexpr uint32_t kFillWithColor = ps::FourCC("fiB0");
inline constexpr uint32_t kFillTransparent = ps::FourCC("fiB1");
inline constexpr uint32_t kFillKeepOriginal = ps::FourCC("fiB2");
// Bits of LayerFillParameter::allowedModes.
inline constexpr uint32_t kAllowTransparent = 1;
inline constexpr uint32_t kAllowFillColor = 2;
inline constexpr uint32_t kAllowKeepOriginal = 4;

struct LayerFill {
  uint32_t mode = kFillWithColor;
  Color color;

  friend bool operator==(const LayerFill&, const LayerFill&) = default;
};
static_assert(sizeof(LayerFill) == 16 && alignof(LayerFill) == 4 && offsetof(LayerFill, color) == 4);

// --- lighting -----------------------------------------------------------------
struct Lighting {
  double brightness = 0.0;   // 0..100
  double sharpness = 0.0;    // 0..100
  double direction = 0.0;    // degrees, 0..360
  double inclination = 0.0;  // degrees, the parameter's minimum..90
  Color highlight;

  friend bool operator==(const Lighting&, const Lighting&) = default;
};
static_assert(sizeof(Lighting) == 48 && alignof(Lighting) == 8 && offsetof(Lighting, highlight) == 32);

// --- position -----------------------------------------------------------------
std::string PositionText(const PointD& position);
bool ParsePositionText(std::string_view text, PointD& position);

// --- flag attachments -------------------------------------------------------
// Which sides and corners of the flag are fixed, in this order.
enum FlagAttachment : int32_t {
  kAttachTopLeft = 0,
  kAttachTop,
  kAttachTopRight,
  kAttachLeft,
  kAttachRight,
  kAttachBottomLeft,
  kAttachBottom,
  kAttachBottomRight,
};
inline constexpr int32_t kFlagAttachmentCount = 8;

struct FlagConnections {
  bool attached[kFlagAttachmentCount] = {};

  friend bool operator==(const FlagConnections&, const FlagConnections&) = default;
};
static_assert(sizeof(FlagConnections) == 8 && alignof(FlagConnections) == 1);

// One character per attachment, 'X' attached, a space free.
std::string ConnectionText(const FlagConnections& connections);
// Never fails: anything but 'X' is free, missing characters are free.
void ParseConnectionText(std::string_view text, FlagConnections& connections);

// --- puzzle arrangement ---------------------------------------------------------
inline constexpr int32_t kPuzzleMaxSize = 50;
inline constexpr int32_t kPuzzleEdgeStride = kPuzzleMaxSize + 1;

// The grid of the Puzzle effect: which pieces are present and which way each
// connector points. Edges are kept in grids of 51 x 51 so that horizontal
// edges (columns x (rows + 1)) and vertical ones ((columns + 1) x rows) share
// one indexing; the counts are 16-bit so the whole value fits its block.
struct PuzzleArrangement {
  int16_t columns = 1;
  int16_t rows = 1;
  bool present[kPuzzleMaxSize * kPuzzleMaxSize] = {};
  bool connectorUp[kPuzzleEdgeStride * kPuzzleEdgeStride] = {};    // horizontal edge (x, y): knob mirrored up
  bool connectorLeft[kPuzzleEdgeStride * kPuzzleEdgeStride] = {};  // vertical edge (x, y): knob mirrored left

  bool& Piece(int32_t x, int32_t y) { return present[y * kPuzzleMaxSize + x]; }
  bool Piece(int32_t x, int32_t y) const { return present[y * kPuzzleMaxSize + x]; }
  bool& HorizontalEdge(int32_t x, int32_t y) { return connectorUp[y * kPuzzleEdgeStride + x]; }
  bool HorizontalEdge(int32_t x, int32_t y) const { return connectorUp[y * kPuzzleEdgeStride + x]; }
  bool& VerticalEdge(int32_t x, int32_t y) { return connectorLeft[y * kPuzzleEdgeStride + x]; }
  bool VerticalEdge(int32_t x, int32_t y) const { return connectorLeft[y * kPuzzleEdgeStride + x]; }

  friend bool operator==(const PuzzleArrangement&, const PuzzleArrangement&) = default;
};
static_assert(sizeof(PuzzleArrangement) == 7706 && alignof(PuzzleArrangement) == 2);
static_assert(offsetof(PuzzleArrangement, present) == 4 && offsetof(PuzzleArrangement, connectorUp) == 2504 &&
              offsetof(PuzzleArrangement, connectorLeft) == 5105);

// "%3d %3d" columns and rows, then a 'V' or 'I' per piece, a space, a 'U' or
// 'D' per horizontal edge, a space, an 'L' or 'R' per vertical edge.
std::string ArrangementText(const PuzzleArrangement& arrangement);
// Leaves `arrangement` alone and returns false unless the text is exactly
// that form for a grid of 1..50 by 1..50.
bool ParseArrangementText(std::string_view text, PuzzleArrangement& arrangement);

// A columns x rows grid with every piece in place and every connector a coin
// toss from a fixed seed: the defaults look the same every time.
void FreshPuzzle(PuzzleArrangement& arrangement, int32_t columns, int32_t rows);
// A new size given as text: the old grid's flags where they still fit, the
// rest as FreshPuzzle has them, so the result depends on the old grid alone
// and not on flags left beyond it.
void ResizePuzzle(PuzzleArrangement& arrangement, int32_t columns, int32_t rows);

// The commands of the puzzle's preview control.
// `columns` across, and as many rows as keep the pieces of an area of
// `areaWidth` x `areaHeight` about square; both within 1..50. The flags
// beyond the grid stay, so a grid made smaller and larger again comes back.
void SetPuzzleColumns(PuzzleArrangement& arrangement, int32_t columns, int32_t areaWidth, int32_t areaHeight);
// Knocks out round(present * fraction) of the present pieces, at least one,
// chosen by `random`; nothing happens when no piece is present.
void KnockOutPieces(PuzzleArrangement& arrangement, double fraction, RandomNumberGenerator& random);
void RestoreAllPieces(PuzzleArrangement& arrangement);
void InvertAllPieces(PuzzleArrangement& arrangement);
// Every connector flag of both grids, horizontal edges first, a coin toss.
void RandomizeConnectors(PuzzleArrangement& arrangement, RandomNumberGenerator& random);

}  // namespace kv
