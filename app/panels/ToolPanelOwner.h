// What a tool panel needs of the window that owns it: the settings record
// to start from and to give its own section back to, the status bar's two
// hint panes and progress bar, the progress display of a run, and a flash
// when a run ends. The main window implements it; the panels know nothing
// else of the main window.
#pragma once

#include <string>

#include "core/ToolSettings.h"
#include "platform/progress.h"

namespace pw {

class ToolPanelOwner {
 public:
  // The owner's settings record, as a panel copies it when it opens.
  virtual const ToolSettings& PanelSettings() const = 0;
  // Replaces the owner's record. A panel passes the record as it reads it
  // now with only its own section and the two window indices changed, so a
  // run never reverts what another tool has saved since.
  virtual void StorePanelSettings(const ToolSettings& settings) = 0;
  // Text of extended status pane 0 or 1; nothing when the pane is missing.
  virtual void SetPanelStatusText(const std::wstring& text, int pane) = 0;
  // The status bar's progress bar: range 0..100 at 0, a position, or 100.
  virtual void ResetPanelProgress() = 0;
  virtual void SetPanelProgress(int position) = 0;
  virtual void CompletePanelProgress() = 0;
  // The progress display a run reports through, made on first need.
  virtual CProgressInterface* RunProgress() = 0;
  // Draws the user's eye to the window once a run has ended.
  virtual void FlashForAttention() = 0;

 protected:
  ~ToolPanelOwner() = default;
};

}  // namespace pw
