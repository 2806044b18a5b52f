#include "app/StatusBar.h"

#include <algorithm>

#include "app/CommandIds.h"
#include "app/NativeWindow.h"
#include "app/Resources.h"

namespace pw {
namespace {
// Field layout of the bar: pane, progress bar, separator, two readout panes.
enum Field { kPane1, kProgress, kSeparator, kPaneXY, kPaneRGB, kFieldCount };

class StatusSeparator : public StatusElement {
 public:
  StatusSeparator() : StatusElement(-1) {}
};

std::function<void(int)>& ProgressBarWatch() {
  static std::function<void(int)> watch;
  return watch;
}
}  // namespace

void SetProgressBarWatch(std::function<void(int)> watch) { ProgressBarWatch() = std::move(watch); }

StatusReadoutPane::StatusReadoutPane(int id, CRibbonStatusBar* bar, int field)
    : StatusTextPane(id, bar, field) {}

StatusFirstPane::StatusFirstPane(int id, CRibbonStatusBar* bar, int field)
    : StatusTextPane(id, bar, field) {}

void StatusFirstPane::SetText(const wxString& text) {
  static_cast<CRibbonStatusBar*>(m_bar)->FitFirstPane(text);
  StatusTextPane::SetText(text);
}

void StatusReadoutPane::SetText(const wxString& text) {
  static_cast<CRibbonStatusBar*>(m_bar)->FitColourPane(text);
  StatusTextPane::SetText(text);
}

void StatusProgressBar::SetRange(int min, int max) {
  m_min = min;
  m_max = std::max(min, max);
  m_gauge->SetRange(std::max(1, m_max - m_min));
  SetPos(m_pos);
}

void StatusProgressBar::SetPos(int pos) {
  m_pos = std::clamp(pos, m_min, m_max);
  m_pulsing = false;
  m_gauge->SetValue(std::min(m_pos - m_min, m_gauge->GetRange()));
  LayOutGaugeNow(m_gauge);
  if (ProgressBarWatch()) ProgressBarWatch()(m_pos);
}

void StatusProgressBar::Pulse() {
  m_pulsing = true;
  m_gauge->Pulse();
}

void StatusProgressBar::Redraw() { m_gauge->Update(); }

CRibbonStatusBar::CRibbonStatusBar(wxWindow* parent, wxWindowID id)
    : wxStatusBar(parent, id, wxSTB_DEFAULT_STYLE & ~wxSTB_SIZEGRIP) {
  SetMinHeight(kProgressHeight + 4);
  Bind(wxEVT_SIZE, &CRibbonStatusBar::OnSize, this);
}

namespace {
constexpr int kPaneMargin = 14;  // the field's border and padding around its text
bool IsDigit(wxUniChar c) { return c >= '0' && c <= '9'; }
}  // namespace

int CRibbonStatusBar::ValueTextWidth(const wxString& text) const {
  wxString widest = "0";
  int widestWidth = 0;
  for (const char* c : {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}) {
    const int width = GetTextExtent(c).x;
    if (width > widestWidth) {
      widestWidth = width;
      widest = c;
    }
  }
  wxString shaped;
  for (wxUniChar c : text) shaped += IsDigit(c) ? widest : wxString(1, c);
  return GetTextExtent(shaped).x;
}

void CRibbonStatusBar::SetFieldWidths() {
  const int widths[kFieldCount] = {m_firstWidth, kProgressWidth + 6, 4, -1, m_colourWidth};
  SetStatusWidths(kFieldCount, widths);
}

void CRibbonStatusBar::FitColourPane(const wxString& text) {
  const int needed = ValueTextWidth(text) + kPaneMargin;
  if (needed <= m_colourWidth) return;
  // The position readout keeps room for its own empty text at least.
  const int fixed = m_firstWidth + kProgressWidth + 6 + 4;
  const int positionPane = GetTextExtent(LoadString(cmd::IDS_XY_EMPTY)).x + kPaneMargin;
  const int room = GetClientSize().x - fixed - positionPane;
  const int width = std::min(needed, std::max(m_colourWidth, room));
  if (width <= m_colourWidth) return;
  m_colourWidth = width;
  SetFieldWidths();
  PlaceGauge();
}

void CRibbonStatusBar::FitFirstPane(const wxString& text) {
  const int label = GetTextExtent(LoadString(cmd::IDS_STATUS_PANE1)).x + kPaneMargin;
  // The position readout keeps room for its own empty text, as the colour
  // readout does for itself.
  const int others = kProgressWidth + 6 + 4 + m_colourWidth +
                     GetTextExtent(LoadString(cmd::IDS_XY_EMPTY)).x + kPaneMargin;
  const int room = GetClientSize().x - others;
  const int width = std::max(label, std::min(GetTextExtent(text).x + kPaneMargin, room));
  if (width == m_firstWidth) return;
  m_firstWidth = width;
  SetFieldWidths();
  PlaceGauge();
}

void CRibbonStatusBar::AddElements() {
  // The colour readout starts with what its empty text needs, the position
  // readout (which also carries the hints) the rest, so that at the tools
  // layout's 800 pixels neither is cut; value texts wider than the empty
  // one (digits are wider than dashes) widen it as they come.
  m_colourWidth = GetTextExtent(LoadString(cmd::IDS_RGB_EMPTY)).x + kPaneMargin;
  m_firstWidth = GetTextExtent(LoadString(cmd::IDS_STATUS_PANE1)).x + kPaneMargin;
  const int styles[kFieldCount] = {wxSB_FLAT, wxSB_FLAT, wxSB_NORMAL, wxSB_SUNKEN, wxSB_SUNKEN};
  SetFieldsCount(kFieldCount);
  SetFieldWidths();
  SetStatusStyles(kFieldCount, styles);

  m_gauge = new wxGauge(this, cmd::ID_STATUSBAR_PROGRESS, 100, wxDefaultPosition,
                        wxSize(kProgressWidth, kProgressHeight), wxGA_HORIZONTAL | wxGA_SMOOTH);
  m_gauge->SetLabel("");

  m_main.push_back(std::make_unique<StatusFirstPane>(cmd::ID_STATUSBAR_PANE1, this, kPane1));
  m_main.push_back(std::make_unique<StatusProgressBar>(cmd::ID_STATUSBAR_PROGRESS, m_gauge));
  m_extended.push_back(std::make_unique<StatusTextPane>(cmd::ID_STATUSBAR_PANE_XY, this, kPaneXY));
  m_main.push_back(std::make_unique<StatusSeparator>());
  m_extended.push_back(std::make_unique<StatusReadoutPane>(cmd::ID_STATUSBAR_PANE_RGB, this, kPaneRGB));

  m_main[0]->SetText(LoadString(cmd::IDS_STATUS_PANE1));
  m_extended[0]->SetText(LoadString(cmd::IDS_XY_EMPTY));
  m_extended[1]->SetText(LoadString(cmd::IDS_RGB_EMPTY));
  PlaceGauge();
}

StatusElement* CRibbonStatusBar::GetElement(int pos) const {
  return pos >= 0 && pos < static_cast<int>(m_main.size()) ? m_main[pos].get() : nullptr;
}

StatusElement* CRibbonStatusBar::GetExElement(int pos) const {
  return pos >= 0 && pos < static_cast<int>(m_extended.size()) ? m_extended[pos].get() : nullptr;
}

StatusProgressBar* CRibbonStatusBar::GetProgressBar() const {
  StatusElement* e = GetElement(1);
  return e ? e->AsProgressBar() : nullptr;
}

void CRibbonStatusBar::OnSize(wxSizeEvent& event) {
  // The room of a long first text follows the bar's width.
  if (GetFieldsCount() == kFieldCount) FitFirstPane(GetStatusText(kPane1));
  PlaceGauge();
  event.Skip();
}

void CRibbonStatusBar::PlaceGauge() {
  if (!m_gauge || GetFieldsCount() != kFieldCount) return;
  wxRect field;
  if (!GetFieldRect(kProgress, field)) return;
  const int height = std::min(kProgressHeight, field.height);
  const int width = std::min(kProgressWidth, field.width - 3);
  // A window manager may map the window before it has its size, leaving the
  // field empty; the gauge keeps its place until the bar has room for it.
  if (width < 1 || height < 1) return;
  m_gauge->SetSize(field.x + 3, field.y + (field.height - height) / 2, width, height);
}

}  // namespace pw
