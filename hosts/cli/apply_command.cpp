#include "hosts/cli/apply_command.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "hosts/cli/atomic_file.h"
#include "hosts/common/effect_values.h"
#include "hosts/common/filter_host.h"
#include "hosts/cli/image_files.h"
#include "hosts/cli/interrupt.h"
#include "hosts/cli/memory_budget.h"
#include "hosts/cli/progress_bar.h"
#include "hosts/common/descriptor.h"
#include "parameters/settings_store.h"
#include "platform/file_system.h"

namespace kv::cli {

using host::DescribedEffect;
using host::DescribeResult;
using host::Descriptor;
using host::EffectValues;
using host::FilterHost;
using host::FromJson;
using host::ToJson;

namespace {

constexpr uint32_t kSeedKey = ps::FourCC("RndS");

void PrintWarning(const std::string& text) { Complain("warning: " + text); }

// A recorded script is a few kilobytes.
constexpr size_t kMaxScriptBytes = 1 << 20;

Descriptor ReadScript(const std::string& file) {
  std::string text, why;
  if (!platform::ReadRegularFile(file, kMaxScriptBytes, text, why))
    throw FileError("cannot read script '" + file + "': " + why);
  try {
    return FromJson(text);
  } catch (const std::runtime_error& e) {
    throw FileError("cannot read script '" + file + "': " + e.what() +
                    "; a script is a JSON object of four-character keys, as --record writes it");
  }
}

void WriteRecord(const std::string& file, const std::filesystem::path& temp, const Descriptor& recorded) {
  std::ofstream out(temp, std::ios::binary | std::ios::trunc);
  out << ToJson(recorded);
  out.close();
  if (!out) throw FileError("cannot write record '" + file + "': the data could not be written; the disk may be full");
}

int Run(const ApplyOptions& o, const CoreLibrary& core) {
  std::string why;
  const DescribedEffect* described = core.Find(o.effect, why);
  if (described == nullptr) throw UsageError(why);
  const int32_t number = described->description.number;

  if (o.compression != kDefaultCompression && FormatForName(o.output) == FileFormat::JPEG)
    PrintWarning("--compression does not change JPEG files");
  Document document = ReadImage(o.input, PrintWarning);
  // Every file the run writes is begun now: a place that cannot be written
  // is refused before the render, and the files appear together or not at
  // all.
  CheckWritable(document, o.output);
  if (!o.record.empty() && std::filesystem::path(o.record) == std::filesystem::path(o.output))
    throw UsageError("--record '" + o.record + "' names the output image; give the record a file of its own");
  PendingFiles outputs;
  const std::filesystem::path imageTemp = outputs.Add(o.output);
  const std::filesystem::path recordTemp = o.record.empty() ? std::filesystem::path() : outputs.Add(o.record);
  FilterHost host(document, core.Entry(), number);
  if (!o.selection.empty()) {
    try {
      host.SetSelection(ReadSelection(o.selection, document.width, document.height, PrintWarning));
    } catch (const std::invalid_argument& e) {
      throw FileError("selection '" + o.selection + "': " + e.what());
    }
  }
  // The values, as the effect's own parameters take them: the defaults,
  // then a stored setting, a script, --set and --seed. Lengths in the
  // image's units need its resolution, positions in its pixels the area the
  // effect will work on.
  EffectValues values(*described, document.xResolution);
  values.SetPositionFrame({host.WorkingArea(), {0, 0, document.width, document.height}});
  ApplyValueOptions(o, values, PrintWarning);

  // Handed over as a host replays an action: the whole script, the dialog
  // shown only when asked for, and the parameters handle left to the core.
  const Descriptor handed = values.Values();
  host.SetColors(o.foreground, o.background);
  host.SetScript(handed);
  host.SetTileSize(o.tileSize);

  // The images kalvero holds come first; the core is told what is left.
  const uint64_t held =
      document.pixels.size() + (o.selection.empty() ? 0 : uint64_t(document.width) * uint64_t(document.height));
  if (const std::string shortfall = MemoryShortfall(held + host.MemoryNeeded()); !shortfall.empty()) {
    Complain("applying " + values.Name() + " to '" + o.input + "' " + shortfall + "; nothing written");
    return kExitEffect;
  }
  host.SetMemoryAllowance(MemoryAllowance() - held - host.MemoryNeeded());

  ProgressBar bar(values.Name(), !o.quiet && ::isatty(STDERR_FILENO));
  host.hooks.shouldAbort = Interrupted;
  host.hooks.progress = [&bar, &o](int32_t done, int32_t total) {
    bar.Update(done, total);
    if (o.progress) o.progress(done, total);
  };

  const int16_t result = host.Run(o.dialog);
  // A dialog that ended without a word from the core was cancelled.
  const bool dialogCancelled = result == ps::reportedToUser && host.DialogShown() && host.MessagesShown() == 0;
  if (Interrupted() || dialogCancelled) {
    Complain("cancelled; nothing written");
    return kExitCancelled;
  }
  // An image editor greys such an effect out for CMYK images; here the
  // core's refusal says nothing.
  if (result == ps::reportedToUser && document.mode == Mode::CMYK && !values.Effect().supportsCMYK) {
    Complain(values.Name() + " does not work on CMYK images; convert the image to RGB first");
    return kExitEffect;
  }
  if (result == ps::reportedToUser) {  // the core has said why
    // Its words are an image editor's; here the selection is an option.
    if (values.Effect().needsSelectionOrLayer && o.selection.empty() && !document.hasAlpha)
      Complain("give " + values.Name() + " a selection with --selection MASK.png, or an image with transparency");
    return kExitEffect;
  }
  if (result != 0) {
    Complain(values.Name() + " failed: " + DescribeResult(result));
    return kExitEffect;
  }
  WriteImageAs(document, o.output, imageTemp, o.compression);
  // The dialog may have switched to another effect, which kept its own
  // Last Used; its values mean nothing to this effect's.
  const int32_t rendered = host.ParametersEffect();
  if (rendered != number) {
    std::string other = "another effect";
    for (const DescribedEffect& e : core.Description().effects)
      if (e.description.number == rendered) other = e.description.name.text;
    if (!o.record.empty()) outputs.Drop(o.record);
    outputs.Commit(Interrupted);
    PrintWarning("the dialog switched to " + other + ", which made the output" +
                 (o.record.empty() ? "" : "; nothing recorded"));
    return kExitOk;
  }
  if (!o.record.empty()) WriteRecord(o.record, recordTemp, host.Recorded() ? *host.Recorded() : handed);
  outputs.Commit(Interrupted);
  // The core keeps Last Used when its dialog is confirmed; without one the
  // values are those handed over.
  if (!host.DialogShown() && o.keepLastUsed) {
    SettingsProblems problems;
    if (StoreLastUsed(values.SettingsName(), values.List(), &problems) != 0)
      PrintWarning("the values could not be kept as Last Used" + (problems.empty() ? "" : ": " + problems.front()));
  }
  return kExitOk;
}

}  // namespace

void Complain(const std::string& text) { std::fprintf(stderr, "kalvero: %s\n", text.c_str()); }

void ApplyValueOptions(const ApplyOptions& o, EffectValues& values,
                       const std::function<void(const std::string&)>& warn) {
  if (!o.settings.empty()) {
    const std::string setting = MatchingSettingName(values.SettingsName(), o.settings);
    SettingsProblems problems;
    if (LoadSetting(values.SettingsName(), setting, values.List(), &problems) != 0) {
      // A setting that is there but cannot be read is a file's fault, not the command line's.
      bool there = false;
      for (const SettingsSource source : {SettingsSource::User, SettingsSource::Shipped}) {
        FolderReference file;
        there = there || (SettingFile(values.SettingsName(), setting, source, file) == 0 && file->Exists());
      }
      if (there && !problems.empty()) throw FileError(problems.front());
      const std::string reason = problems.empty() ? "'" + setting + "' is not a setting of " + values.Name()
                                                  : problems.front();
      throw UsageError(reason + "; 'kalvero settings list " + values.SettingsName() + "' shows them");
    }
    for (const std::string& p : problems) warn(p);
  }
  if (!o.script.empty()) {
    const std::string refused = values.Play(ReadScript(o.script), warn);
    if (!refused.empty()) throw UsageError(o.script + ": " + refused);
  }
  for (const std::string& assignment : o.sets) {
    const std::string error = values.Set(assignment);
    if (!error.empty()) throw UsageError(error);
  }
  if (o.seed) {
    FilterParameter* seed = values.List().Find(kSeedKey);
    std::string error;
    if (seed == nullptr) throw UsageError(values.Name() + " has no random seed");
    if (seed->SetFromText(std::to_string(*o.seed), error) != 0) throw UsageError(error);
  }
}

int RunApply(const ApplyOptions& options, const CoreLibrary& core) {
  try {
    return Run(options, core);
  } catch (const UsageError& e) {
    Complain(e.what());
    return kExitUsage;
  } catch (const WriteCancelled&) {
    Complain("cancelled; nothing written");
    return kExitCancelled;
  } catch (const FileError& e) {
    Complain(e.what());
    return kExitFile;
  } catch (const std::bad_alloc&) {
    Complain("out of memory");
    return kExitEffect;
  } catch (const std::invalid_argument& e) {
    Complain(options.input + ": " + e.what());
    return kExitFile;
  }
}

}  // namespace kv::cli
