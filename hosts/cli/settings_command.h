// `kalvero settings`: the effects' named settings, the same files the
// dialog saves and loads: list, save, rename, delete and show them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "hosts/common/core_library.h"

namespace kv::cli {

using host::CoreLibrary;

struct SettingsOptions {
  std::string effect;
  std::string name, newName;
  std::string from;               // save: start from this setting instead of the defaults
  std::vector<std::string> sets;  // save: "NAME=VALUE"
  std::optional<uint16_t> seed;
  bool replace = false;

  CLI::App* list = nullptr;
  CLI::App* save = nullptr;
  CLI::App* rename = nullptr;
  CLI::App* remove = nullptr;
  CLI::App* show = nullptr;
};

// Adds "settings" and its subcommands to `app`; they fill `options`.
CLI::App* AddSettingsCommand(CLI::App& app, SettingsOptions& options);

// Runs the subcommand the command line chose on an effect of `core`, whose
// resource folder holds the shipped settings; the exit status.
int RunSettingsCommand(const SettingsOptions& options, const CoreLibrary& core);

}  // namespace kv::cli
