// The run sequence driven by a fake host: records, checks, blocks, scripting.
#include <gtest/gtest.h>

#include <cstring>

#include "effects/burnt_edges/burnt_edges.h"
#include "effects/filter_table.h"
#include "entry/dialog_hook.h"
#include "entry/entry.h"
#include "host/host_calls.h"
#include "host/run_record.h"
#include "platform/string_table.h"
#include "platform/system.h"
#include "tests/framework/test_effect.h"
#include "tests/support/fake_host.h"

namespace kv::test {

namespace {

class EntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetResourceFolder(KV_SOURCE_RESOURCE_DIR);
    SetFilterFactoryOverride([this](int32_t id) -> std::unique_ptr<Filter> {
      if (id != kTestEffect) return nullptr;
      auto effect = std::make_unique<InvertEffect>(&log);
      effect->needsLayerOrSelection = needsLayerOrSelection;
      effect->onePiece = onePiece;
      effect->tileSize = tileSize;
      effect->failWith = failWith;
      return effect;
    });
  }
  void TearDown() override { SetFilterFactoryOverride(nullptr); }

  static void Fill(FakeHost& host) {
    for (size_t i = 0; i < host.pixels.size(); ++i) host.pixels[i] = uint8_t(i * 7 % 251);
  }
  static std::string Text(const char* key) {
    std::string error;
    EXPECT_EQ(strings::Load(error), 0) << error;
    std::string text = strings::Text(key);
    strings::Clear();
    return text;
  }
  InvertBlock& Block(FakeHost& host) {
    return *reinterpret_cast<InvertBlock*>(host.handleProcs.lockProc(host.record.parameters, false));
  }

  InvertLog log;
  bool needsLayerOrSelection = false, onePiece = true;
  int32_t tileSize = 500, failWith = 0;
};

TEST_F(EntryTest, RunInvertsTheImageAndLeavesTheSlotEmpty) {
  FakeHost host(40, 30, ps::plugInModeRGBColor, 3);
  Fill(host);
  const std::vector<uint8_t> before = host.pixels;
  ASSERT_TRUE(host.Run(kTestEffect));
  for (size_t i = 0; i < before.size(); ++i) ASSERT_EQ(host.pixels[i], 255 - before[i]) << i;
  EXPECT_EQ(host.data, 0);
  EXPECT_EQ(log.prepares, 1);
  EXPECT_EQ(log.finishes, 1);
  ASSERT_NE(host.record.parameters, nullptr);
  EXPECT_EQ(Block(host).filterId, kTestEffect);
}

TEST_F(EntryTest, UnknownOrMissingEffectsAreRefusedBeforeAnyRecord) {
  FakeHost host(8, 8, ps::plugInModeRGBColor, 3);
  std::vector<int32_t> ids = {-1, 14, 99};
  for (int32_t id = 0; id < kEffectCount; ++id)
    if (id != kTestEffect && CreateBuiltInFilter(id) == nullptr) ids.push_back(id);  // not in this build
  for (int32_t id : ids) {
    EXPECT_EQ(host.Call(ps::filterSelectorPrepare, id), -1) << id;
    EXPECT_EQ(host.data, 0) << id;
  }
}

TEST_F(EntryTest, AboutWithAnotherEffectNumberShowsNothing) {
  FakeHost host(8, 8, ps::plugInModeRGBColor, 3);
  ps::AboutRecord about{&host.platform};
  int16_t result = 7;
  intptr_t data = 0;
  EntryPoint(ps::filterSelectorAbout, &about, &data, &result, 3);
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(host.messages.empty());
  EntryPoint(ps::filterSelectorAbout, &about, &data, &result, 0);
  EXPECT_EQ(result, 0);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_NE(host.messages[0].find("Brightfold Kalvero 2"), std::string::npos);
}

TEST_F(EntryTest, HostsMissingASuiteAreTooWeak) {
  const auto weaken = std::vector<void (*)(ps::FilterRecord&)>{
      [](ps::FilterRecord& r) { r.handleProcs = nullptr; }, [](ps::FilterRecord& r) { r.abortProc = nullptr; },
      [](ps::FilterRecord& r) { r.progressProc = nullptr; }, [](ps::FilterRecord& r) { r.bufferProcs = nullptr; },
      [](ps::FilterRecord& r) { r.displayPixels = nullptr; }, [](ps::FilterRecord& r) { r.advanceState = nullptr; },
      [](ps::FilterRecord& r) { r.colorServices = nullptr; }};
  const std::string expected = Text("Error - Host Too Weak");
  ASSERT_NE(expected, "Lost String!!!");
  for (auto weaker : weaken) {
    FakeHost host(8, 8, ps::plugInModeRGBColor, 3);
    weaker(host.record);
    EXPECT_FALSE(host.Run(kTestEffect));
    EXPECT_EQ(host.lastResult, 1);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], expected);
    EXPECT_EQ(host.data, 0) << "a failed start finishes the run";
  }
}

TEST_F(EntryTest, BlockLeftByAnotherEffectIsReset) {
  FakeHost host(8, 8, ps::plugInModeRGBColor, 3);
  host.record.parameters = host.handleProcs.newProc(32000);
  InvertBlock& block = Block(host);
  block = {5, 0, 3.0};  // another effect's block
  ASSERT_TRUE(host.Run(kTestEffect));
  EXPECT_EQ(Block(host).filterId, kTestEffect);
  EXPECT_EQ(Block(host).strength, 100.0);
}

TEST_F(EntryTest, SecondRunReusesTheHostsBlock) {
  FakeHost host(8, 8, ps::plugInModeGrayScale, 1);
  Fill(host);
  ASSERT_TRUE(host.Run(kTestEffect));
  ps::Handle first = host.record.parameters;
  Block(host).strength = 0.0;  // a repeat with other values leaves the image alone
  const std::vector<uint8_t> before = host.pixels;
  ASSERT_TRUE(host.Run(kTestEffect));
  EXPECT_EQ(host.record.parameters, first);
  EXPECT_EQ(host.pixels, before);
}

TEST_F(EntryTest, SelectionBlendsThroughTheMask) {
  FakeHost host(20, 10, ps::plugInModeRGBColor, 3);
  Fill(host);
  std::vector<uint8_t> mask(200);
  for (int x = 0; x < 20; ++x)
    for (int y = 0; y < 10; ++y) mask[size_t(y) * 20 + x] = uint8_t(x < 5 ? 0 : x < 15 ? 128 : 255);
  host.SetSelection(mask);
  const std::vector<uint8_t> before = host.pixels;
  ASSERT_TRUE(host.Run(kTestEffect));
  for (size_t i = 0; i < before.size(); ++i) {
    const int m = mask[i / 3], in = before[i], out = 255 - in;
    ASSERT_EQ(host.pixels[i], in + (out - in) * m / 255) << i;
  }
}

TEST_F(EntryTest, LayerTransparencyIsKeptAndBoundsTheArea) {
  FakeHost host(16, 12, ps::plugInModeRGBColor, 3, true);
  Fill(host);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 16; ++x)
      host.pixels[(size_t(y) * 16 + x) * 4 + 3] = uint8_t(x >= 4 && x < 10 && y >= 2 && y < 7 ? 200 : 0);
  const std::vector<uint8_t> before = host.pixels;
  ASSERT_TRUE(host.Run(kTestEffect));
  ASSERT_EQ(log.tiles.size(), 1u);
  EXPECT_EQ(log.tiles[0], (Rect{4, 2, 10, 7}));
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 16; ++x) {
      const size_t i = (size_t(y) * 16 + x) * 4;
      const bool inside = x >= 4 && x < 10 && y >= 2 && y < 7;
      EXPECT_EQ(host.pixels[i + 3], inside ? 200 * 200 / 255 : 0);
      EXPECT_EQ(host.pixels[i], inside ? 255 - before[i] : before[i]);
    }
}

TEST_F(EntryTest, EmptyLayerIsRefused) {
  FakeHost host(8, 8, ps::plugInModeRGBColor, 3, true);
  EXPECT_FALSE(host.Run(kTestEffect));
  EXPECT_EQ(host.lastResult, 1);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0], Text("Error - Empty Layer"));
}

TEST_F(EntryTest, RequirementsNameWhatIsMissing) {
  needsLayerOrSelection = true;
  {
    FakeHost host(8, 8, ps::plugInModeRGBColor, 3);
    EXPECT_FALSE(host.Run(kTestEffect));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], Text("Error - Needs Selection or Layer"));
  }
  {
    FakeHost host(8, 8, ps::plugInModeRGBColor, 3);
    host.SetSelection(std::vector<uint8_t>(64, 255));
    EXPECT_FALSE(host.Run(kTestEffect));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], Text("Error - Needs Interesting Selection or Layer"));
  }
  {
    FakeHost host(8, 8, ps::plugInModeRGBColor, 3);
    std::vector<uint8_t> mask(64, 255);
    mask[0] = 0;
    host.SetSelection(mask);
    EXPECT_TRUE(host.Run(kTestEffect));
  }
  needsLayerOrSelection = false;
  {
    FakeHost host(8, 8, ps::plugInModeRGBColor, 3);
    host.record.isFloating = true;
    EXPECT_FALSE(host.Run(kTestEffect));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], Text("Error - Floating Selection"));
  }
  {
    FakeHost host(8, 8, ps::plugInModeRGBColor, 3, true);
    host.record.filterCase = ps::filterCaseProtectedTransparencyWithSelection;
    host.record.haveMask = true;
    EXPECT_FALSE(host.Run(kTestEffect));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], Text("Error - Needs Editable Transparency"));
  }
}

TEST_F(EntryTest, TilesAreVisitedFromTheBottomLeft) {
  onePiece = false;
  FakeHost host(1000, 700, ps::plugInModeGrayScale, 1);
  Fill(host);
  const std::vector<uint8_t> before = host.pixels;
  ASSERT_TRUE(host.Run(kTestEffect));
  const std::vector<Rect> expected = {{0, 200, 500, 700}, {500, 200, 1000, 700}, {0, 0, 500, 200}, {500, 0, 1000, 200}};
  EXPECT_EQ(log.tiles, expected);
  for (size_t i = 0; i < before.size(); i += 997) ASSERT_EQ(host.pixels[i], 255 - before[i]);
}

TEST_F(EntryTest, OddTilesCoverTheImageOnce) {
  // The effect's own tiles, and a one-piece effect cut by the host's tile property.
  for (const bool forced : {false, true}) {
    onePiece = forced;
    tileSize = forced ? 500 : 7;
    log = {};
    FakeHost host(23, 17, ps::plugInModeCMYKColor, 4);
    if (forced) host.tileSize = 7;
    Fill(host);
    const std::vector<uint8_t> before = host.pixels;
    ASSERT_TRUE(host.Run(kTestEffect));
    EXPECT_EQ(log.tiles.size(), 4u * 3u) << forced;
    for (size_t i = 0; i < before.size(); ++i) ASSERT_EQ(host.pixels[i], 255 - before[i]) << i;
  }
}

TEST_F(EntryTest, AbortStopsTheRenderAndFinishStillRuns) {
  onePiece = false;
  tileSize = 4;
  FakeHost host(16, 16, ps::plugInModeGrayScale, 1);
  host.abortAfterPolls = 6;
  EXPECT_FALSE(host.Run(kTestEffect));
  EXPECT_EQ(host.lastResult, 1);
  EXPECT_EQ(log.finishes, 1);
  EXPECT_LT(log.tiles.size(), 16u);
  EXPECT_EQ(host.Call(ps::filterSelectorFinish, kTestEffect), 0);
  EXPECT_EQ(host.data, 0);
}

TEST_F(EntryTest, EffectErrorCodesReachTheHost) {
  failWith = ps::memFullErr;
  FakeHost host(8, 8, ps::plugInModeRGBColor, 3);
  EXPECT_FALSE(host.Run(kTestEffect));
  EXPECT_EQ(host.lastResult, ps::memFullErr);
}

TEST_F(EntryTest, ProgressCountsThousandUnitsPerTile) {
  onePiece = false;
  tileSize = 4;
  FakeHost host(8, 8, ps::plugInModeGrayScale, 1);
  // The test effect reports nothing itself; feed the driver's sink from a
  // render to see the host's numbers.
  SetFilterFactoryOverride([](int32_t) -> std::unique_ptr<Filter> {
    struct Reporting : InvertEffect {
      int32_t Render(RenderContext& c) override {
        c.progress->Update(0.5);
        return InvertEffect::Render(c);
      }
    };
    auto effect = std::make_unique<Reporting>();
    effect->onePiece = false;
    effect->tileSize = 4;
    return effect;
  });
  ASSERT_TRUE(host.Run(kTestEffect));
  ASSERT_EQ(host.progress.size(), 4u);
  EXPECT_EQ(host.progress[2], (std::pair<int32_t, int32_t>{2500, 4000}));
}

TEST_F(EntryTest, HostVersionAndRulerUnitsAreAsked) {
  FakeHost host(8, 8, ps::plugInModeRGBColor, 3);
  RunRecord seen;
  SetFilterFactoryOverride([&seen](int32_t) -> std::unique_ptr<Filter> {
    struct Spy : InvertEffect {
      RunRecord* out = nullptr;
      int32_t Render(RenderContext& c) override {
        const RunRecord& run = *Session().run;
        out->hostVersionUnknown = run.hostVersionUnknown;
        out->hostMajorVersion = run.hostMajorVersion;
        out->hostMinorVersion = run.hostMinorVersion;
        out->rulerUnits = run.rulerUnits;
        return InvertEffect::Render(c);
      }
    };
    auto effect = std::make_unique<Spy>();
    effect->out = &seen;
    return effect;
  });
  ASSERT_TRUE(host.Run(kTestEffect));
  EXPECT_EQ(seen.hostVersionUnknown, 0);
  EXPECT_EQ(seen.hostMajorVersion, 12);
  EXPECT_EQ(seen.hostMinorVersion, 1);
  EXPECT_EQ(seen.rulerUnits, 2);

  FakeHost bare(8, 8, ps::plugInModeRGBColor, 3);
  bare.record.propertyProcs = nullptr;
  ASSERT_TRUE(bare.Run(kTestEffect));
  EXPECT_EQ(seen.hostVersionUnknown, 1);
  EXPECT_EQ(seen.rulerUnits, 0);
}

// Scripting: values played from the host's descriptor, and the values
// written back for a recorded action once a dialog was accepted.
struct DialogSpy {
  static inline int shown = 0;
  static inline int32_t answer = 0;
  static int32_t Run(ps::FilterRecord&, RunRecord&, std::span<uint8_t> block) {
    ++shown;
    reinterpret_cast<InvertBlock*>(block.data())->strength = 40.0;
    return answer;
  }
};

class ScriptingTest : public EntryTest {
 protected:
  void SetUp() override {
    EntryTest::SetUp();
    DialogSpy::shown = 0;
    DialogSpy::answer = 0;
  }
  void TearDown() override {
    SetDialogRunner(nullptr);
    EntryTest::TearDown();
  }
  static double WrittenStrength(const FakeHost& host) {
    for (const auto& [key, value] : host.written)
      if (key == ps::FourCC("TSst")) return value.number;
    return -1;
  }
};

TEST_F(ScriptingTest, PlayedValuesAreUsedWithoutTheDialog) {
  SetDialogRunner(&DialogSpy::Run);
  FakeHost host(4, 1, ps::plugInModeGrayScale, 1);
  host.pixels = {0, 100, 200, 255};
  host.SetScript({{ps::FourCC("TSst"), {ps::typeFloat, 50.0, {}, 0}}, {ps::FourCC("Junk"), {ps::typeFloat, 1.0, {}, 0}}},
                 ps::plugInDialogDontDisplay);
  ASSERT_TRUE(host.Run(kTestEffect, true));
  EXPECT_EQ(DialogSpy::shown, 0);
  EXPECT_EQ(Block(host).strength, 50.0);
  EXPECT_EQ(host.pixels, (std::vector<uint8_t>{127, 127, 127, 127}));
  EXPECT_TRUE(host.written.empty()) << "no dialog ran, so nothing is recorded";
  EXPECT_EQ(host.descriptorParameters.descriptor, nullptr) << "the played descriptor is disposed of";
}

TEST_F(ScriptingTest, AnAcceptedDialogIsRecorded) {
  SetDialogRunner(&DialogSpy::Run);
  FakeHost host(4, 4, ps::plugInModeRGBColor, 3);
  host.descriptorParameters.playInfo = ps::plugInDialogDisplay;  // a pick from the menu
  ASSERT_TRUE(host.Run(kTestEffect, true));
  EXPECT_EQ(DialogSpy::shown, 1);
  EXPECT_EQ(WrittenStrength(host), 40.0);
  EXPECT_EQ(host.descriptorParameters.recordInfo, ps::plugInDialogOptional);

  // Shown again when the script asks for the dialog.
  FakeHost again(4, 4, ps::plugInModeRGBColor, 3);
  again.SetScript({{ps::FourCC("TSst"), {ps::typeFloat, 10.0, {}, 0}}}, ps::plugInDialogDisplay);
  ASSERT_TRUE(again.Run(kTestEffect, true));
  EXPECT_EQ(DialogSpy::shown, 2);
  EXPECT_EQ(WrittenStrength(again), 40.0);
}

TEST_F(ScriptingTest, CancelledOrAbsentDialogsRecordNothing) {
  SetDialogRunner(&DialogSpy::Run);
  DialogSpy::answer = 1;
  FakeHost cancelled(4, 4, ps::plugInModeRGBColor, 3);
  cancelled.descriptorParameters.playInfo = ps::plugInDialogDisplay;
  Fill(cancelled);
  const std::vector<uint8_t> before = cancelled.pixels;
  EXPECT_FALSE(cancelled.Run(kTestEffect, true));
  EXPECT_EQ(cancelled.pixels, before);
  EXPECT_TRUE(cancelled.written.empty());

  SetDialogRunner(nullptr);
  FakeHost headless(4, 4, ps::plugInModeRGBColor, 3);
  headless.descriptorParameters.playInfo = ps::plugInDialogDisplay;
  ASSERT_TRUE(headless.Run(kTestEffect, true));
  EXPECT_TRUE(headless.written.empty());
}

TEST_F(ScriptingTest, AValueThatDoesNotReadKeepsThePlayInformation) {
  SetDialogRunner(&DialogSpy::Run);
  FakeHost host(4, 1, ps::plugInModeGrayScale, 1);
  host.SetScript({{ps::FourCC("TSst"), {ps::typeText, 0, "strong", 0}}, {ps::FourCC("TSst"), {ps::typeFloat, 1e9, {}, 0}}},
                 ps::plugInDialogDisplay);
  ASSERT_TRUE(host.Run(kTestEffect));
  EXPECT_EQ(DialogSpy::shown, 1) << "the script asked for the dialog";
  host.SetScript({{ps::FourCC("TSst"), {ps::typeText, 0, "strong", 0}}, {ps::FourCC("TSst"), {ps::typeFloat, 1e9, {}, 0}}},
                 ps::plugInDialogDontDisplay);
  ASSERT_TRUE(host.Run(kTestEffect));
  EXPECT_EQ(DialogSpy::shown, 1);
  EXPECT_EQ(Block(host).strength, 100.0) << "the next value read, pinned to the range";
}

// Whatever bytes a block holds, the core renders values in range, lengths
// measured at the host's own resolution, and refuses a render the host's
// memory cannot hold before it starts.
TEST(UntrustedValues, AreClampedAtTheHostsResolutionAndMemoryIsCheckedFirst) {
  platform::SetResourceFolder(KV_SOURCE_RESOURCE_DIR);
  FakeHost host(40, 30, ps::plugInModeRGBColor, 3);
  host.record.imageHRes = 25400 << 16;
  host.record.maxSpace64 = 16 << 20;
  host.record.parameters = host.handleProcs.newProc(32000);
  std::vector<uint8_t> bytes(sizeof(BurntEdgesBlock), 0xFF);  // no number is a number, no bool a bool
  std::memcpy(bytes.data(), &kBurntEdgesEffect, sizeof kBurntEdgesEffect);
  const Length width{0.12, kUnitInches};
  std::memcpy(bytes.data() + offsetof(BurntEdgesBlock, burnWidth), &width, sizeof width);
  std::memcpy(host.handleProcs.lockProc(host.record.parameters, false), bytes.data(), bytes.size());

  EXPECT_FALSE(host.Run(kBurntEdgesEffect));
  BurntEdgesBlock b;
  std::memcpy(&b, host.handleProcs.lockProc(host.record.parameters, false), sizeof b);
  EXPECT_NEAR(LengthToPixels(b.burnWidth, 25400.0), 300.0, 1e-6) << "0.12 in is 3048 pixels here";
  EXPECT_EQ(LengthToPixels(b.contract, 25400.0), -100.0);
  EXPECT_EQ(b.opacity, 1.0);
  uint8_t hollow = 0;
  std::memcpy(&hollow, &b.hollowEdges, 1);
  EXPECT_EQ(hollow, 1);
  EXPECT_EQ(b.fill.mode, kFillWithColor);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_NE(host.messages[0].find("needs about"), std::string::npos) << host.messages[0];
  EXPECT_NE(host.messages[0].find("allows 16 MB"), std::string::npos) << host.messages[0];
}

}  // namespace
}  // namespace kv::test
