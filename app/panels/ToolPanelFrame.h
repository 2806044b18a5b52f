// What the batch tool panels share: the background, the proportional
// relayout, Browse, dropped files, the path field, the JPEG quality list and
// the run sequence around every batch (status texts, progress, the dated run
// log, the copy-back of the settings and the end-of-run box).
//
// Panels are thin: they gather the options shown into their settings and
// hand the work to the tools' plain functions.
#pragma once

#include <wx/gdicmn.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "app/panels/ToolPanelBase.h"
#include "platform/progress.h"
#include "tools/ToolRun.h"

class wxComboBox;
class wxTextCtrl;
class wxEraseEvent;
class wxSizeEvent;
class wxCommandEvent;
class wxEvtHandler;

namespace pw {

// Control ids of the shared controls.
inline constexpr int kIdPathField = 1012;
inline constexpr int kIdQualityList = 1039;
inline constexpr int kFirstControlId = 1000;
inline constexpr int kLastControlId = 1049;

class ToolPanelFrame : public ToolPanelBase {
 public:
  // The panels are laid out on this design size and scaled to the view.
  static constexpr int kDesignWidth = 780;
  static constexpr int kDesignHeight = 430;

  // Creates the panel's window over `parent` at the design size, its
  // controls, and fills them from the owner's settings.
  bool Create(wxWindow* parent);

  // Files dropped on the panel, in drop order: the path field and the hint
  // (the shared drop convention); a panel may take them otherwise.
  virtual void OnDropSources(const std::vector<std::wstring>& dropped);

  // The folder a folder picker opens on for a path field's text: the
  // field's first path when it is a folder, else the nearest folder above
  // it; empty when there is none (the picker then opens on home).
  static std::wstring FolderOfField(const std::wstring& fieldText);

 protected:
  // `ribbonCommand`: the tool's command, whose ribbon text is the title.
  ToolPanelFrame(const char* className, int toolIndex, int dialogId, int ribbonCommand);

  virtual void BuildControls() = 0;

  // The common frame of the panel's initialisation, around FillControls:
  // settings from the main window, the panel's controls, the reference size
  // of the relayout, CAT_INDEX 2.
  void InitPanel();
  virtual void FillControls() = 0;
  // The text shown when exactly one item was dropped.
  virtual std::wstring DroppedOneText(const std::wstring& path) const = 0;
  // Copies this tool's own settings section into the main window's record.
  virtual void CopySectionTo(ToolSettings& target) const = 0;

  // Gives this tool's own settings section and the two window indices
  // back to the owner's record.
  void GiveSettingsBack();
  wxTextCtrl* PathField() const;
  // A field that refuses dropped files rather than taking their addresses
  // as text, as the toolkit's edit does by itself.
  static void RefuseDroppedFiles(wxTextCtrl* field);
  // Reads the path field, asking for a folder when it is empty. False (with
  // the focus on the panel) when there is still nothing.
  bool ReadPathField(std::wstring& text);
  void OnBrowseFolder(wxCommandEvent& event);
  // The panel's own message box: logged and captured like every box.
  int Box(const wxString& text, const wxString& caption, long style);

  // JPEG quality list: filled from a stored quality; read back into the
  // stored quality and the shared quality of the picture operations.
  static void FillQualityList(wxComboBox* list, int quality);
  static void ReadQualityList(wxComboBox* list, int32_t& quality);

  // One run of the tool, from Start to the end-of-run box. The panel stays
  // disabled while it lives.
  class Run : public ToolRunObserver {
   public:
    explicit Run(ToolPanelFrame& panel);
    ~Run() override;
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    CProgressInterface* Progress() const;
    // The run's groups, as the path field gives them: each group's
    // per-file progress fills the bar from its own position to the next
    // group's (or to 100). Without a plan every group fills up to 100.
    void PlanGroups(const SourceEntries& sources);
    void GroupStarted(int barPosition) override;
    void GroupFinished() override;
    void BarAt(int barPosition) override;
    // Bar to 100, the dated run log, the copy-back and the end-of-run box
    // whose text follows the elapsed time: `closingText` for a clean run,
    // else what the report tells (failures, where they are logged, logs
    // that could not be written or took another name). False when the run
    // log could not be written (then nothing is copied back and no box
    // appears).
    bool Finish(const std::wstring& runLogPath, const wxString& closingText,
                const RunReport& report = RunReport());

   private:
    ToolPanelFrame& panel_;
    std::chrono::steady_clock::time_point start_;
    bool flashed_ = false;
    std::vector<int> groupStarts_;  // the folders' positions, ascending
  };

  int m_toolIndex;

 private:
  int m_dialogId;
  int m_ribbonCommand;
  void OnEraseBackground(wxEraseEvent& event);
  void OnRelayout(wxSizeEvent& event);

  wxSize m_initialClient;
  std::map<int, wxRect> m_initialRects;  // control id -> its place at the reference size
};

}  // namespace pw
