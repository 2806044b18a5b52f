// Started on a file it cannot open, under a window manager, the program
// shows its box over its main window: the box belongs to the window, lies
// above it and is centred on it, so the window never looks frozen behind a
// hidden modal box.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/needed_programs.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
    pclose(pipe);
  }
  return out;
}

// The windows the window manager lists for a process, by id.
std::vector<unsigned long> WindowsOf(pid_t pid) {
  std::vector<unsigned long> ids;
  std::istringstream list(Output("wmctrl -lp 2>/dev/null"));
  std::string line;
  while (std::getline(list, line)) {
    std::istringstream fields(line);
    std::string id, desktop;
    long owner = 0;
    fields >> id >> desktop >> owner;
    if (owner == pid) ids.push_back(std::stoul(id, nullptr, 16));
  }
  return ids;
}

std::string Prop(unsigned long id, const std::string& name) {
  return Output("xprop -id " + std::to_string(id) + " " + name + " 2>/dev/null");
}

// A window's rectangle on the screen, without the window manager's frame.
struct Box {
  int x = 0, y = 0, w = 0, h = 0;
};
Box Geometry(unsigned long id) {
  const std::string info = Output("xwininfo -id " + std::to_string(id) + " 2>/dev/null");
  auto value = [&](const std::string& key) {
    const size_t at = info.find(key);
    return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + key.size());
  };
  return {value("Absolute upper-left X:"), value("Absolute upper-left Y:"), value("Width:"),
          value("Height:")};
}

TEST(StartupBox, AFileThatCannotOpenIsReportedInABoxOverTheMainWindow) {
  for (const char* program : {"wmctrl", "xprop", "xwininfo"})
    ASSERT_TRUE(pwtest::ProgramFound(program)) << pwtest::MissingProgramText(program);
  std::string pattern = (std::filesystem::temp_directory_path() / "pw-startbox-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const std::string home = pattern;
  struct Remove {
    std::string path;
    ~Remove() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  } remove{home};
  const std::string missing = home + "/no_such.tif";
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("HOME", home.c_str(), 1);
    setenv("PIXELWHARF_HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    execl(PW_PIXELWHARF_EXE, "pixelwharf", missing.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // The main window and the box, both managed.
  std::vector<unsigned long> windows;
  const Clock::time_point until = Clock::now() + std::chrono::seconds(120);
  while ((windows = WindowsOf(pid)).size() < 2 && Clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(windows.size(), 2u) << "the box never showed";
  unsigned long box = 0, frame = 0;
  for (unsigned long id : windows)
    (Prop(id, "WM_TRANSIENT_FOR").find("window id") != std::string::npos ? box : frame) = id;
  ASSERT_NE(box, 0u) << "the box does not belong to the main window";
  ASSERT_NE(frame, 0u);
  char hex[32];
  std::snprintf(hex, sizeof hex, "0x%lx", frame);
  EXPECT_NE(Prop(box, "WM_TRANSIENT_FOR").find(hex), std::string::npos)
      << Prop(box, "WM_TRANSIENT_FOR") << " is not the main window " << frame;
  // Above it in the window manager's stacking order (bottom first).
  const std::string stacking = Output("xprop -root _NET_CLIENT_LIST_STACKING");
  std::vector<unsigned long> order;
  for (size_t at = stacking.find("0x"); at != std::string::npos; at = stacking.find("0x", at + 2))
    order.push_back(std::stoul(stacking.substr(at), nullptr, 16));
  const auto position = [&](unsigned long id) {
    return std::find(order.begin(), order.end(), id) - order.begin();
  };
  EXPECT_GT(position(box), position(frame)) << stacking;
  // Centred on it.
  const Box f = Geometry(frame), b = Geometry(box);
  const auto text = [](const Box& r) {
    return std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.w) + "x" +
           std::to_string(r.h);
  };
  EXPECT_LE(std::abs((b.x + b.w / 2) - (f.x + f.w / 2)), 40) << text(b) << " over " << text(f);
  EXPECT_LE(std::abs((b.y + b.h / 2) - (f.y + f.h / 2)), 60) << text(b) << " over " << text(f);

  // The session's end closes box and program alike.
  kill(pid, SIGTERM);
  int status = 0;
  bool ended = false;
  const Clock::time_point asked = Clock::now();
  while (!ended && Clock::now() - asked < std::chrono::seconds(30)) {
    ended = waitpid(pid, &status, WNOHANG) == pid;
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  EXPECT_TRUE(ended && WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
