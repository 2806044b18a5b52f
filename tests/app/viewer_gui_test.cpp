// The viewer in the real window: the program's own application object and
// main frame under Xvfb, driven through its event handlers, and checked
// through the status bar, the engine and screenshots of the X server.
//
// The test program re-runs itself under `xvfb-run -a` with a fresh HOME and
// PIXELWHARF_HOME (listing the tests needs no display).
#include <gdal.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <csignal>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <fstream>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include <wx/app.h>
#include <wx/dnd.h>
#include <wx/evtloop.h>
#include <wx/image.h>
#include <wx/imagtiff.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <gdk/gdk.h>

#include "app/CommandIds.h"
#include "app/Dialogs.h"
#include "app/MainFrame.h"
#include "app/MessageBox.h"
#include "app/PixelwharfApp.h"
#include "app/PixelwharfDoc.h"
#include "app/PixelwharfView.h"
#include "app/StatusBar.h"
#include "raster/StretchTable.h"
#include "tests/app/viewer_gui.h"
#include "tests/needed_programs.h"
#include "tests/raster/fixtures.h"

namespace viewergui {

pwtest::ScratchDir* g_dir = nullptr;
std::string g_rgb;
std::string g_u16;

// Runs the event loop for a while so that paints, CallAfter and idle
// handlers happen.
void Pump(std::chrono::milliseconds time) {
  const auto end = std::chrono::steady_clock::now() + time;
  wxEventLoopBase* loop = wxEventLoopBase::GetActive();
  do {
    while (loop && loop->Pending()) loop->Dispatch();
    wxTheApp->ProcessPendingEvents();
    if (loop) loop->ProcessIdle();
    std::this_thread::sleep_for(5ms);
  } while (std::chrono::steady_clock::now() < end);
}

CMainFrame* Frame() { return PwApp().GetMainFrame(); }
CPixelwharfView* View() { return Frame()->GetActiveView(); }
CPixelwharfDoc* Doc() { return PwApp().GetDocument(); }

wxString Pane(int pos) { return Frame()->GetStatusExElement(pos)->GetText(); }

bool WaitFor(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    Pump(5ms);
  }
  return true;
}

void Settle() {
  // An opening reads off the UI thread and hands its engine over through
  // the event loop.
  ASSERT_TRUE(WaitFor([] { return !View()->IsOpening(); }, 120s)) << "the opening never ended";
  if (pw::ImageRenderer* r = View()->GetRenderer()) {
    ASSERT_TRUE(r->WaitForRereads(60s));
    // The worker's last word is queued for this thread: the sharp picture
    // is in the view once the view has taken it. (A re-read that failed
    // leaves the engine not ready, and nothing more comes.)
    ASSERT_TRUE(WaitFor([r] { return !r->Ready() || !r->OverviewOnly(); }, 60s))
        << "the finished re-read never reached the view";
  }
  Pump(0ms);
  // Painted now, and on the X server before anyone looks at the screen.
  View()->Refresh(false);
  View()->Update();
  gdk_display_sync(gdk_display_get_default());
}

void Mouse(wxEventType type, int x, int y, int rotation) {
  wxMouseEvent e(type);
  e.SetEventObject(View());
  e.SetPosition(wxPoint(x, y));
  e.m_leftDown = type == wxEVT_LEFT_DOWN || (type == wxEVT_MOTION && View()->HasCapture());
  e.m_wheelRotation = rotation;
  e.m_wheelDelta = 120;
  e.m_wheelAxis = wxMOUSE_WHEEL_VERTICAL;
  View()->GetEventHandler()->ProcessEvent(e);
  // A readout of the file's own samples is read off this thread and shown
  // when it arrives.
  if (type == wxEVT_MOTION) {
    ASSERT_TRUE(WaitFor([] { return !View()->IsReadoutPending(); }, 60s))
        << "the readout's value never arrived";
  }
}

// Client position of image pixel (column, row from the top) in the view.
wxPoint ClientOf(double column, double row) {
  const pw::ImageRenderer* r = View()->GetRenderer();
  return wxPoint(int(r->X() + (column + 0.5) * r->Scale()),
                 int(View()->GetViewH() - r->Y() - r->DrawnH() + (row + 0.5) * r->Scale()));
}

void PressEscapeOnTheFrame() {
  // Where a command-line start or a file dialog leaves the focus: on the
  // frame, not in the view.
  Frame()->Raise();
  Frame()->SetFocus();
  ASSERT_TRUE(WaitFor([] { return wxWindow::FindFocus() != View(); }, 30s));
  // Without a window manager the X server gives the keys to the window
  // under the pointer: the frame's bottom edge, outside the view.
  wxUIActionSimulator sim;
  sim.MouseMove(Frame()->ClientToScreen(wxPoint(4, Frame()->GetClientSize().y - 4)));
  sim.Char(WXK_ESCAPE);
}

// A real screenshot of the X screen (ImageMagick's import); kept in the
// folder PW_GUI_SHOTS names, when set, for a look by eye.
wxImage Screenshot(const std::string& name) {
  const char* keep = std::getenv("PW_GUI_SHOTS");
  const std::string path = (keep && *keep ? std::string(keep) + "/viewer_" : g_dir->Path() + "/") + name + ".png";
  const std::string cmd = "import -window root '" + path + "' 2>/dev/null";
  if (pwtest::CheckProgramOf(cmd)) {
    EXPECT_EQ(std::system(cmd.c_str()), 0);
  }
  wxImage image;
  image.LoadFile(path, wxBITMAP_TYPE_PNG);
  return image;
}

// The colour of the screen at a client point of the view.
wxColour ScreenColour(const wxImage& shot, wxPoint client) {
  const wxPoint p = View()->ClientToScreen(client);
  if (!shot.IsOk() || p.x < 0 || p.y < 0 || p.x >= shot.GetWidth() || p.y >= shot.GetHeight())
    return wxColour();
  return wxColour(shot.GetRed(p.x, p.y), shot.GetGreen(p.x, p.y), shot.GetBlue(p.x, p.y));
}

class ViewerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    g_dir = new pwtest::ScratchDir;
    g_rgb = g_dir->File("rgb.tif");
    g_u16 = g_dir->File("scene.tif");
    pwtest::WriteRaster(g_rgb, 200, 100, 3, GDT_Byte,
                        [](int x, int t, int b) { return b == 0 ? x : (b == 1 ? t : 7); });
    pwtest::WriteRaster(g_u16, 300, 150, 1, GDT_UInt16,
                        [](int x, int t, int) { return 1000 + x * 20 + t * 3; });
    // The image to open comes on the command line, as a user would give it.
    static std::string arg0 = "pixelwharf";
    static std::string arg1 = g_rgb;
    static char* argv[] = {arg0.data(), arg1.data(), nullptr};
    static int argc = 2;
    pw::SetMessageBoxHook([](const wxString& text, long) {
      messages.push_back(text);
      return wxOK;
    });
    wxApp::SetInstance(new CPixelwharfApp);
    ASSERT_TRUE(wxEntryStart(argc, argv));
    loop_ = new wxEventLoop;
    wxEventLoopBase::SetActive(loop_);
    ASSERT_TRUE(wxTheApp->CallOnInit());
    // The file opens once the window is on screen.
    ASSERT_TRUE(WaitFor([] { return View()->IsOpening() || !Doc()->GetPath().empty(); }, 60s))
        << "the command line's file never began to open";
  }
  void TearDown() override {
    if (CMainFrame* frame = PwApp().GetMainFrame()) frame->Close(true);
    Pump(100ms);
    wxTheApp->OnExit();
    wxEventLoopBase::SetActive(nullptr);
    delete loop_;
    wxEntryCleanup();
    pw::SetMessageBoxHook({});
    delete g_dir;
  }
  static std::vector<wxString> messages;

 private:
  wxEventLoop* loop_ = nullptr;
};
std::vector<wxString> ViewerEnvironment::messages;
std::vector<wxString>& Messages() { return ViewerEnvironment::messages; }

// The 8-bit conversion runs on a thread of its own: runs the event loop
// until it has ended and said how.
void WaitForConversion() {
  for (int i = 0; i < 12000 && Doc()->IsConverting(); ++i) Pump(10ms);
  ASSERT_FALSE(Doc()->IsConverting());
  Pump(50ms);
}

// Opens through the document as the ribbon's open command does.
void OpenThroughDialog(const std::string& path) {
  pw::SetFileDialogHook(
      [&](const pw::FileDialogRequest&) { return wxString::FromUTF8(path).ToStdWstring(); });
  Frame()->DoCommand(pw::cmd::ID_BUTTON_OPEN);
  pw::SetFileDialogHook({});
  Settle();
}

TEST(Viewer, OpensFromTheCommandLineFittedAndPainted) {
  Settle();
  EXPECT_EQ(Doc()->GetPath(), wxString::FromUTF8(g_rgb).ToStdWstring());
  pw::ImageRenderer* r = View()->GetRenderer();
  ASSERT_NE(r, nullptr);
  ASSERT_TRUE(r->IsOpen());
  EXPECT_EQ(r->ImageWidth(), 200);
  EXPECT_EQ(View()->GetViewW() % 4, 0);
  EXPECT_EQ(r->Scale(), 1.0) << "smaller than the view: shown 1:1";
  EXPECT_TRUE(Frame()->IsCommandEnabled(pw::cmd::ID_BUTTON_CVT2EIGHT));
  EXPECT_TRUE(Frame()->IsCommandEnabled(pw::cmd::ID_CHECK_REALPIXVALUE));

  const wxImage shot = Screenshot("command_line");
  const wxColour c = ScreenColour(shot, ClientOf(120, 40));
  EXPECT_EQ(c.Red(), 120);
  EXPECT_EQ(c.Green(), 40);
  EXPECT_EQ(c.Blue(), 7);
  const wxColour bg = ScreenColour(shot, wxPoint(2, 2));
  EXPECT_EQ(bg.Red(), 240) << "background around the image";
}

TEST(Viewer, ReadoutInBothModesAndWithYReversed) {
  OpenThroughDialog(g_rgb);
  const wxPoint p = ClientOf(10, 20);
  Mouse(wxEVT_MOTION, p.x, p.y);
  EXPECT_EQ(Pane(0), "X=10.000000 Y=20.000000");
  EXPECT_EQ(Pane(1), "R=10 G=20 B=7");

  Frame()->DoCommand(pw::cmd::ID_CHECK_YREVERSE);
  EXPECT_TRUE(Frame()->IsCommandChecked(pw::cmd::ID_CHECK_YREVERSE));
  Mouse(wxEVT_MOTION, p.x, p.y);
  EXPECT_EQ(Pane(0), "X=10.000000 Y=79.000000");
  const wxPoint bottom = ClientOf(0, 99);
  Mouse(wxEVT_MOTION, bottom.x, bottom.y);
  EXPECT_EQ(Pane(0), "X=0.000000 Y=0.000000");
  Frame()->DoCommand(pw::cmd::ID_CHECK_YREVERSE);

  // Outside the image (the half pixel left of column 0 included) the
  // readout stays as it was.
  const pw::ImageRenderer* r = View()->GetRenderer();
  Mouse(wxEVT_MOTION, r->X() - 1, p.y);
  EXPECT_EQ(Pane(0), "X=0.000000 Y=0.000000");

  // A 16-bit band: the file's own value, or the displayed (stretched) grey.
  OpenThroughDialog(g_u16);
  std::vector<uint8_t> table;
  ASSERT_TRUE(pw::BuildStretchTables(g_u16, 10000, table));
  const wxPoint q = ClientOf(100, 50);
  Mouse(wxEVT_MOTION, q.x, q.y);
  const int grey = table[1000 + 100 * 20 + 50 * 3];
  EXPECT_EQ(Pane(0), "X=100.000000 Y=50.000000");
  EXPECT_EQ(Pane(1), wxString::Format("R=%d G=%d B=%d", grey, grey, grey));
  Frame()->DoCommand(pw::cmd::ID_CHECK_REALPIXVALUE);
  Mouse(wxEVT_MOTION, q.x, q.y);
  EXPECT_EQ(Pane(1), "R=3150 G=3150 B=3150");
  Frame()->DoCommand(pw::cmd::ID_CHECK_REALPIXVALUE);
}

TEST(Viewer, DragPansAndWheelZoomsAroundThePointer) {
  OpenThroughDialog(g_rgb);
  pw::ImageRenderer* r = View()->GetRenderer();
  const double offX = r->OffX(), offY = r->OffY();
  const wxPoint start = ClientOf(50, 50);
  Mouse(wxEVT_LEFT_DOWN, start.x, start.y);
  EXPECT_TRUE(r->Dragging());
  Mouse(wxEVT_MOTION, start.x + 20, start.y + 5);
  Mouse(wxEVT_MOTION, start.x + 30, start.y + 10);
  Mouse(wxEVT_LEFT_UP, start.x + 30, start.y + 10);
  EXPECT_FALSE(r->Dragging());
  EXPECT_FALSE(View()->HasCapture());
  EXPECT_EQ(r->OffX(), offX + 30);
  EXPECT_EQ(r->OffY(), offY - 10) << "down on the screen is down in the view";
  Settle();
  EXPECT_TRUE(r->Ready());
  wxImage shot = Screenshot("after_drag");
  wxColour c = ScreenColour(shot, wxPoint(start.x + 30, start.y + 10));
  EXPECT_EQ(c.Red(), 50);
  EXPECT_EQ(c.Green(), 50);

  // One notch up at a pixel: the scale grows by an eighth and that pixel
  // stays under the pointer.
  const wxPoint at = ClientOf(150, 30);
  Mouse(wxEVT_MOUSEWHEEL, at.x, at.y, 120);
  EXPECT_DOUBLE_EQ(r->Scale(), 1.125);
  Settle();
  Mouse(wxEVT_MOTION, at.x, at.y);
  EXPECT_EQ(Pane(0), "X=150.000000 Y=30.000000");
  shot = Screenshot("after_wheel");
  c = ScreenColour(shot, at);
  EXPECT_NEAR(c.Red(), 150, 1);
  EXPECT_NEAR(c.Green(), 30, 1);
}

TEST(Viewer, DoubleClickOpensTheFileDialog) {
  bool asked = false;
  pw::SetFileDialogHook([&](const pw::FileDialogRequest& request) {
    asked = request.kind == pw::FileDialogRequest::Open;
    return wxString::FromUTF8(g_u16).ToStdWstring();
  });
  Mouse(wxEVT_LEFT_DCLICK, 30, 30);
  pw::SetFileDialogHook({});
  Settle();
  EXPECT_TRUE(asked);
  EXPECT_EQ(Doc()->GetPath(), wxString::FromUTF8(g_u16).ToStdWstring());
}

// The same drag through the X server's own input (XTest), as a hand would
// make it: button, motion with the button held, release.
TEST(Viewer, RealPointerDragPans) {
  OpenThroughDialog(g_rgb);
  Frame()->Raise();
  Pump(200ms);
  pw::ImageRenderer* r = View()->GetRenderer();
  const double offX = r->OffX(), offY = r->OffY();
  const wxPoint start = View()->ClientToScreen(ClientOf(60, 40));
  wxUIActionSimulator sim;
  sim.MouseMove(start);
  Pump(100ms);
  sim.MouseDown();
  Pump(100ms);
  for (int i = 1; i <= 5; ++i) {
    sim.MouseMove(start + wxPoint(4 * i, -2 * i));
    Pump(50ms);
  }
  sim.MouseUp();
  // The X server hands the events on in order, but in its own time: wait
  // until the release has arrived.
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while ((r->Dragging() || r->OffX() != offX + 20 || r->OffY() != offY + 10) &&
         std::chrono::steady_clock::now() < deadline)
    Pump(20ms);
  EXPECT_FALSE(r->Dragging());
  EXPECT_EQ(r->OffX(), offX + 20);
  EXPECT_EQ(r->OffY(), offY + 10) << "up on the screen is up in the view";
  Settle();
  const wxImage shot = Screenshot("real_drag");
  const wxColour c = ScreenColour(shot, View()->ScreenToClient(start + wxPoint(20, -10)));
  EXPECT_EQ(c.Red(), 60);
  EXPECT_EQ(c.Green(), 40);
  // The readout followed the real pointer too.
  EXPECT_EQ(Pane(0), "X=60.000000 Y=40.000000");
}

// A resize draws the overview at once and leaves the sharp picture to the
// engine's worker: the UI thread never reads the file.
TEST(Viewer, ResizeKeepsThePlacementAndRereadsOnTheWorker) {
  OpenThroughDialog(g_rgb);
  pw::ImageRenderer* r = View()->GetRenderer();
  const wxSize before = View()->GetClientSize();
  const double offX = r->OffX();
  // The worker is held at the start of its next re-read.
  std::mutex mutex;
  std::condition_variable cv;
  bool held = false, release = false;
  pw::ImageRenderer::RereadTestHook() = [&] {
    std::unique_lock<std::mutex> lock(mutex);
    held = true;
    cv.notify_all();
    cv.wait(lock, [&] { return release; });
  };
  View()->SetSize(wxSize(before.x - 37, before.y - 20));
  EXPECT_EQ(r->ViewW(), (before.x - 37 + 3) / 4 * 4);
  EXPECT_EQ(r->ViewH(), before.y - 20);
  EXPECT_EQ(r->OffX(), offX) << "a size change does not refit";
  {
    std::unique_lock<std::mutex> lock(mutex);
    EXPECT_TRUE(cv.wait_for(lock, 30s, [&] { return held; })) << "the worker re-reads";
  }
  EXPECT_FALSE(r->Ready()) << "the new size's picture comes from the worker";
  // The frame drawn right after the resize shows the image where the
  // readout places it.
  const wxPoint p = ClientOf(33, 44);
  Mouse(wxEVT_MOTION, p.x, p.y);
  EXPECT_EQ(Pane(1), "R=33 G=44 B=7");
  {
    std::lock_guard<std::mutex> lock(mutex);
    release = true;
  }
  cv.notify_all();
  Settle();
  pw::ImageRenderer::RereadTestHook() = nullptr;
  EXPECT_TRUE(r->Ready());
  EXPECT_FALSE(r->OverviewOnly()) << "the sharp picture replaced the overview";
  Mouse(wxEVT_MOTION, p.x, p.y);
  EXPECT_EQ(Pane(1), "R=33 G=44 B=7");
  Frame()->Layout();
  Settle();
}

TEST(Viewer, OpensADroppedFile) {
  OpenThroughDialog(g_rgb);
  auto* target = dynamic_cast<wxFileDropTarget*>(View()->GetDropTarget());
  ASSERT_NE(target, nullptr);
  wxArrayString files;
  files.push_back(wxString::FromUTF8(g_u16));
  EXPECT_TRUE(target->OnDropFiles(10, 10, files));
  Settle();
  EXPECT_EQ(Doc()->GetPath(), wxString::FromUTF8(g_u16).ToStdWstring());
  EXPECT_EQ(View()->GetRenderer()->ImageWidth(), 300);
}

TEST(Viewer, ConvertsThroughTheOfferedName) {
  OpenThroughDialog(g_u16);
  ViewerEnvironment::messages.clear();
  pw::FileDialogRequest asked;
  pw::SetFileDialogHook([&](const pw::FileDialogRequest& request) {
    asked = request;
    return (wxString::FromUTF8(g_dir->Path()) + "/" + request.defaultName + request.defaultExtension)
        .ToStdWstring();
  });
  Frame()->DoCommand(pw::cmd::ID_BUTTON_CVT2EIGHT);
  pw::SetFileDialogHook({});
  WaitForConversion();
  EXPECT_EQ(asked.kind, pw::FileDialogRequest::Save);
  EXPECT_EQ(asked.defaultName, "scene_8");
  EXPECT_EQ(asked.defaultDir, wxString::FromUTF8(g_dir->Path())) << "the dialog opens beside the image";
  EXPECT_EQ(asked.defaultExtension, ".tif");
  EXPECT_TRUE(asked.filter.Contains(wxString::FromUTF8("文件（*.")));
  ASSERT_EQ(ViewerEnvironment::messages.size(), 1u);
  EXPECT_EQ(ViewerEnvironment::messages[0], wxString::FromUTF8("任务完成！"));
  EXPECT_EQ(pwtest::FileSize(g_u16 + ".czb"), 65536);
  int w = 0, h = 0, type = 0;
  const std::vector<double> out = pwtest::ReadBand(g_dir->File("scene_8.tif"), 0, &w, &h, &type);
  EXPECT_EQ(w, 300);
  EXPECT_EQ(h, 150);
  EXPECT_EQ(type, GDT_Byte);
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(*std::max_element(out.begin(), out.end()), 254);
  EXPECT_EQ(*std::min_element(out.begin(), out.end()), 1);
  EXPECT_EQ(Frame()->GetProgressBar()->GetPos(), 150);
}

TEST(Viewer, ConversionFailuresAreReportedAsFailures) {
  OpenThroughDialog(g_rgb);
  const struct { std::string answer; const char* what; } cases[] = {
      {g_rgb, "the open image itself"},
      {g_dir->File("rgb_8.gif"), "three bands as GIF"},
      {g_dir->File("rgb_8.tiff"), "an extension without a driver"},
  };
  for (const auto& c : cases) {
    ViewerEnvironment::messages.clear();
    pw::SetFileDialogHook([&](const pw::FileDialogRequest&) {
      return wxString::FromUTF8(c.answer).ToStdWstring();
    });
    Frame()->DoCommand(pw::cmd::ID_BUTTON_CVT2EIGHT);
    pw::SetFileDialogHook({});
    WaitForConversion();
    ASSERT_EQ(ViewerEnvironment::messages.size(), 1u) << c.what;
    EXPECT_TRUE(ViewerEnvironment::messages[0].StartsWith(wxString::FromUTF8("转换失败："))) << c.what;
    EXPECT_NE(ViewerEnvironment::messages[0], wxString::FromUTF8("任务完成！"));
  }
  EXPECT_FALSE(pwtest::Exists(g_dir->File("rgb_8.gif")));
  const std::vector<double> still = pwtest::ReadBand(g_rgb, 0);
  ASSERT_EQ(still.size(), 20000u);
  EXPECT_EQ(still[57], 57) << "the input is untouched";

  // Cancelling the dialog does nothing at all.
  ViewerEnvironment::messages.clear();
  pw::SetFileDialogHook([](const pw::FileDialogRequest&) { return std::wstring(); });
  Frame()->DoCommand(pw::cmd::ID_BUTTON_CVT2EIGHT);
  pw::SetFileDialogHook({});
  EXPECT_TRUE(ViewerEnvironment::messages.empty());
}

// A file without a raster in it is reported as a missing one is; the
// image shown before stays, with its path and commands.
TEST(Viewer, AFileWithoutARasterSaysSoAndKeepsTheImageShown) {
  OpenThroughDialog(g_rgb);
  Messages().clear();
  const std::string bogus = g_dir->File("not_an_image.tif");
  { std::ofstream(bogus) << "this is text"; }
  OpenThroughDialog(bogus);
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_NE(Messages()[0].find(wxString::FromUTF8(bogus)), wxNOT_FOUND) << Messages()[0];
  EXPECT_EQ(Doc()->GetPath(), wxString::FromUTF8(g_rgb).ToStdWstring());
  ASSERT_NE(View()->GetRenderer(), nullptr);
  EXPECT_EQ(View()->GetRenderer()->ImageWidth(), 200);
  EXPECT_TRUE(Frame()->IsCommandEnabled(pw::cmd::ID_BUTTON_CVT2EIGHT));
  const wxImage shot = Screenshot("unreadable");
  EXPECT_EQ(ScreenColour(shot, ClientOf(120, 40)).Red(), 120) << "the image before stays on screen";
}

// Every failed open says why, on the box's second line.
TEST(Viewer, AFailedOpenGivesItsReason) {
  const std::string text = g_dir->File("notes.tif");
  { std::ofstream(text) << "this is text"; }
  const struct {
    std::string path;
    const char* reason;
  } cases[] = {
      {g_dir->File("no_such.tif"), "文件不存在"},
      {text, "不是可识别的栅格影像"},
      {g_dir->Path(), "不是文件"},
  };
  OpenThroughDialog(g_rgb);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    Messages().clear();
    Frame()->OpenDocumentFile(wxString::FromUTF8(c.path));
    Settle();
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_TRUE(Messages()[0].EndsWith("\n" + wxString::FromUTF8(c.reason))) << Messages()[0];
  }
}

// A broken TIFF reaches libtiff, whose complaints must stay GDAL's errors
// even after the toolkit's TIFF image handler has (re)installed its own
// libtiff handlers, which would turn them into message boxes.
// The real program with a 16-bit raster named on its command line, ended by
// the session (SIGTERM) or a terminal (SIGINT) once it shows the raster: it
// closes as it does without a file, saves its settings and exits.
TEST(Viewer, SignalWithARasterOpenEndsTheProgramAndSavesTheSettings) {
  const std::string raster = g_dir->File("signal16.tif");
  pwtest::WriteRaster(raster, 900, 600, 1, GDT_UInt16,
                      [](int x, int t, int) { return 500 + x * 30 + t * 7; });
  for (const int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig == SIGTERM ? "SIGTERM" : "SIGINT");
    const std::string home = g_dir->File(sig == SIGTERM ? "term" : "int");
    ASSERT_TRUE(std::filesystem::create_directories(home));
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      setenv("HOME", home.c_str(), 1);
      setenv("PIXELWHARF_HOME", home.c_str(), 1);
      setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
      execl(PW_PIXELWHARF_EXE, "pixelwharf", raster.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    // The viewer keeps the raster open while it shows it; once it does, the
    // window settles with nothing more to do.
    auto holdsRaster = [&] {
      std::error_code ec;
      for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
        if (std::filesystem::read_symlink(fd.path(), ec) == raster) return true;
      return false;
    };
    bool open = false;
    for (int i = 0; i < 400 && !open; ++i) {
      open = holdsRaster();
      if (!open) std::this_thread::sleep_for(25ms);
    }
    EXPECT_TRUE(open) << "the program never opened the raster";
    std::this_thread::sleep_for(800ms);
    kill(pid, sig);
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 200 && !ended; ++i) {
      ended = waitpid(pid, &status, WNOHANG) == pid;
      if (!ended) std::this_thread::sleep_for(25ms);
    }
    if (!ended) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(ended) << "the program did not end within 5 s of the signal";
    EXPECT_TRUE(ended && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::ifstream ini(home + "/pixelwharf.ini");
    const std::string text((std::istreambuf_iterator<char>(ini)), std::istreambuf_iterator<char>());
    // A file opened from the command line leaves the viewer category shown.
    EXPECT_NE(text.find("CAT_INDEX = 1"), std::string::npos) << text;
  }
}

TEST(Viewer, BrokenTiffRaisesNoToolkitMessages) {
  class Capture : public wxLog {
   protected:
    void DoLogRecord(wxLogLevel level, const wxString& msg, const wxLogRecordInfo&) override {
      if (level <= wxLOG_Warning) errors.push_back(msg);
    }

   public:
    std::vector<wxString> errors;
  };
  OpenThroughDialog(g_rgb);  // GDAL's GeoTIFF driver is in use by now
  wxImage::RemoveHandler("TIFF file");
  wxImage::AddHandler(new wxTIFFHandler);
  auto* capture = new Capture;
  wxLog* previous = wxLog::SetActiveTarget(capture);
  const std::string broken = g_dir->File("broken.tif");
  { std::ofstream(broken, std::ios::binary).write("II*\0\x08\0\0\0\xff\xff", 10); }
  Messages().clear();
  OpenThroughDialog(broken);
  Pump(100ms);
  wxLog::FlushActive();
  EXPECT_TRUE(capture->errors.empty()) << capture->errors.front();
  EXPECT_EQ(Messages().size(), 1u) << "our own box only";
  EXPECT_EQ(View()->GetRenderer()->ImageWidth(), 200) << "the image before stays";
  wxLog::SetActiveTarget(previous);
  delete capture;
}

}  // namespace viewergui

using viewergui::ViewerEnvironment;

int main(int argc, char** argv) {
  bool listing = false;
  for (int i = 1; i < argc; ++i) listing |= std::string(argv[i]).rfind("--gtest_list_tests", 0) == 0;
  if (!listing && !std::getenv("PW_VIEWER_GUI_CHILD")) {
    // Run again under a private X server, with a home of its own.
    pwtest::ScratchDir home;
    const pid_t pid = fork();
    if (pid == 0) {
      setenv("PW_VIEWER_GUI_CHILD", "1", 1);
      setenv("HOME", home.Path().c_str(), 1);
      setenv("PIXELWHARF_HOME", home.Path().c_str(), 1);
      setenv("XDG_CONFIG_HOME", (home.Path() + "/.config").c_str(), 1);
      setenv("GDK_BACKEND", "x11", 1);
      // No desktop services: the launcher-entry progress and the
      // accessibility bus stay out of the test.
      unsetenv("DBUS_SESSION_BUS_ADDRESS");
      setenv("NO_AT_BRIDGE", "1", 1);
      // Tests run in parallel, each under its own server: start the search
      // for a free display at a number of our own so they do not race for
      // the same one.
      static std::string first = std::to_string(100 + getpid() % 5000);
      std::vector<char*> args = {const_cast<char*>("xvfb-run"), const_cast<char*>("-a"),
                                 const_cast<char*>("-n"), first.data(),
                                 const_cast<char*>("-s"),
                                 const_cast<char*>("-screen 0 1280x1024x24")};
      for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
      args.push_back(nullptr);
      execvp("xvfb-run", args.data());
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
  }
  testing::InitGoogleTest(&argc, argv);
  if (!listing) testing::AddGlobalTestEnvironment(new ViewerEnvironment);
  return RUN_ALL_TESTS();
}
