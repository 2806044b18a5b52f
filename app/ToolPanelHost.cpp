#include "app/ToolPanelHost.h"

#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "app/PixelwharfView.h"
#include "app/Resources.h"
#include "app/StatusBar.h"
#include "app/panels/ClassifyFiles.h"
#include "app/panels/CloneExif.h"
#include "app/panels/Convertor.h"
#include "app/panels/MergeImgs.h"
#include "app/panels/ResizePictures.h"

namespace {

// The five show operations differ only in the panel and its hint text.
template <class Panel>
int ShowPanel(ToolPanelHost& host, Panel*& panel, int hintId) {
  if (!host.frame || !host.view) return 0;
  if (!panel) {
    panel = new Panel();
    panel->m_owner = host.frame;
    panel->Create(host.view);
    host.FollowViewSize();
  }
  // The view may have changed size since the panel was last placed: at
  // start the window gets its final size only after the first panel exists.
  panel->SetSize(host.view->GetClientRect());
  panel->Show();
  panel->Raise();
  host.SetStatusText(pw::LoadString(hintId).ToStdWstring(), 0);
  host.SetStatusText(pw::LoadString(pw::cmd::IDS_READY).ToStdWstring(), 1);
  return 0;
}

template <class Panel>
void DestroyPanel(Panel*& panel) {
  if (!panel) return;
  delete panel;  // the window is destroyed at once, not at the next idle time
  panel = nullptr;
}

}  // namespace

int ToolPanelHost::ShowClassifyFiles() { return ShowPanel(*this, classifyFiles, pw::cmd::IDS_HINT_CLASSIFY); }
int ToolPanelHost::ShowResizePictures() { return ShowPanel(*this, resizePictures, pw::cmd::IDS_HINT_RESIZE); }
int ToolPanelHost::ShowCloneExif() { return ShowPanel(*this, cloneExif, pw::cmd::IDS_HINT_CLONE); }
int ToolPanelHost::ShowConvertor() { return ShowPanel(*this, convertor, pw::cmd::IDS_HINT_CONVERT); }
int ToolPanelHost::ShowMergeImgs() { return ShowPanel(*this, mergeImgs, pw::cmd::IDS_HINT_MERGE); }

int ToolPanelHost::SetStatusText(const std::wstring& text, int pane) {
  if (frame) frame->SetPanelStatusText(text, pane);
  return 0;
}

int ToolPanelHost::ResetProgress() {
  if (frame) frame->ResetPanelProgress();
  return 0;
}

int ToolPanelHost::CompleteProgress() {
  if (frame) frame->CompletePanelProgress();
  return 0;
}

void ToolPanelHost::FollowViewSize() {
  if (followedView == view || !view) return;
  view->Bind(wxEVT_SIZE, &ToolPanelHost::OnViewSize, this);
  followedView = view;
}

void ToolPanelHost::OnViewSize(wxSizeEvent& event) {
  event.Skip();
  if (!view) return;
  const wxRect client = view->GetClientRect();
  for (int tool = 0; tool < 5; ++tool)
    if (wxWindow* panel = GetPanel(tool)) panel->SetSize(client);
}

void ToolPanelHost::HidePanels() {
  for (int tool = 0; tool < 5; ++tool)
    if (wxWindow* panel = GetPanel(tool)) panel->Hide();
}

void ToolPanelHost::DestroyPanels() {
  if (followedView) followedView->Unbind(wxEVT_SIZE, &ToolPanelHost::OnViewSize, this);
  followedView = nullptr;
  DestroyPanel(classifyFiles);
  DestroyPanel(resizePictures);
  DestroyPanel(cloneExif);
  DestroyPanel(convertor);
  DestroyPanel(mergeImgs);
}

wxWindow* ToolPanelHost::GetPanel(int tool) const {
  switch (tool) {
    case 0: return classifyFiles;
    case 1: return resizePictures;
    case 2: return cloneExif;
    case 3: return convertor;
    case 4: return mergeImgs;
    default: return nullptr;
  }
}
