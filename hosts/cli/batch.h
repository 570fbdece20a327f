// `kalvero apply` over many files: one setting applied to each image given
// or found in a folder given, each output named by a folder and a pattern.
// Every file is rendered by a child process of its own, so several run at
// once and a failure ends only its own file. A batch can be cut into equal
// shards, so that job arrays on a cluster split it with no shared state.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "hosts/cli/apply_command.h"

namespace kv::cli {

struct BatchOptions {
  std::string outputDir;   // empty: each output in its input's folder
  std::string outputName;  // a pattern of {stem}, {ext} and {name}; empty: {name}
  bool overwrite = false;
  int32_t jobs = 0;   // 0: one a core
  std::string shard;  // "K/N"; empty: the whole batch
};

// Adds the batch options to `apply`.
void AddBatchOptions(CLI::App& apply, BatchOptions& options);

// `kalvero apply` with its positional files: IN OUT, or with --output-dir
// or --output-name every image or folder to read. The exit status.
int ApplyToFiles(const ApplyOptions& options, const std::vector<std::string>& files, const BatchOptions& batch,
                 const CoreLibrary& core);

// The K-th (from 1) of N shards.
struct Shard {
  int64_t k = 1, n = 1;
};
// "K/N"; nullopt and `why` when it is not one.
std::optional<Shard> ParseShard(std::string_view text, std::string& why);
// The items [first, last) of `count` sorted ones that make up `shard`:
// contiguous, in size differing by one at most, together every item once.
std::pair<size_t, size_t> ShardRange(size_t count, Shard shard);

// Where `input` is written. Throws UsageError for a pattern with an unknown
// placeholder.
std::filesystem::path OutputFor(const std::filesystem::path& input, const BatchOptions& options);

}  // namespace kv::cli
