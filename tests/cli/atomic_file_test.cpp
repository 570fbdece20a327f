#include "hosts/cli/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "hosts/cli/image_files.h"
#include "tests/cli/test_support.h"

namespace kv::cli {
namespace {

using test::ScratchFolder;

void WriteText(const std::filesystem::path& p, const std::string& text) { std::ofstream(p) << text; }

std::string ReadText(const std::filesystem::path& p) {
  std::ifstream in(p);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(WriteThroughTemporary, AFailingWriterLeavesNothingBehind) {
  ScratchFolder dir;
  const auto target = dir / "out.png";
  EXPECT_THROW(WriteThroughTemporary(target,
                                     [](const std::filesystem::path& temp) {
                                       WriteText(temp, "half a file");
                                       throw std::runtime_error("disk on fire");
                                     }),
               std::runtime_error);
  EXPECT_TRUE(dir.Names().empty());
}

TEST(WriteThroughTemporary, AFailingWriteKeepsTheOldFile) {
  ScratchFolder dir;
  const auto target = dir / "out.txt";
  WriteText(target, "old");
  EXPECT_THROW(WriteThroughTemporary(target, [](const std::filesystem::path&) { throw std::runtime_error("no"); }),
               std::runtime_error);
  EXPECT_EQ(ReadText(target), "old");
  EXPECT_EQ(dir.Names().size(), 1u);
}

TEST(WriteThroughTemporary, TheTemporaryIsInTheTargetFolderAndReplacesTheTarget) {
  ScratchFolder dir;
  const auto target = dir / "out.txt";
  WriteText(target, "old");
  std::filesystem::path used;
  WriteThroughTemporary(target, [&](const std::filesystem::path& temp) {
    used = temp;
    EXPECT_EQ(ReadText(target), "old");  // the target is untouched until the rename
    WriteText(temp, "new");
  });
  EXPECT_EQ(used.parent_path(), dir.path());
  EXPECT_EQ(ReadText(target), "new");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"out.txt"});
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IRGRP, 0u) << "kept the temporary file's private mode";
}

TEST(WriteThroughTemporary, ACancelBeforeTheRenameWritesNothing) {
  ScratchFolder dir;
  EXPECT_THROW(WriteThroughTemporary(
                   dir / "out.txt", [](const std::filesystem::path& temp) { WriteText(temp, "x"); },
                   [] { return true; }),
               WriteCancelled);
  EXPECT_TRUE(dir.Names().empty());
}

TEST(WriteThroughTemporary, AMissingFolderIsAFileErrorNamingTheTarget) {
  ScratchFolder dir;
  const auto target = dir / "no" / "such" / "out.png";
  try {
    WriteImage(test::Pattern(2, 2, Mode::RGB, false), target);
    FAIL();
  } catch (const FileError& e) {
    EXPECT_NE(std::string(e.what()).find(target.string()), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace kv::cli
