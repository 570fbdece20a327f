// `kalvero complete LINE`, which the shell's completion asks: the words that
// may follow LINE, the command line up to the cursor. Commands and options
// come from the command line's own definition, effects, parameters and
// settings from the core, so completion never drifts from either.
#pragma once

#include <string_view>

#include <CLI/CLI.hpp>

namespace kv::cli {

// Prints "words" and then the candidates one a line, quoted for the shell
// as the last word of LINE is; or "files" or "folders" alone, for the
// shell to complete names of its own. The exit status.
int Complete(const CLI::App& app, std::string_view line);

}  // namespace kv::cli
