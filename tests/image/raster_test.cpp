#include <gtest/gtest.h>

#include <vector>

#include "image/image.h"
#include "image/iterators.h"

namespace kv {
namespace {

struct RecordingSink final : ProgressUpdateSink {
  std::vector<double> values;
  void Update(double fraction) override { values.push_back(fraction); }
};

template <class Iterator>
std::vector<Point> Visit(Iterator& it, const Rect& area, ProgressUpdateSink* sink) {
  std::vector<Point> points;
  for (it.Begin(area, sink, 0.2, 0.8); it.More(); it.Advance()) points.push_back({it.X(), it.Y()});
  return points;
}

TEST(Raster, AddressesAreAbsolute) {
  int32_t err = -1;
  SingleChannelImage<unsigned char> mask(err, Rect{100, 50, 110, 60});
  ASSERT_EQ(err, 0);
  EXPECT_EQ(mask.rowStride, 10);
  EXPECT_EQ(mask.PixelAddress({100, 50}), mask.data);
  EXPECT_EQ(mask.PixelAddress({101, 51}), mask.data + mask.rowStride + 1);

  ByteImage rgba(err, Rect{-5, 7, 3, 9}, PixelFormat::Of(kModeRGB, 3, true));
  ASSERT_EQ(err, 0);
  EXPECT_EQ(rgba.pixelStep, 4);
  EXPECT_EQ(rgba.rowStride, 32);
  EXPECT_EQ(rgba.Address(-4, 8) + 3, rgba.data + 32 + 4 + 3);
  EXPECT_EQ(rgba.At(-4, 8).Alpha(), rgba.data[32 + 4 + 3]);
}

TEST(Raster, WrappedStrideCountsPaddingInBytes) {
  std::vector<double> doubles(40);
  SingleChannelImage<double> d(Rect{0, 0, 10, 2}, doubles.data(), 6);
  EXPECT_EQ(d.rowStride, 10);  // 6 bytes are less than one double
  EXPECT_FALSE(d.ownsData);
  std::vector<unsigned char> bytes(40);
  SingleChannelImage<unsigned char> b(Rect{0, 0, 10, 2}, bytes.data(), 6);
  EXPECT_EQ(b.rowStride, 16);
  EXPECT_EQ(b.PixelAddress({3, 1}), bytes.data() + 19);
}

TEST(Raster, OwningPixelsCopyValuesAndViewsRepoint) {
  int32_t err = -1;
  ByteImage img(err, Rect{0, 0, 2, 1}, PixelFormat::Of(kModeRGB, 3, false));
  img.Fill(9);
  Pixel<unsigned char> view = img.At(1, 0);
  Pixel<unsigned char> viewCopy = view;
  Pixel<unsigned char> owned(img.format);
  owned[0] = 4;
  Pixel<unsigned char> ownedCopy = owned;
  img.At(1, 0)[0] = 77;
  owned[0] = 5;
  EXPECT_EQ(viewCopy[0], 77);
  EXPECT_EQ(ownedCopy[0], 4);
  EXPECT_TRUE(ownedCopy.OwnsValues());
}

TEST(Raster, ColourModes) {
  const std::pair<int32_t, int32_t> toSpace[] = {{1, 4}, {3, 0}, {4, 2}, {9, 3}, {8, 4}, {2, 0}, {7, 0}};
  for (auto [host, space] : toSpace) EXPECT_EQ(ColorModeFromHostMode(host), space) << host;
  const std::pair<int32_t, int32_t> toHost[] = {{4, 1}, {0, 3}, {2, 4}, {3, 9}, {1, 3}, {666, 3}};
  for (auto [space, host] : toHost) EXPECT_EQ(HostModeFromColorMode(space), host) << space;
  EXPECT_EQ(PixelFormat::Of(7, 3, false).Space(), kModeUnset);
  EXPECT_EQ(PixelFormat::Of(kModeRGB, 3, true).channelCount, 4);
}

TEST(Raster, RowViewWrapsOwnMemoryOnce) {
  std::vector<unsigned char> memory(3 * 12);
  ByteImage img(Rect{10, 20, 13, 23}, memory.data(), 3, PixelFormat::Of(kModeRGB, 3, false));
  RowBuffer* view = nullptr;
  ASSERT_EQ(img.RowView(view), 0);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->channels, 3);
  EXPECT_EQ(view->Row(22), memory.data() + 24);
  EXPECT_EQ(view->RowBytes(), 9);
  RowBuffer* again = nullptr;
  ASSERT_EQ(img.RowView(again), 0);
  EXPECT_EQ(again, view);
}

TEST(Iterators, RowAndColumnOrderWithProgress) {
  // RGB with row padding, iterated over an inner area, so both increments count.
  std::vector<unsigned char> memory(5 * 17);
  ByteImage img(Rect{10, 20, 15, 25}, memory.data(), 2, PixelFormat::Of(kModeRGB, 3, false));
  const Rect area{11, 21, 14, 23};

  LeftToRightTopToBottomIterator<ByteImage> rows(img);
  RecordingSink rowSink;
  std::vector<Point> seen;
  int lineStarts = 0;
  for (rows.Begin(area, &rowSink, 0.2, 0.8); rows.More(); rows.Advance()) {
    EXPECT_EQ(rows.Current().values, img.Address(rows.X(), rows.Y()));
    lineStarts += rows.AtLineStart();
    seen.push_back({rows.X(), rows.Y()});
  }
  EXPECT_EQ(seen, (std::vector<Point>{{11, 21}, {12, 21}, {13, 21}, {11, 22}, {12, 22}, {13, 22}}));
  EXPECT_EQ(lineStarts, 2);
  ASSERT_EQ(rowSink.values.size(), 2u);
  EXPECT_DOUBLE_EQ(rowSink.values[0], 0.5);
  EXPECT_DOUBLE_EQ(rowSink.values[1], 0.8);

  TopToBottomLeftToRightIterator<ByteImage> columns(img);
  RecordingSink columnSink;
  seen.clear();
  lineStarts = 0;
  for (columns.Begin(area, &columnSink, 0.2, 0.8); columns.More(); columns.Advance()) {
    EXPECT_EQ(columns.Current().values, img.Address(columns.X(), columns.Y()));
    lineStarts += columns.AtLineStart();
    seen.push_back({columns.X(), columns.Y()});
  }
  EXPECT_EQ(seen, (std::vector<Point>{{11, 21}, {11, 22}, {12, 21}, {12, 22}, {13, 21}, {13, 22}}));
  EXPECT_EQ(lineStarts, 3);
  ASSERT_EQ(columnSink.values.size(), 3u);
  EXPECT_DOUBLE_EQ(columnSink.values[0], 0.4);
  EXPECT_DOUBLE_EQ(columnSink.values[2], 0.8);
}

TEST(Iterators, EmptyAreaYieldsNothing) {
  int32_t err = -1;
  SingleChannelImage<double> img(err, Rect{0, 0, 4, 4});
  RecordingSink sink;
  LeftToRightTopToBottomIterator<SingleChannelImage<double>> rows(img);
  EXPECT_TRUE(Visit(rows, Rect{2, 1, 2, 3}, &sink).empty());
  TopToBottomLeftToRightIterator<SingleChannelImage<double>> columns(img);
  EXPECT_TRUE(Visit(columns, Rect{1, 3, 3, 3}, &sink).empty());
  RectIteratorLeftToRightTopToBottom cells;
  EXPECT_TRUE(Visit(cells, Rect{5, 5, 4, 9}, &sink).empty());
  EXPECT_TRUE(sink.values.empty());
}

TEST(Iterators, WholeRasterWritesThroughAndConstReads) {
  int32_t err = -1;
  SingleChannelImage<double> img(err, Rect{3, 4, 7, 6});
  LeftToRightTopToBottomIterator<SingleChannelImage<double>> it(img);
  for (it.Begin(nullptr, 0, 1); it.More(); it.Advance()) *it.Current() = it.X() * 10 + it.Y();
  EXPECT_EQ(img(6, 5), 65);
  EXPECT_EQ(img(3, 4), 34);

  ByteImage bytes(err, Rect{0, 0, 3, 2}, PixelFormat::Of(kModeGrey, 1, true));
  for (int32_t i = 0; i < 12; ++i) bytes.data[i] = uint8_t(i);
  LeftToRightTopToBottomConstIterator<ByteImage> reader(bytes);
  int sum = 0;
  for (reader.Begin(nullptr, 0, 1); reader.More(); reader.Advance()) sum += reader.Current().Alpha();
  EXPECT_EQ(sum, 1 + 3 + 5 + 7 + 9 + 11);
}

TEST(Iterators, WindowHoldsTheNeighbours) {
  int32_t err = -1;
  ByteMask mask(err, Rect{20, 30, 27, 35});
  for (int32_t y = 30; y < 35; ++y)
    for (int32_t x = 20; x < 27; ++x) mask(x, y) = uint8_t(x * 7 + y * 3);
  WindowIterator<unsigned char> it(mask);
  int visited = 0;
  for (it.Begin(mask.bounds.Inflate(-1, -1), nullptr, 0, 1); it.More(); it.Advance(), ++visited) {
    EXPECT_EQ(it.Current(), mask.PixelAddress({it.X(), it.Y()}));
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx)
        ASSERT_EQ(it.Neighbour(dx, dy), mask(it.X() + dx, it.Y() + dy)) << it.X() << "," << it.Y();
  }
  EXPECT_EQ(visited, 5 * 3);
}

TEST(Iterators, RectWalkCoversTheGrid) {
  RectIteratorLeftToRightTopToBottom cells;
  RecordingSink sink;
  const auto points = Visit(cells, Rect{-1, 2, 1, 4}, &sink);
  EXPECT_EQ(points, (std::vector<Point>{{-1, 2}, {0, 2}, {-1, 3}, {0, 3}}));
  EXPECT_EQ(sink.values.size(), 2u);
}

}  // namespace
}  // namespace kv
