// Writing a file anew without ever leaving it half-written: the new
// content goes into a temporary file in the same folder, which replaces the
// original by rename only after every byte was written and synced. Any
// failure removes the temporary file and leaves the original whole.
#pragma once

#include <cstdio>
#include <string>

class ReplacementFile {
 public:
  ReplacementFile() = default;
  ~ReplacementFile();  // abandons an uncommitted temporary file
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Creates the temporary file beside target. False when it cannot be made.
  bool Create(const std::string& target);
  FILE* File() const { return file_; }
  const std::string& TempPath() const { return tempPath_; }
  // Flushes, syncs, gives the temporary file the target's mode and renames
  // it over the target. False (and the target untouched) on any failure.
  bool Commit();
  void Abandon();

 private:
  std::string target_;
  std::string tempPath_;
  FILE* file_ = nullptr;
};
