// kalvero-describe CORE RESOURCES: writes the description of the effects in
// this build into RESOURCES (the resource folder beside CORE), from the
// effects' own parameter lists and the texts of the string table there,
// stamped with CORE's build-id. Run by the build after the core is linked;
// hosts read the description instead of linking any effect.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <vector>

#include "effects/filter_table.h"
#include "framework/filter.h"
#include "hosts/common/build_id.h"
#include "hosts/common/description_json.h"
#include "hosts/common/effect_values.h"
#include "parameters/parameters.h"
#include "platform/string_table.h"
#include "platform/system.h"

namespace {

using namespace kv;
using namespace kv::host;

KeyedText Keyed(const std::string& key) { return {key, key.empty() ? std::string() : strings::Text(key)}; }

DescribedEffect Describe(int32_t number, Filter& effect) {
  DescribedEffect described;
  EffectDescription& d = described.description;
  d.number = number;
  d.name = Keyed(EffectNameKey(number));
  d.settingsName = effect.SettingsName();
  d.helpPage = effect.HelpPage();
  d.supportsCMYK = effect.SupportsCMYK();
  d.needsSelection = effect.NeedsSelection();
  d.needsSelectionOrLayer = effect.NeedsSelectionOrLayer();
  d.supportsScripting = effect.SupportsScripting();
  d.minimumWidth = effect.MinimumSize().width;
  d.minimumHeight = effect.MinimumSize().height;

  std::vector<uint8_t> block(std::max<size_t>(effect.ParameterBlockSize(), sizeof(int32_t)));
  effect.SetDefaults(block.data());
  ParameterList list;
  if (effect.BuildParameters(list, block.data()) != 0) throw std::runtime_error("its parameters cannot be built");
  d.dialogHelp = Keyed(list.dialogHelp);
  for (const std::string& page : list.pages) d.pages.push_back(Keyed(page));
  for (const auto& p : list) d.parameters.push_back(kv::Describe(*p));
  std::optional<Descriptor> defaults = Written(list);
  if (!defaults) throw std::runtime_error("its defaults cannot be written as a script");
  described.defaults = std::move(*defaults);
  return described;
}

void Write(const std::filesystem::path& file, const std::string& text) {
  const std::filesystem::path temporary = file.string() + ".partial";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) throw std::runtime_error("cannot write '" + temporary.string() + "'");
  }
  std::filesystem::rename(temporary, file);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kalvero-describe CORE RESOURCES\n");
    return 1;
  }
  const std::filesystem::path core = argv[1], resources = argv[2];
  try {
    CoreDescription description;
    description.buildId = BuildIdOfFile(core);
    if (description.buildId.empty()) throw std::runtime_error("'" + core.string() + "' carries no build-id");
    platform::SetResourceFolder(resources);
    std::string error;
    if (strings::Load(error) != 0) throw std::runtime_error("the string table in '" + resources.string() + "': " + error);
    for (int32_t number = 0; number < kEffectCount; ++number) {
      std::unique_ptr<Filter> effect = CreateFilter(number);
      if (effect == nullptr) continue;
      try {
        description.effects.push_back(Describe(number, *effect));
      } catch (const std::runtime_error& e) {
        throw std::runtime_error("effect " + std::to_string(number) + ": " + e.what());
      }
    }
    Write(resources / kDescriptionFile, DescriptionJson(description));
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kalvero-describe: %s\n", e.what());
    return 1;
  }
}
