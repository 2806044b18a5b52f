// Connects a panel's run to the resizing, cloning and conversion tools,
// which also say which text status pane 0 shows while a group runs (their
// GIF texts): the group start of the panel's run, then that text.
#pragma once

#include <string>

#include "app/ToolPanelHost.h"
#include "app/panels/ToolPanelFrame.h"
#include "tools/BatchCommon.h"

namespace pw {

class BatchRunAdapter : public BatchRunObserver {
 public:
  BatchRunAdapter(ToolRunObserver& run, ToolPanelHost* host) : run_(run), host_(host) {}
  void GroupText(const std::wstring& busyText) override { text_ = busyText; }
  void GroupStarted(int barPosition) override {
    run_.GroupStarted(barPosition);
    if (host_ && !text_.empty()) host_->SetStatusText(text_, 0);
  }
  void GroupFinished() override { run_.GroupFinished(); }

 private:
  ToolRunObserver& run_;
  ToolPanelHost* host_;
  std::wstring text_;
};

}  // namespace pw
