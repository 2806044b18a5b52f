// Progress through the progress interface: the status bar's bar and text,
// calls from worker threads, a batch run on the UI thread, and the
// launcher entry on a session bus.
#include <gio/gio.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <wx/timer.h>

#include "app/MainFrame.h"
#include "app/StatusBar.h"
#include "app/TaskBarProgress.h"
#include "app/ToolPanelHost.h"
#include "gui_fixture.h"
#include "platform/batch_runner.h"

TEST_F(GuiTest, ProgressInterfaceMovesTheStatusBarProgressBar) {
  ASSERT_NE(Start(), nullptr);
  ASSERT_EQ(frame->GetTaskbarProgress(), nullptr);  // made on first need
  frame->CreateTaskbarProgress();
  CProgressInterface* progress = frame->GetTaskbarProgress();
  ASSERT_NE(progress, nullptr);
  frame->CreateTaskbarProgress();
  EXPECT_EQ(frame->GetTaskbarProgress(), progress);

  pw::StatusProgressBar* bar = frame->GetProgressBar();
  frame->ToolHost().ResetProgress();
  progress->BeginProgress();
  EXPECT_TRUE(bar->IsPulsing());
  progress->SetProgress(30, 120);
  EXPECT_EQ(bar->GetPos(), 25);
  EXPECT_EQ(bar->GetGauge()->GetValue(), 25);
  progress->SetProgress(0, 0);
  EXPECT_EQ(bar->GetPos(), 0);
  progress->SetProgress(500, 120);  // more than the total: a full bar
  EXPECT_EQ(bar->GetPos(), 100);

  // From another thread the update reaches the bar through the UI thread.
  std::thread worker([progress] { progress->SetProgress(60, 120); });
  worker.join();
  EXPECT_TRUE(WaitFor([&] { return bar->GetPos() == 50; })) << bar->GetPos();

  // The range of the 8-bit conversion: positions count rows.
  frame->ResetRibbonProgress(1000);
  progress->SetProgress(1, 4);
  EXPECT_EQ(bar->GetPos(), 250);
  progress->EndProgress();
  frame->ToolHost().CompleteProgress();
  EXPECT_EQ(bar->GetPos(), 100);  // position 100 whatever the range
}

TEST_F(GuiTest, ProgressTextGoesToTheFirstPaneAndIsCutAt1023Characters) {
  ASSERT_NE(Start(), nullptr);
  frame->CreateTaskbarProgress();
  CProgressInterface* progress = frame->GetTaskbarProgress();
  progress->BeginProgress();
  progress->SetProgressText("%d/%d %s", 3, 10, "张图片");
  EXPECT_EQ(frame->GetStatusElement(0)->GetText(), wxString::FromUTF8("3/10 张图片"));
  std::string longText(1500, 'a');
  progress->SetProgressText("%s", longText.c_str());
  EXPECT_EQ(frame->GetStatusElement(0)->GetText().length(), 1023u);
  // A cut inside a character drops the broken character, not the text.
  std::string chinese;
  for (int i = 0; i < 400; ++i) chinese += "图";  // 3 bytes each
  progress->SetProgressText("%s", chinese.c_str());
  EXPECT_EQ(frame->GetStatusElement(0)->GetText().length(), 341u);
  progress->EndProgress();
  EXPECT_EQ(frame->GetStatusElement(0)->GetText(), wxString::FromUTF8("处理进度"));
}

namespace {
std::atomic<int> g_workerCalls{0};
// Set by the window's timer once it has seen the bar part-way: the run's
// middle file waits for it, so the run cannot end before the window was
// pumped, however slow the machine.
std::atomic<bool> g_seenMidway{false};
constexpr uint64_t kHeldFile = 20;
int HoldingWorker(const std::wstring&, const std::wstring&, const uint64_t& index) {
  if (index == kHeldFile) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!g_seenMidway && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ++g_workerCalls;
  return 0;
}
}  // namespace

TEST_F(GuiTest, BatchRunOnTheUiThreadKeepsTimersAndProgressGoing) {
  ASSERT_NE(Start(), nullptr);
  frame->CreateTaskbarProgress();
  CProgressInterface* progress = frame->GetTaskbarProgress();
  pw::StatusProgressBar* bar = frame->GetProgressBar();
  frame->ToolHost().ResetProgress();

  // A timer samples the bar while the runner waits: it only fires when the
  // window's pump runs, and it sees the workers' progress arrive.
  std::vector<int> seen;
  wxTimer timer;
  timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    seen.push_back(bar->GetPos());
    if (seen.size() >= 3 && seen.back() > 0 && seen.back() < 100) g_seenMidway = true;
  });
  timer.Start(20);
  FileList sources(40, L"/nonexistent/a"), destinations(40, L"/nonexistent/b");
  progress->BeginProgress();
  int failures = ProcessVector(sources, destinations, HoldingWorker, progress, 2);
  timer.Stop();
  progress->EndProgress();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(g_workerCalls.load(), 40);
  EXPECT_TRUE(g_seenMidway) << "the window was not pumped during the run: " << seen.size() << " samples";
  Pump();
  EXPECT_EQ(bar->GetPos(), 100);
}

namespace {
struct LauncherUpdate {
  std::string app;
  double progress = -1;
  bool visible = false;
};

void OnLauncherSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                      GVariant* parameters, gpointer data) {
  auto* updates = static_cast<std::vector<LauncherUpdate>*>(data);
  LauncherUpdate u;
  const gchar* app = nullptr;
  GVariantIter* props = nullptr;
  g_variant_get(parameters, "(&sa{sv})", &app, &props);
  u.app = app;
  const gchar* key;
  GVariant* value;
  while (g_variant_iter_loop(props, "{&sv}", &key, &value)) {
    if (g_str_equal(key, "progress")) u.progress = g_variant_get_double(value);
    if (g_str_equal(key, "progress-visible")) u.visible = g_variant_get_boolean(value);
  }
  g_variant_iter_free(props);
  updates->push_back(u);
}
}  // namespace

TEST_F(GuiTest, LauncherEntryShowsProgressOnTheSessionBus) {
  GTestDBus* bus = g_test_dbus_new(G_TEST_DBUS_NONE);
  g_test_dbus_up(bus);  // sets DBUS_SESSION_BUS_ADDRESS for this process
  const gchar* address = g_test_dbus_get_bus_address(bus);
  GDBusConnection* listener = g_dbus_connection_new_for_address_sync(
      address,
      GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                           G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  ASSERT_NE(listener, nullptr);
  std::vector<LauncherUpdate> updates;
  guint subscription = g_dbus_connection_signal_subscribe(
      listener, nullptr, "com.canonical.Unity.LauncherEntry", "Update", nullptr, nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE, OnLauncherSignal, &updates, nullptr);

  ASSERT_NE(Start(), nullptr);
  frame->CreateTaskbarProgress();
  CTaskBarProgress* progress = frame->GetTaskbarProgress();
  EXPECT_TRUE(progress->HasLauncherEntry());
  progress->BeginProgress();
  progress->SetProgress(1, 4);
  progress->EndProgress();
  WaitFor([&] { return updates.size() >= 3; });
  Stop();

  ASSERT_EQ(updates.size(), 3u);
  EXPECT_EQ(updates[0].app, "application://pixelwharf.desktop");
  EXPECT_TRUE(updates[0].visible);
  EXPECT_DOUBLE_EQ(updates[1].progress, 0.25);
  EXPECT_TRUE(updates[1].visible);
  EXPECT_FALSE(updates[2].visible);

  g_dbus_connection_signal_unsubscribe(listener, subscription);
  g_object_unref(listener);
  g_test_dbus_down(bus);
  g_object_unref(bus);
}

TEST_F(GuiTest, WithoutASessionBusProgressStillWorks) {
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  ASSERT_NE(Start(), nullptr);
  frame->CreateTaskbarProgress();
  CTaskBarProgress* progress = frame->GetTaskbarProgress();
  EXPECT_FALSE(progress->HasLauncherEntry());
  progress->BeginProgress();
  progress->SetProgress(2, 4);
  progress->EndProgress();
  EXPECT_EQ(frame->GetProgressBar()->GetPos(), 50);
}

TEST_F(GuiTest, ProgressQueuedFromAWorkerIsDroppedWhenTheProgressObjectIsGone) {
  ASSERT_NE(Start(), nullptr);
  frame->CreateTaskbarProgress();
  CProgressInterface* progress = frame->GetTaskbarProgress();
  progress->BeginProgress();
  // Queued from a worker, not yet delivered when the window shuts down.
  std::thread worker([progress] {
    progress->SetProgress(3, 4);
    progress->SetProgressText("%s", "late");
    progress->EndProgress();
  });
  worker.join();
  frame->Shutdown();  // destroys the progress object; the calls are still queued
  EXPECT_EQ(frame->GetTaskbarProgress(), nullptr);
  Pump(5);  // delivering them must not touch the destroyed object
  Stop();
}
