// What the effects ship beside the core: their settings and help pages.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "effects/filter_table.h"
#include "framework/settings_block.h"
#include "parameters/parameters.h"
#include "platform/product.h"
#include "platform/system.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;

size_t FileCount(const fs::path& folder) {
  size_t n = 0;
  if (fs::exists(folder))
    for (const auto& entry : fs::directory_iterator(folder)) n += entry.is_regular_file();
  return n;
}

// Every file shipped for an effect in this build is listed and reads cleanly.
TEST(ShippedSettings, AllReadWithoutAProblem) {
  platform::SetResourceFolder(KV_SOURCE_RESOURCE_DIR);
  for (int32_t id = 0; id < kEffectCount; ++id) {
    std::unique_ptr<Filter> effect = CreateBuiltInFilter(id);
    if (effect == nullptr) continue;
    const fs::path folder = fs::path(KV_SOURCE_RESOURCE_DIR) / "Settings" / effect->SettingsName();
    std::vector<std::string> names;
    SettingsProblems problems;
    EXPECT_EQ(ListShippedSettings(effect->SettingsName(), names, &problems), 0);
    EXPECT_EQ(names.size(), FileCount(folder)) << effect->SettingsName();
    EXPECT_GE(names.size(), 3u) << effect->SettingsName() << " ships too few";
    for (const std::string& name : names) {
      std::vector<uint8_t> block(effect->ParameterBlockSize());
      effect->SetDefaults(block.data());
      const std::vector<uint8_t> defaults = block;
      EXPECT_EQ(LoadSetting(*effect, name, block, 72.0, &problems), 0) << name;
      EXPECT_NE(block, defaults) << name;
      // Reading skips keys no parameter has, so a renamed key would quietly
      // give the default.
      ParameterList list;
      ASSERT_EQ(effect->BuildParameters(list, block.data()), 0);
      std::ifstream file(folder / name);
      std::string line;
      std::getline(file, line);
      while (std::getline(file, line)) {
        uint32_t key = 0;
        EXPECT_TRUE(std::sscanf(line.c_str(), "%u", &key) == 1 && list.Find(key) != nullptr) << name << ": " << line;
      }
    }
    EXPECT_TRUE(problems.empty()) << problems.front();
  }
  platform::SetResourceFolder("");
}

// The dialog's help command opens these pages; a missing page or picture is
// found only by a user who asks for help.
TEST(HelpPages, EveryEffectHasItsPageAndTheContentsLinkOnlyToPagesThatExist) {
  const fs::path help = fs::path(KV_SOURCE_RESOURCE_DIR) / "Help";
  const auto read = [](const fs::path& file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const auto referenced = [&](const fs::path& page, const char* attribute) {
    const std::string text = read(page);
    const std::string start = std::string(attribute) + "=\"";
    for (size_t at = text.find(start); at != std::string::npos; at = text.find(start, at + 1)) {
      const size_t from = at + start.size();
      const std::string target = text.substr(from, text.find('"', from) - from);
      EXPECT_TRUE(fs::exists(help / target)) << page.filename() << " refers to the missing " << target;
    }
  };
  for (const char* page : {kContentsHelpPage, kErrorsHelpPage}) ASSERT_TRUE(fs::exists(help / page)) << page;
  referenced(help / kContentsHelpPage, "href");
  const std::string contents = read(help / kContentsHelpPage);
  for (int32_t id = 0; id < kEffectCount; ++id) {
    std::unique_ptr<Filter> effect = CreateBuiltInFilter(id);
    if (effect == nullptr) continue;
    const fs::path page = help / effect->HelpPage();
    ASSERT_TRUE(fs::exists(page)) << effect->HelpPage();
    referenced(page, "src");
    EXPECT_NE(contents.find("href=\"" + effect->HelpPage() + "\""), std::string::npos) << effect->HelpPage();
  }
}

}  // namespace
}  // namespace kv::test
