// File and folder services: existence, times, the read-only attribute,
// folder creation and a move that never replaces.
//
// Paths are narrow byte strings as the system takes them. An empty path is
// never taken to mean the current folder: every function treats it as a
// path that does not exist.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace pw {

// The process's file-creation mask, read without changing it (umask() both
// reads and sets, which is not safe while other threads create files).
mode_t CurrentUmask();

// A regular file (or a link to one) that opens for reading. Folders, FIFOs,
// devices and unreadable files give false; a FIFO is never opened.
bool FileExists(const std::string& path);

// A folder (or a link to one).
bool FolderExists(const std::string& path);

// Anything at all under that name: a file, a folder, a device (a dangling
// link does not count, the name must resolve).
bool PathExists(const std::string& path);

// Creates one folder level; true when the folder exists afterwards.
bool CreateFolder(const std::string& path);

struct FileTimes {
  timespec creation{};      // birth time where the file system reports one, else the modification time
  timespec access{};
  timespec modification{};
};

// Reads the three times of a file. False when the file cannot be examined.
bool GetFileTimes(const std::string& path, FileTimes& out);

// Sets access and modification times to the nanosecond. Linux cannot set a
// creation time, so none is taken.
bool SetFileTimes(const std::string& path, const timespec& access, const timespec& modification);

// "Read-only" is the absence of the owner's write bit.
bool IsReadOnly(const std::string& path);
// Adds the owner's write bit; false when the file cannot be examined or changed.
bool ClearReadOnly(const std::string& path);

// Moves a file to `to` without ever replacing an existing file there.
// Returns 0 on success, else an errno value (EEXIST when the target exists).
// Across file systems the data is copied into a temporary file in the target
// folder, flushed to disk, renamed into place without replacing, given the
// source's mode and times, and only then is the source deleted. When the
// source cannot be deleted the copy is removed again and the move fails, so
// a failed move leaves both paths as they were.
int MoveFileNoReplace(const std::string& from, const std::string& to);

// Copies the bytes of a regular file to a new file `to` (which must not
// exist), flushed to disk, with the source's mode. Returns 0 or an errno value.
int CopyFileNoReplace(const std::string& from, const std::string& to);

// ---- names, links and plain file operations the tools use ----------------

// What a name is, without following a link: nothing, a regular file, or
// anything else (a link, a folder, a device, or a name that cannot be examined).
enum class NameKind { kNone, kFile, kOther };
NameKind KindOfName(const std::string& path);

// True when anything at all has that name, a dangling link included.
bool NameTaken(const std::string& path);

// The path with every link, "." and ".." resolved; empty when it does not resolve.
std::string ResolvedPath(const std::string& path);

// The size of a regular file (following links); -1 when it cannot be examined.
long long FileSize(const std::string& path);

// The permission bits of a regular file (following links); false when the
// name is not one.
bool RegularFileMode(const std::string& path, mode_t& mode);
// Sets the permission bits; false on failure.
bool SetFileMode(const std::string& path, mode_t mode);

// Forces a file's data, or a folder's entries, to disk.
bool FlushFileToDisk(const std::string& path);
bool FlushFolderToDisk(const std::string& path);

// Fills the existing file `to` with the bytes of `from`, replacing what it
// held. False when either cannot be opened or the copy is not complete.
bool CopyFileContents(const std::string& from, const std::string& to);

// Renames `from` over `to`, replacing a file there. False on failure.
bool ReplaceFileWith(const std::string& from, const std::string& to);

// True when the name is a symbolic link (dangling or not).
bool IsSymbolicLink(const std::string& path);

// Opens an existing file for reading and takes its exclusive lock without
// waiting. The descriptor (hold it while the lock is wanted), or -1.
int OpenWithLock(const std::string& path);

// Cuts an open stream's file to `size` bytes and moves the stream there
// (nothing is flushed first: after a failed write the buffer is junk).
bool TruncateStream(FILE* stream, long size);

// Removes a file (a link itself, never its target), or an empty folder.
bool RemoveFile(const std::string& path);
bool RemoveEmptyFolder(const std::string& path);

}  // namespace pw
