#include "hosts/cli/apply_command.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "hosts/cli/atomic_file.h"
#include "hosts/cli/descriptor.h"
#include "hosts/cli/effect_names.h"
#include "hosts/cli/filter_host.h"
#include "hosts/cli/image_files.h"
#include "hosts/cli/interrupt.h"
#include "hosts/cli/parameter_block.h"
#include "hosts/cli/progress_bar.h"
#include "parameters/settings_store.h"

namespace kv::cli {

namespace {

constexpr uint32_t kSeedKey = ps::FourCC("RndS");

void PrintWarning(const std::string& text) { Complain("warning: " + text); }

Descriptor ReadScript(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw FileError("cannot read script '" + file + "': no such file or not readable");
  std::stringstream text;
  text << in.rdbuf();
  try {
    return FromJson(text.str());
  } catch (const std::runtime_error& e) {
    throw FileError("cannot read script '" + file + "': " + e.what());
  }
}

void WriteRecord(const std::string& file, const Descriptor& recorded) {
  const std::string json = ToJson(recorded);
  WriteThroughTemporary(file, [&](const std::filesystem::path& temp) {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << json;
    out.close();
    if (!out) throw FileError("cannot write record '" + file + "'");
  });
}

int Run(const ApplyOptions& o, ps::EntryPointProc entry) {
  const char* name = kEffects[size_t(o.effect)].name;
  std::optional<Descriptor> script;
  if (!o.script.empty()) script = ReadScript(o.script);
  // The seed is played as a scripted value, over the script's own.
  if (o.seed) {
    if (!script) script.emplace();
    script->Put(kSeedKey, int32_t(*o.seed));
  }

  Document document = ReadImage(o.input, PrintWarning);
  FilterHost host(document, entry, o.effect);
  if (!o.selection.empty()) {
    try {
      host.SetSelection(ReadSelection(o.selection, document.width, document.height, PrintWarning));
    } catch (const std::invalid_argument& e) {
      throw FileError("selection '" + o.selection + "': " + e.what());
    }
  }
  // Lengths in the image's units need its resolution, positions in its
  // pixels the area the effect will work on.
  ParameterBlock block(o.effect, document.xResolution);
  block.SetPositionFrame({host.WorkingArea(), {0, 0, document.width, document.height}});
  if (!o.settings.empty()) {
    const std::string setting = MatchingSettingName(block.Effect().SettingsName(), o.settings);
    SettingsProblems problems;
    if (LoadSetting(block.Effect().SettingsName(), setting, block.List(), &problems) != 0) {
      const std::string why = problems.empty() ? "'" + setting + "' is not a setting of " + name : problems.front();
      throw UsageError(why + "; 'kalvero settings list " + kEffects[size_t(o.effect)].settingsName +
                       "' shows them");
    }
  }
  for (const std::string& assignment : o.sets) {
    FilterParameter* changed = nullptr;
    const std::string error = block.Set(assignment, &changed);
    if (!error.empty()) throw UsageError(error);
    // A value given on the command line wins over the script's.
    for (int32_t i = 0; script && i < changed->KeyCount(); ++i) script->Erase(changed->Key(i));
  }

  host.SetColors(o.foreground, o.background);
  host.SetParameters(block.Bytes());
  if (script) host.SetScript(*script);

  ProgressBar bar(name, !o.quiet && ::isatty(STDERR_FILENO));
  host.hooks.shouldAbort = Interrupted;
  host.hooks.progress = [&bar](int32_t done, int32_t total) { bar.Update(done, total); };

  // With the dialog as when the user picks the effect from a menu, else as
  // when the last filter is repeated.
  const int16_t result = host.Run(o.dialog);
  // A dialog that ended without a word from the core was cancelled.
  const bool dialogCancelled = result == ps::reportedToUser && host.DialogShown() && host.MessagesShown() == 0;
  if (Interrupted() || dialogCancelled) {
    Complain("cancelled; nothing written");
    return kExitCancelled;
  }
  if (result == ps::reportedToUser) {  // the core has said why
    // Its words are an image editor's; here the selection is an option.
    if (block.Effect().NeedsSelectionOrLayer() && o.selection.empty() && !document.hasAlpha)
      Complain("give " + std::string(name) + " a selection with --selection MASK.png, or an image with transparency");
    return kExitEffect;
  }
  if (result != 0) {
    Complain(std::string(name) + " failed: " + DescribeResult(result));
    return kExitEffect;
  }
  WriteImage(document, o.output, Interrupted);
  // The dialog may have switched to another effect, which kept its own
  // Last Used; its values mean nothing to this effect's.
  const std::vector<uint8_t> used = host.Parameters();
  const int32_t rendered = used.size() >= sizeof(int32_t) ? BlockEffectNumber(used.data()) : o.effect;
  if (rendered != o.effect) {
    if (rendered >= 0 && rendered < int32_t(kEffects.size()))
      PrintWarning(std::string("the dialog switched to ") + kEffects[size_t(rendered)].name +
                   ", which made the output" + (o.record.empty() ? "" : "; nothing recorded"));
    return kExitOk;
  }
  if (!block.Adopt(used) || StoreLastUsed(block.Effect().SettingsName(), block.List()) != 0)
    PrintWarning("the values could not be kept as Last Used");
  if (!o.record.empty()) {
    // The core writes its values when its dialog was accepted; otherwise
    // they are the block it rendered with, written as it would write them.
    if (host.Recorded()) {
      WriteRecord(o.record, *host.Recorded());
    } else {
      if (!block.Adopt(used)) throw FileError("the effect left no values to record");
      WriteRecord(o.record, block.Values());
    }
  }
  return kExitOk;
}

}  // namespace

void Complain(const std::string& text) { std::fprintf(stderr, "kalvero: %s\n", text.c_str()); }

std::string DescribeResult(int16_t result) {
  std::string what;
  switch (result) {
    case ps::memFullErr: what = "out of memory"; break;
    case ps::generalFailure: what = "general failure"; break;
    case ps::userCanceledErr: case ps::errHostCancelled: what = "cancelled"; break;
    case kErrWrongType: what = "a scripted value has the wrong type for this effect"; break;
    case ps::errPlugInHostInsufficient: what = "it needs a service kalvero does not offer"; break;
    default: what = "error"; break;
  }
  return what + " (" + std::to_string(result) + ")";
}

int RunApply(const ApplyOptions& options, ps::EntryPointProc entry) {
  try {
    return Run(options, entry);
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
