#include "tests/cli/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kv::cli::test {

ScratchFolder::ScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kalvero-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<std::string> ScratchFolder::Names() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) names.push_back(entry.path().filename());
  return names;
}

Document Pattern(int32_t width, int32_t height, Mode mode, bool alpha) {
  Document d(width, height, mode, alpha);
  const int32_t planes = d.Planes();
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      for (int32_t p = 0; p < planes; ++p)
        d.Row(y)[x * planes + p] = uint8_t((x * 7 + y * 13 + p * 61 + ((x ^ y) & 5) * 17) & 0xFF);
  d.xResolution = 300;
  d.yResolution = 150;
  return d;
}

std::vector<uint8_t> ReadBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::filesystem::path& file, const std::vector<uint8_t>& bytes) {
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Outcome RunKalvero(const std::string& arguments) { return RunCommand(std::string(KV_KALVERO) + " " + arguments); }

Outcome RunCommand(const std::string& command) {
  Outcome outcome;
  // A run that hangs ends as a failure (status 124) rather than a test that never ends.
  FILE* pipe = ::popen(("timeout 60 " + command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return outcome;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) outcome.output.append(buffer, n);
  const int status = ::pclose(pipe);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

}  // namespace kv::cli::test
