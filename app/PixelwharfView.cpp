#include "app/PixelwharfView.h"

#include <cmath>
#include <mutex>
#include <string>
#include <system_error>

#include <wx/dcbuffer.h>
#include <wx/image.h>
#include <wx/menu.h>
#include <wx/print.h>
#include <wx/settings.h>

#include "app/CommandIds.h"
#include "app/Dialogs.h"
#include "app/MainFrame.h"
#include "app/MessageBox.h"
#include "app/PixelwharfApp.h"
#include "app/PixelwharfDoc.h"
#include "app/Resources.h"
#include "app/StatusBar.h"
#include "app/TaskBarProgress.h"
#include "app/ViewPrintout.h"
#include "platform/background_work.h"
#include "platform/text.h"

namespace {
// Steps of the status bar's gauge while an image opens.
constexpr int kOpenProgressRange = 1000;
// The status text while the file would not give the region shown.
constexpr char kRegionUnreadable[] = "无法读取这一区域的影像，显示的是概览";
// The status text while a damaged image is shown, and its box's words.
constexpr char kImageDamaged[] = "影像部分损坏：无法读取的部分以斜线标出";
constexpr char kImageDamagedBox[] = "影像部分损坏：%s";

std::mutex g_testHookMutex;
std::function<void(const std::string&)> g_openingTestHook;

void AtOpeningPoint(const std::string& point) {
  std::function<void(const std::string&)> hook;
  {
    std::lock_guard<std::mutex> lock(g_testHookMutex);
    hook = g_openingTestHook;
  }
  if (hook) hook(point);
}
}  // namespace

void CPixelwharfView::SetOpeningTestHook(std::function<void(const std::string&)> hook) {
  std::lock_guard<std::mutex> lock(g_testHookMutex);
  g_openingTestHook = std::move(hook);
}

// The view as the worker threads see it: calls for the UI thread are
// queued only while the view lives. The view cuts the link before it goes,
// under the lock, so no call is queued to a destroyed window; calls already
// queued are dropped with the window's pending events.
struct CPixelwharfView::Link {
  std::mutex mutex;
  CPixelwharfView* view = nullptr;

  template <class... Args>
  void Post(void (CPixelwharfView::*method)(Args...), std::decay_t<Args>... args) {
    std::lock_guard<std::mutex> lock(mutex);
    if (view) view->CallAfter(method, args...);
  }
  void Cut() {
    std::lock_guard<std::mutex> lock(mutex);
    view = nullptr;
  }
};

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
      m_frame(frame), m_document(document), m_host(std::make_unique<Host>(this)),
      m_link(std::make_shared<Link>()) {
  m_link->view = this;
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
  // Esc reaches the window wherever the focus is in it: on the frame
  // itself after a start or a file dialog, on the ribbon, on the view.
  if (m_frame) m_frame->Bind(wxEVT_CHAR_HOOK, &CPixelwharfView::OnKeyDown, this);
}

CPixelwharfView::~CPixelwharfView() {
  // Nothing of the workers reaches this window any more; an opening and the
  // engine's worker run out on their own threads, so closing never waits
  // for a read in progress.
  if (m_frame) m_frame->Unbind(wxEVT_CHAR_HOOK, &CPixelwharfView::OnKeyDown, this);
  m_link->Cut();
  StopOpening();
  DisposeRenderer(std::move(m_renderer));
}

// One opening: what its thread was given and what it made. Shared by the
// view and the thread; whichever lets go last frees it.
struct CPixelwharfView::Opening {
  uint64_t id = 0;
  std::wstring path;
  std::atomic<bool> cancel{false};
  // Written by the thread before it posts OnOpenDone.
  std::unique_ptr<pw::ImageRenderer> renderer;
  std::string error;  // why it failed, when known
};

void CPixelwharfView::DisposeRenderer(std::unique_ptr<pw::ImageRenderer> renderer) {
  if (!renderer) return;
  renderer->AskWorkerToStop();
  std::shared_ptr<pw::ImageRenderer> shared(std::move(renderer));
  try {
    pw::StartBackgroundWork([shared] { shared->Release(); });
  } catch (const std::system_error&) {
    shared->Release();  // no thread to be had: wait here rather than leak
  }
}

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
  // handed over, and then gets the current one. Nothing ever waits for the
  // thread: a file may sit inside a call that cannot be stopped (GDAL's
  // opening, one block's decoding) for seconds.
  auto opening = std::make_shared<Opening>();
  opening->id = ++m_lastOpening;
  opening->path = path;
  const std::string narrow = pw::WideToNarrow(path);
  uint8_t* const dib = m_dib.empty() ? nullptr : m_dib.data();
  const int W = m_W, H = m_H;
  pw::RendererHost* host = m_host.get();
  std::shared_ptr<Link> link = m_link;
  m_opening = opening;
  try {
    pw::StartBackgroundWork([opening, link, narrow, dib, W, H, host] {
      Opening& o = *opening;
      const uint64_t id = o.id;
      // Whatever goes wrong ends as a failed opening, with its reason; the
      // window stays.
      try {
        AtOpeningPoint("start");
        auto progress = [&link, id](double fraction) {
          link->Post(&CPixelwharfView::OnOpenProgress, id, int(fraction * kOpenProgressRange));
          AtOpeningPoint("progress");
        };
        auto renderer =
            std::make_unique<pw::ImageRenderer>(host, narrow, dib, W, H, progress, &o.cancel);
        if (!renderer->IsOpen()) o.error = renderer->OpenError();
        o.renderer = std::move(renderer);
        AtOpeningPoint("made");
      } catch (...) {
        o.renderer.reset();
        o.error = pw::CurrentExceptionText();
      }
      link->Post(&CPixelwharfView::OnOpenDone, id);
    });
  } catch (const std::system_error&) {
    opening->error = "无法启动读取线程";
    CallAfter(&CPixelwharfView::OnOpenDone, opening->id);
  }
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
  std::shared_ptr<Opening> done = std::move(m_opening);
  std::unique_ptr<pw::ImageRenderer> renderer = std::move(done->renderer);
  if (!renderer || !renderer->IsOpen() || renderer->Cancelled()) {
    // No raster in that file: the image shown before stays, with its
    // commands, and the document says so, with the reason when known.
    DisposeRenderer(std::move(renderer));
    if (m_frame) m_frame->ResetRibbonProgress(kOpenProgressRange);
    if (m_document)
      m_document->OnImageOpened(done->path, CPixelwharfDoc::OpenOutcome::Failed,
                                pw::NarrowToWide(done->error));
    return;
  }
  // The old engine's worker may be inside a read: it finishes elsewhere.
  DisposeRenderer(std::move(m_renderer));
  m_renderer = std::move(renderer);
  if (!m_dib.empty()) {
    const bool resized = m_renderer->ViewW() != m_W || m_renderer->ViewH() != m_H;
    m_renderer->SetViewSize(m_W, m_H, m_dib.data());
    // The window changed its size while the file was read (a maximised
    // start, the user): fit to the size it has now.
    if (resized) m_renderer->FitToView();
  }
  std::shared_ptr<Link> link = m_link;
  m_renderer->SetRereadDoneCallback([link] { link->Post(&CPixelwharfView::OnRereadDone); });
  m_renderer->SetRereadFailedCallback(
      [link](const std::string& reason) { link->Post(&CPixelwharfView::OnRereadFailed, reason); });
  m_renderer->SetSampleTextCallback([link](uint64_t tag, const std::string& text) {
    link->Post(&CPixelwharfView::OnSampleText, tag, text);
  });
  ++m_readoutTag;  // an answer of the engine before is for another image
  m_readoutPending = false;
  m_renderer->Render();
  m_renderer->ClearReady();
  m_renderer->RequestReread();
  if (m_document) m_document->OnImageOpened(done->path, CPixelwharfDoc::OpenOutcome::Opened);
  // The reading ended: the gauge ends full, whatever the last report was.
  if (m_frame) m_frame->SetPanelProgress(kOpenProgressRange);
  // What the image shown before said of itself is gone with it; a damaged
  // image says so for as long as it is shown, and once in a box.
  ShowImageState(m_renderer->Damaged() ? wxString::FromUTF8(kImageDamaged) : wxString());
  if (m_renderer->Damaged())
    pw::MessageBox(wxString::Format(wxString::FromUTF8(kImageDamagedBox),
                                    wxString::FromUTF8(m_renderer->DamageReason())),
                   wxOK | wxICON_EXCLAMATION, m_frame);
}

wxString CPixelwharfView::ImageStateText() const {
  if (!m_renderer) return wxString();
  if (m_renderer->RegionUnreadable()) return wxString::FromUTF8(kRegionUnreadable);
  return m_renderer->Damaged() ? wxString::FromUTF8(kImageDamaged) : wxString();
}

void CPixelwharfView::RefreshImageState() { ShowImageState(ImageStateText()); }

void CPixelwharfView::ShowImageState(const wxString& shown) {
  pw::StatusElement* pane = m_frame ? m_frame->GetStatusElement(0) : nullptr;
  if (!pane) return;
  // The news is the viewer's: the tools layout never shows it.
  const wxString text = m_frame->GetActiveCategory() == 2 ? wxString() : shown;
  // The view's news covers the pane's own text for a while; that text
  // comes back when the news is over, and only then.
  const wxString current = pane->GetText();
  const bool ours = current == wxString::FromUTF8(kRegionUnreadable) ||
                    current == wxString::FromUTF8(kImageDamaged);
  if (current == text || (text.empty() && !ours)) return;
  if (!ours) m_statusCovered = current;
  pane->SetText(text.empty() ? m_statusCovered : text);
  pane->Redraw();
}

void CPixelwharfView::StopOpening() {
  if (!m_opening) return;
  std::shared_ptr<Opening> stopped = std::move(m_opening);
  // The reading stops at its next check; its queued reports and its end
  // find no opening of theirs and are dropped.
  stopped->cancel = true;
}

bool CPixelwharfView::CancelOpening() {
  if (!m_opening) return false;
  const std::wstring path = m_opening->path;
  StopOpening();
  if (m_document) m_document->OnImageOpened(path, CPixelwharfDoc::OpenOutcome::Cancelled);
  // Nothing was opened: the gauge starts again from empty.
  if (m_frame) m_frame->ResetRibbonProgress(kOpenProgressRange);
  return true;
}

void CPixelwharfView::OnKeyDown(wxKeyEvent& event) {
  if (event.GetKeyCode() == WXK_ESCAPE && CancelOpening()) return;
  // Esc also stops an 8-bit conversion in progress.
  if (event.GetKeyCode() == WXK_ESCAPE && m_document && m_document->CancelConversion()) return;
  event.Skip();
}

void CPixelwharfView::OnRereadFailed(const std::string& reason) {
  // The picture shown stays; the user hears why it did not sharpen.
  pw::MessageBox(wxString::Format(wxString::FromUTF8("无法读取影像的这一区域：%s"),
                                  wxString::FromUTF8(reason)),
                 wxOK | wxICON_EXCLAMATION, m_frame);
}

void CPixelwharfView::OnRereadDone() {
  // The display buffer now matches the placement on screen: show it,
  // sharp, in place of the overview.
  if (!m_renderer || !m_renderer->Ready()) return;
  m_renderer->SetOverviewOnly(false);
  m_renderer->Render();
  // A region the file would not give shows the overview's coarser picture;
  // the status bar says why, until a later re-read reads again.
  if (m_renderer->RegionUnreadable())
    ShowImageState(wxString::FromUTF8(kRegionUnreadable));
  else
    ShowImageState(m_renderer->Damaged() ? wxString::FromUTF8(kImageDamaged) : wxString());
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
  // The overview at once; the worker reads the sharp picture for the new
  // size (a read for the old one is abandoned) and OnRereadDone shows it.
  // This thread never waits for a read.
  m_renderer->SetOverviewOnly(true);
  m_renderer->Render();
  m_renderer->RequestReread();
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
  int column = 0, row = 0;
  if (!m_renderer || !m_renderer->ImagePixelAt(px, py, column, row)) return;
  // Outside the image the readout stays as it was.
  const int y = m_yReversed ? m_renderer->ImageHeight() - row - 1 : row;
  const wxString xy = wxString::Format("X=%6lf Y=%6lf", double(column), double(y));
  m_readoutPending = false;
  if (!m_renderer->ReadoutReadsFile(m_fileValues)) {
    ShowReadout(xy, m_renderer->ValueText(px, py, false));
    return;
  }
  // The file's own samples: from the engine's cache when the pointer is
  // back on the pixel last read, else read on the engine's sample reader
  // and shown when they arrive (OnSampleText). This thread never reads.
  std::string cached;
  if (m_renderer->CachedSampleText(column, row, cached)) {
    ++m_readoutTag;  // an answer still on its way is for another pixel
    ShowReadout(xy, cached);
    return;
  }
  m_pendingReadoutXY = xy;
  m_readoutPending = true;
  m_renderer->RequestSampleText(column, row, ++m_readoutTag);
}

void CPixelwharfView::OnSampleText(uint64_t tag, const std::string& text) {
  // Only the answer for where the pointer last was; older ones were
  // overtaken by a later move.
  if (tag != m_readoutTag) return;
  m_readoutPending = false;
  ShowReadout(m_pendingReadoutXY, text);
}

void CPixelwharfView::ShowReadout(const wxString& xy, const std::string& values) {
  if (values.empty() || !m_frame) return;
  if (pw::StatusElement* pane = m_frame->GetStatusExElement(0)) {
    pane->SetText(xy);
    pane->Redraw();
  }
  if (pw::StatusElement* pane = m_frame->GetStatusExElement(1)) {
    pane->SetText(wxString::FromUTF8(values));
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
