// Opening a large raster: the reading runs off the UI thread, so the window
// keeps its timers and paints, shows how far the reading has come, and the
// opening can be cancelled, replaced or the program closed meanwhile, even
// while the reading sits in a call that cannot be stopped. The tests hold
// the opening thread at a known point; none guesses how long a read takes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <wx/timer.h>

#include "app/MainFrame.h"
#include "app/PixelwharfDoc.h"
#include "app/PixelwharfView.h"
#include "app/StatusBar.h"
#include "platform/background_work.h"
#include "tests/app/ui_ticks.h"
#include "tests/app/viewer_gui.h"
#include "tests/needed_programs.h"
#include "tests/raster/fixtures.h"

namespace viewergui {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::duration_cast;
using std::chrono::milliseconds;

// A tiled 16-bit GeoTIFF in $TMPDIR (sparse: no disk, but every sample to
// read), removed afterwards.
class LargeRaster {
 public:
  explicit LargeRaster(int width = 20000, int height = 20000) {
    const char* tmp = std::getenv("TMPDIR");
    path_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/pw-viewer-large-" +
            std::to_string(getpid()) + "-" + std::to_string(width) + ".tif";
    ok_ = pwtest::Run("gdal_create -q -of GTiff -ot UInt16 -outsize " + std::to_string(width) +
                      " " + std::to_string(height) + " -co TILED=YES -co SPARSE_OK=TRUE '" +
                      path_ + "'") == 0;
  }
  ~LargeRaster() {
    std::remove(path_.c_str());
    std::remove((path_ + ".czb").c_str());
  }
  bool ok() const { return ok_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  bool ok_ = false;
};

// Holds the first opening thread that reaches `point` until Release (or,
// so that a UI thread waiting for it fails the test instead of hanging it,
// until a generous cap has passed). Later openings pass. The state is shared
// with the hook: a dropped opening may reach it after the test.
class OpeningGate {
 public:
  explicit OpeningGate(std::string point, bool throwBadAlloc = false)
      : state_(std::make_shared<State>()) {
    state_->point = std::move(point);
    state_->throwBadAlloc = throwBadAlloc;
    std::shared_ptr<State> state = state_;
    CPixelwharfView::SetOpeningTestHook([state](const std::string& point) {
      if (point != state->point) return;
      std::unique_lock<std::mutex> lock(state->mutex);
      if (state->arrivals > 0 && !state->holdEvery) return;
      const int arrival = ++state->arrivals;
      state->cv.notify_all();
      if (state->throwBadAlloc) throw std::bad_alloc();
      state->cv.wait_for(lock, std::chrono::seconds(30),
                         [&] { return state->released || state->passes >= arrival; });
    });
  }
  ~OpeningGate() {
    Release();
    CPixelwharfView::SetOpeningTestHook({});
  }
  // Holds the thread at every arrival, not only the first; Step lets one
  // arrival through.
  void HoldEvery() { state_->holdEvery = true; }
  void Step() {
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      ++state_->passes;
    }
    state_->cv.notify_all();
  }
  // Runs the event loop until an opening is held; false after a minute.
  bool WaitHeld() {
    const Clock::time_point until = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < until) {
      {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (state_->arrivals > state_->passes) break;
      }
      Pump(10ms);
    }
    // The reports it posted before it stopped are shown.
    Pump(10ms);
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->arrivals > state_->passes;
  }
  void Release() {
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      state_->released = true;
    }
    state_->cv.notify_all();
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable cv;
    std::string point;
    bool throwBadAlloc = false;
    bool holdEvery = false;
    int arrivals = 0, passes = 0;
    bool released = false;
  };
  std::shared_ptr<State> state_;
};

bool Opening() { return View()->IsOpening(); }

// Waits for the dropped openings and disposed engines to run out.
void WaitForBackgroundWork() {
  EXPECT_TRUE(pw::WaitForBackgroundWork(std::chrono::seconds(120)));
  Pump(50ms);
}

void PressEscape() {
  wxKeyEvent escape(wxEVT_KEY_DOWN);
  escape.m_keyCode = WXK_ESCAPE;
  escape.SetEventObject(View());
  View()->GetEventHandler()->ProcessEvent(escape);
}

int Gauge() { return Frame()->GetProgressBar()->GetPos(); }

TEST(ViewerOpen, ALargeOpenLeavesTheUiThreadFree) {
  OpenThroughDialog(g_rgb);
  LargeRaster large;
  ASSERT_TRUE(large.ok());
  int paints = 0;
  std::vector<int> positions;
  auto onPaint = [&](wxPaintEvent& event) {
    ++paints;
    positions.push_back(Gauge());
    event.Skip();
  };
  View()->Bind(wxEVT_PAINT, onPaint);
  {
    // Held after its first report of progress, in the middle of the read:
    // were the reading on the UI thread, the hold would stop the timer. The
    // timer runs from the request on: what the window does before the
    // reading thread gets going counts as well.
    OpeningGate gate("progress");
    UiTicks ticks;
    ASSERT_TRUE(Frame()->OpenDocumentFile(wxString::FromUTF8(large.path())));
    ASSERT_TRUE(gate.WaitHeld());
    // Something asks for a repaint all the time, as a window dragged over
    // the viewer would.
    for (int i = 0; i < 20 && Opening(); ++i) {
      View()->Refresh(false);
      ticks.PumpTicks(1);
    }
    EXPECT_TRUE(Opening());
    EXPECT_GT(paints, 10) << "the window painted while the file was read";
    EXPECT_LE(ticks.LongestGap().count(), kLongestUiWait.count()) << "the UI thread's timer waited that long";
  }
  const Clock::time_point released = Clock::now();
  while (Opening() && Clock::now() - released < std::chrono::seconds(120)) {
    View()->Refresh(false);
    Pump(20ms);
  }
  View()->Unbind(wxEVT_PAINT, onPaint);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_TRUE(std::any_of(positions.begin(), positions.end(), [](int p) { return p > 0 && p < 1000; }))
      << "the gauge showed the reading's progress";

  Settle();
  ASSERT_NE(View()->GetRenderer(), nullptr);
  EXPECT_EQ(View()->GetRenderer()->ImageWidth(), 20000);
  EXPECT_EQ(Doc()->GetPath(), wxString::FromUTF8(large.path()).ToStdWstring());
  const pw::StatusProgressBar* bar = Frame()->GetProgressBar();
  EXPECT_EQ(bar->GetRangeMax(), 1000);
  EXPECT_EQ(bar->GetPos(), 1000) << "the gauge ends full";
}

// Esc stops an opening at once, even one inside the file's own opening,
// which cannot be interrupted: the image shown before stays, quietly, and
// the dropped reading's end is never reported.
TEST(ViewerOpen, EscapeCancelsAnOpenThatCannotBeInterrupted) {
  OpenThroughDialog(g_rgb);
  Messages().clear();
  LargeRaster large(4000, 3000);
  ASSERT_TRUE(large.ok());
  OpeningGate gate("start");
  UiTicks ticks;
  ASSERT_TRUE(Frame()->OpenDocumentFile(wxString::FromUTF8(large.path())));
  ASSERT_TRUE(gate.WaitHeld());
  PressEscape();
  ticks.PumpTicks(5);
  EXPECT_LE(ticks.LongestGap().count(), kLongestUiWait.count()) << "the window went that long without its timer";
  EXPECT_FALSE(Opening());
  EXPECT_EQ(Gauge(), 0) << "a cancelled open empties the gauge";
  gate.Release();
  WaitForBackgroundWork();
  Settle();
  EXPECT_EQ(View()->GetRenderer()->ImageWidth(), 200);
  EXPECT_EQ(Doc()->GetPath(), wxString::FromUTF8(g_rgb).ToStdWstring());
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(Gauge(), 0);
}

// Esc reaches the opening wherever the focus is in the window: after a
// start or a file dialog it is on the frame, and the view has never been
// clicked.
TEST(ViewerOpen, EscapeWithTheFocusOnTheFrameCancelsAnOpening) {
  OpenThroughDialog(g_rgb);
  LargeRaster large(4000, 3000);
  ASSERT_TRUE(large.ok());
  OpeningGate gate("start");
  ASSERT_TRUE(Frame()->OpenDocumentFile(wxString::FromUTF8(large.path())));
  ASSERT_TRUE(gate.WaitHeld());
  PressEscapeOnTheFrame();
  EXPECT_TRUE(WaitFor([] { return !Opening(); }, 30s)) << "Esc did not reach the opening";
  gate.Release();
  WaitForBackgroundWork();
  Settle();
  EXPECT_EQ(View()->GetRenderer()->ImageWidth(), 200);
}

// Esc in the middle of the reading: the gauge, which had moved, empties.
TEST(ViewerOpen, EscapeDuringTheReadEmptiesTheGauge) {
  OpenThroughDialog(g_rgb);
  Messages().clear();
  LargeRaster large;
  ASSERT_TRUE(large.ok());
  OpeningGate gate("progress");
  gate.HoldEvery();
  ASSERT_TRUE(Frame()->OpenDocumentFile(wxString::FromUTF8(large.path())));
  ASSERT_TRUE(gate.WaitHeld());
  for (int step = 0; step < 1000 && Gauge() == 0; ++step) {
    gate.Step();
    ASSERT_TRUE(gate.WaitHeld());
  }
  ASSERT_GT(Gauge(), 0) << "the reading reported its progress";
  PressEscape();
  EXPECT_FALSE(Opening());
  EXPECT_EQ(Gauge(), 0) << "a cancelled open empties the gauge";
  gate.Release();
  WaitForBackgroundWork();
  Settle();
  EXPECT_EQ(Gauge(), 0);
  EXPECT_EQ(View()->GetRenderer()->ImageWidth(), 200);
  EXPECT_TRUE(Messages().empty());
}

// A second opening while the first cannot be interrupted takes its place
// at once.
TEST(ViewerOpen, ANewOpeningReplacesOneThatCannotBeInterrupted) {
  OpenThroughDialog(g_rgb);
  Messages().clear();
  LargeRaster large(4000, 3000);
  ASSERT_TRUE(large.ok());
  OpeningGate gate("start");
  UiTicks ticks;
  ASSERT_TRUE(Frame()->OpenDocumentFile(wxString::FromUTF8(large.path())));
  ASSERT_TRUE(gate.WaitHeld());
  ASSERT_TRUE(Frame()->OpenDocumentFile(wxString::FromUTF8(g_u16)));
  const Clock::time_point asked = Clock::now();
  while (Opening() && Clock::now() - asked < std::chrono::seconds(60)) Pump(10ms);
  ticks.PumpTicks(3);
  EXPECT_LE(ticks.LongestGap().count(), kLongestUiWait.count()) << "the window went that long without its timer";
  Settle();
  EXPECT_FALSE(Opening());
  ASSERT_NE(View()->GetRenderer(), nullptr);
  EXPECT_EQ(View()->GetRenderer()->ImageWidth(), 300);
  EXPECT_EQ(Doc()->GetPath(), wxString::FromUTF8(g_u16).ToStdWstring());
  EXPECT_EQ(Gauge(), 1000) << "the gauge ends full";
  gate.Release();
  WaitForBackgroundWork();
  Settle();
  EXPECT_EQ(View()->GetRenderer()->ImageWidth(), 300) << "the dropped opening stays dropped";
  EXPECT_TRUE(Messages().empty());
}

// Opening another file while the old engine's worker sits in a re-read
// that cannot be stopped: the old engine is let go off the UI thread, and
// the new picture comes at once.
TEST(ViewerOpen, ANewImageReplacesOneWhoseRereadIsStuck) {
  OpenThroughDialog(g_rgb);
  Messages().clear();
  {
    HookGate gate(pw::ImageRenderer::RereadTestHook());
    View()->GetRenderer()->RequestReread();
    ASSERT_TRUE(gate.WaitHeld());
    UiTicks ticks;
    ASSERT_TRUE(Frame()->OpenDocumentFile(wxString::FromUTF8(g_u16)));
    EXPECT_TRUE(WaitFor([] { return !Opening(); }, 60s));
    ticks.PumpTicks(3);
    EXPECT_LE(ticks.LongestGap().count(), kLongestUiWait.count()) << "the UI thread waited for the stuck re-read";
    ASSERT_NE(View()->GetRenderer(), nullptr);
    EXPECT_EQ(View()->GetRenderer()->ImageWidth(), 300);
    gate.Release();
    WaitForBackgroundWork();
    Settle();
    gate.Remove();
  }
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(Doc()->GetPath(), wxString::FromUTF8(g_u16).ToStdWstring());
}

// A picture whose opening was held while the window changed its size is
// fitted to the size the window has when it arrives: whole and centred.
TEST(ViewerOpen, APictureOpenedDuringAResizeIsFittedToTheNewSize) {
  OpenThroughDialog(g_rgb);
  LargeRaster large(4000, 3000);
  ASSERT_TRUE(large.ok());
  const wxSize before = View()->GetClientSize();
  {
    OpeningGate gate("start");
    ASSERT_TRUE(Frame()->OpenDocumentFile(wxString::FromUTF8(large.path())));
    ASSERT_TRUE(gate.WaitHeld());
    View()->SetSize(wxSize(before.x / 2, before.y / 3));
    Pump(20ms);
  }
  Settle();
  pw::ImageRenderer* r = View()->GetRenderer();
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->ImageWidth(), 4000);
  const int W = View()->GetViewW(), H = View()->GetViewH();
  EXPECT_EQ(H, before.y / 3);
  EXPECT_LE(r->DrawnW(), W);
  EXPECT_LE(r->DrawnH(), H);
  EXPECT_TRUE(r->DrawnW() >= W - 1 || r->DrawnH() >= H - 1) << "fitted, not smaller";
  EXPECT_GE(r->X(), 0);
  EXPECT_GE(r->Y(), 0);
  EXPECT_LE(std::abs(2 * r->X() + r->DrawnW() - W), 2) << "centred across";
  EXPECT_LE(std::abs(2 * r->Y() + r->DrawnH() - H), 2) << "centred down";
  Frame()->Layout();
  Settle();
}

// A fault in the opening thread (memory running out) is a failed opening
// with its reason; the window and the image shown before stay.
TEST(ViewerOpen, AFaultInTheOpeningThreadIsAFailedOpen) {
  OpenThroughDialog(g_rgb);
  Messages().clear();
  {
    OpeningGate gate("start", /*throwBadAlloc=*/true);
    ASSERT_TRUE(Frame()->OpenDocumentFile(wxString::FromUTF8(g_u16)));
    Settle();
  }
  EXPECT_FALSE(Opening());
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_TRUE(Messages()[0].Contains(wxString::FromUTF8("内存不足"))) << Messages()[0];
  EXPECT_EQ(View()->GetRenderer()->ImageWidth(), 200);
  EXPECT_EQ(Doc()->GetPath(), wxString::FromUTF8(g_rgb).ToStdWstring());
}

// The same for the engine's re-read worker: the picture shown stays and the
// user is told why it did not sharpen.
TEST(ViewerOpen, AFaultInTheRereadWorkerIsReported) {
  OpenThroughDialog(g_rgb);
  Messages().clear();
  pw::ImageRenderer::RereadTestHook() = [] { throw std::bad_alloc(); };
  View()->GetRenderer()->RequestReread();
  Settle();
  pw::ImageRenderer::RereadTestHook() = nullptr;
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_TRUE(Messages()[0].Contains(wxString::FromUTF8("内存不足"))) << Messages()[0];
  ASSERT_NE(View()->GetRenderer(), nullptr);
  EXPECT_EQ(View()->GetRenderer()->ImageWidth(), 200);
  // The worker lives on: the next re-read works.
  Messages().clear();
  View()->GetRenderer()->RequestReread();
  Settle();
  EXPECT_TRUE(View()->GetRenderer()->Ready());
  EXPECT_TRUE(Messages().empty());
}

// The reader's own reason reaches the box, under the usual text.
TEST(ViewerOpen, AFailedOpenShowsTheReadersReason) {
  OpenThroughDialog(g_rgb);
  Messages().clear();
  const std::string complex = g_dir->File("complex.tif");
  ASSERT_EQ(pwtest::Run("gdal_create -q -of GTiff -ot CInt16 -outsize 20 10 '" + complex + "'"), 0);
  ASSERT_TRUE(Frame()->OpenDocumentFile(wxString::FromUTF8(complex)));
  Settle();
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_TRUE(Messages()[0].Contains(wxString::FromUTF8("无法打开文档")));
  EXPECT_TRUE(Messages()[0].Contains(wxString::FromUTF8("不支持的像素类型"))) << Messages()[0];
  EXPECT_EQ(Doc()->GetPath(), wxString::FromUTF8(g_rgb).ToStdWstring());
}

// How a program sent SIGTERM ended.
struct Ending {
  bool ended = false;  // by itself, within a minute
  int status = 0;      // as waitpid gives it
  // From the signal to the process's end, less the time the machine kept
  // its UI thread (the main thread) from a processor meanwhile: how long the
  // program kept the session waiting, whether that thread waited on
  // something or computed.
  milliseconds took{};
  bool Succeeded() const { return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0; }
};

// Sends the program SIGTERM and waits a minute at most for its end; a
// program still there then is killed.
Ending Terminate(pid_t pid) {
  const std::string uiThread = "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid);
  const std::chrono::nanoseconds queuedBefore = pwtest::RunQueueTime(uiThread);
  const Clock::time_point asked = Clock::now();
  kill(pid, SIGTERM);
  Ending ending;
  siginfo_t info{};
  while (!ending.ended && Clock::now() - asked < std::chrono::seconds(60)) {
    info.si_pid = 0;
    // Not reaped yet: the kernel still has the thread's counts.
    ending.ended = waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
    if (!ending.ended) std::this_thread::sleep_for(2ms);
  }
  const Clock::time_point end = Clock::now();
  if (ending.ended) {
    const std::chrono::nanoseconds queued = pwtest::RunQueueTime(uiThread) - queuedBefore;
    ending.took = duration_cast<milliseconds>((end - asked) - queued);
  } else {
    kill(pid, SIGKILL);
    ending.took = duration_cast<milliseconds>(end - asked);
  }
  waitpid(pid, &ending.status, 0);
  return ending;
}

// A raster whose only band comes from a named pipe: GDAL's opening waits in
// open(2) for a writer that never comes, a call nothing can interrupt.
std::string RasterThatNeverOpens(const pwtest::ScratchDir& dir) {
  const std::string pipe = dir.File("never.tif");
  if (mkfifo(pipe.c_str(), 0600) != 0) return {};
  const std::string vrt = dir.File("never.vrt");
  std::ofstream(vrt) << "<VRTDataset rasterXSize=\"100\" rasterYSize=\"100\">\n"
                        "  <VRTRasterBand dataType=\"Byte\" band=\"1\">\n"
                        "    <SimpleSource><SourceFilename relativeToVRT=\"1\">never.tif"
                        "</SourceFilename><SourceBand>1</SourceBand></SimpleSource>\n"
                        "  </VRTRasterBand>\n</VRTDataset>\n";
  return vrt;
}

// Started on a raster whose reading never ends, the real program maps its
// window (it does not wait for the file), and ends promptly and cleanly on
// SIGTERM (what the close button does too) while the reading still waits
// inside GDAL: it leaves without tearing the libraries down under that
// reading (no library destructor runs).
TEST(ViewerOpen, StartedOnARasterThatNeverOpensTheWindowMapsAndTheProcessEndsPromptly) {
  ASSERT_TRUE(pwtest::ProgramFound("xdotool")) << pwtest::MissingProgramText("xdotool");
  pwtest::ScratchDir home;
  const std::string raster = RasterThatNeverOpens(home);
  ASSERT_FALSE(raster.empty());
  const std::string marker = home.Path() + "/orderly-exit";
  // The marker library does tell an orderly end.
  ASSERT_EQ(std::system(("LD_PRELOAD='" PW_EXIT_MARKER_LIB "' PW_EXIT_MARKER='" + marker + "' /bin/true").c_str()), 0);
  ASSERT_TRUE(std::ifstream(marker).good()) << "the marker library did not run at an orderly end";
  std::remove(marker.c_str());
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("HOME", home.Path().c_str(), 1);
    setenv("PIXELWHARF_HOME", home.Path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home.Path() + "/.config").c_str(), 1);
    setenv("LD_PRELOAD", PW_EXIT_MARKER_LIB, 1);
    setenv("PW_EXIT_MARKER", marker.c_str(), 1);
    execl(PW_PIXELWHARF_EXE, "pixelwharf", raster.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  const std::string search =
      "xdotool search --onlyvisible --pid " + std::to_string(pid) + " >/dev/null 2>&1";
  const Clock::time_point started = Clock::now();
  bool mapped = false;
  while (!mapped && Clock::now() - started < std::chrono::seconds(120)) {
    mapped = std::system(search.c_str()) == 0;
    if (!mapped) std::this_thread::sleep_for(50ms);
  }
  EXPECT_TRUE(mapped) << "the window did not map while the file was being opened";
  // The reading has begun and waits inside GDAL, on the pipe that never
  // gets a writer (the file opens once the window is placed).
  auto readingStuck = [pid] {
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
      std::string waitingIn;
      std::ifstream(task.path() / "wchan") >> waitingIn;
      if (waitingIn == "wait_for_partner") return true;
    }
    return false;
  };
  bool stuck = false;
  while (!stuck && Clock::now() - started < std::chrono::seconds(120)) {
    stuck = readingStuck();
    if (!stuck) std::this_thread::sleep_for(50ms);
  }
  EXPECT_TRUE(stuck) << "the reading never began";
  const Ending ending = Terminate(pid);
  EXPECT_TRUE(ending.Succeeded()) << "ended by itself: " << ending.ended << ", status " << ending.status;
  EXPECT_LE(ending.took.count(), kLongestUiWait.count()) << "the program took that long to end";
  std::ifstream settings(home.Path() + "/pixelwharf.ini");
  EXPECT_TRUE(settings.good()) << "the settings were saved on the way out";
  EXPECT_FALSE(std::ifstream(marker).good()) << "the libraries were torn down under the stuck reading";
}

// The real program, in a home of its own, on `file`; ended with SIGKILL
// when the test did not see it end.
class RunningProgram {
 public:
  RunningProgram(const std::string& home, const std::string& file) {
    pid_ = fork();
    if (pid_ == 0) {
      setenv("HOME", home.c_str(), 1);
      setenv("PIXELWHARF_HOME", home.c_str(), 1);
      setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
      execl(PW_PIXELWHARF_EXE, "pixelwharf", file.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~RunningProgram() {
    if (pid_ > 0 && !ended_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  // The ids of its windows on screen, as xdotool lists them.
  std::vector<std::string> Windows() const {
    std::vector<std::string> ids;
    const std::string command =
        "xdotool search --onlyvisible --pid " + std::to_string(pid_) + " 2>/dev/null";
    if (FILE* out = popen(command.c_str(), "r")) {
      char line[64];
      while (std::fgets(line, sizeof line, out)) ids.push_back(std::string(line, std::strcspn(line, "\n")));
      pclose(out);
    }
    return ids;
  }
  bool WaitWindows(size_t count) const {
    const Clock::time_point until = Clock::now() + std::chrono::seconds(120);
    while (Windows().size() < count) {
      if (Clock::now() > until) return false;
      std::this_thread::sleep_for(50ms);
    }
    return true;
  }
  // Sends SIGTERM and waits for the end.
  Ending Terminate() {
    ended_ = true;
    return viewergui::Terminate(pid_);
  }

 private:
  pid_t pid_ = -1;
  bool ended_ = false;
};

// A session's end while the open dialog is up: the dialog's loop ends, the
// settings are saved and the program ends by itself, promptly (the fault:
// it waited for the user to answer the dialog).
TEST(ViewerOpen, SignalWhileTheFileChooserIsOpenEndsTheProgramPromptly) {
  ASSERT_TRUE(pwtest::ProgramFound("xdotool")) << pwtest::MissingProgramText("xdotool");
  pwtest::ScratchDir home;
  RunningProgram program(home.Path(), g_rgb);
  ASSERT_TRUE(program.WaitWindows(1)) << "the window never mapped";
  const std::string frame = program.Windows().front();
  // A double click into the viewer opens the chooser, as the 打开 button does.
  const std::string click = "xdotool mousemove --window " + frame +
                            " 500 500 click --repeat 2 --delay 80 1";
  ASSERT_TRUE(pwtest::CheckProgramOf(click));
  ASSERT_EQ(std::system(click.c_str()), 0);
  ASSERT_TRUE(program.WaitWindows(2)) << "the file chooser never showed";
  const std::string settings = home.Path() + "/pixelwharf.ini";
  std::remove(settings.c_str());
  const Ending ending = program.Terminate();
  EXPECT_TRUE(ending.Succeeded()) << "ended by itself: " << ending.ended << ", status " << ending.status;
  EXPECT_LE(ending.took.count(), kLongestUiWait.count()) << "the program took that long to end";
  RecordProperty("exit_ms", int(ending.took.count()));
  std::printf("ended %lld ms after SIGTERM, leaving out the time it waited for a processor\n",
              static_cast<long long>(ending.took.count()));
  EXPECT_TRUE(std::ifstream(settings).good()) << "the settings were saved on the way out";
}

}  // namespace
}  // namespace viewergui
