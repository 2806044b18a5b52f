#include "tools/StagedPicture.h"

#include "platform/files.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <set>
#include <vector>

#include "core/PathHelpers.h"
#include "platform/text.h"
#include "platform/working_file.h"

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
  return GetFileName(path, true).rfind(pw::NarrowToWide(pw::kWorkingFilePrefix), 0) == 0;
}

StagedPicture::StagedPicture(std::wstring destination) : destination_(std::move(destination)) {}

StagedPicture::~StagedPicture() {
  if (!stagedNarrow_.empty()) ::unlink(stagedNarrow_.c_str());
}

bool StagedPicture::Create() {
  if (!stagedNarrow_.empty()) return true;
  const std::string narrowDestination = pw::WideToNarrow(destination_);
  struct stat lst;
  if (!narrowDestination.empty() && ::lstat(narrowDestination.c_str(), &lst) == 0 &&
      S_ISLNK(lst.st_mode)) {
    if (char* real = ::realpath(narrowDestination.c_str(), nullptr)) {
      destination_ = pw::NarrowToWide(real);
      std::free(real);
    }
  }
  const std::wstring folder = GetParentDir(destination_);
  const std::wstring extension = GetExtension(destination_, true);
  const std::string narrowFolder = pw::WideToNarrow(EnsureTrailingSeparator(folder));
  if (folder.empty() || narrowFolder.empty()) return false;
  std::string name = narrowFolder + pw::kWorkingFilePrefix + "XXXXXX" + pw::WideToNarrow(extension);
  pw::UniqueFd fd(
      pw::CreateWorkingFile(name, static_cast<int>(pw::WideToNarrow(extension).size())));
  if (!fd) return false;
  lock_ = std::move(fd);
  stagedNarrow_ = name;
  staged_ = pw::NarrowToWide(stagedNarrow_);
  return true;
}

bool StagedPicture::CopyFrom(const std::wstring& source) {
  const std::string from = pw::WideToNarrow(source);
  if (stagedNarrow_.empty() || from.empty()) return false;
  pw::UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  pw::UniqueFd out(::open(stagedNarrow_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
  if (!in || !out) return false;
  std::vector<char> buffer(1 << 20);
  for (;;) {
    const ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out.get(), buffer.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return false;
      done += w;
    }
  }
  return out.close() == 0;
}

bool StagedPicture::HasContent() const {
  struct stat st;
  return !stagedNarrow_.empty() && ::stat(stagedNarrow_.c_str(), &st) == 0 && st.st_size > 0;
}

bool StagedPicture::Commit(bool replace, const pw::FileTimes* times) {
  if (stagedNarrow_.empty()) return false;
  // The writers replace the working file with a new one of their own (an
  // atomic write beside it): lock that one too until it has its name.
  pw::UniqueFd relock(::open(stagedNarrow_.c_str(), O_RDONLY | O_CLOEXEC));
  if (relock && ::flock(relock.get(), LOCK_EX | LOCK_NB) == 0) lock_ = std::move(relock);
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
    lock_.close();
    return false;
  }
  stagedNarrow_.clear();
  lock_.close();
  SyncPath(pw::WideToNarrow(GetParentDir(destination_)), O_RDONLY | O_DIRECTORY);
  return true;
}

void RemoveAbandonedStagedFiles(const std::wstring& folder, bool recursive) {
  const std::string narrow = pw::WideToNarrow(folder);
  if (!narrow.empty()) pw::RemoveAbandonedWorkingFiles(narrow, recursive);
}

void RemoveAbandonedStagedFilesBeside(const std::vector<std::wstring>& files) {
  std::set<std::wstring> folders;
  for (const std::wstring& file : files) folders.insert(GetParentDir(file));
  for (const std::wstring& folder : folders) RemoveAbandonedStagedFiles(folder, false);
}
