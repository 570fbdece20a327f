// Batches: many files, several processes at once, shards across machines.
// kalvero runs as a user runs it, since the work is in child processes.
#include "hosts/cli/batch.h"

#include <gtest/gtest.h>

#include <regex>

#include "hosts/cli/image_files.h"
#include "tests/cli/test_support.h"

namespace kv::cli::test {
namespace {

namespace fs = std::filesystem;

TEST(Shards, TogetherTakeEveryImageOnceInSlicesOfAlmostEqualSize) {
  for (size_t count = 0; count <= 40; ++count)
    for (int64_t n = 1; n <= 9; ++n) {
      size_t expected = 0, smallest = count, largest = 0;
      for (int64_t k = 1; k <= n; ++k) {
        const auto [first, last] = ShardRange(count, {k, n});
        ASSERT_EQ(first, expected) << count << " images, shard " << k << "/" << n;
        expected = last;
        smallest = std::min(smallest, last - first);
        largest = std::max(largest, last - first);
      }
      EXPECT_EQ(expected, count);
      EXPECT_LE(largest - smallest, 1u);
    }

  std::string why;
  ASSERT_TRUE(ParseShard("3/8", why));
  EXPECT_EQ(ParseShard("3/8", why)->k, 3);
  for (const char* wrong : {"0/8", "9/8", "3", "3/", "a/8", "3/8x", "1/0", "-1/8"}) {
    EXPECT_FALSE(ParseShard(wrong, why)) << wrong;
    EXPECT_NE(why.find("--shard"), std::string::npos) << why;
  }
}

class Batch : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1); }
  void TearDown() override { ::unsetenv("XDG_CONFIG_HOME"); }

  // Images of different sizes, so that a mix-up of files shows.
  void Images(const fs::path& folder, int count) {
    fs::create_directories(folder);
    for (int i = 0; i < count; ++i)
      WriteImage(Pattern(40 + i, 30 + 2 * i, Mode::RGB, false), folder / ("im" + std::to_string(i) + ".png"));
  }
  Outcome Run(const std::string& arguments) { return RunKalvero("apply television " + arguments + " --seed 9 -q"); }
  // "7 done, 1 failed", from the summary line.
  static std::string Counts(const Outcome& outcome) {
    std::smatch m;
    return std::regex_search(outcome.output, m, std::regex(R"(images: ([^\n]*))")) ? m[1].str() : outcome.output;
  }

  ScratchFolder dir;
};

TEST_F(Batch, TwoJobsWriteTheBytesOfOneAndOfSingleApplies) {
  Images(dir / "in", 5);
  const fs::path in = dir / "in";
  ASSERT_EQ(Run(in.string() + " --output-dir " + (dir / "one").string() + " --jobs 1").status, 0);
  const Outcome two = Run(in.string() + " --output-dir " + (dir / "two").string() + " --jobs 2");
  ASSERT_EQ(two.status, 0) << two.output;
  EXPECT_EQ(Counts(two), "5 done");
  for (int i = 0; i < 5; ++i) {
    const std::string name = "im" + std::to_string(i) + ".png";
    EXPECT_EQ(ReadBytes(dir / "one" / name), ReadBytes(dir / "two" / name)) << name;
  }
  ASSERT_EQ(Run((in / "im3.png").string() + " " + (dir / "single.png").string()).status, 0);
  EXPECT_EQ(ReadBytes(dir / "single.png"), ReadBytes(dir / "two" / "im3.png"));
}

TEST_F(Batch, ShardsRunSeparatelyRenderEveryImageExactlyOnce) {
  Images(dir / "in", 7);
  std::vector<std::string> counts;
  for (int k = 1; k <= 3; ++k) {
    const Outcome shard =
        Run((dir / "in").string() + " --output-dir " + (dir / "out").string() + " --shard " + std::to_string(k) + "/3");
    ASSERT_EQ(shard.status, 0) << shard.output;
    counts.push_back(Counts(shard));
  }
  // A second render of an image would have found its output and skipped it.
  EXPECT_EQ(counts, (std::vector<std::string>{"2 done", "2 done", "3 done"}));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()), 7);
}

TEST_F(Batch, AFailedImageIsNamedAndTheOthersAreRenderedAndKept) {
  Images(dir / "in", 3);
  WriteBytes(dir / "in" / "broken.png", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0});
  WriteBytes(dir / "in" / "notes.txt", {'h', 'i'});
  WriteBytes(dir / "in" / "._im0.png", {0, 5, 22, 7});  // another system's file data
  const std::string command =
      (dir / "in").string() + " --output-name {stem}-tv.{ext} --output-dir " + (dir / "out").string();
  const Outcome first = Run(command);
  EXPECT_EQ(first.status, 2);
  EXPECT_EQ(Counts(first), "3 done, 1 failed");
  EXPECT_NE(first.output.find("cannot read '" + (dir / "in" / "broken.png").string() + "'"), std::string::npos)
      << first.output;
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(fs::exists(dir / "out" / ("im" + std::to_string(i) + "-tv.png")));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()), 3);

  // Run again, the work done is kept; --overwrite does it again.
  const auto before = fs::last_write_time(dir / "out" / "im0-tv.png");
  EXPECT_EQ(Counts(Run(command)), "0 done, 1 failed, 3 skipped as their output exists (--overwrite replaces)");
  EXPECT_EQ(fs::last_write_time(dir / "out" / "im0-tv.png"), before);
  EXPECT_EQ(Counts(Run(command + " --overwrite")), "3 done, 1 failed");
}

TEST_F(Batch, WrongBatchesAreRefusedBeforeAnythingIsWritten) {
  Images(dir / "in", 2);
  WriteImage(Pattern(9, 9, Mode::RGB, false), dir / "in" / "im0.tif");
  const std::string in = (dir / "in").string();
  for (const std::string& wrong :
       {in + " --output-name {stem}.png --output-dir " + (dir / "o").string(),   // im0.png and im0.tif to one file
        in + " --output-name im1.{ext} --output-dir " + in,                      // over another input
        in + " --output-name {stem}.gif",                                        // no such format
        in + " --output-name {base}.png",                                        // no such placeholder
        in + " --output-dir " + (dir / "o").string() + " --set Curvature=lots",  // told once, not per image
        in + " --output-dir " + (dir / "o").string() + " --record r.json",
        in + " " + (dir / "o.png").string(),  // a folder is no IN of IN OUT
        (dir / "in" / "im1.png").string() + " " + (dir / "o.png").string() + " --shard 1/2"}) {
    const Outcome refused = Run(wrong);
    EXPECT_EQ(refused.status, 1) << wrong << "\n" << refused.output;
    EXPECT_EQ(std::count(refused.output.begin(), refused.output.end(), '\n'), 1) << refused.output;
  }
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"in"});
}

}  // namespace
}  // namespace kv::cli::test
