#include "app/PixelwharfView.h"

#include <cmath>
#include <string>

#include <wx/dcbuffer.h>
#include <wx/image.h>
#include <wx/menu.h>
#include <wx/print.h>
#include <wx/settings.h>

#include "app/CommandIds.h"
#include "app/Dialogs.h"
#include "app/MainFrame.h"
#include "app/PixelwharfApp.h"
#include "app/PixelwharfDoc.h"
#include "app/Resources.h"
#include "app/StatusBar.h"
#include "app/TaskBarProgress.h"
#include "app/ViewPrintout.h"
#include "platform/text.h"

namespace {
// Steps of the status bar's gauge while an image opens.
constexpr int kOpenProgressRange = 1000;
// The status text while the file would not give the region shown.
constexpr char kRegionUnreadable[] = "无法读取这一区域的影像，显示的是概览";
}  // namespace

// What the display engine asks of the window.
class CPixelwharfView::Host : public pw::RendererHost {
 public:
  explicit Host(CPixelwharfView* view) : m_view(view) {}
  pw::ScreenRect WindowScreenRect() const override {
    const wxPoint origin = m_view->ClientToScreen(wxPoint(0, 0));
    const wxSize size = m_view->GetClientSize();
    return {origin.x, origin.y, origin.x + size.x, origin.y + size.y};
  }
  void Invalidate() override { m_view->Refresh(false); }
  // The toolkit insists that captures pair up; a release without a capture
  // (a button-up whose button-down went elsewhere) is simply nothing.
  void CaptureMouse() override {
    if (!m_view->HasCapture()) m_view->CaptureMouse();
  }
  void ReleaseMouse() override {
    if (m_view->HasCapture()) m_view->ReleaseMouse();
  }

 private:
  CPixelwharfView* m_view;
};

CPixelwharfView::CPixelwharfView(CMainFrame* frame, CPixelwharfDoc* document)
    : wxWindow(frame, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxFULL_REPAINT_ON_RESIZE),
      m_frame(frame), m_document(document), m_host(std::make_unique<Host>(this)) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Bind(wxEVT_PAINT, &CPixelwharfView::OnPaint, this);
  Bind(wxEVT_SIZE, &CPixelwharfView::OnSize, this);
  Bind(wxEVT_MOUSEWHEEL, &CPixelwharfView::OnMouseWheel, this);
  Bind(wxEVT_MOTION, &CPixelwharfView::OnMouseMove, this);
  Bind(wxEVT_LEFT_DOWN, &CPixelwharfView::OnLButtonDown, this);
  Bind(wxEVT_LEFT_UP, &CPixelwharfView::OnLButtonUp, this);
  Bind(wxEVT_MOUSE_CAPTURE_LOST, &CPixelwharfView::OnCaptureLost, this);
  Bind(wxEVT_LEFT_DCLICK, &CPixelwharfView::OnLButtonDblClk, this);
  Bind(wxEVT_RIGHT_UP, &CPixelwharfView::OnRButtonUp, this);
  Bind(wxEVT_CONTEXT_MENU, &CPixelwharfView::OnContextMenu, this);
  Bind(wxEVT_MENU, &CPixelwharfView::OnFilePrint, this, pw::cmd::ID_FILE_PRINT);
  Bind(wxEVT_MENU, &CPixelwharfView::OnFilePrint, this, pw::cmd::ID_FILE_PRINT_DIRECT);
  Bind(wxEVT_MENU, &CPixelwharfView::OnFilePrintPreview, this, pw::cmd::ID_FILE_PRINT_PREVIEW);
  Bind(wxEVT_MENU, &CPixelwharfView::OnRealPixValue, this, pw::cmd::ID_CHECK_REALPIXVALUE);
  Bind(wxEVT_MENU, &CPixelwharfView::OnYReverse, this, pw::cmd::ID_CHECK_YREVERSE);
  Bind(wxEVT_UPDATE_UI, &CPixelwharfView::OnUpdateRealPixValue, this, pw::cmd::ID_CHECK_REALPIXVALUE);
  Bind(wxEVT_UPDATE_UI, &CPixelwharfView::OnUpdateYReverse, this, pw::cmd::ID_CHECK_YREVERSE);
  Bind(wxEVT_KEY_DOWN, &CPixelwharfView::OnKeyDown, this);
}

CPixelwharfView::~CPixelwharfView() {
  // An opening's thread and the engine's worker are stopped and joined
  // before the bitmap goes.
  StopOpening();
  m_renderer.reset();
}

// One opening: the thread that builds the new engine and what it made.
struct CPixelwharfView::Opening {
  uint64_t id = 0;
  std::wstring path;
  std::atomic<bool> cancel{false};
  std::unique_ptr<pw::ImageRenderer> renderer;  // written by the thread before it posts
  std::thread thread;
};

int CPixelwharfView::OpenImageInView(const std::wstring& path) {
  // An opening still reading is dropped without a word: the document has
  // already begun the progress display of this one, which takes its place.
  StopOpening();
  // An image named on the command line arrives before the window is first
  // shown: lay the frame out now so the bitmap has the view's real size.
  if (!IsShownOnScreen() && GetParent()) GetParent()->Layout();
  if (m_W < 1 || m_H < 1) {
    const wxSize size = GetClientSize();
    if (size.x > 0 && size.y > 0) {
      m_H = size.y;
      m_W = (size.x + 3) / 4 * 4;
      m_dib.assign(size_t(m_W) * m_H * 3, pw::kBackground);
    }
  }
  if (m_frame) m_frame->ResetRibbonProgress(kOpenProgressRange);

  // The file is read on a thread of its own: the window keeps painting, the
  // gauge follows the reading, and the open can be cancelled or the window
  // closed meanwhile. The engine it builds is handed to this thread whole
  // (OnOpenDone); until then the image shown before stays on screen. The
  // engine keeps the bitmap pointer given here but draws into it only once
  // handed over, and then gets the current one.
  auto opening = std::make_unique<Opening>();
  Opening* o = opening.get();
  o->id = ++m_lastOpening;
  o->path = path;
  const std::string narrow = pw::WideToNarrow(path);
  uint8_t* const dib = m_dib.empty() ? nullptr : m_dib.data();
  const int W = m_W, H = m_H;
  pw::RendererHost* host = m_host.get();
  o->thread = std::thread([this, o, narrow, dib, W, H, host] {
    const uint64_t id = o->id;
    auto progress = [this, id](double fraction) {
      CallAfter(&CPixelwharfView::OnOpenProgress, id, int(fraction * kOpenProgressRange));
    };
    o->renderer = std::make_unique<pw::ImageRenderer>(host, narrow, dib, W, H, progress, &o->cancel);
    CallAfter(&CPixelwharfView::OnOpenDone, id);
  });
  m_opening = std::move(opening);
  return 1;
}

void CPixelwharfView::OnOpenProgress(uint64_t id, int position) {
  // A cancelled opening's last reports may still be queued.
  if (!m_opening || m_opening->id != id) return;
  if (m_frame) {
    m_frame->SetPanelProgress(position);
    if (CTaskBarProgress* taskbar = m_frame->GetTaskbarProgress())
      taskbar->SetProgress(uint64_t(position), kOpenProgressRange);
  }
}

void CPixelwharfView::OnOpenDone(uint64_t id) {
  if (!m_opening || m_opening->id != id) return;
  std::unique_ptr<Opening> done = std::move(m_opening);
  if (done->thread.joinable()) done->thread.join();
  std::unique_ptr<pw::ImageRenderer> renderer = std::move(done->renderer);
  if (!renderer || !renderer->IsOpen() || renderer->Cancelled()) {
    // No raster in that file: the image shown before stays, with its
    // commands, and the document says so.
    if (renderer) renderer->Release();
    if (m_document)
      m_document->OnImageOpened(done->path, CPixelwharfDoc::OpenOutcome::Failed);
    return;
  }
  if (m_renderer) {
    // Stops its worker (a read in progress is abandoned) and waits for it:
    // nothing of the old engine outlives this line.
    m_renderer->Release();
    m_renderer.reset();
  }
  m_renderer = std::move(renderer);
  if (!m_dib.empty()) {
    const bool resized = m_renderer->ViewW() != m_W || m_renderer->ViewH() != m_H;
    m_renderer->SetViewSize(m_W, m_H, m_dib.data());
    // The window changed its size while the file was read (a maximised
    // start, the user): fit to the size it has now.
    if (resized) m_renderer->FitToView();
  }
  m_renderer->SetRereadDoneCallback([this] { CallAfter(&CPixelwharfView::OnRereadDone); });
  m_renderer->Render();
  m_renderer->ClearReady();
  m_renderer->RequestReread();
  if (m_document) m_document->OnImageOpened(done->path, CPixelwharfDoc::OpenOutcome::Opened);
}

void CPixelwharfView::StopOpening() {
  if (!m_opening) return;
  std::unique_ptr<Opening> stopped = std::move(m_opening);
  stopped->cancel = true;
  // The reading stops at its next block; its queued reports find no
  // opening of theirs and are dropped.
  if (stopped->thread.joinable()) stopped->thread.join();
}

bool CPixelwharfView::CancelOpening() {
  if (!m_opening) return false;
  const std::wstring path = m_opening->path;
  StopOpening();
  if (m_document) m_document->OnImageOpened(path, CPixelwharfDoc::OpenOutcome::Cancelled);
  return true;
}

void CPixelwharfView::OnKeyDown(wxKeyEvent& event) {
  if (event.GetKeyCode() == WXK_ESCAPE && CancelOpening()) return;
  // Esc also stops an 8-bit conversion in progress.
  if (event.GetKeyCode() == WXK_ESCAPE && m_document && m_document->CancelConversion()) return;
  event.Skip();
}

void CPixelwharfView::OnRereadDone() {
  // The display buffer now matches the placement on screen: show it,
  // sharp, in place of the overview.
  if (!m_renderer || !m_renderer->Ready()) return;
  m_renderer->SetOverviewOnly(false);
  m_renderer->Render();
  // A region the file would not give shows the overview's coarser picture;
  // the status bar says why, until a later re-read reads again.
  const wxString unreadable = wxString::FromUTF8(kRegionUnreadable);
  if (pw::StatusElement* pane = m_frame ? m_frame->GetStatusElement(0) : nullptr) {
    if (m_renderer->RegionUnreadable()) {
      pane->SetText(unreadable);
      pane->Redraw();
    } else if (pane->GetText() == unreadable) {
      pane->SetText(wxString());
      pane->Redraw();
    }
  }
}

void CPixelwharfView::OnDraw(wxDC& dc) {
  if (!m_renderer || m_dib.empty() || m_W < 1 || m_H < 1) {
    dc.SetBackground(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_APPWORKSPACE)));
    dc.Clear();
    return;
  }
  // The bitmap is bottom-up BGR; the toolkit's image is top-down RGB.
  wxImage image(m_W, m_H, false);
  unsigned char* out = image.GetData();
  for (int row = 0; row < m_H; ++row) {
    const uint8_t* src = m_dib.data() + size_t(m_H - 1 - row) * m_W * 3;
    unsigned char* dst = out + size_t(row) * m_W * 3;
    for (int x = 0; x < m_W; ++x, src += 3, dst += 3) {
      dst[0] = src[2];
      dst[1] = src[1];
      dst[2] = src[0];
    }
  }
  dc.DrawBitmap(wxBitmap(image), 0, 0, false);
}

void CPixelwharfView::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  OnDraw(dc);
}

void CPixelwharfView::OnSize(wxSizeEvent& event) {
  event.Skip();
  const wxSize size = GetClientSize();
  const int cx = size.x, cy = size.y;
  if (cx < 1 || cy < 1) return;
  m_H = cy;
  m_W = (cx + 3) / 4 * 4;
  m_dib.assign(size_t(m_W) * m_H * 3, pw::kBackground);
  if (!m_renderer) return;
  m_renderer->SetViewSize(m_W, m_H, m_dib.data());
  m_renderer->SetOverviewOnly(false);
  m_renderer->ClearReady();
  // The worker's current read is for the old size: let it go rather than
  // wait for it on this thread.
  m_renderer->AbandonQueuedRereads();
  pw::RereadVisibleArea(m_renderer.get());
  m_renderer->Render();
  m_renderer->SetOverviewOnly(true);
}

void CPixelwharfView::OnMouseWheel(wxMouseEvent& event) {
  if (m_renderer) {
    const wxPoint screen = ClientToScreen(event.GetPosition());
    m_renderer->OnMouseWheel(event.GetWheelRotation(), {screen.x, screen.y});
  }
  event.Skip();
}

void CPixelwharfView::OnLButtonDown(wxMouseEvent& event) {
  if (m_renderer) {
    const wxPoint screen = ClientToScreen(event.GetPosition());
    m_renderer->OnLButtonDown({screen.x, screen.y});
  }
  event.Skip();
}

void CPixelwharfView::OnLButtonUp(wxMouseEvent& event) {
  if (m_renderer) {
    const wxPoint screen = ClientToScreen(event.GetPosition());
    m_renderer->OnLButtonUp({screen.x, screen.y});
  }
  event.Skip();
}

void CPixelwharfView::OnCaptureLost(wxMouseCaptureLostEvent&) {
  // Another window took the mouse mid-drag: end the drag where it is.
  if (m_renderer && m_renderer->Dragging()) {
    const wxPoint screen = wxGetMousePosition();
    m_renderer->OnLButtonUp({screen.x, screen.y});
  }
}

void CPixelwharfView::OnMouseMove(wxMouseEvent& event) {
  if (m_renderer) {
    const wxPoint screen = ClientToScreen(event.GetPosition());
    m_renderer->OnMouseMove({screen.x, screen.y});
    UpdatePixelReadout(event.GetX(), event.GetY());
  }
  event.Skip();
}

void CPixelwharfView::UpdatePixelReadout(int px, int py) {
  if (!m_renderer || px < 0) return;
  const std::string values = m_renderer->ValueText(px, py, m_fileValues);
  if (values.empty()) return;
  const double s = m_renderer->Scale();
  if (s <= 0) return;
  // floor, not truncation: the half pixel left of or above the image is not
  // column or row 0, and nothing is read outside the image.
  const int x = int(std::floor((px - m_renderer->X()) / s));
  const int yt = int(std::floor((py - (m_H - m_renderer->Y() - m_renderer->DrawnH())) / s));
  if (x < 0 || x >= m_renderer->ImageWidth() || yt < 0 || yt >= m_renderer->ImageHeight()) return;
  const int y = m_yReversed ? m_renderer->ImageHeight() - yt - 1 : yt;
  const wxString xy = wxString::Format("X=%6lf Y=%6lf", double(x), double(y));
  const wxString rgb = wxString::FromUTF8(values);
  if (!m_frame) return;
  if (pw::StatusElement* pane = m_frame->GetStatusExElement(0)) {
    pane->SetText(xy);
    pane->Redraw();
  }
  if (pw::StatusElement* pane = m_frame->GetStatusExElement(1)) {
    pane->SetText(rgb);
    pane->Redraw();
  }
}

void CPixelwharfView::OnLButtonDblClk(wxMouseEvent& event) {
  if (m_document) {
    std::wstring path = pw::PickOpenFile();
    if (!path.empty()) m_document->OnOpenDocument(path);
  }
  event.Skip();
}

void CPixelwharfView::ShowEditMenu(const wxPoint& clientPoint) {
  // The edit menu: cut, copy and paste, which the viewer has no use for.
  wxMenu menu(pw::LoadString(pw::cmd::IDS_EDIT_MENU));
  menu.Append(wxID_CUT, wxString::FromUTF8("剪切"))->Enable(false);
  menu.Append(wxID_COPY, wxString::FromUTF8("复制"))->Enable(false);
  menu.Append(wxID_PASTE, wxString::FromUTF8("粘贴"))->Enable(false);
  PopupMenu(&menu, clientPoint);
}

void CPixelwharfView::OnRButtonUp(wxMouseEvent& event) { ShowEditMenu(event.GetPosition()); }

void CPixelwharfView::OnContextMenu(wxContextMenuEvent& event) {
  // A right click already showed the menu on button-up; this is for the
  // menu key, which has no mouse position.
  if (event.GetPosition() == wxDefaultPosition) ShowEditMenu(wxPoint(0, 0));
}

void CPixelwharfView::OnFilePrint(wxCommandEvent& event) {
  wxPrinter printer;
  ViewPrintout printout(this);
  printer.Print(this, &printout, event.GetId() != pw::cmd::ID_FILE_PRINT_DIRECT);
}

void CPixelwharfView::OnFilePrintPreview(wxCommandEvent&) {
  m_frame->ShowPrintPreview(new ViewPrintout(this), new ViewPrintout(this));
}

void CPixelwharfView::OnRealPixValue(wxCommandEvent&) { m_fileValues = !m_fileValues; }
void CPixelwharfView::OnYReverse(wxCommandEvent&) { m_yReversed = !m_yReversed; }

void CPixelwharfView::OnUpdateRealPixValue(wxUpdateUIEvent& event) {
  event.Enable(m_renderer != nullptr);
  event.Check(m_fileValues);
}

void CPixelwharfView::OnUpdateYReverse(wxUpdateUIEvent& event) {
  event.Enable(m_renderer != nullptr);
  event.Check(m_yReversed);
}
