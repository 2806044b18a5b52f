#include "platform/working_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/folder_search.h"
#include "platform/unique_fd.h"

namespace pw {

bool IsWorkingFileName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  return path.compare(start, sizeof kWorkingFilePrefix - 1, kWorkingFilePrefix) == 0;
}

int CreateWorkingFile(std::string& pattern, int suffixLength) {
  const int fd = ::mkostemps(pattern.data(), suffixLength, O_CLOEXEC);
  if (fd < 0) return -1;
  // Nobody else knows the name yet, so the lock cannot be refused; where
  // the file system has no locks the cleanup cannot lock it either and
  // leaves it alone.
  ::flock(fd, LOCK_EX | LOCK_NB);
  return fd;
}

size_t RemoveAbandonedWorkingFiles(const std::string& folder, bool recursive) {
  if (folder.empty()) return 0;
  FolderListing listing;
  if (!ListFolder(folder, std::string(kWorkingFilePrefix) + "*", listing)) return 0;
  const std::string base = folder.back() == '/' ? folder : folder + "/";
  size_t removed = 0;
  for (const std::string& name : listing.files) {
    if (!IsWorkingFileName(name)) continue;
    const std::string path = base + name;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) continue;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    // Held by a running writer: leave it. A file system without locks
    // refuses the call itself; then nothing can be known, so nothing goes.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
    // Still the file we locked (not renamed into place meanwhile)?
    struct stat now;
    if (::lstat(path.c_str(), &now) != 0 || now.st_ino != st.st_ino || now.st_dev != st.st_dev)
      continue;
    if (::unlink(path.c_str()) == 0) ++removed;
  }
  if (recursive)
    for (const std::string& sub : listing.subfolders)
      removed += RemoveAbandonedWorkingFiles(base + sub, true);
  return removed;
}

}  // namespace pw
