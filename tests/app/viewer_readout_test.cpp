// The pixel readout of the file's own samples never reads on the UI
// thread: the read is held at a known point while the UI thread's timer
// keeps its pace, and the value shows once the read lets go.
#include <gtest/gtest.h>

#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "app/PixelwharfView.h"
#include "tests/app/ui_ticks.h"
#include "tests/app/viewer_gui.h"

namespace viewergui {
namespace {

// The motion alone, without the shared helper's wait for the value.
void MoveOnly(wxPoint p) {
  wxMouseEvent e(wxEVT_MOTION);
  e.SetEventObject(View());
  e.SetPosition(p);
  View()->GetEventHandler()->ProcessEvent(e);
}

TEST(ViewerReadout, TheFilesValuesAreReadOffTheUiThreadAndShownWhenTheyArrive) {
  OpenThroughDialog(g_u16);
  Frame()->DoCommand(pw::cmd::ID_CHECK_REALPIXVALUE);
  const wxPoint before = ClientOf(10, 10);
  Mouse(wxEVT_MOTION, before.x, before.y);
  ASSERT_EQ(Pane(1), "R=1230 G=1230 B=1230");
  {
    HookGate gate(pw::ImageRenderer::SampleReadTestHook());
    UiTicks ticks;
    MoveOnly(ClientOf(100, 50));
    ASSERT_TRUE(gate.WaitHeld()) << "the readout asked for the pixel";
    ticks.PumpTicks(5);
    EXPECT_LE(ticks.LongestGap().count(), kLongestUiWait.count()) << "the UI thread waited for the read";
    EXPECT_TRUE(View()->IsReadoutPending());
    EXPECT_EQ(Pane(1), "R=1230 G=1230 B=1230") << "nothing shown before it is read";
    // A later move overtakes the held read: only its value shows.
    MoveOnly(ClientOf(20, 30));
    gate.Release();
    ASSERT_TRUE(WaitFor([] { return !View()->IsReadoutPending(); }, 60s));
    EXPECT_EQ(Pane(0), "X=20.000000 Y=30.000000");
    EXPECT_EQ(Pane(1), "R=1490 G=1490 B=1490");
    Settle();
    gate.Remove();
  }
  // Back on the pixel last read: from the cache, at once.
  MoveOnly(ClientOf(10, 10));
  MoveOnly(ClientOf(20, 30));
  Mouse(wxEVT_MOTION, ClientOf(20, 30).x, ClientOf(20, 30).y);
  EXPECT_EQ(Pane(1), "R=1490 G=1490 B=1490");
  Frame()->DoCommand(pw::cmd::ID_CHECK_REALPIXVALUE);
}

}  // namespace
}  // namespace viewergui
