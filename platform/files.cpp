#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/paths.h"
#include "platform/unique_fd.h"
#include "platform/working_file.h"

namespace pw {
namespace {

int WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

int CopyBytes(int in, int out) {
  std::vector<char> buf(1 << 20);
  for (;;) {
    const ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return 0;
    if (int err = WriteAll(out, buf.data(), static_cast<size_t>(n))) return err;
  }
}

// Renames without replacing; falls back to link + unlink where the file
// system does not support the no-replace flag (link fails on an existing name).
int RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  ::unlink(from.c_str());
  return 0;
}

// Copies `from` into a fresh temporary file in `to`'s folder and renames it
// into place without replacing. The temporary file never outlives a failure.
int CopyIntoPlace(const std::string& from, const std::string& to, bool keepTimes) {
  UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in) return errno;
  struct stat st;
  if (::fstat(in.get(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return EINVAL;
  if (::access(to.c_str(), F_OK) == 0) return EEXIST;

  std::string temp = FolderOf(to) + "/" + kWorkingFilePrefix + "move-XXXXXX";
  UniqueFd out(CreateWorkingFile(temp, 0));
  if (!out) return errno;
  auto fail = [&](int err) {
    ::unlink(temp.c_str());
    return err;
  };
  if (int err = CopyBytes(in.get(), out.get())) return fail(err);
  if (::fchmod(out.get(), st.st_mode & 07777) != 0) return fail(errno);
  if (keepTimes) {
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(out.get(), times) != 0) return fail(errno);
  }
  if (::fsync(out.get()) != 0) return fail(errno);
  if (out.close() != 0) return fail(errno);
  if (int err = RenameNoReplace(temp, to)) return fail(err);
  return 0;
}

}  // namespace

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // Non-blocking, so that a file swapped for a FIFO meanwhile cannot hang us.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return false;
  return ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FolderExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
  return !path.empty() && ::access(path.c_str(), F_OK) == 0;
}

bool CreateFolder(const std::string& path) {
  if (path.empty()) return false;
  if (::mkdir(path.c_str(), 0777) == 0) return true;
  return errno == EEXIST && FolderExists(path);
}

bool GetFileTimes(const std::string& path, FileTimes& out) {
  if (path.empty()) return false;
  struct statx sx;
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return false;
  auto toSpec = [](const statx_timestamp& t) {
    timespec ts{};
    ts.tv_sec = t.tv_sec;
    ts.tv_nsec = t.tv_nsec;
    return ts;
  };
  out.access = toSpec(sx.stx_atime);
  out.modification = toSpec(sx.stx_mtime);
  out.creation = (sx.stx_mask & STATX_BTIME) ? toSpec(sx.stx_btime) : out.modification;
  return true;
}

bool SetFileTimes(const std::string& path, const timespec& access, const timespec& modification) {
  if (path.empty()) return false;
  const timespec times[2] = {access, modification};
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool IsReadOnly(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
}

bool ClearReadOnly(const std::string& path) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
  if (st.st_mode & S_IWUSR) return true;
  return ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

int MoveFileNoReplace(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return ENOENT;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  int err = errno;
  if (err == EINVAL || err == ENOSYS) {
    // No-replace renames unsupported here: a hard link never replaces.
    struct stat st;
    if (::lstat(from.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
      if (::link(from.c_str(), to.c_str()) == 0) {
        if (::unlink(from.c_str()) == 0) return 0;
        err = errno;
        ::unlink(to.c_str());
        return err;
      }
      err = errno;
      if (err != EXDEV) return err;
    }
  }
  if (err != EXDEV) return err;

  if (int copyErr = CopyIntoPlace(from, to, /*keepTimes=*/true)) return copyErr;
  if (::unlink(from.c_str()) != 0) {
    err = errno;
    ::unlink(to.c_str());
    return err;
  }
  return 0;
}

int CopyFileNoReplace(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return ENOENT;
  return CopyIntoPlace(from, to, /*keepTimes=*/false);
}

// ---- names, links and plain file operations the tools use ----------------

NameKind KindOfName(const std::string& path) {
  struct stat st;
  if (path.empty()) return NameKind::kNone;
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? NameKind::kNone : NameKind::kOther;
  return S_ISREG(st.st_mode) ? NameKind::kFile : NameKind::kOther;
}

bool NameTaken(const std::string& path) {
  struct stat st;
  return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

std::string ResolvedPath(const std::string& path) {
  if (path.empty()) return std::string();
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return std::string();
  std::string resolved(real);
  std::free(real);
  return resolved;
}

long long FileSize(const std::string& path) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<long long>(st.st_size);
}

bool RegularFileMode(const std::string& path, mode_t& mode) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  mode = st.st_mode & 07777;
  return true;
}

bool SetFileMode(const std::string& path, mode_t mode) {
  return !path.empty() && ::chmod(path.c_str(), mode) == 0;
}

namespace {

bool SyncOpened(const std::string& path, int flags) {
  if (path.empty()) return false;
  UniqueFd fd(::open(path.c_str(), flags | O_CLOEXEC));
  return fd && ::fsync(fd.get()) == 0;
}

}  // namespace

bool FlushFileToDisk(const std::string& path) { return SyncOpened(path, O_RDONLY); }

bool FlushFolderToDisk(const std::string& path) { return SyncOpened(path, O_RDONLY | O_DIRECTORY); }

bool CopyFileContents(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return false;
  UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  // The target is emptied only once there is something to fill it with.
  if (!in) return false;
  UniqueFd out(::open(to.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
  if (!out) return false;
  return CopyBytes(in.get(), out.get()) == 0 && out.close() == 0;
}

bool ReplaceFileWith(const std::string& from, const std::string& to) {
  return !from.empty() && !to.empty() && ::rename(from.c_str(), to.c_str()) == 0;
}

bool IsSymbolicLink(const std::string& path) {
  struct stat st;
  return !path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

int OpenWithLock(const std::string& path) {
  if (path.empty()) return -1;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return -1;
  return fd.release();
}

bool TruncateStream(FILE* stream, long size) {
  if (!stream || size < 0) return false;
  if (::ftruncate(::fileno(stream), size) != 0) return false;
  return std::fseek(stream, size, SEEK_SET) == 0;
}

bool RemoveFile(const std::string& path) { return !path.empty() && ::unlink(path.c_str()) == 0; }

bool RemoveEmptyFolder(const std::string& path) {
  return !path.empty() && ::rmdir(path.c_str()) == 0;
}

}  // namespace pw
