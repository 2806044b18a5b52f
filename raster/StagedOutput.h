// A new raster written under a hidden working name beside the file it is
// to become, and put in that file's place only once it is complete. GDAL
// writes side files next to some formats (".aux.xml", a ".wld" world file);
// they are named after the working file while it is written and go along
// with it, renamed after the image itself. Until Commit() nothing of the
// target's name is touched, so a failed write leaves a file already there,
// and its side files, as they were.
#pragma once

#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace pw {

class StagedOutput {
 public:
  explicit StagedOutput(std::string target);
  ~StagedOutput();  // an output never committed is discarded
  StagedOutput(const StagedOutput&) = delete;
  StagedOutput& operator=(const StagedOutput&) = delete;

  // Creates the working file (".pixelwharf-XXXXXX" plus the target's
  // extension, so that drivers that derive side-file names from it name them
  // alike). A target that is a link is resolved: the file it names is
  // replaced and the link stays. False with `error` set on failure.
  bool Open(std::string& error);

  // Where the writer puts the image (valid after Open()).
  const std::string& WorkingPath() const { return working_; }
  // The name the image finally gets.
  const std::string& Target() const { return target_; }

  // Forces the image and its side files to disk, gives the image the mode
  // of the file it replaces (or the usual mode of a new file), renames it
  // over the target, then renames each side file over the target's side
  // file of that kind. A ".aux.xml" left from the replaced image goes when
  // the new image brought none: it would describe the old one. False with
  // `error` set on failure; when the image itself could not be placed,
  // nothing of the target's name was touched and nothing of ours is left.
  bool Commit(std::string& error);

  // Removes the working file and its side files.
  void Discard();

 private:
  // The names in the target folder that begin with the working file's stem
  // and a dot (its side files), the working file itself left out.
  std::vector<std::string> SideFiles() const;
  // The name a side file of the working file takes beside the target.
  std::string TargetSideName(const std::string& side) const;

  std::string target_;
  std::string folder_;
  std::string working_;      // full path; empty when nothing is staged
  std::string workingStem_;  // working file name without its extension
  UniqueFd lock_;            // marks the working file as in use until it is placed
};

}  // namespace pw
