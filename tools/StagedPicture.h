// The write path of the resizing, cloning and conversion tools. A result is
// first written completely into a hidden file beside its destination, with
// the destination's extension so the picture writers pick the right format;
// its EXIF block, file times and mode are settled there; only then is it
// renamed into place. So a run that fails, runs out of space or is killed
// leaves each destination either as it was or as the finished new picture.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/unique_fd.h"

// True for our hidden working files (pw::kWorkingFilePrefix); the tools
// never list them as pictures.
bool IsStagedName(const std::wstring& path);

class StagedPicture {
 public:
  explicit StagedPicture(std::wstring destination);
  ~StagedPicture();  // removes the working file unless it was committed
  StagedPicture(const StagedPicture&) = delete;
  StagedPicture& operator=(const StagedPicture&) = delete;

  // Creates the empty working file in the destination's folder. False when
  // the folder does not take a new file. A destination that is a symbolic
  // link to a file stands for that file: the working file goes beside it
  // and the commit replaces it, so the link stays a link.
  bool Create();
  // The working file (valid after Create()); write the picture here.
  const std::wstring& Path() const { return staged_; }
  // True when something was written to the working file.
  bool HasContent() const;
  // Fills the working file with the bytes of `source`, unchanged. False
  // when the source cannot be read or the copy not written.
  bool CopyFrom(const std::wstring& source);

  // Gives the working file its final mode and, when `times` is given, the
  // access and modification times, forces it to disk and renames it onto
  // the destination. With `replace` an existing destination is replaced
  // (its mode is kept, with the owner's write bit added); without it the
  // commit fails when the destination exists. False on any failure, with the
  // destination untouched and the working file gone.
  bool Commit(bool replace, const pw::FileTimes* times);

 private:
  std::wstring destination_;
  std::wstring staged_;
  std::string stagedNarrow_;
  pw::UniqueFd lock_;  // held while the working file exists (see platform/working_file.h)
};

// Removes the working files of killed runs in `folder` (and below it when
// `recursive`) that no running process holds. Every tool calls it on the
// folders it works in.
void RemoveAbandonedStagedFiles(const std::wstring& folder, bool recursive = true);

// The same for the folder of each of the files (not below them): the
// folders of a group of dropped files.
void RemoveAbandonedStagedFilesBeside(const std::vector<std::wstring>& files);
