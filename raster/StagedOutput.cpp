#include "raster/StagedOutput.h"

#include <cerrno>
#include <cstring>

#include "platform/files.h"
#include "platform/folder_search.h"
#include "platform/paths.h"
#include "platform/working_file.h"

namespace pw {
namespace {

constexpr char kAuxSuffix[] = ".aux.xml";

// The last path component.
std::string NameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The extension of a file name with its dot ("" for none; a leading dot
// alone does not make one).
std::string ExtensionOf(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot);
}

}  // namespace

StagedOutput::StagedOutput(std::string target) : target_(std::move(target)) {}

StagedOutput::~StagedOutput() { Discard(); }

bool StagedOutput::Open(std::string& error) {
  if (!working_.empty()) return true;
  if (target_.empty()) {
    error = "没有输出文件";
    return false;
  }
  if (IsSymbolicLink(target_)) {
    const std::string resolved = ResolvedPath(target_);
    if (!resolved.empty()) target_ = resolved;
  }
  folder_ = FolderOf(target_);
  const std::string extension = ExtensionOf(NameOf(target_));
  std::string pattern = folder_ + "/" + kWorkingFilePrefix + "XXXXXX" + extension;
  const int fd = CreateWorkingFile(pattern, int(extension.size()));
  if (fd < 0) {
    error = std::string("无法在输出文件夹中创建临时文件：") + std::strerror(errno);
    return false;
  }
  lock_ = UniqueFd(fd);
  working_ = pattern;
  const std::string name = NameOf(working_);
  workingStem_ = name.substr(0, name.size() - extension.size());
  return true;
}

std::vector<std::string> StagedOutput::SideFiles() const {
  std::vector<std::string> sides;
  FolderListing listing;
  if (working_.empty() || !ListFolder(folder_, workingStem_ + ".*", listing)) return sides;
  const std::string prefix = workingStem_ + ".";
  const std::string self = NameOf(working_);
  // The listing folds case; the random part of the stem must match exactly.
  for (const std::string& name : listing.files)
    if (name != self && name.compare(0, prefix.size(), prefix) == 0)
      sides.push_back(folder_ + "/" + name);
  return sides;
}

std::string StagedOutput::TargetSideName(const std::string& side) const {
  const std::string targetName = NameOf(target_);
  const std::string targetStem =
      targetName.substr(0, targetName.size() - ExtensionOf(targetName).size());
  return FolderOf(target_) + "/" + targetStem + NameOf(side).substr(workingStem_.size());
}

bool StagedOutput::Commit(std::string& error) {
  if (working_.empty()) {
    error = "没有可保存的输出";
    return false;
  }
  const std::vector<std::string> sides = SideFiles();
  bool flushed = FlushFileToDisk(working_);
  for (const std::string& side : sides) flushed = FlushFileToDisk(side) && flushed;
  if (!flushed) {
    error = std::string("无法把输出文件写入磁盘：") + std::strerror(errno);
    Discard();
    return false;
  }
  mode_t mode = 0;
  if (!RegularFileMode(target_, mode)) mode = 0666 & ~CurrentUmask();
  if (!SetFileMode(working_, mode) || !ReplaceFileWith(working_, target_)) {
    error = std::string("无法用输出文件替换目标文件：") + std::strerror(errno);
    Discard();
    return false;
  }
  working_.clear();
  lock_.close();

  bool auxCame = false;
  std::string unplaced;
  for (const std::string& side : sides) {
    const std::string to = TargetSideName(side);
    auxCame = auxCame || to == target_ + kAuxSuffix;
    if (!ReplaceFileWith(side, to)) {
      RemoveFile(side);
      unplaced += (unplaced.empty() ? "" : "、") + NameOf(to);
    }
  }
  if (!auxCame && KindOfName(target_ + kAuxSuffix) == NameKind::kFile)
    RemoveFile(target_ + kAuxSuffix);
  FlushFolderToDisk(folder_);
  if (!unplaced.empty()) {
    error = "影像已保存，但无法保存它的附属文件：" + unplaced;
    return false;
  }
  return true;
}

void StagedOutput::Discard() {
  if (working_.empty()) return;
  for (const std::string& side : SideFiles()) RemoveFile(side);
  RemoveFile(working_);
  working_.clear();
  lock_.close();
}

}  // namespace pw
