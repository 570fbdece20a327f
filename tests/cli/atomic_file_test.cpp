#include "hosts/cli/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
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

TEST(WriteThroughTemporary, AFailingWriterLeavesTheTargetAsItWas) {
  ScratchFolder dir;
  const auto fresh = dir / "out.png", old = dir / "out.txt";
  WriteText(old, "old");
  for (const auto& target : {fresh, old})
    EXPECT_THROW(WriteThroughTemporary(target,
                                       [](const std::filesystem::path& temp) {
                                         WriteText(temp, "half a file");
                                         throw std::runtime_error("disk on fire");
                                       }),
                 std::runtime_error);
  EXPECT_EQ(ReadText(old), "old");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"out.txt"});
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

// The files of one run appear together: when the last cannot take its name,
// the first gets its old contents back and the new one goes.
TEST(PendingFiles, OneFileThatCannotBeRenamedUndoesTheOthers) {
  ScratchFolder dir;
  WriteText(dir / "image.txt", "old image");
  {
    PendingFiles files;
    WriteText(files.Add(dir / "image.txt"), "new image");
    WriteText(files.Add(dir / "new.txt"), "new file");
    WriteText(files.Add(dir / "record.json"), "record");
    std::filesystem::create_directory(dir / "record.json");  // made a folder after the check
    EXPECT_THROW(files.Commit(), FileError);
  }
  EXPECT_EQ(ReadText(dir / "image.txt"), "old image");
  std::vector<std::string> names = dir.Names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"image.txt", "record.json"}));
}

}  // namespace
}  // namespace kv::cli
