// A scratch folder for one test, removed with everything in it afterwards.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace pwtest {

class TempTree {
 public:
  explicit TempTree(const std::string& base = "") {
    std::string root = base.empty() ? std::filesystem::temp_directory_path().string() : base;
    std::string tmpl = root + "/pwtest-XXXXXX";
    if (!::mkdtemp(tmpl.data())) std::abort();
    path_ = tmpl;
  }
  ~TempTree() {
    std::error_code ec;
    // Restore write bits so read-only leftovers can be removed.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (!it->is_symlink(ec)) ::chmod(it->path().c_str(), 0755);
    }
    ::chmod(path_.c_str(), 0755);
    std::filesystem::remove_all(path_, ec);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

  // Writes a file (creating folders on the way) and returns its path.
  std::string Write(const std::string& rel, const std::string& content = "x") const {
    const std::string p = *this / rel;
    std::filesystem::create_directories(std::filesystem::path(p).parent_path());
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }
  std::string Mkdir(const std::string& rel) const {
    const std::string p = *this / rel;
    std::filesystem::create_directories(p);
    return p;
  }

 private:
  std::string path_;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Tests that rely on permissions being enforced make no sense as root.
inline bool RunningAsRoot() { return ::geteuid() == 0; }

// Makes writes beyond `bytes` fail with EFBIG for the life of this object,
// as a full disk would fail them.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit lim = old_;
    lim.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &lim);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    ::signal(SIGXFSZ, oldHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit old_{};
  sighandler_t oldHandler_{};
};

}  // namespace pwtest
