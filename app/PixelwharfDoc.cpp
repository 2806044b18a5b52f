#include "app/PixelwharfDoc.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include <wx/config.h>
#include <wx/filename.h>

#include "app/CommandIds.h"
#include "app/Dialogs.h"
#include "app/MainFrame.h"
#include "app/MessageBox.h"
#include "app/PixelwharfView.h"
#include "app/Resources.h"
#include "app/StatusBar.h"
#include "app/TaskBarProgress.h"
#include "core/PathHelpers.h"
#include "platform/background_work.h"
#include "platform/text.h"

CPixelwharfDoc::CPixelwharfDoc() {
  Bind(wxEVT_MENU, &CPixelwharfDoc::OnOpenImage, this, pw::cmd::ID_BUTTON_OPEN);
  Bind(wxEVT_MENU, &CPixelwharfDoc::OnOpenWithPxImage, this, pw::cmd::ID_BUTTON_PxImageOpen);
  Bind(wxEVT_MENU, &CPixelwharfDoc::OnConvertTo8Bit, this, pw::cmd::ID_BUTTON_CVT2EIGHT);
  Bind(wxEVT_UPDATE_UI, &CPixelwharfDoc::OnUpdateCvt2Eight, this, pw::cmd::ID_BUTTON_CVT2EIGHT);
}

CPixelwharfDoc::~CPixelwharfDoc() { AbandonConversion(); }

bool CPixelwharfDoc::OnNewDocument() { return true; }

bool CPixelwharfDoc::OnOpenDocument(const std::wstring& path) {
  // The file must be a regular file that opens for reading.
  std::string narrow = pw::WideToNarrow(path);
  std::error_code ec;
  if (narrow.empty() || !std::filesystem::is_regular_file(narrow, ec) || !std::ifstream(narrow))
    return false;
  if (m_frame) {
    if (auto* bar = m_frame->GetProgressBar()) bar->SetPos(0);
    m_frame->CreateTaskbarProgress();
    m_frame->GetTaskbarProgress()->BeginProgress();
  }
  if (!m_view) {
    OnImageOpened(path, OpenOutcome::Opened);
    return true;
  }
  m_view->OpenImageInView(path);
  return true;
}

void CPixelwharfDoc::OnImageOpened(const std::wstring& path, OpenOutcome outcome,
                                   const std::wstring& reason) {
  if (m_frame) m_frame->GetTaskbarProgress()->EndProgress();
  if (outcome == OpenOutcome::Opened) m_path = path;
  if (outcome == OpenOutcome::Failed && m_frame)
    m_frame->ReportOpenFailure(wxString(path), wxString(reason));
}

void CPixelwharfDoc::OnOpenImage(wxCommandEvent&) {
  std::wstring path = pw::PickOpenFile();
  if (!path.empty()) OnOpenDocument(path);
}

void CPixelwharfDoc::OnOpenWithPxImage(wxCommandEvent& event) {
  pw::MessageBox(pw::LoadString(pw::cmd::IDS_IN_DEVELOPMENT));
  OnOpenImage(event);
}

void CPixelwharfDoc::OnConvertTo8Bit(wxCommandEvent&) { ConvertTo8Bit(); }

void CPixelwharfDoc::OnUpdateCvt2Eight(wxUpdateUIEvent& event) {
  event.Enable(!m_path.empty() && !m_conversionJob);
}

namespace {

// How long a closing program waits for a cancelled conversion to stop.
constexpr auto kConversionExitWait = std::chrono::milliseconds(250);

// The program's own end when a conversion cannot be waited for: what is to
// be saved has been by now (settings, window, recent files); the thread is
// still inside GDAL, so nothing may tear the library down under it.
void EndProgramNow() {
  if (wxConfigBase* config = wxConfigBase::Get(false)) config->Flush();
  std::fflush(nullptr);
  std::_Exit(0);
}

std::function<void()>& UnfinishedConversionExit() {
  static std::function<void()> exit = EndProgramNow;
  return exit;
}

}  // namespace

// One conversion on its thread. The thread holds the job too, so it may
// outlive the document; it posts to the document only while `owner` is
// set, under `mutex`.
struct CPixelwharfDoc::ConversionJob {
  uint64_t id = 0;
  std::atomic<bool> cancel{false};
  pw::EightBitConversion conversion;
  std::thread thread;
  std::mutex mutex;
  std::condition_variable ended;
  CPixelwharfDoc* owner = nullptr;
  bool finished = false;
  bool ok = false;
  std::string error;
};

void CPixelwharfDoc::SetUnfinishedConversionExit(std::function<void()> exit) {
  UnfinishedConversionExit() = exit ? std::move(exit) : EndProgramNow;
}

void CPixelwharfDoc::ConvertTo8Bit() {
  if (m_path.empty() || m_conversionJob) return;
  const std::wstring offered = GetFileName(m_path, false) + L"_8";
  // The copy is offered beside the image, not in whatever folder the
  // program was started from.
  const std::wstring folder = wxFileName(wxString(m_path)).GetPath().ToStdWstring();
  const std::wstring target = pw::PickSaveFileByExtensions(L".tif", offered, folder);
  if (target.empty()) return;

  if (m_frame) {
    m_frame->CreateTaskbarProgress();
    m_frame->GetTaskbarProgress()->BeginProgress();
  }
  auto job = std::make_shared<ConversionJob>();
  job->id = ++m_lastConversion;
  job->owner = this;
  const std::string input = pw::WideToNarrow(m_path), output = pw::WideToNarrow(target);
  // The gauge's range is the image's height, known once the input is open;
  // the thread's reports come here through the event loop.
  auto rowsDone = [job](int rows) {
    std::lock_guard<std::mutex> lock(job->mutex);
    if (CPixelwharfDoc* doc = job->owner) {
      const uint64_t id = job->id;
      const int height = job->conversion.height;
      doc->CallAfter([doc, id, rows, height] { doc->OnConversionProgress(id, rows, height); });
    }
  };
  job->thread = std::thread([job, input, output, rowsDone] {
    bool ok = false;
    std::string error;
    try {
      ok = job->conversion.Run(input, output, nullptr, rowsDone, error, &job->cancel);
      job->conversion.ReleaseImageBuffers();
    } catch (...) {
      error = pw::CurrentExceptionText();
    }
    if (!ok) job->conversion.RemovePartialOutput();
    std::lock_guard<std::mutex> lock(job->mutex);
    job->ok = ok;
    job->error = error.empty() && !ok ? "未知错误" : error;
    job->finished = true;
    try {
      if (job->owner) job->owner->CallAfter(&CPixelwharfDoc::OnConversionDone, job->id);
    } catch (...) {
      // Nothing to tell it with; the document finds the job finished when
      // it next looks (a new conversion, its end).
    }
    job->ended.notify_all();
  });
  m_conversionJob = std::move(job);
}

void CPixelwharfDoc::OnConversionProgress(uint64_t id, int rows, int height) {
  // A cancelled conversion's last reports may still be queued.
  if (!m_conversionJob || m_conversionJob->id != id || !m_frame) return;
  if (rows == 0) {
    m_frame->ResetRibbonProgress(height);
  } else if (pw::StatusProgressBar* bar = m_frame->GetProgressBar()) {
    bar->SetPos(rows);
    bar->Redraw();
  }
  if (CTaskBarProgress* taskbar = m_frame->GetTaskbarProgress())
    taskbar->SetProgress(uint64_t(rows), uint64_t(std::max(height, 1)));
}

void CPixelwharfDoc::OnConversionDone(uint64_t id) {
  if (!m_conversionJob || m_conversionJob->id != id) return;
  std::shared_ptr<ConversionJob> job = std::move(m_conversionJob);
  // The thread posted this as its last step: it is ending, not working.
  if (job->thread.joinable()) job->thread.join();
  if (m_frame) m_frame->GetTaskbarProgress()->EndProgress();
  if (job->cancel) {
    if (m_frame) m_frame->ResetRibbonProgress(std::max(job->conversion.height, 1));
    return;
  }
  if (job->ok) {
    pw::MessageBox(pw::LoadString(pw::cmd::IDS_TASK_DONE));
  } else {
    pw::MessageBox(wxString::FromUTF8("转换失败：") + wxString::FromUTF8(job->error),
                   wxOK | wxICON_ERROR);
  }
}

bool CPixelwharfDoc::CancelConversion() {
  if (!m_conversionJob) return false;
  // The thread stops at its next slice of rows, removes its output and
  // reports; the report finds the cancel and says nothing.
  m_conversionJob->cancel = true;
  return true;
}

void CPixelwharfDoc::AbandonConversion() {
  if (!m_conversionJob) return;
  std::shared_ptr<ConversionJob> job = std::move(m_conversionJob);
  job->cancel = true;
  bool finished;
  {
    std::unique_lock<std::mutex> lock(job->mutex);
    job->owner = nullptr;
    finished = job->ended.wait_for(lock, kConversionExitWait, [&] { return job->finished; });
  }
  if (finished) {
    if (job->thread.joinable()) job->thread.join();
    return;
  }
  // Inside one GDAL call that does not look at the cancel: remove what it
  // has written and end without it.
  job->conversion.RemovePartialOutput();
  job->thread.detach();
  UnfinishedConversionExit()();
}
