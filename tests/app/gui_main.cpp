// Entry point of the GUI tests. Run directly, the program starts itself
// again under xvfb-run with GDK_BACKEND=x11 and a fresh HOME,
// XDG_CONFIG_HOME and PIXELWHARF_HOME, so no test sees the desktop, the
// user's settings or another test's files; listing the tests needs no
// display.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>

#include "app/PixelwharfApp.h"
#include "tests/needed_programs.h"

namespace {

int RunUnderXvfb(int argc, char** argv) {
  for (const char* program : {"xvfb-run", "Xvfb", "xauth"})
    if (!pwtest::ProgramFound(program)) {
      std::fprintf(stderr, "%s\n", pwtest::MissingProgramText(program).c_str());
      return 1;
    }
  std::string pattern = (std::filesystem::temp_directory_path() / "pw-gui-XXXXXX").string();
  const char* dir = mkdtemp(pattern.data());
  if (!dir) {
    std::perror("mkdtemp");
    return 1;
  }
  std::string root = dir;
  std::filesystem::create_directories(root + "/home/.config");
  std::filesystem::create_directories(root + "/pixelwharf");
  std::vector<std::string> args = {"xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", "env",
                                   "-u", "DBUS_SESSION_BUS_ADDRESS", "PW_GUI_TEST_INNER=1",
                                   "GDK_BACKEND=x11", "NO_AT_BRIDGE=1", "HOME=" + root + "/home",
                                   "XDG_CONFIG_HOME=" + root + "/home/.config",
                                   "PIXELWHARF_HOME=" + root + "/pixelwharf", "PW_GUI_TEST_ROOT=" + root};
  std::string self = std::filesystem::read_symlink("/proc/self/exe");
  args.push_back(self);
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
  std::vector<char*> cargs;
  for (auto& a : args) cargs.push_back(a.data());
  cargs.push_back(nullptr);

  // Parallel tests race for free display numbers, so a server may fail to
  // start: try again when the tests never got to run.
  int status = 0;
  for (int attempt = 0; attempt < 4; ++attempt) {
    pid_t pid = fork();
    if (pid == 0) {
      execvp("xvfb-run", cargs.data());
      std::perror("xvfb-run (install xvfb and xauth)");
      _exit(127);
    }
    waitpid(pid, &status, 0);
    if (std::filesystem::exists(root + "/started") || (WIFEXITED(status) && WEXITSTATUS(status) == 127))
      break;
    sleep(1 + attempt);
  }
  std::error_code ec;
  std::filesystem::remove_all(root, ec);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

#ifdef PW_GUI_WINDOW_MANAGER
// Maximising, restoring and the size hints mean something only to a window
// manager: these tests run under openbox, as a small desktop would.
pid_t StartWindowManager() {
  for (const char* program : {"openbox", "xprop"})
    if (!pwtest::ProgramFound(program)) {
      std::fprintf(stderr, "%s\n", pwtest::MissingProgramText(program).c_str());
      return -1;
    }
  pid_t pid = fork();
  if (pid == 0) {
    execlp("openbox", "openbox", "--sm-disable", static_cast<char*>(nullptr));
    _exit(127);
  }
  // It manages the screen once it names itself on the root window.
  for (int i = 0; i < 400 && pid > 0; ++i) {
    if (std::system("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'") == 0)
      return pid;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return -1;
    usleep(25000);
  }
  if (pid > 0) kill(pid, SIGTERM);
  return -1;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  bool listing = false;
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--gtest_list_tests", 18) == 0) listing = true;
  if (!listing && !std::getenv("PW_GUI_TEST_INNER")) return RunUnderXvfb(argc, argv);

  testing::InitGoogleTest(&argc, argv);
  if (listing) return RUN_ALL_TESTS();
#ifdef PW_GUI_WINDOW_MANAGER
  // Before "started": a display lost to a parallel test is tried again.
  const pid_t windowManager = StartWindowManager();
  if (windowManager < 0) {
    std::fprintf(stderr, "openbox did not start on %s: install it (scripts/setup installs openbox)\n",
                 std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "no display");
    return 1;
  }
#endif
  if (const char* root = std::getenv("PW_GUI_TEST_ROOT")) std::ofstream(std::string(root) + "/started");
  wxApp::SetInstance(new CPixelwharfApp);
  if (!wxEntryStart(argc, argv)) {
    std::fprintf(stderr, "cannot start the window system\n");
    return 1;
  }
  int result;
  {
    // The program runs inside its event loop; so do the tests.
    wxGUIEventLoop loop;
    wxEventLoopActivator active(&loop);
    result = RUN_ALL_TESTS();
  }
  wxEntryCleanup();
#ifdef PW_GUI_WINDOW_MANAGER
  kill(windowManager, SIGTERM);
  waitpid(windowManager, nullptr, 0);
#endif
  return result;
}
