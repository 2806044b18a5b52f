// Replacing a file so that it is never seen half written: the new content
// goes into a temporary file in the same folder, every write is checked,
// the data is flushed to disk, the old file's mode is copied, and only then
// is the temporary renamed over the original. On any failure the temporary
// file is removed and the original is untouched.
//
// Two ways to use it:
//   - WriteFileAtomically(path, bytes) for content held in memory;
//   - AtomicFile for writers that want a FILE* (Stream()) or a path of their
//     own to write to (TempPath(), e.g. a library that opens by name),
//     followed by Commit(). An AtomicFile destroyed without a successful
//     Commit() removes its temporary file.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace pw {

class AtomicFile {
 public:
  // Nothing touches the disk until Open().
  explicit AtomicFile(std::string target);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary file beside the target. A target that is a link
  // is resolved, so the file it points to gets the new content.
  bool Open();

  // The temporary file's path (valid after Open()).
  const std::string& TempPath() const { return temp_; }

  // A binary stream on the temporary file, opened on first use; nullptr
  // when not open. Owned by this object: do not fclose it.
  FILE* Stream();

  // Writes bytes to Stream(); false (and the commit will fail) on error.
  bool Write(std::string_view bytes);

  // Makes the temporary file the target. False on any failure, after which
  // the temporary is gone and the target is as it was.
  bool Commit();

  // Drops the temporary file; the target stays as it was.
  void Discard();

  // The target actually replaced (the link's destination for a link).
  const std::string& Target() const { return target_; }

  // errno of the first failure, 0 when none.
  int Error() const { return error_; }

 private:
  bool Fail(int err);
  void ReleaseLock();

  std::string target_;
  std::string temp_;
  int fd_ = -1;
  int lock_ = -1;  // keeps the working file's lock until it is renamed or removed
  FILE* stream_ = nullptr;
  bool failed_ = false;
  int error_ = 0;
};

// Replaces (or creates) `path` with exactly `bytes`. False, with the old
// file untouched, on any failure; `error` receives the errno value.
bool WriteFileAtomically(const std::string& path, std::string_view bytes, int* error = nullptr);

}  // namespace pw
