// Shatter through the entry point: pieces at rest show the image, the seed
// decides the pieces, tiles and previews show the same ones, the inside fill
// shows between them; and the refusals that need no 3D at all.
#include <gtest/gtest.h>

#include <algorithm>

#include "effects/shatter/shatter.h"
#include "entry/entry.h"
#include "g3d/opengl_library.h"
#include "tests/effects/effect_harness.h"
#include "tests/effects/reference.h"
#include "tests/g3d/mesa_leaks.h"

namespace kv::test {
namespace {

bool HaveOpenGL() {
  g3d::OpenGLRenderingLibrary lib;
  g3d::RLResult r;
  lib.Initialize(r, 0);
  return r.Succeeded();
}

#define SKIP_WITHOUT_OPENGL()                                                                        \
  if (!HaveOpenGL())                                                                                 \
  GTEST_SKIP() << "Shatter needs libOSMesa.so.8 and libGLU.so.1 (apt-get install libosmesa6 libglu1-mesa)"

HostRender With(std::function<void(ShatterBlock&)> edit, int tileSize = 0) {
  HostRender how;
  how.tileSize = tileSize;
  how.edit = [edit](void* block) { edit(*static_cast<ShatterBlock*>(block)); };
  return how;
}

Picture Shatter(const Picture& in, const HostRender& how = {}) {
  int16_t error = 0;
  Picture out = RenderThroughHost(kShatterEffect, in, how, &error);
  EXPECT_EQ(error, 0);
  return out;
}

int MaxDifference(const Picture& a, const Picture& b) {
  int most = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i) most = std::max(most, std::abs(a.pixels[i] - b.pixels[i]));
  return most;
}

TEST(Shatter, DefaultsLookAsTheyDid) {
  SKIP_WITHOUT_OPENGL();
  // Edges of pieces fall on other pixels when the rasteriser rounds otherwise.
  ExpectMatchesReference("shatter-defaults", Shatter(TestPicture(96, 64)), kEdgesMayRound);
}

// Smooth, so that sampling through the pieces' texture cannot blur it.
Picture Gradient(int width, int height, int16_t mode, int planes) {
  Picture p = TestPicture(width, height, mode, planes);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < planes; ++c) p.pixels[(size_t(y) * width + x) * planes + c] = uint8_t(40 + x + c * y);
  return p;
}

TEST(Shatter, PiecesAtRestShowTheImage) {
  SKIP_WITHOUT_OPENGL();
  for (const Picture& in : {Gradient(90, 60, ps::plugInModeRGBColor, 3), Gradient(90, 60, ps::plugInModeGrayScale, 1),
                            Gradient(90, 60, ps::plugInModeLabColor, 3)}) {
    const Picture out = Shatter(in, With([](ShatterBlock& b) { b.time = 0.0; }));
    // A few samples where a cut meets another's side may round a few levels.
    EXPECT_LT(MeanDifference(out, in), 0.5) << in.mode;
    EXPECT_LE(MaxDifference(out, in), 8) << in.mode;
  }
}

TEST(Shatter, SeedDecidesThePiecesWhateverTheTiles) {
  SKIP_WITHOUT_OPENGL();
  const Picture in = TestPicture(160, 110);
  const Picture whole = Shatter(in);
  EXPECT_EQ(Shatter(in).pixels, whole.pixels);
  // Each tile draws its own window of the scene: the same pieces, with at
  // most a pixel's edge rounded another way.
  const Picture tiled = Shatter(in, With([](ShatterBlock&) {}, 37));
  EXPECT_LT(MeanDifference(tiled, whole), 0.05);
  const Picture other = Shatter(in, With([](ShatterBlock& b) { b.randomSeed = 2; }));
  EXPECT_GT(MeanDifference(other, whole), 5.0);
}

TEST(Shatter, PreviewShowsTheSamePieces) {
  SKIP_WITHOUT_OPENGL();
  auto seed = [](int s) {
    return [s](void* block) {
      auto& b = *static_cast<ShatterBlock*>(block);
      b.randomSeed = uint16_t(s);
      b.time = 50.0;
    };
  };
  HostRender how;
  how.edit = seed(3);
  how.selection = OvalSelection(240, 160);
  const PreviewDifference d = ComparePreview(kShatterEffect, SmoothPicture(240, 160), 2, how, seed(4));
  EXPECT_LT(d.same, 4.0);
  EXPECT_GT(d.other, 5.0 * d.same);
}

TEST(Shatter, InsideFillShowsBetweenThePieces) {
  SKIP_WITHOUT_OPENGL();
  auto apart = [](uint32_t mode) {
    return With([mode](ShatterBlock& b) {
      b.time = 100.0;
      b.shadowOpacity = 0.0;
      b.insideFill = {mode, Color::RGB(255, 0, 0)};
    });
  };
  // Without transparency a transparent fill takes the colour.
  const Picture flat = Shatter(TestPicture(120, 80), apart(kFillTransparent));
  const auto red = [](const uint8_t* p) { return p[0] == 255 && p[1] == 0 && p[2] == 0; };
  int reds = 0;
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 120; ++x) reds += red(flat.At(x, y));
  EXPECT_GT(reds, 120 * 80 / 20);

  Picture layer = TestPicture(120, 80, ps::plugInModeRGBColor, 3, true);
  for (size_t i = 3; i < layer.pixels.size(); i += 4) layer.pixels[i] = 255;
  const Picture holes = Shatter(layer, apart(kFillTransparent));
  int clear = 0;
  for (size_t i = 3; i < holes.pixels.size(); i += 4) clear += holes.pixels[i] == 0;
  EXPECT_GT(clear, 120 * 80 / 20);
  const Picture kept = Shatter(layer, apart(kFillKeepOriginal));
  for (size_t i = 3; i < kept.pixels.size(); i += 4) ASSERT_EQ(kept.pixels[i], 255) << i;
}

TEST(Shatter, RefusalsNeedNoOpenGL) {
  int16_t error = 0;
  EXPECT_TRUE(RenderThroughHost(kShatterEffect, TestPicture(20, 20, ps::plugInModeCMYKColor, 4), {}, &error)
                  .pixels.empty());
  EXPECT_NE(error, 0);

  // Without the libraries the user is told which package brings them.
  const g3d::GLLibraries saved = g3d::DefaultLibraries();
  g3d::DefaultLibraries().gl = "libno-such-gl.so.8";
  HostRender linked;
  linked.entry = &EntryPoint;
  testing::internal::CaptureStderr();
  EXPECT_TRUE(RenderThroughHost(kShatterEffect, TestPicture(20, 20), linked, &error).pixels.empty());
  const std::string said = testing::internal::GetCapturedStderr();
  g3d::DefaultLibraries() = saved;
  EXPECT_NE(error, 0);
  EXPECT_NE(said.find("libosmesa6"), std::string::npos) << said;
}

}  // namespace
}  // namespace kv::test
