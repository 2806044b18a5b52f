#include "app/PixelwharfApp.h"

#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <locale.h>

#include <glib-unix.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <wx/translation.h>
#include <wx/evtloop.h>
#include <wx/filehistory.h>
#include <wx/fileconf.h>
#include <wx/mstream.h>
#include <wx/image.h>
#include <wx/printdlg.h>
#include <wx/stdpaths.h>

#include "app/AboutDlg.h"
#include "app/DropTarget.h"
#include "app/MainFrame.h"
#include "app/MessageBox.h"
#include "app/PixelwharfDoc.h"
#include "app/PixelwharfView.h"
#include "app/SettingsAccess.h"
#include "platform/batch_runner.h"
#include "platform/paths.h"
#include "platform/text.h"

const char* const CPixelwharfApp::kRegistryKey = "应用程序向导生成的本地应用程序";

namespace {
constexpr const char* kRecentFiles = "/Recent File List";
}

CPixelwharfApp& PwApp() { return *static_cast<CPixelwharfApp*>(wxTheApp); }

CPixelwharfApp::CPixelwharfApp() {
  // Set before the toolkit starts, so the window's class matches the
  // .desktop file's StartupWMClass and the launcher finds the program.
  SetAppName("Pixelwharf");
  SetVendorName(wxString::FromUTF8(kRegistryKey));
  SetClassName("pixelwharf");
}

std::vector<std::string>& CPixelwharfApp::RawArguments() {
  static std::vector<std::string> args;
  return args;
}
CPixelwharfApp::~CPixelwharfApp() = default;

namespace {
// The program's own texts are Simplified Chinese; the toolkit's (file
// dialogs, print preview, standard buttons) follow when their catalogues
// are installed. Only the messages category changes: how text is encoded
// and numbers are written stay as the environment says.
void UseChineseToolkitTexts() {
  constexpr const char* kLocale = "zh_CN.UTF-8";
  // GTK would reset every category from the environment when it starts.
  gtk_disable_setlocale();
  std::setlocale(LC_ALL, "");
  if (locale_t probe = newlocale(LC_MESSAGES_MASK, kLocale, static_cast<locale_t>(nullptr))) {
    freelocale(probe);
    std::setlocale(LC_MESSAGES, kLocale);
    // A LANGUAGE list from the session would still pick another catalogue.
    setenv("LANGUAGE", "zh_CN", 1);
  }
  // wxWidgets reads its catalogue itself, with or without the locale.
  auto* translations = new wxTranslations;
  translations->SetLanguage(wxLANGUAGE_CHINESE_SIMPLIFIED);
  translations->AddStdCatalog();
  wxTranslations::Set(translations);
}
}  // namespace

bool CPixelwharfApp::Initialize(int& argc, wxChar** argv) {
  UseChineseToolkitTexts();
  return wxApp::Initialize(argc, argv);
}

bool CPixelwharfApp::OnInit() {
  // The command line is ours to read: the first argument that is not an
  // option names a file to open.
  // File names are bytes: take them as main() got them, so names that are
  // not valid text in the current locale still open.
  wxArrayString args;
  if (!RawArguments().empty()) {
    for (const std::string& arg : RawArguments()) args.push_back(wxString(pw::NarrowToWide(arg)));
  } else {
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
  }
  return InitInstance(args);
}

int CPixelwharfApp::OnExit() {
  ExitInstance();
  return wxApp::OnExit();
}

std::string CPixelwharfApp::WindowStateFilePath() {
  // Beside the settings file and by its folder rule (PIXELWHARF_HOME, the
  // program's folder, ~/.config/pixelwharf), so both move together.
  const std::string ini = pw::SettingsFilePath();
  const std::string suffix = ".ini";
  if (ini.size() <= suffix.size() || ini.compare(ini.size() - suffix.size(), suffix.size(), suffix) != 0)
    return std::string();
  return ini.substr(0, ini.size() - suffix.size()) + ".window.ini";
}

void CPixelwharfApp::OpenSettingsStore() {
  // The look, the window's placement and the recent files.
  const std::string path = WindowStateFilePath();
  wxConfigBase* store;
  if (path.empty()) {
    // No folder to keep them in: they live for this run only.
    wxMemoryInputStream nothing("", 0);
    store = new wxFileConfig(nothing);
  } else {
    store = new wxFileConfig(GetAppName(), GetVendorName(), wxString::FromUTF8(path), wxEmptyString,
                             wxCONFIG_USE_LOCAL_FILE);
  }
  delete wxConfigBase::Set(store);
}

bool CPixelwharfApp::InitInstance(const wxArrayString& args) {
  InstallSignalHandlers();
  wxInitAllImageHandlers();
  OpenSettingsStore();
  m_fileHistory = std::make_unique<wxFileHistory>(4);
  wxConfigBase* config = wxConfigBase::Get();
  config->SetPath(kRecentFiles);
  m_fileHistory->Load(*config);
  config->SetPath("/");

  m_document = std::make_unique<CPixelwharfDoc>();
  m_frame = new CMainFrame();
  if (!m_frame->Create(m_document.get())) {
    delete m_frame;
    m_frame = nullptr;
    return false;
  }
  SetTopWindow(m_frame);
  m_frame->Bind(wxEVT_DESTROY, [this](wxWindowDestroyEvent& e) {
    if (e.GetEventObject() == m_frame) m_frame = nullptr;
    e.Skip();
  });

  // A file named on the command line opens in the viewer, and the viewer
  // stays the category shown: the tools layout would hide the image.
  wxString file;
  for (const wxString& arg : args) {
    if (arg.StartsWith("-")) continue;
    file = arg;
    break;
  }
  if (!file.empty()) CatIndex(m_frame->Settings()) = 1;

  WatchFrameMapping();
  // Placed before it is shown, so the window manager maps it there.
  int category = CatIndex(m_frame->Settings());
  m_frame->PlaceForStart(category == 1);
  m_frame->Show();
  m_frame->Update();
  AcceptDroppedFiles(m_frame);

  m_frame->ToolHost().frame = m_frame;
  m_frame->ToolHost().view = m_frame->GetActiveView();

  if (category != 1) {
    m_frame->CenterFixedFrame();
    if (category > 0) m_frame->ActivateRibbonCategory(category);
  }
  m_frame->ReopenLastTool();
  // The picture is fitted to the window's final size, and opened (and a
  // failure reported) only once the window manager has put the window on
  // screen: a box shown before would end up behind it.
  if (!file.empty()) OpenWhenMapped(file);
  // While a batch runs on this thread the window keeps painting and the
  // progress from the workers keeps arriving; clicks wait until it ends.
  pw::SetBatchWaitPump([this] { PumpWhileBusy(); });
  return true;
}

namespace {
// How long a start waits for the window to be on screen and placed before
// it opens the file all the same (a window manager that keeps it unmapped,
// a session that starts it minimised); and how often it looks.
constexpr int kMapWaitMs = 10000;
constexpr int kMapCheckMs = 20;
}  // namespace

namespace {
bool WindowManagerRuns() {
  GdkScreen* screen = gdk_screen_get_default();
  if (!screen || !GDK_IS_X11_SCREEN(screen)) return true;
  return std::strcmp(gdk_x11_screen_get_window_manager_name(screen), "unknown") != 0;
}
}  // namespace

void CPixelwharfApp::OpenWhenMapped(const wxString& file) {
  m_startFile = file;
  m_mapWaited = 0;
  m_mapWait.SetOwner(this);
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
    m_mapWaited += kMapCheckMs;
    // Mapped by the X server, and moved where the start placement wants
    // it: a box shown before would open behind the window, or away from it.
    // (Without a window manager nothing moves it after the mapping.)
    const bool placed =
        m_frameMapped && m_frame && (m_frame->IsPlacementSettled() || !WindowManagerRuns());
    if (placed || m_mapWaited >= kMapWaitMs) OpenStartFile();
  }, m_mapWait.GetId());
  m_mapWait.Start(kMapCheckMs);
}

void CPixelwharfApp::WatchFrameMapping() {
  // The X server's word that the window is on screen, not the toolkit's
  // request for it.
  auto onMap = +[](GtkWidget*, GdkEvent*, gpointer data) -> gboolean {
    static_cast<CPixelwharfApp*>(data)->m_frameMapped = true;
    return FALSE;
  };
  g_signal_connect(static_cast<GtkWidget*>(m_frame->GetHandle()), "map-event", G_CALLBACK(onMap),
                   this);
}

void CPixelwharfApp::OpenStartFile() {
  m_mapWait.Stop();
  if (m_startFile.empty() || !m_frame) return;
  const wxString file = m_startFile;
  m_startFile.clear();
  m_frame->OpenWhenPlaced(file);
}

void CPixelwharfApp::PumpWhileBusy() {
  ++m_batchWaitDepth;
  if (wxEventLoopBase* loop = wxEventLoopBase::GetActive())
    loop->YieldFor(wxEVT_CATEGORY_UI | wxEVT_CATEGORY_TIMER | wxEVT_CATEGORY_THREAD);
  // A partial yield leaves the program's own queued calls alone; the
  // workers' progress arrives that way.
  if (wxTheApp) wxTheApp->ProcessPendingEvents();
  --m_batchWaitDepth;
}

int CPixelwharfApp::ExitInstance() {
  pw::SetBatchWaitPump({});
  RemoveSignalHandlers();
  if (m_frame) {  // still there when the loop ended some other way
    m_frame->Shutdown();
    delete m_frame;
    m_frame = nullptr;
  }
  m_document.reset();
  m_fileHistory.reset();
  if (wxConfigBase* config = wxConfigBase::Get(false)) config->Flush();
  return 0;
}

void CPixelwharfApp::SaveFileHistory() {
  if (!m_fileHistory) return;
  wxConfigBase* config = wxConfigBase::Get();
  config->DeleteGroup(kRecentFiles);
  config->SetPath(kRecentFiles);
  m_fileHistory->Save(*config);
  config->SetPath("/");
  config->Flush();
}

void CPixelwharfApp::OnAppAbout() {
  CAboutDlg dialog(m_frame);
  dialog.ShowModal();
}

void CPixelwharfApp::OnFilePrintSetup() {
  wxPageSetupDialog dialog(m_frame);
  dialog.ShowModal();
}

// A desktop session ends programs with SIGTERM, a terminal with SIGINT:
// both close the main window the same way the 退出 command does, so the
// settings are saved.
void CPixelwharfApp::InstallSignalHandlers() {
  if (m_signalSources[0]) return;
  auto onSignal = [](gpointer) -> gboolean {
    pw::CloseMessageBoxes();
    if (CMainFrame* frame = PwApp().GetMainFrame()) frame->Close(true);
    return G_SOURCE_CONTINUE;
  };
  m_signalSources[0] = g_unix_signal_add(SIGTERM, onSignal, nullptr);
  m_signalSources[1] = g_unix_signal_add(SIGINT, onSignal, nullptr);
  // A write past the file-size limit fails for that file instead of
  // killing the program.
  pw::IgnoreFileSizeSignal();
}

void CPixelwharfApp::RemoveSignalHandlers() {
  for (unsigned& source : m_signalSources) {
    if (source) g_source_remove(source);
    source = 0;
  }
}
