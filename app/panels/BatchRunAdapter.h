// Connects a panel's run to the resizing, cloning and conversion tools,
// which also say which text status pane 0 shows while a group runs (their
// GIF texts): the group start of the panel's run, then that text.
#pragma once

#include <string>

#include "app/panels/ToolPanelFrame.h"
#include "app/panels/ToolPanelOwner.h"
#include "tools/BatchCommon.h"

namespace pw {

class BatchRunAdapter : public BatchRunObserver {
 public:
  BatchRunAdapter(ToolRunObserver& run, ToolPanelOwner* owner) : run_(run), owner_(owner) {}
  void GroupText(const std::wstring& busyText) override { text_ = busyText; }
  void GroupStarted(int barPosition) override {
    run_.GroupStarted(barPosition);
    if (owner_ && !text_.empty()) owner_->SetPanelStatusText(text_, 0);
  }
  void GroupFinished() override { run_.GroupFinished(); }
  void BarAt(int barPosition) override { run_.BarAt(barPosition); }

 private:
  ToolRunObserver& run_;
  ToolPanelOwner* owner_;
  std::wstring text_;
};

}  // namespace pw
