// References to files and folders, as the settings code reaches them. Paths
// are 8-bit texts (UTF-8). Every operation that fails leaves a description
// naming the path and the system's reason in ErrorText().
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class IFileSystemReference {
 public:
  virtual ~IFileSystemReference() = default;

  virtual bool Exists() const = 0;
  virtual bool IsFolder() const = 0;
  // True when the folder exists afterwards, whoever made it.
  virtual bool CreateFolder() = 0;
  // The entry `name` inside this folder; null when memory runs out.
  virtual std::unique_ptr<IFileSystemReference> Child(std::string_view name) const = 0;
  virtual const std::string& Path() const = 0;
  // The last part of the path.
  virtual std::string Name() const = 0;

  // Moves the entry to `newName` in the same folder, never over an existing
  // entry; on success the reference takes the new path.
  virtual bool RenameTo(std::string_view newName) = 0;
  virtual bool DeleteFile() = 0;
  // At most `limit` bytes from the start of the file.
  virtual bool Read(std::string& bytes, size_t limit) const = 0;
  // Writes a temporary file beside this one, flushes it to the disk and
  // renames it over this one: readers see the old contents or the new, and a
  // failure at any point (a full disk, a crash) leaves the old file whole.
  virtual bool Replace(std::string_view bytes) = 0;
  // The names of the files in this folder, in no order. Folders and names
  // beginning with '.' (hidden files, and Replace's temporaries) are left out.
  virtual bool ListFiles(std::vector<std::string>& names) const = 0;

  virtual const std::string& ErrorText() const = 0;
};

// Null when memory runs out.
std::unique_ptr<IFileSystemReference> NewFileSystemReference(std::string path);

// Opens `path` for reading when it is a regular file, or a link to one, of
// at most `limit` bytes. A folder, a pipe or a device is refused without
// being opened, so nothing ever waits on a writer that never comes. The
// descriptor, or -1 with `why` saying what is wrong ("it is a folder, not a
// file").
int OpenRegularFile(const std::string& path, size_t limit, std::string& why);
// The whole of such a file.
bool ReadRegularFile(const std::string& path, size_t limit, std::string& bytes, std::string& why);

// What keeps an existing `path` from being replaced by a new file ("it is a
// device, not a file"), or empty when it is a regular file, a link to one or
// missing. A rename over /dev/null would put a file in the device's place.
std::string NotAFileToReplace(const std::string& path);

}  // namespace platform
