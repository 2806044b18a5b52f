// File and folder services: existence, times, the read-only attribute,
// folder creation and a move that never replaces.
//
// Paths are narrow byte strings as the system takes them. An empty path is
// never taken to mean the current folder: every function treats it as a
// path that does not exist.
#pragma once

#include <sys/types.h>

#include <cstdint>
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

// Size in bytes of a regular file (or a link to one); -1 for anything else
// or when it cannot be examined.
int64_t RegularFileSize(const std::string& path);

}  // namespace pw
