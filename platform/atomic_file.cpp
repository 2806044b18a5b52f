#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/unique_fd.h"
#include "platform/working_file.h"

namespace pw {
namespace {

void SyncFolder(const std::string& folder) {
  UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd) ::fsync(fd.get());
}

}  // namespace

// The process's file-creation mask, read without changing it (umask() both
// reads and sets, which is not safe while other threads create files).
mode_t CurrentUmask() {
  FILE* f = std::fopen("/proc/self/status", "r");
  mode_t mask = 022;
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


AtomicFile::AtomicFile(std::string target) : target_(std::move(target)) {}

AtomicFile::~AtomicFile() { Discard(); }

bool AtomicFile::Fail(int err) {
  if (!failed_) error_ = err ? err : EIO;
  failed_ = true;
  return false;
}

bool AtomicFile::Open() {
  if (!temp_.empty()) return !failed_;
  if (target_.empty()) return Fail(ENOENT);
  struct stat lst;
  if (::lstat(target_.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
    if (char* real = ::realpath(target_.c_str(), nullptr)) {
      target_ = real;
      std::free(real);
    }
  }
  std::string temp = FolderOf(target_) + "/" + kWorkingFilePrefix + "XXXXXX";
  fd_ = CreateWorkingFile(temp, 0);
  if (fd_ < 0) return Fail(errno);
  lock_ = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  temp_ = temp;
  return true;
}

FILE* AtomicFile::Stream() {
  if (stream_) return stream_;
  if (fd_ < 0) return nullptr;
  stream_ = ::fdopen(fd_, "wb");
  if (stream_) fd_ = -1;  // the stream owns the descriptor now
  else Fail(errno);
  return stream_;
}

bool AtomicFile::Write(std::string_view bytes) {
  FILE* f = Stream();
  if (!f) return Fail(EBADF);
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
    return Fail(errno);
  return true;
}

bool AtomicFile::Commit() {
  if (temp_.empty() || failed_) {
    Discard();
    return Fail(EBADF);
  }
  // Finish whatever wrote into the temporary file and force it to disk.
  if (stream_) {
    const bool flushed = std::fflush(stream_) == 0 && !std::ferror(stream_);
    const int flushErr = errno;
    const bool synced = flushed && ::fsync(::fileno(stream_)) == 0;
    const int syncErr = errno;
    const bool closed = std::fclose(stream_) == 0;
    const int closeErr = errno;
    stream_ = nullptr;
    if (!flushed) Fail(flushErr);
    else if (!synced) Fail(syncErr);
    else if (!closed) Fail(closeErr);
  } else {
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
    // The caller wrote through the path; it may have replaced the file.
    UniqueFd fd(::open(temp_.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd || ::fsync(fd.get()) != 0) Fail(errno);
  }
  if (failed_) {
    Discard();
    return false;
  }

  struct stat st;
  const mode_t mode = ::stat(target_.c_str(), &st) == 0 ? (st.st_mode & 07777)
                                                        : (0666 & ~CurrentUmask());
  if (::chmod(temp_.c_str(), mode) != 0 || ::rename(temp_.c_str(), target_.c_str()) != 0) {
    Fail(errno);
    Discard();
    return false;
  }
  temp_.clear();
  ReleaseLock();
  SyncFolder(FolderOf(target_));
  return true;
}

void AtomicFile::Discard() {
  if (stream_) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
  ReleaseLock();
}

void AtomicFile::ReleaseLock() {
  if (lock_ >= 0) {
    ::close(lock_);
    lock_ = -1;
  }
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes, int* error) {
  AtomicFile file(path);
  const bool ok = file.Open() && file.Write(bytes) && file.Commit();
  if (error) *error = ok ? 0 : file.Error();
  return ok;
}

}  // namespace pw
