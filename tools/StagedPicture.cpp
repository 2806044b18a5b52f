#include "tools/StagedPicture.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "app/core/PathHelpers.h"
#include "platform/text.h"

namespace {

// The file-creation mask, read without changing it: umask() both reads and
// sets, which is not safe while other workers create files.
mode_t CurrentUmask() {
  mode_t mask = 022;
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return mask;
  char line[128];
  while (std::fgets(line, sizeof line, f)) {
    unsigned int value = 0;
    if (std::sscanf(line, "Umask: %o", &value) == 1) {
      mask = static_cast<mode_t>(value);
      break;
    }
  }
  std::fclose(f);
  return mask;
}

bool SyncPath(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

// rename that never replaces; file systems without RENAME_NOREPLACE get a
// hard link, which refuses an existing name just the same.
bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

}  // namespace

bool IsStagedName(const std::wstring& path) {
  return GetFileName(path, true).rfind(kStagedPrefix, 0) == 0;
}

StagedPicture::StagedPicture(std::wstring destination) : destination_(std::move(destination)) {}

StagedPicture::~StagedPicture() {
  if (!stagedNarrow_.empty()) ::unlink(stagedNarrow_.c_str());
}

bool StagedPicture::Create() {
  if (!stagedNarrow_.empty()) return true;
  const std::wstring folder = GetParentDir(destination_);
  const std::wstring extension = GetExtension(destination_, true);
  const std::string pattern = pw::WideToNarrow(EnsureTrailingSeparator(folder) + kStagedPrefix) +
                              "XXXXXX" + pw::WideToNarrow(extension);
  if (folder.empty() || pattern.empty()) return false;
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkostemps(name.data(), static_cast<int>(pw::WideToNarrow(extension).size()),
                             O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  stagedNarrow_ = name.data();
  staged_ = pw::NarrowToWide(stagedNarrow_);
  return true;
}

bool StagedPicture::HasContent() const {
  struct stat st;
  return !stagedNarrow_.empty() && ::stat(stagedNarrow_.c_str(), &st) == 0 && st.st_size > 0;
}

bool StagedPicture::Commit(bool replace, const pw::FileTimes* times) {
  if (stagedNarrow_.empty()) return false;
  const std::string target = pw::WideToNarrow(destination_);
  bool ok = !target.empty() && HasContent();
  struct stat old;
  mode_t mode = 0666 & ~CurrentUmask();
  if (ok && ::stat(target.c_str(), &old) == 0) {
    if (!replace || !S_ISREG(old.st_mode)) ok = false;
    mode = (old.st_mode & 07777) | S_IWUSR;
  }
  ok = ok && ::chmod(stagedNarrow_.c_str(), mode) == 0;
  if (ok && times) ok = pw::SetFileTimes(stagedNarrow_, times->access, times->modification);
  ok = ok && SyncPath(stagedNarrow_, O_RDONLY);
  if (ok)
    ok = replace ? ::rename(stagedNarrow_.c_str(), target.c_str()) == 0
                 : RenameNoReplace(stagedNarrow_, target);
  if (!ok) {
    ::unlink(stagedNarrow_.c_str());
    stagedNarrow_.clear();
    return false;
  }
  stagedNarrow_.clear();
  SyncPath(pw::WideToNarrow(GetParentDir(destination_)), O_RDONLY | O_DIRECTORY);
  return true;
}
