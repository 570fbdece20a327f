// The built core driven through its exported entry point by a small host,
// at the edges of the protocol a harness of our own once found broken.
#include <gtest/gtest.h>
#include <dlfcn.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "effects/television/television.h"
#include "tests/support/fake_host.h"
#include "tests/support/loaded_core.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;

constexpr int32_t kTelevision = 13, kBurntEdges = 0;

FakeHost Host(int width = 40, int height = 30) {
  FakeHost host(width, height, ps::plugInModeRGBColor, 3);
  host.entry = Core().entry;
  for (size_t i = 0; i < host.pixels.size(); ++i) host.pixels[i] = uint8_t(i * 7 % 251);
  return host;
}

TelevisionBlock& Block(FakeHost& host) {
  return *reinterpret_cast<TelevisionBlock*>(host.handleProcs.lockProc(host.record.parameters, false));
}

// A host that keeps only the effect's block hands back a handle of that size.
TEST(ExportedEntry, AHandleSizedToTheBlockIsUsedWithinItsSize) {
  FakeHost host = Host();
  const uint32_t size = Television().ParameterBlockSize();
  host.record.parameters = host.handleProcs.newProc(int32_t(size));
  Television().SetDefaults(&Block(host));
  Block(host).curvature = 80.0;
  ASSERT_TRUE(host.Run(kTelevision, true));
  EXPECT_TRUE(FakeHost::HandleIntact(host.record.parameters));
  EXPECT_EQ(host.handleProcs.getSizeProc(host.record.parameters), int32_t(size));
  EXPECT_EQ(Block(host).curvature, 80.0) << "the block was the host's, not replaced";
}

// "The whole image" is the area grown by a million pixels: the host must
// hear the image, not that number cut to 16 bits.
TEST(ExportedEntry, TheAreaQueryAnswersWithinTheImage) {
  FakeHost host = Host(300, 200);
  host.record.inRect = {10, 20, 50, 60};
  ASSERT_EQ(host.Call(ps::filterSelectorAreaQuery, kBurntEdges), 0);
  const ps::Rect16 out = host.record.outRect;
  EXPECT_EQ((std::array{out.top, out.left, out.bottom, out.right}), (std::array<int16_t, 4>{0, 0, 200, 300}));
  EXPECT_EQ(host.Call(ps::filterSelectorFinish, kBurntEdges), 0);
  EXPECT_EQ(host.data, 0);
}

// A value of the wrong type spoils its own key only.
TEST(ExportedEntry, AScriptedValueOfTheWrongTypeLeavesTheRestOfTheScript) {
  FakeHost host = Host();
  host.SetScript({{ps::FourCC("TEcu"), {ps::typeText, 0, "lots", 0}},
                  {ps::FourCC("TEsc"), {ps::typeFloat, 7, {}, 0}},
                  {ps::FourCC("RndS"), {ps::typeInteger, 70000, {}, 0}},
                  {ps::FourCC("TEst"), {ps::typeFloat, 0, {}, 0}}},
                 ps::plugInDialogDontDisplay);
  ASSERT_TRUE(host.Run(kTelevision));
  TelevisionBlock defaults;
  Television().SetDefaults(&defaults);
  EXPECT_EQ(Block(host).curvature, defaults.curvature);
  EXPECT_EQ(Block(host).monochromeColor, defaults.monochromeColor) << "a number is no colour";
  EXPECT_EQ(Block(host).randomSeed, 70000 % 65536) << "a seed keeps its 16 bits";
  EXPECT_EQ(Block(host).staticAmount, 0.0);
}

// A host that never calls SetResourceHandle: the core's texts come from
// the resource folder beside it. This binary never names one to the core.
TEST(ExportedEntry, WithoutSetResourceHandleTheTextsBesideTheCoreAreUsed) {
  FakeHost weak = Host();
  weak.record.colorServices = nullptr;
  EXPECT_FALSE(weak.Run(kTelevision));
  ASSERT_EQ(weak.messages.size(), 1u);
  EXPECT_NE(weak.messages[0].find("services"), std::string::npos) << weak.messages[0];
  EXPECT_EQ(weak.messages[0].find("Lost String"), std::string::npos) << weak.messages[0];
  FakeHost host = Host();
  EXPECT_TRUE(host.Run(kTelevision));
}

// A string table that fails to load fails the call and keeps no record
// that a host, having seen the failure, would never finish.
TEST(ExportedEntry, AFailedStringTableLoadLeavesNoRunBehind) {
  const fs::path folder = fs::temp_directory_path() / ("kv-core-copy-" + std::to_string(::getpid()));
  fs::create_directories(folder / "resources" / "BF_UNICODE_STRING_TABLE");
  fs::copy_file(KV_CORE_FILE, folder / "libkalvero-core.so", fs::copy_options::overwrite_existing);
  const fs::path table = folder / "resources" / "BF_UNICODE_STRING_TABLE" / "1";
  std::ofstream(table) << "no byte-order mark";
  void* module = dlopen((folder / "libkalvero-core.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr);
  FakeHost host = Host();
  host.entry = reinterpret_cast<ps::EntryPointProc>(dlsym(module, "Photoshop_Entry_Point"));

  for (int16_t selector : {ps::filterSelectorParameters, ps::filterSelectorPrepare}) {
    EXPECT_EQ(host.Call(selector, kTelevision), -1) << selector;
    EXPECT_EQ(host.data, 0) << selector;
  }
  fs::copy_file(fs::path(KV_RESOURCE_DIR) / "BF_UNICODE_STRING_TABLE" / "1", table, fs::copy_options::overwrite_existing);
  EXPECT_TRUE(host.Run(kTelevision, true));
  EXPECT_EQ(host.data, 0);
  dlclose(module);
  fs::remove_all(folder);
}

// A host loads one small module per effect; each hands every call to the
// core beside it with its effect's number.
TEST(PluginModules, EachDrivesTheCoreBesideItWithItsEffect) {
  using PluginMain = void (*)(int16_t, void*, intptr_t*, int16_t*);
  const fs::path file = fs::path(KV_CORE_FILE).parent_path() / "Kalvero2-Television.so";
  void* module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  const auto plugin = reinterpret_cast<PluginMain>(dlsym(module, "PluginMain"));
  ASSERT_NE(plugin, nullptr);
  FakeHost host = Host();
  const std::vector<uint8_t> before = host.pixels;
  int16_t result = -1;
  for (int16_t selector : {ps::filterSelectorPrepare, ps::filterSelectorStart, ps::filterSelectorContinue,
                           ps::filterSelectorFinish}) {
    plugin(selector, &host.record, &host.data, &result);
    ASSERT_EQ(result, 0) << selector;
  }
  EXPECT_EQ(host.data, 0);
  EXPECT_EQ(Block(host).filterId, kTelevision);
  dlclose(module);

  // Without a core beside it, every call fails plainly.
  const fs::path alone = fs::temp_directory_path() / ("kv-plugin-alone-" + std::to_string(::getpid()));
  fs::create_directories(alone);
  fs::copy_file(file, alone / file.filename(), fs::copy_options::overwrite_existing);
  void* orphan = dlopen((alone / file.filename()).c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(orphan, nullptr);
  reinterpret_cast<PluginMain>(dlsym(orphan, "PluginMain"))(ps::filterSelectorPrepare, &host.record, &host.data,
                                                             &result);
  EXPECT_EQ(result, -1);
  dlclose(orphan);
  fs::remove_all(alone);
}

}  // namespace
}  // namespace kv::test
