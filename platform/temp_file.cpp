#include "platform/temp_file.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/paths.h"

namespace pw {

std::string CreateTempFile(const std::string& prefix) {
  // A prefix may not smuggle in a folder.
  std::string safe = prefix.empty() ? std::string("pixelwharf") : prefix;
  for (char& c : safe)
    if (c == '/') c = '_';
  std::string path = TempFolder() + "/" + safe + "-XXXXXX";
  const int fd = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) return std::string();
  ::close(fd);
  return path;
}

FILE* OpenAnonymousTempFile() {
  std::string path = TempFolder() + "/pixelwharf-XXXXXX";
  const int fd = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) return nullptr;
  ::unlink(path.c_str());
  FILE* f = ::fdopen(fd, "w+b");
  if (!f) ::close(fd);
  return f;
}

ScopedTempFile::~ScopedTempFile() {
  if (!path_.empty()) ::unlink(path_.c_str());
}

std::string CreateTempFileWithSuffix(const std::string& prefix, const std::string& suffix) {
  // Neither part may smuggle in a folder.
  std::string safe = prefix.empty() ? std::string("pixelwharf") : prefix;
  std::string tail = suffix;
  for (std::string* part : {&safe, &tail})
    for (char& c : *part)
      if (c == '/') c = '_';
  std::string path = TempFolder() + "/" + safe + "-XXXXXX" + tail;
  const int fd = ::mkostemps(path.data(), int(tail.size()), O_CLOEXEC);
  if (fd < 0) return std::string();
  ::close(fd);
  return path;
}

}  // namespace pw
