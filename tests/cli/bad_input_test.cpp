// kalvero run as a user runs it on the worst of what lies on a disk: every
// refusal is one line in our own words with its exit status, at once, and
// leaves nothing behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "tests/cli/test_support.h"

namespace kv::cli::test {
namespace {

namespace fs = std::filesystem;

class BadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    fs::copy_file(KV_SAMPLE_DIR "/landscape-small.png", dir / "in.png");
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    fs::create_directory(dir / "folder");
    before = dir.Names();
  }
  void TearDown() override {
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("KALVERO_MEMORY_LIMIT");
  }

  // Runs `arguments` in the scratch folder and checks the refusal: its
  // status, a message naming what is wrong, no text of a library, and no
  // file left behind (no output, no temporary file, no Last Used).
  void Refused(const std::string& arguments, int status, const std::string& says) {
    const Outcome o = RunKalvero(arguments);
    EXPECT_EQ(o.status, status) << arguments << "\n" << o.output;
    EXPECT_NE(o.output.find(says), std::string::npos) << arguments << "\n" << o.output;
    for (const char* inner : {"json.exception", "what()", "terminate", "general failure", "Lost String"})
      EXPECT_EQ(o.output.find(inner), std::string::npos) << arguments << "\n" << o.output;
    EXPECT_EQ(dir.Names(), before) << arguments;
  }
  std::string At(const std::string& name) const { return "'" + (dir / name).string() + "' "; }

  ScratchFolder dir;
  std::vector<std::string> before;
};

TEST_F(BadInput, PipesAndFoldersAreRefusedWithoutWaitingOnThem) {
  Refused("apply television " + At("pipe") + At("out.png"), 2, "is a pipe, not a file");
  // A folder is a batch's input, so with one output it is a wrong command line.
  Refused("apply television " + At("folder") + At("out.png"), 1, "for several images or a folder --output-dir");
  Refused("apply television " + At("in.png") + At("out.png") + "--selection " + At("pipe"), 2, "is a pipe");
  Refused("apply television " + At("in.png") + At("out.png") + "--script " + At("pipe"), 2, "is a pipe");
  Refused("apply television " + At("in.png") + At("folder"), 2, "it is a folder");
  // Renaming over a pipe or a device would put a file in its place.
  Refused("apply television " + At("in.png") + At("pipe"), 2, "it is a pipe, not a file");
  Refused("apply television " + At("in.png") + At("out.png") + "--record " + At("pipe") + "-q", 2, "it is a pipe");
  EXPECT_TRUE(fs::is_fifo(dir / "pipe"));
  Refused("apply television " + At("in.png") + At("out.png") + "--record " + At("folder") + "-q", 2, "it is a folder");
  Refused("apply television " + At("in.png") + At("out.png") + "--record " + At("none/r.json") + "-q", 2,
          "cannot create a temporary file");

  // A pipe in the settings folder is not listed, and not read when named.
  const fs::path settings = dir / "config" / "Brightfold" / "Kalvero 2" / "Television";
  fs::create_directories(settings);
  ASSERT_EQ(::mkfifo((settings / "Piped").c_str(), 0600), 0);
  before = dir.Names();
  Refused("settings show television Piped", 2, "is a pipe");
}

TEST_F(BadInput, WhatWouldNeedTooMuchMemoryIsRefusedBeforeItIsAllocated) {
  // A header of 30000 x 30000 RGBA pixels: more than may be had, and more
  // than the bytes after it could hold.
  std::vector<uint8_t> huge = {0x89, 'P',  'N',  'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0,
                               0,    0x75, 0x30, 0,   0,    0x75, 0x30, 8,    6, 0, 0, 0,  0,   0,   0,   0};
  WriteBytes(dir / "huge.png", huge);
  before = dir.Names();
  ::setenv("KALVERO_MEMORY_LIMIT", "1G", 1);
  Refused("apply television " + At("huge.png") + At("out.png"), 2,
          "an image of 30000 x 30000 pixels needs about 3.4 GB");
  ::setenv("KALVERO_MEMORY_LIMIT", "8G", 1);
  Refused("apply television " + At("huge.png") + At("out.png"), 2, "its 33 bytes cannot hold 30000 x 30000 pixels");

  // The widest burn on the sample needs far more than 16 MB for its work.
  ::setenv("KALVERO_MEMORY_LIMIT", "16M", 1);
  Refused("apply 'burnt edges' " + At("in.png") + At("out.png") + "--set 'Burn Width=300' -q", 3,
          "this machine allows");
}

TEST_F(BadInput, NumbersBeyondADoubleAreToldInOurWords) {
  std::ofstream(dir / "big.json") << R"({"TEcu": {"type": "float", "value": -1e400}})";
  before = dir.Names();
  Refused("apply television " + At("in.png") + At("out.png") + "--script " + At("big.json"), 2,
          "the number -1e400 (line 1, column 42) is beyond what a number can hold");
  Refused("apply television " + At("in.png") + At("out.png") + "--set 'Curvature=1e999'", 1, "Curvature");
}

}  // namespace
}  // namespace kv::cli::test
