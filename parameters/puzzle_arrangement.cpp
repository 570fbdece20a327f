// The puzzle arrangement's commands, as the preview's puzzle control gives them.
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "parameters/parameter_values.h"

namespace kv {

void FreshPuzzle(PuzzleArrangement& a, int32_t columns, int32_t rows) {
  RestoreAllPieces(a);
  RandomNumberGenerator random(1);
  RandomizeConnectors(a, random);
  a.columns = int16_t(std::clamp(columns, 1, kPuzzleMaxSize));
  a.rows = int16_t(std::clamp(rows, 1, kPuzzleMaxSize));
}

void ResizePuzzle(PuzzleArrangement& a, int32_t columns, int32_t rows) {
  auto fresh = std::make_unique<PuzzleArrangement>();
  FreshPuzzle(*fresh, columns, rows);
  const int32_t w = std::min<int32_t>(a.columns, fresh->columns), h = std::min<int32_t>(a.rows, fresh->rows);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) fresh->Piece(x, y) = a.Piece(x, y);
  // The old grid's edges, its outline included: (w x (h + 1)) across, ((w + 1) x h) down.
  for (int32_t y = 0; y <= h; ++y)
    for (int32_t x = 0; x <= w; ++x) {
      if (x < w) fresh->HorizontalEdge(x, y) = a.HorizontalEdge(x, y);
      if (y < h) fresh->VerticalEdge(x, y) = a.VerticalEdge(x, y);
    }
  a = *fresh;
}

void SetPuzzleColumns(PuzzleArrangement& a, int32_t columns, int32_t areaWidth, int32_t areaHeight) {
  columns = std::clamp(columns, 1, kPuzzleMaxSize);
  const double rows = std::floor(double(columns) * std::max(areaHeight, 1) / std::max(areaWidth, 1) + 0.5);
  a.columns = int16_t(columns);
  a.rows = int16_t(std::clamp(rows, 1.0, double(kPuzzleMaxSize)));
}

void KnockOutPieces(PuzzleArrangement& a, double fraction, RandomNumberGenerator& random) {
  std::vector<int32_t> present;
  for (int32_t y = 0; y < a.rows; ++y)
    for (int32_t x = 0; x < a.columns; ++x)
      if (a.Piece(x, y)) present.push_back(y * kPuzzleMaxSize + x);
  if (present.empty()) return;
  // Fisher-Yates, from the back.
  for (size_t i = present.size(); i > 1; --i) std::swap(present[i - 1], present[size_t(random.Below(int32_t(i)))]);
  const size_t count = std::max<size_t>(1, size_t(std::floor(double(present.size()) * fraction + 0.5)));
  for (size_t i = 0; i < std::min(count, present.size()); ++i) a.present[present[i]] = false;
}

// Pieces beyond the grid too, so that a larger grid later shows none missing.
void RestoreAllPieces(PuzzleArrangement& a) { std::fill(std::begin(a.present), std::end(a.present), true); }

void InvertAllPieces(PuzzleArrangement& a) {
  for (int32_t y = 0; y < a.rows; ++y)
    for (int32_t x = 0; x < a.columns; ++x) a.Piece(x, y) = !a.Piece(x, y);
}

void RandomizeConnectors(PuzzleArrangement& a, RandomNumberGenerator& random) {
  for (bool& up : a.connectorUp) up = random.Chance(0.5);
  for (bool& left : a.connectorLeft) left = random.Chance(0.5);
}

}  // namespace kv
