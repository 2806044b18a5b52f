#include "exif/ReplacementFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

ReplacementFile::~ReplacementFile() { Abandon(); }

bool ReplacementFile::Create(const std::string& target) {
  Abandon();
  target_ = target;
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
  std::string pattern = folder + (folder == "/" ? "" : "/") + ".pixelwharf-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) return false;
  tempPath_ = name.data();
  file_ = fdopen(fd, "wb+");
  if (file_ == nullptr) {
    close(fd);
    unlink(tempPath_.c_str());
    tempPath_.clear();
    return false;
  }
  return true;
}

bool ReplacementFile::Commit() {
  if (file_ == nullptr) return false;
  bool ok = fflush(file_) == 0 && fsync(fileno(file_)) == 0;
  struct stat st;
  if (ok && stat(target_.c_str(), &st) == 0) ok = fchmod(fileno(file_), st.st_mode & 07777) == 0;
  const bool closed = fclose(file_) == 0;
  file_ = nullptr;
  ok = ok && closed && rename(tempPath_.c_str(), target_.c_str()) == 0;
  if (!ok) {
    unlink(tempPath_.c_str());
    tempPath_.clear();
    return false;
  }
  tempPath_.clear();
  return true;
}

void ReplacementFile::Abandon() {
  if (file_ != nullptr) {
    fclose(file_);
    file_ = nullptr;
  }
  if (!tempPath_.empty()) {
    unlink(tempPath_.c_str());
    tempPath_.clear();
  }
}
