#include "hosts/cli/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "hosts/cli/image_files.h"

namespace kv::cli {

namespace {

[[noreturn]] void Fail(const std::filesystem::path& target, const std::string& what) {
  throw FileError("cannot write '" + target.string() + "': " + what + ": " + std::strerror(errno));
}

// mkstemp makes the file private; the result gets the mode a plain create
// would give it, or the mode of the file it replaces.
mode_t FinalMode(const std::filesystem::path& target) {
  struct stat existing {};
  if (::stat(target.c_str(), &existing) == 0) return existing.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

void WriteThroughTemporary(const std::filesystem::path& target,
                           const std::function<void(const std::filesystem::path& temp)>& write,
                           const std::function<bool()>& cancelled) {
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) Fail(target, "cannot create a temporary file in '" + folder.string() + "'");
  const std::filesystem::path temp(name.data());
  ::close(fd);

  struct Remover {
    const std::filesystem::path& path;
    bool armed = true;
    ~Remover() {
      if (armed) ::unlink(path.c_str());
    }
  } remover{temp};

  write(temp);

  const int sync = ::open(temp.c_str(), O_RDONLY);
  if (sync < 0 || ::fsync(sync) != 0) {
    if (sync >= 0) ::close(sync);
    Fail(target, "cannot flush the temporary file");
  }
  ::close(sync);
  if (::chmod(temp.c_str(), FinalMode(target)) != 0) Fail(target, "cannot set the file mode");
  if (cancelled && cancelled()) throw WriteCancelled();
  if (::rename(temp.c_str(), target.c_str()) != 0) Fail(target, "cannot rename the temporary file");
  remover.armed = false;
}

}  // namespace kv::cli
