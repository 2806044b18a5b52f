#include "tools/StagedPicture.h"

#include <set>
#include <vector>

#include "core/PathHelpers.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/working_file.h"

namespace {

constexpr mode_t kOwnerWrite = 0200;  // "read-only" is its absence

}  // namespace

bool IsStagedName(const std::wstring& path) {
  return GetFileName(path, true).rfind(pw::NarrowToWide(pw::kWorkingFilePrefix), 0) == 0;
}

StagedPicture::StagedPicture(std::wstring destination) : destination_(std::move(destination)) {}

StagedPicture::~StagedPicture() {
  if (!stagedNarrow_.empty()) pw::RemoveFile(stagedNarrow_);
}

bool StagedPicture::Create() {
  if (!stagedNarrow_.empty()) return true;
  const std::string narrowDestination = pw::WideToNarrow(destination_);
  if (pw::IsSymbolicLink(narrowDestination)) {
    const std::string real = pw::ResolvedPath(narrowDestination);
    if (!real.empty()) destination_ = pw::NarrowToWide(real);
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
  return !stagedNarrow_.empty() && pw::CopyFileContents(from, stagedNarrow_);
}

bool StagedPicture::HasContent() const {
  return !stagedNarrow_.empty() && pw::FileSize(stagedNarrow_) > 0;
}

bool StagedPicture::Commit(bool replace, const pw::FileTimes* times) {
  if (stagedNarrow_.empty()) return false;
  // The writers replace the working file with a new one of their own (an
  // atomic write beside it): lock that one too until it has its name.
  pw::UniqueFd relock(pw::OpenWithLock(stagedNarrow_));
  if (relock) lock_ = std::move(relock);
  const std::string target = pw::WideToNarrow(destination_);
  bool ok = !target.empty() && HasContent();
  mode_t mode = 0666 & ~pw::CurrentUmask();
  if (ok && pw::PathExists(target)) {
    mode_t old = 0;
    if (!replace || !pw::RegularFileMode(target, old)) ok = false;
    mode = old | kOwnerWrite;
  }
  ok = ok && pw::SetFileMode(stagedNarrow_, mode);
  if (ok && times) ok = pw::SetFileTimes(stagedNarrow_, times->access, times->modification);
  ok = ok && pw::FlushFileToDisk(stagedNarrow_);
  if (ok)
    ok = replace ? pw::ReplaceFileWith(stagedNarrow_, target)
                 : pw::MoveFileNoReplace(stagedNarrow_, target) == 0;
  if (!ok) {
    pw::RemoveFile(stagedNarrow_);
    stagedNarrow_.clear();
    lock_.close();
    return false;
  }
  stagedNarrow_.clear();
  lock_.close();
  pw::FlushFolderToDisk(pw::WideToNarrow(GetParentDir(destination_)));
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
