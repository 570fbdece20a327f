#include "hosts/gimp/run_effect.h"

#include <cmath>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "hosts/common/core_library.h"
#include "hosts/common/effect_values.h"
#include "hosts/common/filter_host.h"
#include "hosts/gimp/drawable_pixels.h"
#include "hosts/gimp/procedures.h"
#include "parameters/settings_store.h"
#include "platform/text.h"

namespace kv::gimp {

namespace {

using host::CoreLibrary;
using host::EffectValues;
using host::FilterHost;

// The caller's mistake, as opposed to the effect failing.
class CallingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Assignments separated by ';' or new lines, over `values`.
void Assign(EffectValues& values, std::string_view text) {
  while (!text.empty()) {
    const size_t end = std::min(text.find_first_of(";\n"), text.size());
    const std::string_view item = Trim(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    if (item.empty()) continue;
    const size_t equals = item.find('=');
    if (equals == std::string_view::npos)
      throw CallingError("'" + std::string(item) + "' is not NAME=VALUE, such as \"Random Seed=7\"");
    const std::string_view name = Trim(item.substr(0, equals));
    std::string error = values.Assign(name, item.substr(equals + 1));
    if (error.empty()) continue;
    if (values.List().FindByName(name) == nullptr) {
      error += "; its parameters are ";
      std::string names;
      for (const auto& p : values.List()) names += (names.empty() ? "" : ", ") + p->Name();
      error += names;
    }
    throw CallingError("\"" + std::string(item) + "\": " + error);
  }
}

void Tell(const std::string& text) { gimp_message(text.c_str()); }

// The values as the call gives them: its assignments over the defaults, or
// the effect's Last Used when it gives none.
void StartingValues(EffectValues& values, const std::string& text) {
  if (!Trim(text).empty()) {
    Assign(values, text);
    return;
  }
  SettingsProblems problems;
  if (LoadSetting(values.SettingsName(), LastUsedName(), values.List(), &problems) != 0) return;
  for (const std::string& p : problems) Tell(p);
}

host::Rgb Colour(gboolean (*get)(GimpRGB*)) {
  GimpRGB rgb{};
  get(&rgb);
  host::Rgb c;
  gimp_rgb_get_uchar(&rgb, &c.red, &c.green, &c.blue);
  return c;
}

// The image's unit as the protocol's ruler property numbers them.
int32_t RulerUnits(int32_t image) {
  const GimpUnit unit = gimp_image_get_unit(image);
  switch (unit) {
    case GIMP_UNIT_INCH: return 1;
    case GIMP_UNIT_MM: return 3;
    case GIMP_UNIT_POINT: return 4;
    case GIMP_UNIT_PICA: return 5;
    default: return unit > GIMP_UNIT_PICA && std::fabs(gimp_unit_get_factor(unit) - 2.54) < 1e-6 ? 2 : 0;
  }
}

// The parameters handle a run leaves, kept in GIMP for the session under
// the procedure's name as an editor keeps it for its repeat command, with
// the core's build-id: another build may lay its blocks out anew.
std::optional<std::vector<uint8_t>> KeptParameters(const std::string& procedure, const std::string& buildId) {
  const gint size = gimp_get_data_size(procedure.c_str());
  if (size <= int(buildId.size()) + 1) return std::nullopt;
  std::vector<uint8_t> data(size_t(size), 0);
  if (!gimp_get_data(procedure.c_str(), data.data())) return std::nullopt;
  if (std::string_view(reinterpret_cast<const char*>(data.data())) != buildId) return std::nullopt;
  data.erase(data.begin(), data.begin() + std::ptrdiff_t(buildId.size() + 1));
  return data;
}

void KeepParameters(const std::string& procedure, const std::string& buildId, const std::vector<uint8_t>& block) {
  std::vector<uint8_t> data(buildId.begin(), buildId.end());
  data.push_back(0);
  data.insert(data.end(), block.begin(), block.end());
  gimp_set_data(procedure.c_str(), data.data(), guint32(data.size()));
}

// GIMP's progress bar, fed a hundred times a run at most: every update is
// a call into GIMP.
class Progress {
 public:
  explicit Progress(const std::string& name) { gimp_progress_init(name.c_str()); }
  void Update(int32_t done, int32_t total) {
    const int32_t percent = total > 0 ? int32_t(int64_t(done) * 100 / total) : 0;
    if (percent == shown_) return;
    shown_ = percent;
    gimp_progress_update(percent / 100.0);
  }

 private:
  int32_t shown_ = -1;
};

Answer Run(const Call& call) {
  const CoreLibrary core(host::ChooseCore({}));
  const DescribedEffect* effect = EffectOfProcedure(core.Description(), call.procedure);
  if (effect == nullptr) throw CallingError("the effects core has no effect for " + call.procedure);
  const int32_t number = effect->description.number;
  const std::string& name = effect->description.name.text;
  const std::string& buildId = core.Description().buildId;

  DrawablePixels pixels(call.image, call.drawable);
  Document& document = pixels.Pixels();
  FilterHost host(document, core.Entry(), number);
  if (!pixels.Selection().empty()) host.SetSelection(pixels.Selection());
  host.SetColors(Colour(gimp_context_get_foreground), Colour(gimp_context_get_background));
  host.SetRulerUnits(RulerUnits(call.image));

  EffectValues values(*effect, document.xResolution);
  // Positions are given in the image's pixels, the layer may lie anywhere in it.
  const Point at = pixels.Offset();
  values.SetPositionFrame(
      {host.WorkingArea().Offset(at.x, at.y), {0, 0, gimp_image_width(call.image), gimp_image_height(call.image)}});
  const bool repeat = call.mode == GIMP_RUN_WITH_LAST_VALS;
  const std::optional<std::vector<uint8_t>> kept = repeat ? KeptParameters(call.procedure, buildId) : std::nullopt;
  if (kept) {
    host.SetParameters(*kept);
  } else {
    StartingValues(values, repeat ? std::string() : call.values);
    host.SetScript(values.Values());
  }
  if (!pixels.Conversion().empty())
    Tell(name + " works at 8 bits per channel with perceptual values: this layer's " + pixels.Conversion() +
         " samples are converted for it, and those it leaves unchanged keep their precision.");

  Progress progress(name);
  host.hooks.progress = [&progress](int32_t done, int32_t total) { progress.Update(done, total); };
  std::string told;
  host.hooks.message = [&told](int32_t, const std::string&, const std::string& text) {
    told += (told.empty() ? "" : "\n") + text;
  };
  const int16_t result = host.Run(call.mode == GIMP_RUN_INTERACTIVE);
  if (result == ps::reportedToUser && host.DialogShown() && host.MessagesShown() == 0) return {GIMP_PDB_CANCEL, {}};
  if (result != 0)
    return {GIMP_PDB_EXECUTION_ERROR,
            result == ps::reportedToUser && !told.empty() ? told : name + " failed: " + host::DescribeResult(result)};

  pixels.Commit(host.Written());
  if (call.mode != GIMP_RUN_NONINTERACTIVE) gimp_displays_flush();
  if (!told.empty()) Tell(told);
  // The dialog may have switched to another effect: the block is that one's.
  const int32_t rendered = host.ParametersEffect();
  for (const DescribedEffect& e : core.Description().effects)
    if (e.description.number == rendered) KeepParameters(ProcedureName(e.description), buildId, host.Parameters());
  // The dialog's OK keeps Last Used itself; a run without it keeps what it
  // was handed, as kalvero does.
  if (!host.DialogShown() && !kept && rendered == number) {
    SettingsProblems problems;
    if (StoreLastUsed(values.SettingsName(), values.List(), &problems) != 0)
      Tell("The values could not be kept as Last Used" + (problems.empty() ? "." : ": " + problems.front()));
  }
  return {};
}

}  // namespace

Answer RunEffect(const Call& call) {
  try {
    return Run(call);
  } catch (const CallingError& e) {
    return {GIMP_PDB_CALLING_ERROR, e.what()};
  } catch (const std::bad_alloc&) {
    return {GIMP_PDB_EXECUTION_ERROR, "out of memory"};
  } catch (const std::exception& e) {
    return {GIMP_PDB_EXECUTION_ERROR, e.what()};
  }
}

}  // namespace kv::gimp
