// kalvero knows only the core it is given: its effects and defaults come
// from that core's description, its renders from that core, and a core it
// cannot trust is refused with the files named.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/cli/test_support.h"

namespace kv::cli::test {
namespace {

namespace fs = std::filesystem;

std::string Core(const fs::path& file) { return "--core '" + file.string() + "' "; }

TEST(Cores, KalveroDescribesAndDrivesTheCoreItIsGiven) {
  ScratchFolder dir;
  ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  const Outcome mine = RunKalvero(Core(KV_CORE) + "list"), other = RunKalvero(Core(KV_VARIANT_CORE) + "list");
  ASSERT_EQ(mine.status, 0) << mine.output;
  ASSERT_EQ(other.status, 0) << other.output;
  EXPECT_NE(mine.output.find("Electrify"), std::string::npos) << mine.output;
  EXPECT_EQ(other.output.find("Electrify"), std::string::npos) << other.output;
  EXPECT_NE(other.output.find("Television"), std::string::npos) << other.output;

  const Outcome params = RunKalvero(Core(KV_VARIANT_CORE) + "params television");
  EXPECT_NE(params.output.find("default: 4242"), std::string::npos) << params.output;
  EXPECT_EQ(RunKalvero(Core(KV_CORE) + "params television").output.find("default: 4242"), std::string::npos);

  const std::string landscape = "'" KV_SAMPLE_DIR "/landscape-small.png' ";
  for (const auto& [core, out] : {std::pair{KV_CORE, "mine.png"}, {KV_VARIANT_CORE, "other.png"}}) {
    const Outcome applied = RunKalvero(Core(core) + "apply television " + landscape + (dir / out).string() + " -q");
    ASSERT_EQ(applied.status, 0) << applied.output;
  }
  EXPECT_NE(ReadBytes(dir / "mine.png"), ReadBytes(dir / "other.png")) << "the variant's own seed was not used";
  const Outcome refused = RunKalvero(Core(KV_VARIANT_CORE) + "apply electrify " + landscape + (dir / "e.png").string());
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.output.find("no effect 'electrify'"), std::string::npos) << refused.output;
  ::unsetenv("XDG_CONFIG_HOME");
}

TEST(Cores, ACoreWithoutItsOwnDescriptionIsRefusedByName) {
  const Outcome missing = RunKalvero("--core /nonexistent/lib.so list");
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.output.find("cannot load the effects core '/nonexistent/lib.so': there is no such file"),
            std::string::npos)
      << missing.output;

  // The variant core beside the main core's resources: a description, but
  // of another build.
  ScratchFolder dir;
  fs::copy_file(KV_VARIANT_CORE, dir / "libkalvero-core.so");
  fs::copy(fs::path(KV_CORE).parent_path() / "resources", dir / "resources", fs::copy_options::recursive);
  const Outcome foreign = RunKalvero(Core(dir / "libkalvero-core.so") + "list");
  EXPECT_EQ(foreign.status, 2);
  EXPECT_NE(foreign.output.find("describes another build of the effects core"), std::string::npos) << foreign.output;

  fs::remove(dir / "resources" / "Effects.json");
  const Outcome none = RunKalvero(Core(dir / "libkalvero-core.so") + "params television");
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.output.find((dir / "resources" / "Effects.json").string() + "': there is no such file"),
            std::string::npos)
      << none.output;
}

}  // namespace
}  // namespace kv::cli::test
