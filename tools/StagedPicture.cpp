#include "tools/StagedPicture.h"

#include "platform/files.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "core/PathHelpers.h"
#include "platform/text.h"

namespace {

bool SyncPath(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
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
  mode_t mode = 0666 & ~pw::CurrentUmask();
  if (ok && ::stat(target.c_str(), &old) == 0) {
    if (!replace || !S_ISREG(old.st_mode)) ok = false;
    mode = (old.st_mode & 07777) | S_IWUSR;
  }
  ok = ok && ::chmod(stagedNarrow_.c_str(), mode) == 0;
  if (ok && times) ok = pw::SetFileTimes(stagedNarrow_, times->access, times->modification);
  ok = ok && SyncPath(stagedNarrow_, O_RDONLY);
  if (ok)
    ok = replace ? ::rename(stagedNarrow_.c_str(), target.c_str()) == 0
                 : pw::MoveFileNoReplace(stagedNarrow_, target) == 0;
  if (!ok) {
    ::unlink(stagedNarrow_.c_str());
    stagedNarrow_.clear();
    return false;
  }
  stagedNarrow_.clear();
  SyncPath(pw::WideToNarrow(GetParentDir(destination_)), O_RDONLY | O_DIRECTORY);
  return true;
}
