// Rirazi Vevora Didura: its control states, its look in each view and
// character, and agreement between tiles, whole renders and the dialog's
// preview.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "effects/rirazi_vevora_didura/cloud.h"
#include "entry/entry.h"
#include "image/vector_kernels.h"
#include "parameters/parameters.h"
#include "platform/system.h"
#include "tests/effects/effect_harness.h"
#include "tests/effects/reference.h"
#include "tests/support/fake_host.h"
#include "tests/support/loaded_core.h"
#include "tests/support/vector_paths.h"

namespace kv::test {
namespace {

using Edit = std::function<void(CloudBlock&)>;

BlockEdit Block(const Edit& edit) {
  return [edit](void* block) { edit(*static_cast<CloudBlock*>(block)); };
}

Picture Clouds(const Picture& in, const Edit& edit = [](CloudBlock&) {}) {
  HostRender how;
  how.edit = Block(edit);
  int16_t error = 0;
  Picture out = RenderThroughHost(kCloudEffect, in, how, &error);
  EXPECT_EQ(error, 0);
  return out;
}

// The views and characters, each from the defaults.
const std::pair<const char*, Edit> kLooks[] = {
    {"wispy perspective", [](CloudBlock&) {}},
    {"fluffy perspective", [](CloudBlock& b) { b.cloudMode = kCloudFluffy; }},
    {"puffy perspective", [](CloudBlock& b) { b.cloudMode = kCloudPuffy; }},
    {"wispy flat", [](CloudBlock& b) { b.perspective = false; }},
    {"fluffy flat", [](CloudBlock& b) { b.perspective = false, b.cloudMode = kCloudFluffy; }},
    {"puffy tile", [](CloudBlock& b) { b.seamlessTile = true, b.cloudMode = kCloudPuffy; }},
};

double Mean(const Picture& p, int channel, int y0, int y1) {
  double sum = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = 0; x < p.width; ++x) sum += p.At(x, y)[channel];
  return sum / (double(p.width) * (y1 - y0));
}

double Spread(const Picture& p, int channel, int y0, int y1) {
  const double mean = Mean(p, channel, y0, y1);
  double sum = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = 0; x < p.width; ++x) sum += std::pow(p.At(x, y)[channel] - mean, 2);
  return std::sqrt(sum / (double(p.width) * (y1 - y0)));
}

// Mean difference over every channel between columns a and b, or rows a and b.
double LineDifference(const Picture& p, bool columns, int a, int b) {
  const int length = columns ? p.height : p.width;
  double sum = 0;
  for (int i = 0; i < length; ++i)
    for (int c = 0; c < p.Planes(); ++c)
      sum += std::abs(columns ? p.At(a, i)[c] - p.At(b, i)[c] : p.At(i, a)[c] - p.At(i, b)[c]);
  return sum / (length * p.Planes());
}

class Control final : public ParameterControl {
 public:
  void Enable(bool on) override { enabled = on; }
  bool enabled = false;
};

TEST(Clouds, CameraAndSkyControlsFollowTheirSwitches) {
  Cloud cloud;
  CloudBlock b;
  cloud.SetDefaults(&b);
  ParameterList list;
  ASSERT_EQ(cloud.BuildParameters(list, &b), 0);
  ASSERT_EQ(list.count, 17);
  std::vector<Control> controls(size_t(list.count));
  for (int32_t i = 0; i < list.count; ++i) list.items[size_t(i)]->control = &controls[size_t(i)];
  // Per switch setting, the keys whose controls are off; every other control is on.
  struct Case {
    bool tile, perspective, sky;
    std::string off;
  };
  for (const Case& c : {Case{false, true, true, ""}, Case{true, true, true, "CLel CLfv CLhe CLpe CLhc CLhp CLgp"},
                        Case{false, true, false, "CLzc CLhc CLhp CLgp"},
                        Case{false, false, true, "CLel CLfv CLhe CLhc CLhp CLgp"},
                        Case{true, false, false, "CLel CLfv CLhe CLpe CLzc CLhc CLhp CLgp"}}) {
    b.seamlessTile = c.tile, b.perspective = c.perspective, b.drawSky = c.sky;
    ASSERT_EQ(cloud.UpdateParameterStates(list, &b), 0);
    for (int32_t i = 0; i < list.count; ++i) {
      const uint32_t key = list.items[size_t(i)]->Key(0);
      const char name[5] = {char(key >> 24), char(key >> 16), char(key >> 8), char(key), 0};
      EXPECT_EQ(controls[size_t(i)].enabled, c.off.find(name) == std::string::npos) << name << " in " << c.off;
    }
  }
}

TEST(Clouds, LooksAsItDid) {
  // The defaults at 40 pixels to the inch; and Puffy clouds on a layer as a
  // seamless tile without a sky.
  HostRender how;
  how.resolution = 40.0;
  ExpectMatchesReference("clouds-defaults", RenderThroughHost(kCloudEffect, TestPicture(100, 75), how),
                         kWithinOneLevel);
  how.edit = Block([](CloudBlock& b) {
    b.cloudMode = kCloudPuffy;
    b.puffSize = {20.0, kUnitPixels};
    b.seamlessTile = true;
    b.drawSky = false;
    b.baseColor = Color::RGB(90, 90, 140);
  });
  ExpectMatchesReference("clouds-puffy-tile-layer",
                         RenderThroughHost(kCloudEffect, TestPicture(100, 75, ps::plugInModeRGBColor, 3, true), how),
                         kWithinOneLevel);
}

TEST(Clouds, SeedDecidesTilesAgreeAndEachLookDiffers) {
  for (bool alpha : {false, true}) {
    const Picture in = TestPicture(203, 131, ps::plugInModeRGBColor, 3, alpha);
    std::vector<Picture> looks;
    for (const auto& [name, edit] : kLooks) {
      const Picture whole = Clouds(in, edit);
      for (size_t i = 0; i < looks.size(); ++i)
        EXPECT_GT(MeanDifference(looks[i], whole), 1.0) << kLooks[i].first << " / " << name;
      looks.push_back(whole);
      HostRender how;
      how.edit = Block(edit);
      EXPECT_EQ(TileSizeThatDiffers(kCloudEffect, in, how), 0) << name;
      const Picture other = Clouds(in, [&](CloudBlock& b) {
        edit(b);
        b.randomSeed = 2;
      });
      EXPECT_GT(MeanDifference(other, whole), 2.0) << name;
    }
  }
}

TEST(Clouds, PreviewShowsTheSameClouds) {
  // In perspective the clouds crowd toward the horizon, finer than a
  // zoomed-out preview's pixels, and the Wispy warp, divided by the scale,
  // is narrower in a preview: there the margin is wider.
  const Picture in = SmoothPicture(320, 240);
  for (const auto& [name, edit] : kLooks)
    for (const int factor : {2, 4}) {
      HostRender how;
      how.edit = Block(edit);
      const PreviewDifference d = ComparePreview(kCloudEffect, in, factor, how, [](void* block) {
        static_cast<CloudBlock*>(block)->randomSeed = 6;
      });
      const bool perspective = std::string(name).ends_with("perspective");
      EXPECT_LT(d.same, perspective ? 4.0 : 2.0) << name << ", 1 / " << factor;
      EXPECT_GT(d.other, (perspective ? 3.0 : 5.0) * d.same) << name << ", 1 / " << factor;
    }
}

TEST(Clouds, FlatCloudsLieBetweenTheSkyAndTheirColours) {
  // Zenith (0, 108, 250), clouds from 210 to 255: green and blue stay inside.
  const Picture in = TestPicture(160, 120);
  for (int32_t mode : {kCloudFluffy, kCloudPuffy, kCloudWispy}) {
    const Picture out = Clouds(in, [mode](CloudBlock& b) {
      b.perspective = false;
      b.cloudMode = mode;
      b.puffSize = {40.0, kUnitPixels};
    });
    int cloudy = 0, clear = 0;
    for (int y = 0; y < out.height; ++y)
      for (int x = 0; x < out.width; ++x) {
        const uint8_t* p = out.At(x, y);
        ASSERT_GE(p[1], 108) << mode;
        ASSERT_GE(p[2], 210) << mode;
        cloudy += p[1] > 150;
        clear += p[1] < 125;
      }
    // Coverage 30: both sky and cloud are in the picture.
    EXPECT_GT(cloudy, out.width * out.height / 40) << mode;
    EXPECT_GT(clear, out.width * out.height / 20) << mode;
  }
}

TEST(Clouds, PerspectiveHazesTowardTheHorizon) {
  const Picture in = TestPicture(160, 120);
  const Picture out = Clouds(in);
  // Clouds stand out overhead and fade at the bottom, where the horizon colour (130, 170, 200) holds.
  EXPECT_GT(Spread(out, 1, 0, 10), 2.0 * Spread(out, 1, 110, 120));
  const int horizon[3] = {130, 170, 200};
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(Mean(out, c, 118, 120), horizon[c], 15.0) << c;

  // Without a gradient the sky is the zenith colour at the bottom too; with
  // neither haze nor clouds showing there, that is what remains.
  const Picture noGradient = Clouds(in, [](CloudBlock& b) {
    b.skyGradient = 0;
    b.coverage = 0;
    b.edgeSharpness = 100;
  });
  int zenith = 0;
  for (int x = 0; x < noGradient.width; ++x) {
    const uint8_t* p = noGradient.At(x, 119);
    zenith += p[0] == 0 && p[1] == 108 && p[2] == 250;
  }
  EXPECT_GT(zenith, noGradient.width / 2);
}

TEST(Clouds, SeamlessTileMeetsItselfAcrossTheEdges) {
  const Picture in = TestPicture(120, 90);
  auto render = [&](bool tile) {
    return Clouds(in, [tile](CloudBlock& b) {
      b.seamlessTile = tile;
      b.perspective = false;
      b.puffSize = {30.0, kUnitPixels};
    });
  };
  const Picture tiled = render(true), flat = render(false);
  EXPECT_LT(LineDifference(tiled, true, 0, 119), 2.0 * LineDifference(tiled, true, 0, 1) + 0.5);
  EXPECT_LT(LineDifference(tiled, false, 0, 89), 2.0 * LineDifference(tiled, false, 0, 1) + 0.5);
  EXPECT_GT(LineDifference(flat, true, 0, 119), 4.0 * LineDifference(flat, true, 0, 1));
}

TEST(Clouds, EveryModeTheHostAccepts) {
  struct Mode {
    int16_t mode;
    int planes;
  };
  for (const Mode m : {Mode{ps::plugInModeGrayScale, 1}, Mode{ps::plugInModeCMYKColor, 4},
                       Mode{ps::plugInModeLabColor, 3}}) {
    const Picture in = TestPicture(61, 47, m.mode, m.planes);
    const Picture out = Clouds(in);
    ASSERT_EQ(out.pixels.size(), in.pixels.size()) << m.mode;
    EXPECT_GT(MeanDifference(out, in), 10.0) << m.mode;
    EXPECT_EQ(TileSizeThatDiffers(kCloudEffect, in, {}), 0) << m.mode;
  }
}

// The field and the compositing run as many pixels at once as the
// processor's vectors hold: every width gives the same bytes, in every look
// and layout, over the sky or over a layer's own pixels.
TEST(Clouds, EveryVectorPathGivesTheSameBytes) {
  const Picture pictures[] = {TestPicture(61, 37, ps::plugInModeRGBColor, 3, true), TestPicture(29, 11),
                              TestPicture(13, 9, ps::plugInModeGrayScale, 1), TestPicture(7, 5, ps::plugInModeCMYKColor, 4)};
  std::vector<std::pair<std::string, Edit>> looks(std::begin(kLooks), std::end(kLooks));
  looks.emplace_back("over the layer", [](CloudBlock& b) { b.drawSky = false, b.coverage = 80.0; });
  std::vector<Picture> first;
  ForEachVectorPath([&](int path) {
    size_t i = 0;
    for (const auto& [name, edit] : looks)
      for (const Picture& in : pictures) {
        HostRender how;
        how.entry = &EntryPoint;  // linked in, so that the path chosen here is the one that runs
        how.edit = Block(edit);
        const Picture out = RenderThroughHost(kCloudEffect, in, how);
        if (path == 0) first.push_back(out);
        else EXPECT_EQ(out.pixels, first[i].pixels) << "path " << path << ", " << name << ", picture " << i % 4;
        ++i;
      }
  });
}

TEST(Clouds, ScriptedValuesReplayTheSamePicture) {
  platform::SetResourceFolder(KV_SOURCE_RESOURCE_DIR);
  const Picture in = TestPicture(80, 60);
  // Renders the block as edited and scripts its values, or plays a script
  // over the defaults.
  auto run = [&](const Edit& edit, const Descriptor* script) {
    FakeHost host(in.width, in.height, in.mode, in.colorPlanes, in.alpha);
    host.entry = Core().entry;
    host.pixels = in.pixels;
    host.record.parameters = host.handleProcs.newProc(int32_t(kParametersHandleSize));
    auto* block = reinterpret_cast<CloudBlock*>(host.handleProcs.lockProc(host.record.parameters, false));
    Cloud effect;
    effect.SetDefaults(block);
    edit(*block);
    ParameterList list;
    EXPECT_EQ(effect.BuildParameters(list, block), 0);
    const Descriptor written = host.Written([&](auto& procs, auto token, auto& handles) {
      return list.WriteDescriptor(procs, token, handles);
    });
    if (script != nullptr) host.SetScript(*script, ps::plugInDialogDontDisplay);
    EXPECT_TRUE(host.Run(kCloudEffect));
    return std::pair{host.pixels, written};
  };
  const Edit changed = [](CloudBlock& b) {
    b.puffSize = {1.0, kUnitCentimeters};
    b.coverage = 62, b.edgeSharpness = 81, b.haze = 20, b.skyGradient = 80;
    b.baseColor = Color::RGB(180, 170, 160), b.edgeColor = Color::RGB(250, 240, 230);
    b.zenithColor = Color::RGB(10, 60, 200), b.horizonColor = Color::RGB(200, 180, 160);
    b.cloudMode = kCloudPuffy, b.randomSeed = 77;
    b.viewElevation = 12, b.fieldOfView = 60, b.cloudHeight = 55;
  };
  const auto [pixels, written] = run(changed, nullptr);
  EXPECT_EQ(written.size(), 17u);
  EXPECT_EQ(run([](CloudBlock&) {}, &written).first, pixels);
  EXPECT_NE(run([](CloudBlock&) {}, nullptr).first, pixels);

  // The switches travel too: a tile seen flat, without a sky.
  const Edit flat = [](CloudBlock& b) {
    b.seamlessTile = true, b.perspective = false, b.drawSky = false, b.cloudMode = kCloudFluffy;
  };
  const auto [flatPixels, flatScript] = run(flat, nullptr);
  EXPECT_EQ(run([](CloudBlock&) {}, &flatScript).first, flatPixels);
}

}  // namespace
}  // namespace kv::test
