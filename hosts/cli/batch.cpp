#include "hosts/cli/batch.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <system_error>

#include "hosts/cli/child_jobs.h"
#include "hosts/cli/image_files.h"
#include "hosts/cli/interrupt.h"
#include "hosts/cli/progress_bar.h"

namespace kv::cli {

using host::DescribedEffect;

namespace {

namespace fs = std::filesystem;

std::string Quoted(const fs::path& p) { return "'" + p.string() + "'"; }

struct Item {
  fs::path input, output;
};

bool IsImageName(const fs::path& name) {
  try {
    FormatForName(name);
    return true;
  } catch (const FileError&) {
    return false;
  }
}

// The files named and the images in the folders named, sorted, each once.
std::vector<fs::path> ExpandInputs(const std::vector<std::string>& given) {
  std::vector<fs::path> files;
  for (const std::string& named : given) {
    std::error_code ec;
    if (!fs::is_directory(named, ec)) {
      files.emplace_back(named);
      continue;
    }
    fs::directory_iterator it(named, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
      const fs::path& path = it->path();
      // Hidden files are no pictures of the user's: another system's data
      // forks (._photo.png), or writes under way.
      std::error_code unreadable;
      if (path.filename().string().starts_with('.') || !it->is_regular_file(unreadable) || !IsImageName(path)) continue;
      files.push_back(path);
    }
    if (ec) throw FileError("cannot read the folder " + Quoted(named) + ": " + ec.message());
  }
  std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) { return a.native() < b.native(); });
  std::set<std::string> seen;
  std::erase_if(files, [&seen](const fs::path& p) { return !seen.insert(fs::absolute(p).lexically_normal()).second; });
  return files;
}

// Refuses a batch in which two images would be written to one file, or one
// would be written over another image of the batch.
std::vector<Item> Plan(const std::vector<fs::path>& inputs, const BatchOptions& options) {
  std::vector<Item> items;
  std::map<std::string, const fs::path*> inputOf, writerOf;
  for (const fs::path& input : inputs) inputOf.emplace(fs::absolute(input).lexically_normal(), &input);
  for (const fs::path& input : inputs) {
    fs::path output = OutputFor(input, options);
    try {
      FormatForName(output);
    } catch (const FileError& e) {
      throw UsageError(e.what());
    }
    const std::string key = fs::absolute(output).lexically_normal();
    if (const auto [it, fresh] = writerOf.emplace(key, &input); !fresh)
      throw UsageError(Quoted(*it->second) + " and " + Quoted(input) + " would both be written to " + Quoted(output) +
                       "; choose a --output-name that tells them apart");
    if (const auto it = inputOf.find(key); it != inputOf.end() && *it->second != input)
      throw UsageError("the output of " + Quoted(input) + " would replace " + Quoted(*it->second) +
                       ", another image of the batch; write into another --output-dir");
    items.push_back({input, std::move(output)});
  }
  return items;
}

// One line on the terminal for the whole batch, and each file's messages
// with its name.
class BatchReport {
 public:
  BatchReport(std::string label, size_t total, bool bar) : label_(std::move(label)), total_(total), bar_(bar) {}

  void Finished(const Item& item, const JobResult& result) {
    if (result.status == kExitCancelled) return;  // counted as not done
    if (result.status == kExitOk) {
      ++done_;
    } else {
      ++failed_;
      worst_ = std::max(worst_, result.status);
    }
    size_t at = 0;
    bool said = false;
    while (at < result.output.size()) {
      size_t end = result.output.find('\n', at);
      if (end == std::string::npos) end = result.output.size();
      said |= Say(item, result.output.substr(at, end - at));
      at = end + 1;
    }
    if (result.signal != 0)
      Say(item, "the render crashed: " + std::string(strsignal(result.signal)) + " (signal " +
                    std::to_string(result.signal) + ")");
    else if (!said && result.status != kExitOk)
      Say(item, "failed with exit status " + std::to_string(result.status));
  }

  // `finished`: the files finished and the running files' shares of one.
  void Draw(double finished) {
    if (!bar_ || total_ == 0) return;
    const int32_t permille = int32_t(finished / double(total_) * 1000.0);
    if (permille / 10 == lastPercent_ && done_ + failed_ == lastCount_) return;
    lastPercent_ = permille / 10;
    lastCount_ = done_ + failed_;
    std::string line = ProgressBar::Line(label_, permille, 1000, 30) + "  " + std::to_string(done_ + failed_) + "/" +
                       std::to_string(total_);
    if (failed_ > 0) line += ", " + std::to_string(failed_) + " failed";
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
    drawn_ = true;
  }

  // A line of its own, where the bar was.
  void Say(const std::string& line) {
    ClearBar();
    Complain(line);
  }

  size_t Failed() const { return failed_; }
  int Worst() const { return worst_; }
  // "12 done, 1 failed, 3 not done: stopped"
  std::string Counts() const {
    std::string text = std::to_string(done_) + " done";
    if (failed_ > 0) text += ", " + std::to_string(failed_) + " failed";
    if (done_ + failed_ < total_) text += ", " + std::to_string(total_ - done_ - failed_) + " not done: stopped";
    return text;
  }

 private:
  // The file's name goes before a message that does not name it already.
  bool Say(const Item& item, std::string line) {
    if (line.empty()) return false;
    if (line.starts_with("kalvero: ")) line.erase(0, 9);
    // The values are the same for every file: say what is wrong with them once.
    if (line.starts_with("warning: ") && !warned_.insert(line).second) return true;
    if (line.find(Quoted(item.input)) == std::string::npos) line = item.input.string() + ": " + line;
    Say(line);
    return true;
  }

  void ClearBar() {
    if (!drawn_) return;
    std::fputs("\r\033[K", stderr);
    drawn_ = false;
    lastPercent_ = -1;
  }

  std::string label_;
  size_t total_;
  bool bar_;
  bool drawn_ = false;
  int lastPercent_ = -1;
  size_t lastCount_ = 0;
  size_t done_ = 0, failed_ = 0;
  int worst_ = kExitOk;
  std::set<std::string> warned_;
};

int RunBatch(ApplyOptions options, const std::vector<std::string>& given, const BatchOptions& batch,
             const CoreLibrary& core) {
  if (!options.record.empty() || options.dialog)
    throw UsageError("--record and --dialog take one image: give IN and OUT without --output-dir or --output-name");
  Shard shard;
  std::string why;
  if (!batch.shard.empty()) {
    const std::optional<Shard> parsed = ParseShard(batch.shard, why);
    if (!parsed) throw UsageError(why);
    shard = *parsed;
  }
  // The values are checked once, before any image, so that a mistake in
  // them is told once and not for every file; their warnings come with the
  // first file.
  const DescribedEffect* described = core.Find(options.effect, why);
  if (described == nullptr) throw UsageError(why);
  {
    EffectValues values(*described);
    ApplyValueOptions(options, values, [](const std::string&) {});
  }

  const std::vector<Item> items = Plan(ExpandInputs(given), batch);
  if (items.empty()) throw FileError("no PNG, JPEG or TIFF images in the folders given");
  const auto [first, last] = ShardRange(items.size(), shard);
  std::vector<const Item*> todo;
  size_t skipped = 0;
  for (size_t i = first; i < last; ++i) {
    std::error_code ec;
    if (!batch.overwrite && fs::exists(items[i].output, ec))
      ++skipped;
    else
      todo.push_back(&items[i]);
  }
  if (!batch.outputDir.empty()) {
    std::error_code ec;
    fs::create_directories(batch.outputDir, ec);
    if (ec) throw FileError("cannot make the folder " + Quoted(batch.outputDir) + ": " + ec.message());
  }

  BatchReport report(described->description.name.text, todo.size(), !options.quiet && ::isatty(STDERR_FILENO));
  const JobTask render = [&](size_t index, const JobProgress& progress) {
    const Item& item = *todo[index];
    ApplyOptions one = options;
    one.input = item.input;
    one.output = item.output;
    one.quiet = true;
    one.keepLastUsed = index == 0;  // one file's values, not a write per file
    // Writing the file takes the rest of its share.
    one.progress = [&progress](int32_t done, int32_t total) {
      if (total > 0) progress(0.9 * done / total);
    };
    std::error_code ec;
    fs::create_directories(item.output.parent_path(), ec);  // a pattern may name folders
    return RunApply(one, core);
  };
  JobEvents events;
  events.finished = [&](size_t index, const JobResult& result) { report.Finished(*todo[index], result); };
  events.tick = [&](double finished) { report.Draw(finished); };
  events.stop = Interrupted;
  RunChildJobs(todo.size(), batch.jobs > 0 ? batch.jobs : AvailableCores(), render, events);

  std::string summary = std::to_string(last - first) + " images: " + report.Counts();
  if (skipped > 0) summary += ", " + std::to_string(skipped) + " skipped as their output exists (--overwrite replaces)";
  if (!batch.shard.empty())
    summary = "shard " + batch.shard + ": " + std::to_string(last - first) + " of " + std::to_string(items.size()) +
              summary.substr(summary.find(' '));
  report.Say(summary);
  if (Interrupted()) return kExitCancelled;
  return report.Failed() > 0 ? report.Worst() : kExitOk;
}

}  // namespace

void AddBatchOptions(CLI::App& apply, BatchOptions& o) {
  apply
      .add_option("--output-dir", o.outputDir,
                  "A batch: every FILE is an image or a folder of images to read, and the outputs go into DIR, "
                  "which is made if missing")
      ->type_name("DIR");
  apply
      .add_option("--output-name", o.outputName,
                  "A batch: each output's name, from {stem} (the input's name without extension), {ext} and "
                  "{name}; default {name}. In --output-dir, else beside its input")
      ->type_name("PATTERN");
  apply.add_flag("--overwrite", o.overwrite, "A batch replaces outputs that exist; without this it skips them");
  apply
      .add_option("-j,--jobs", o.jobs,
                  "A batch renders N images at once, each in a process of its own "
                  "(default: one a processor core)")
      ->type_name("N")
      ->check(CLI::Range(1, 4096).description(""));
  apply
      .add_option("--shard", o.shard,
                  "A batch renders only the K-th of N equal slices of its sorted images, K from 1 to N: "
                  "for job arrays, each task given its own K")
      ->type_name("K/N");
}

std::optional<Shard> ParseShard(std::string_view text, std::string& why) {
  Shard shard;
  const size_t slash = text.find('/');
  const auto number = [](std::string_view digits, int64_t& value) {
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return ec == std::errc() && end == digits.data() + digits.size();
  };
  if (slash == std::string_view::npos || !number(text.substr(0, slash), shard.k) ||
      !number(text.substr(slash + 1), shard.n) || shard.n < 1) {
    why = "--shard " + std::string(text) + ": give K/N, such as 3/8 for the third of eight slices";
    return std::nullopt;
  }
  if (shard.k < 1 || shard.k > shard.n) {
    why = "--shard " + std::string(text) + ": K counts from 1 to N" +
          (shard.k == 0 ? " (from a task id that starts at 0, give $((ID + 1)))" : "");
    return std::nullopt;
  }
  return shard;
}

std::pair<size_t, size_t> ShardRange(size_t count, Shard shard) {
  const auto edge = [&](int64_t k) { return size_t((unsigned __int128)count * uint64_t(k) / uint64_t(shard.n)); };
  return {edge(shard.k - 1), edge(shard.k)};
}

fs::path OutputFor(const fs::path& input, const BatchOptions& options) {
  const std::string pattern = options.outputName.empty() ? "{name}" : options.outputName;
  std::string name;
  for (size_t at = 0; at < pattern.size();) {
    if (pattern[at] != '{') {
      name += pattern[at++];
      continue;
    }
    const size_t close = pattern.find('}', at);
    const std::string key = close == std::string::npos ? "" : pattern.substr(at + 1, close - at - 1);
    if (key == "stem")
      name += input.stem().string();
    else if (key == "ext")
      name += input.extension().string().substr(input.has_extension() ? 1 : 0);
    else if (key == "name")
      name += input.filename().string();
    else
      throw UsageError("--output-name " + pattern + ": use {stem}, {ext} and {name} in it");
    at = close + 1;
  }
  return (options.outputDir.empty() ? input.parent_path() : fs::path(options.outputDir)) / name;
}

int ApplyToFiles(const ApplyOptions& options, const std::vector<std::string>& files, const BatchOptions& batch,
                 const CoreLibrary& core) {
  try {
    if (!batch.outputDir.empty() || !batch.outputName.empty()) return RunBatch(options, files, batch, core);
    if (!batch.shard.empty()) throw UsageError("--shard cuts a batch: give --output-dir or --output-name");
    std::error_code ec;
    if (files.size() != 2 || fs::is_directory(files[0], ec))
      throw UsageError("give IN and OUT, or for several images or a folder --output-dir DIR or --output-name PATTERN");
    ApplyOptions single = options;
    single.input = files[0];
    single.output = files[1];
    return RunApply(single, core);
  } catch (const UsageError& e) {
    Complain(e.what());
    return kExitUsage;
  } catch (const FileError& e) {
    Complain(e.what());
    return kExitFile;
  } catch (const std::system_error& e) {
    Complain(e.what());
    return kExitFile;
  }
}

}  // namespace kv::cli
