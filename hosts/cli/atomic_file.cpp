#include "hosts/cli/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "hosts/cli/image_files.h"
#include "platform/file_system.h"

namespace kv::cli {

namespace {

[[noreturn]] void Fail(const std::filesystem::path& target, const std::string& what, int error) {
  throw FileError("cannot write '" + target.string() + "': " + what + ": " + std::strerror(error));
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

// 0 missing, 1 there, 2 a folder (which an exchange would move aside).
int Existing(const std::filesystem::path& path) {
  struct stat s {};
  if (::lstat(path.c_str(), &s) != 0) return 0;
  return S_ISDIR(s.st_mode) ? 2 : 1;
}

}  // namespace

PendingFiles::~PendingFiles() {
  for (const Pending& p : files_) ::unlink(p.temporary.c_str());
}

std::filesystem::path PendingFiles::Add(const std::filesystem::path& target) {
  if (const std::string why = platform::NotAFileToReplace(target.string()); !why.empty())
    throw FileError("cannot write '" + target.string() + "': " + why);
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  std::string name = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(name.data());
  if (fd < 0) Fail(target, "cannot create a temporary file in '" + folder.string() + "'", errno);
  ::close(fd);
  files_.push_back({target, name});
  return name;
}

void PendingFiles::Drop(const std::filesystem::path& target) {
  std::erase_if(files_, [&](const Pending& p) {
    if (p.target != target) return false;
    ::unlink(p.temporary.c_str());
    return true;
  });
}

void PendingFiles::Commit(const std::function<bool()>& cancelled) {
  for (const Pending& p : files_) {
    const int fd = ::open(p.temporary.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
      const int error = errno;
      if (fd >= 0) ::close(fd);
      Fail(p.target, "cannot flush the temporary file", error);
    }
    ::close(fd);
    if (::chmod(p.temporary.c_str(), FinalMode(p.target)) != 0) Fail(p.target, "cannot set the file mode", errno);
  }
  if (cancelled && cancelled()) throw WriteCancelled();

  // An existing target is exchanged with its temporary file, which then
  // holds the old contents until all have their names.
  enum class Done { Created, Exchanged, Replaced };
  std::vector<Done> done;
  for (const Pending& p : files_) {
    const int existing = Existing(p.target);
    Done how = existing != 0 ? Done::Exchanged : Done::Created;
    int result = -1;
    if (existing == 2) {
      errno = EISDIR;
    } else if (existing == 1) {
      result = ::renameat2(AT_FDCWD, p.temporary.c_str(), AT_FDCWD, p.target.c_str(), RENAME_EXCHANGE);
      // File systems that cannot exchange: a plain rename, which cannot be undone.
      if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
        result = ::rename(p.temporary.c_str(), p.target.c_str());
        how = Done::Replaced;
      }
    } else {
      result = ::rename(p.temporary.c_str(), p.target.c_str());
    }
    if (result != 0) {
      const int error = errno;
      for (size_t i = done.size(); i-- > 0;) {
        const Pending& back = files_[i];
        if (done[i] == Done::Exchanged)
          ::renameat2(AT_FDCWD, back.temporary.c_str(), AT_FDCWD, back.target.c_str(), RENAME_EXCHANGE);
        if (done[i] == Done::Created) ::unlink(back.target.c_str());
      }
      Fail(p.target, "cannot rename the temporary file", error);
    }
    done.push_back(how);
  }
  // What the destructor removes now: the old contents, and nothing else.
  std::vector<Pending> old;
  for (size_t i = 0; i < files_.size(); ++i)
    if (done[i] == Done::Exchanged) old.push_back(files_[i]);
  files_ = std::move(old);
}

void WriteThroughTemporary(const std::filesystem::path& target,
                           const std::function<void(const std::filesystem::path& temp)>& write,
                           const std::function<bool()>& cancelled) {
  PendingFiles files;
  write(files.Add(target));
  files.Commit(cancelled);
}

}  // namespace kv::cli
