#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>

namespace platform {

namespace {

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    bytes.remove_prefix(size_t(n));
  }
  return true;
}

// Up to `limit` bytes; 0 or the errno of the failing read.
int ReadAll(int fd, size_t limit, std::string& bytes) {
  bytes.clear();
  char buffer[16384];
  while (bytes.size() < limit) {
    const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, limit - bytes.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) break;
    bytes.append(buffer, size_t(n));
  }
  return 0;
}

// What is wrong with a path that is not a regular file, or empty when it is one.
std::string NotAFile(const struct stat& s) {
  if (S_ISREG(s.st_mode)) return {};
  if (S_ISDIR(s.st_mode)) return "it is a folder, not a file";
  if (S_ISFIFO(s.st_mode)) return "it is a pipe, not a file";
  if (S_ISSOCK(s.st_mode)) return "it is a socket, not a file";
  return "it is a device, not a file";
}

std::string Reason(int error) {
  switch (error) {
    case ENOENT: return "there is no such file";
    case EACCES: return "permission denied";
    case ENOTDIR: return "a part of the path is not a folder";
    case ELOOP: return "the path has a loop of links";
    case ENAMETOOLONG: return "the name is too long";
    default: return std::strerror(error);
  }
}

// A name no other writer picks: the process, a counter and the clock. Made
// with O_EXCL, so a clash only costs another try, and with mode 0666 so the
// user's umask gives the file its usual permissions.
int CreateTemporary(const std::string& folder, std::string& path) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto clock = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    char name[64];
    std::snprintf(name, sizeof name, "/.partial-%d-%u-%llx", int(::getpid()), counter++,
                  static_cast<unsigned long long>(clock & 0xFFFFFFFF));
    path = folder + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

class PosixFileSystemReference final : public IFileSystemReference {
 public:
  explicit PosixFileSystemReference(std::string path) : path_(std::move(path)) {}

  bool Exists() const override {
    struct stat s {};
    return ::stat(path_.c_str(), &s) == 0;
  }

  bool IsFolder() const override {
    struct stat s {};
    return ::stat(path_.c_str(), &s) == 0 && S_ISDIR(s.st_mode);
  }

  bool CreateFolder() override {
    if (::mkdir(path_.c_str(), 0777) == 0) return true;
    const int why = errno;
    if (why != EEXIST) return Fail("cannot create the folder " + Quoted(path_), why);
    return IsFolder() || Fail("cannot create the folder " + Quoted(path_), ENOTDIR);
  }

  std::unique_ptr<IFileSystemReference> Child(std::string_view name) const override {
    try {
      const bool slash = !path_.empty() && path_.back() == '/';
      return std::make_unique<PosixFileSystemReference>(path_ + (slash ? "" : "/") + std::string(name));
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }

  const std::string& Path() const override { return path_; }
  std::string Name() const override { return path_.substr(path_.rfind('/') + 1); }

  bool RenameTo(std::string_view newName) override {
    const std::string target = Folder() + "/" + std::string(newName);
    int why = 0;
    if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) why = errno;
    // File systems without a no-replace rename: a link refuses an existing
    // name as well.
    if (why == EINVAL || why == ENOSYS) {
      why = ::link(path_.c_str(), target.c_str()) == 0 ? 0 : errno;
      if (why == 0) ::unlink(path_.c_str());
    }
    if (why != 0) return Fail("cannot rename " + Quoted(path_) + " to " + Quoted(target), why);
    path_ = target;
    SyncFolder();
    return true;
  }

  bool DeleteFile() override {
    if (::unlink(path_.c_str()) != 0) {
      const int why = errno;
      return Fail("cannot delete " + Quoted(path_), why);
    }
    SyncFolder();
    return true;
  }

  bool Read(std::string& bytes, size_t limit) const override {
    std::string why;
    const int fd = OpenRegularFile(path_, SIZE_MAX, why);
    if (fd < 0) {
      error_ = "cannot read " + Quoted(path_) + ": " + why;
      return false;
    }
    const int read = ReadAll(fd, limit, bytes);
    ::close(fd);
    return read == 0 || Fail("cannot read " + Quoted(path_), read);
  }

  bool Replace(std::string_view bytes) override {
    std::string temp;
    const int fd = CreateTemporary(Folder(), temp);
    if (fd < 0) {
      const int why = errno;
      return Fail("cannot create a temporary file to write " + Quoted(path_), why);
    }
    int why = 0;
    if (!WriteAll(fd, bytes) || ::fsync(fd) != 0) why = errno;
    // Some file systems report a failed write only when the file is closed.
    if (::close(fd) != 0 && why == 0) why = errno;
    if (why == 0 && ::rename(temp.c_str(), path_.c_str()) != 0) why = errno;
    if (why != 0) {
      ::unlink(temp.c_str());
      return Fail("cannot write " + Quoted(path_), why);
    }
    SyncFolder();
    return true;
  }

  bool ListFiles(std::vector<std::string>& names) const override {
    DIR* dir = ::opendir(path_.c_str());
    if (dir == nullptr) {
      const int why = errno;
      return Fail("cannot read the folder " + Quoted(path_), why);
    }
    names.clear();
    while (const dirent* entry = ::readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      // Only plain files: a pipe would block the reader for ever.
      struct stat s {};
      if (::fstatat(::dirfd(dir), entry->d_name, &s, 0) == 0 && S_ISREG(s.st_mode)) names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    return true;
  }

  const std::string& ErrorText() const override { return error_; }

 private:
  std::string Folder() const {
    const size_t slash = path_.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path_.substr(0, slash);
  }

  // So that a rename or delete outlives a power cut.
  void SyncFolder() const {
    const int fd = ::open(Folder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
  }

  static std::string Quoted(const std::string& path) { return "'" + path + "'"; }

  bool Fail(const std::string& what, int why) const {
    error_ = what + ": " + std::strerror(why);
    return false;
  }

  std::string path_;
  mutable std::string error_;
};

}  // namespace

std::string NotAFileToReplace(const std::string& path) {
  struct stat s {};
  return ::stat(path.c_str(), &s) == 0 ? NotAFile(s) : std::string();
}

int OpenRegularFile(const std::string& path, size_t limit, std::string& why) {
  struct stat s {};
  if (::stat(path.c_str(), &s) != 0) {
    why = Reason(errno);
    return -1;
  }
  if (why = NotAFile(s); !why.empty()) return -1;
  // Without O_NONBLOCK a pipe put in the file's place since the stat would
  // hold the open until a writer came.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    why = Reason(errno);
    return -1;
  }
  if (::fstat(fd, &s) != 0 || !(why = NotAFile(s)).empty() ||
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    if (why.empty()) why = Reason(errno);
    ::close(fd);
    return -1;
  }
  if (uint64_t(s.st_size) > limit) {
    why = "at " + std::to_string(s.st_size) + " bytes it is larger than the " + std::to_string(limit) +
          " bytes such a file may have";
    ::close(fd);
    return -1;
  }
  return fd;
}

bool ReadRegularFile(const std::string& path, size_t limit, std::string& bytes, std::string& why) {
  const int fd = OpenRegularFile(path, limit, why);
  if (fd < 0) return false;
  const int error = ReadAll(fd, limit, bytes);
  ::close(fd);
  if (error != 0) why = Reason(error);
  return error == 0;
}

std::unique_ptr<IFileSystemReference> NewFileSystemReference(std::string path) {
  try {
    return std::make_unique<PosixFileSystemReference>(std::move(path));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace platform
