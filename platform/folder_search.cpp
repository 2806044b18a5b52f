#include "platform/folder_search.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace pw {
namespace {

// Owns an open directory stream.
class DirHandle {
 public:
  explicit DirHandle(const std::string& path) : dir_(::opendir(path.c_str())) {}
  ~DirHandle() {
    if (dir_) ::closedir(dir_);
  }
  DirHandle(const DirHandle&) = delete;
  DirHandle& operator=(const DirHandle&) = delete;
  DIR* get() const { return dir_; }

 private:
  DIR* dir_;
};

}  // namespace

bool MatchesPattern(const std::string& name, const std::string& pattern) {
  if (pattern == "*" || pattern == "*.*") return true;
  return ::fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0;
}

bool ListFolder(const std::string& folder, const std::string& pattern, FolderListing& out) {
  out.files.clear();
  out.subfolders.clear();
  if (folder.empty()) return false;
  DirHandle dir(folder);
  if (!dir.get()) return false;
  const int fd = ::dirfd(dir.get());

  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;

    unsigned char type = entry->d_type;
    bool isLink = type == DT_LNK;
    if (type == DT_UNKNOWN) {
      struct stat lst;
      if (::fstatat(fd, name.c_str(), &lst, AT_SYMLINK_NOFOLLOW) != 0) continue;
      isLink = S_ISLNK(lst.st_mode);
      type = S_ISDIR(lst.st_mode) ? DT_DIR : S_ISREG(lst.st_mode) ? DT_REG : DT_UNKNOWN;
    }
    if (isLink) {
      // A link to a picture is listed as the picture; a link to a folder is
      // never entered (it may point back up the tree).
      struct stat st;
      if (::fstatat(fd, name.c_str(), &st, 0) != 0) continue;
      if (S_ISREG(st.st_mode) && MatchesPattern(name, pattern)) out.files.push_back(name);
      continue;
    }
    if (type == DT_DIR) {
      out.subfolders.push_back(name);
    } else if (type == DT_REG && MatchesPattern(name, pattern)) {
      out.files.push_back(name);
    }
  }
  std::sort(out.files.begin(), out.files.end());
  std::sort(out.subfolders.begin(), out.subfolders.end());
  return true;
}

}  // namespace pw
