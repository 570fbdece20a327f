// kalvero: applies the suite's effects to image files from the command line.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>

#include "hosts/cli/apply_command.h"
#include "hosts/cli/batch.h"
#include "hosts/cli/completion.h"
#include "hosts/common/core_library.h"
#include "hosts/common/document.h"
#include "hosts/common/filter_host.h"
#include "hosts/common/effect_values.h"
#include "hosts/cli/interrupt.h"
#include "hosts/cli/seed_option.h"
#include "hosts/cli/settings_command.h"
#include "hosts/cli/version.h"

namespace {

using namespace kv::cli;
using namespace kv::host;

constexpr const char* kFooter = R"(
Examples:
  kalvero list
  kalvero params television
  kalvero apply television photo.png tv.png --seed 7
  kalvero apply television photo.png tv.png --set "Curvature=80" --set "Scanline Thickness=0.1 cm"
  kalvero apply "Burnt Edges" scan.tif burnt.tif --selection oval.png
  kalvero apply 8 sky.jpg storm.jpg --foreground "#ffe080" --record storm.json
  kalvero apply lightning sky.jpg again.jpg --script storm.json
  kalvero apply electrify cup.png zap.png --selection cup-mask.png --dialog
  kalvero apply television photos/ --output-dir tv/ --jobs 2
  kalvero apply television *.jpg --output-name "{stem}-tv.{ext}"
  kalvero apply television frames/ --output-dir out/ --shard "$SLURM_ARRAY_TASK_ID/64"

Effects are named by number (0-13) or by name in any case, with or without
spaces. Images are PNG, JPEG or TIFF, in grey, RGB, CMYK (TIFF, JPEG) or Lab
(TIFF); the output's format follows its extension and keeps the input's
mode, size and resolution. --record writes the values the effect used as
JSON; --script plays such a file back, giving the same picture again.
--dialog opens the effect's window, as picking the effect from an image
editor's menu does: change the values while the preview follows, then OK
renders OUT with them (and --record writes them), Cancel leaves it unwritten.

A batch (--output-dir or --output-name) reads every image given and every
PNG, JPEG and TIFF file in the folders given, renders each in a process of
its own, skips outputs that exist unless --overwrite, names each file that
fails and goes on, and ends with a line that counts them.

Exit status: 0 done, 1 wrong command line, 2 a file could not be read or
written, 3 the effect refused the image or failed (or the dialog could not
be shown), 130 stopped by Ctrl-C or the dialog's Cancel. A batch answers
the largest status of its failed images, 0 when none failed.
The effects core is the one installed with kalvero, or libkalvero-core.so
beside it, or the one --core or $KALVERO_CORE names. See man kalvero.)";

int Usage(const std::string& text) {
  Complain(text);
  std::fprintf(stderr, "Run 'kalvero --help' for more.\n");
  return kExitUsage;
}

int List(const CoreLibrary& core) {
  for (const DescribedEffect& e : core.Description().effects)
    std::printf("%2d  %-22s (%s)\n", e.description.number, e.description.name.text.c_str(),
                e.description.settingsName.c_str());
  return kExitOk;
}

int Params(const CoreLibrary& core, const std::string& effect) {
  std::string why;
  const DescribedEffect* described = core.Find(effect, why);
  if (described == nullptr) return Usage(why);
  std::printf("%s (%d): %zu parameters. Set them with --set \"NAME=VALUE\".\n\n%s",
              described->description.name.text.c_str(), described->description.number,
              described->description.parameters.size(), ParametersText(*described).c_str());
  return kExitOk;
}

int About(const CoreLibrary& core) {
  std::string text;
  const int16_t result = AboutText(core, text);
  std::printf("%s", text.c_str());
  if (result != 0) {
    Complain("the about box failed: " + DescribeResult(result));
    return kExitEffect;
  }
  return kExitOk;
}

int Apply(ApplyOptions options, const std::vector<std::string>& files, const BatchOptions& batch,
          const CoreLibrary& core, const std::string& foreground, const std::string& background) {
  for (const auto& [text, colour] : {std::pair{&foreground, &options.foreground}, {&background, &options.background}}) {
    if (text->empty()) continue;
    const std::optional<Rgb> parsed = ParseColor(*text);
    if (!parsed) return Usage("'" + *text + "' is not a colour; use #RRGGBB, R,G,B, black or white");
    *colour = *parsed;
  }
  InstallInterruptHandler();
  return ApplyToFiles(options, files, batch, core);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"kalvero " KALVERO_VERSION " - the Brightfold Kalvero 2 effects for PNG, JPEG and TIFF files",
               "kalvero"};
  app.footer(kFooter);
  bool version = false;
  app.add_flag("--version", version, "Print the versions of kalvero, of its core and of the dialog's toolkit");
  app.require_subcommand(0, 1);
  app.fallthrough();
  std::string core;
  app.add_option("--core", core, "The effects core to load (default: the one installed with kalvero)");

  CLI::App* list = app.add_subcommand("list", "List the effects with their numbers");
  CLI::App* about = app.add_subcommand("about", "Show the suite's version and credits");
  CLI::App* params = app.add_subcommand("params", "List an effect's parameters: names, ranges, defaults, keys");
  std::string paramsEffect;
  params->add_option("EFFECT", paramsEffect, "Number or name of the effect")->required();

  SettingsOptions settingsOptions;
  CLI::App* settings = AddSettingsCommand(app, settingsOptions);

  CLI::App* apply = app.add_subcommand("apply", "Apply an effect to an image file, or to many");
  ApplyOptions options;
  std::string foreground, background;
  apply->add_option("EFFECT", options.effect, "Number or name of the effect")->required();
  std::vector<std::string> files;
  apply->add_option("FILES", files, "IN OUT: the image to read and the one to write (.png, .jpg, .tif); in a batch, "
                    "the images and folders of images to read")->required();
  apply->add_option("--settings", options.settings,
                    "Start from this stored setting, yours or shipped ('kalvero settings list EFFECT')");
  apply->add_option("--set", options.sets,
                    "NAME=VALUE: a parameter's value in the form 'kalvero params EFFECT' shows; repeatable")
      ->allow_extra_args(false);
  apply->add_option("--seed", options.seed, "Random seed, 0 to 65535: the same seed gives the same picture")
      ->check(SeedCheck());
  apply->add_option("--selection", options.selection,
                    "Grey image of the same size: 0 outside, 255 inside, between for soft edges");
  apply->add_option("--script", options.script, "Play the values recorded in this JSON file");
  apply->add_option("--record", options.record, "Write the values the effect used to this JSON file");
  apply->add_option("--foreground", foreground, "Foreground colour (#RRGGBB, R,G,B); default black");
  apply->add_option("--background", background, "Background colour; default white");
  apply->add_flag("-q,--quiet", options.quiet, "No progress bar");
  apply->add_flag("--dialog", options.dialog,
                  "Show the effect's dialog with a live preview first, starting from the values the other "
                  "options give; OK writes OUT, Cancel writes nothing (exit 130). Needs a display");
  apply
      ->add_option("--compression", options.compression,
                   "How hard PNG and TIFF outputs are compressed, 0 not at all to 9 the smallest files; by "
                   "default PNG fast and TIFF not at all. TIFF 1-9 is Deflate")
      ->type_name("0-9")
      ->check(CLI::Range(0, 9).description(""));
  // Not in the help: cuts the render into tiles of N pixels, to compare
  // tiled renders with whole ones.
  apply->add_option("--tile-size", options.tileSize)->check(CLI::Range(1, 32767))->group("");
  BatchOptions batch;
  AddBatchOptions(*apply, batch);
  // Asked by the shell's completion; not a command for people.
  if (argc > 1 && std::string_view(argv[1]) == "complete") return Complete(app, argc > 2 ? argv[2] : "");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return Usage(e.what());
  }
  if (version) return PrintVersions(ChooseCore(core, KALVERO_CORE_FROM_PROGRAM));
  if (app.get_subcommands().empty()) return Usage("give a command: list, params, apply, settings or about");

  try {
    // Every command needs the core: its effects are known only from the
    // description it ships.
    const CoreLibrary library(ChooseCore(core, KALVERO_CORE_FROM_PROGRAM));
    if (*list) return List(library);
    if (*about) return About(library);
    if (*params) return Params(library, paramsEffect);
    if (*settings) return RunSettingsCommand(settingsOptions, library);
    return Apply(options, files, batch, library, foreground, background);
  } catch (const CoreError& e) {
    Complain(e.what());
    return kExitFile;
  } catch (const std::bad_alloc&) {
    Complain("out of memory; nothing written");
    return kExitEffect;
  } catch (const std::exception& e) {
    Complain(e.what());
    return kExitEffect;
  }
}
