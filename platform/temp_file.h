// Temporary files in $TMPDIR (never beside a user's file): the stand-in for
// the run time's temporary names and anonymous temporary streams.
#pragma once

#include <cstdio>
#include <string>

namespace pw {

// Creates an empty file with a unique name starting with `prefix` in
// TempFolder() and returns its path; empty on failure. The caller removes it.
std::string CreateTempFile(const std::string& prefix = "pixelwharf");

// An anonymous read-write binary stream that vanishes when closed; nullptr
// on failure.
FILE* OpenAnonymousTempFile();

// A temporary file that is removed when this object goes away.
class ScopedTempFile {
 public:
  explicit ScopedTempFile(const std::string& prefix = "pixelwharf") : path_(CreateTempFile(prefix)) {}
  ~ScopedTempFile();
  ScopedTempFile(const ScopedTempFile&) = delete;
  ScopedTempFile& operator=(const ScopedTempFile&) = delete;

  const std::string& path() const { return path_; }
  explicit operator bool() const { return !path_.empty(); }

 private:
  std::string path_;
};

// As CreateTempFile, with `suffix` (e.g. ".tif") after the unique part, for
// libraries that choose a format by the name's extension.
std::string CreateTempFileWithSuffix(const std::string& prefix, const std::string& suffix);

}  // namespace pw
