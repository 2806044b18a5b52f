#include "platform/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace pw {
namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string StripTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Creates every missing level of an absolute or relative folder path.
bool MakeFolders(const std::string& path) {
  if (path.empty()) return false;
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    const std::string level = path.substr(0, pos);
    if (::mkdir(level.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  return IsFolder(path);
}


std::string FileNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string JoinName(const std::string& folder, const std::string& name) {
  if (folder.empty()) return std::string();
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

std::string ExecutablePath() {
  std::vector<char> buf(4096);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<size_t>(n));
    if (buf.size() >= (1u << 20)) return std::string();
    buf.resize(buf.size() * 2);
  }
}

std::string ProgramFolder() {
  const std::string home = Env("PIXELWHARF_HOME");
  if (!home.empty()) return MakeFolders(home) ? StripTrailingSlashes(home) : std::string();

  const std::string exe = ExecutablePath();
  const std::string exeFolder = exe.empty() ? std::string() : FolderOf(exe);
  if (!exeFolder.empty() && IsFolder(exeFolder) && ::access(exeFolder.c_str(), W_OK) == 0)
    return exeFolder;

  std::string config = Env("XDG_CONFIG_HOME");
  if (config.empty() || config[0] != '/') {
    const std::string userHome = Env("HOME");
    if (userHome.empty()) return std::string();
    config = StripTrailingSlashes(userHome) + "/.config";
  }
  const std::string folder = StripTrailingSlashes(config) + "/pixelwharf";
  return MakeFolders(folder) ? folder : std::string();
}

std::string SettingsFilePath() {
  std::string exeName = FileNameOf(ExecutablePath());
  if (exeName.empty()) exeName = "pixelwharf";
  return JoinName(ProgramFolder(), exeName + ".ini");
}

std::string RunLogPath(const std::tm& localDate) {
  char name[64];
  if (std::strftime(name, sizeof name, "%Y年%m月%d日", &localDate) == 0) return std::string();
  return JoinName(ProgramFolder(), std::string(name) + ".log");
}

std::string RunLogPath() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return RunLogPath(local);
}

std::string TempFolder() {
  const std::string tmp = Env("TMPDIR");
  if (IsFolder(tmp)) return StripTrailingSlashes(tmp);
  return "/tmp";
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace pw
