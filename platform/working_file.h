// The hidden working files our writers create beside a user's files
// (".pixelwharf-..."): a staged picture, the temporary of an atomic
// replace, the copy of a move across file systems. Each is created with an
// exclusive lock that its process holds until the file is renamed into
// place or removed. A process that is killed loses its locks with it, so a
// working file that nobody holds a lock on is left over from a killed run
// and can go.
#pragma once

#include <string>

namespace pw {

// Every working file's name starts with this.
inline constexpr char kWorkingFilePrefix[] = ".pixelwharf-";

// True when the last component of `path` starts with kWorkingFilePrefix.
bool IsWorkingFileName(const std::string& path);

// mkostemps on `pattern` (its "XXXXXX" before the last `suffixLength`
// bytes is replaced), opened read-write and close-on-exec, with the lock
// taken. Returns the descriptor (keep it open while the file is in use) or
// -1 with errno set; `pattern` then holds the name.
int CreateWorkingFile(std::string& pattern, int suffixLength);

// Removes the working files in `folder` (and, when `recursive`, in its real
// sub-folders) that no running process holds. Returns how many went.
size_t RemoveAbandonedWorkingFiles(const std::string& folder, bool recursive);

}  // namespace pw
