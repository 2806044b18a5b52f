// The main window's status bar: a text pane, a progress bar and a separator
// on the left (the "main" list, positions 0 to 2) and two text panes on the
// right (the "extended" list, positions 0 and 1). Everything that writes to
// the status bar addresses its elements by list and position.
#pragma once
#include <functional>
#include <memory>
#include <vector>

#include <wx/gauge.h>
#include <wx/statusbr.h>

namespace pw {

class StatusProgressBar;

// Called with every position a progress bar is set to, in order; for the
// tests, which follow a run's positions. An empty function removes it.
void SetProgressBarWatch(std::function<void(int)> watch);

class StatusElement {
 public:
  virtual ~StatusElement() = default;
  int GetID() const { return m_id; }
  virtual void SetText(const wxString&) {}
  virtual wxString GetText() const { return {}; }
  // Paints the element now, so progress shows during long work on the UI thread.
  virtual void Redraw() {}
  virtual StatusProgressBar* AsProgressBar() { return nullptr; }

 protected:
  explicit StatusElement(int id) : m_id(id) {}

 private:
  int m_id;
};

class StatusTextPane : public StatusElement {
 public:
  StatusTextPane(int id, wxStatusBar* bar, int field) : StatusElement(id), m_bar(bar), m_field(field) {}
  void SetText(const wxString& text) override { m_bar->SetStatusText(text, m_field); }
  wxString GetText() const override { return m_bar->GetStatusText(m_field); }
  void Redraw() override { m_bar->Update(); }

 protected:
  wxStatusBar* m_bar;
  int m_field;
};

class CRibbonStatusBar;

// The first pane: its label, or the viewer's news about the image shown,
// which it widens to show whole (as far as the bar has room).
class StatusFirstPane : public StatusTextPane {
 public:
  StatusFirstPane(int id, CRibbonStatusBar* bar, int field);
  void SetText(const wxString& text) override;
};

// The colour readout: it widens to show a value text whole (the readout of
// a floating-point file may be longer than any the pane was sized for).
class StatusReadoutPane : public StatusTextPane {
 public:
  StatusReadoutPane(int id, CRibbonStatusBar* bar, int field);
  void SetText(const wxString& text) override;
};

// A range min..max and a position, shown on a gauge that counts from 0.
// Positions outside the range are held at its ends.
class StatusProgressBar : public StatusElement {
 public:
  StatusProgressBar(int id, wxGauge* gauge) : StatusElement(id), m_gauge(gauge) {}
  void SetRange(int min, int max);
  void SetPos(int pos);
  int GetPos() const { return m_pos; }
  int GetRangeMin() const { return m_min; }
  int GetRangeMax() const { return m_max; }
  // Shows activity without a known amount until the next SetPos.
  void Pulse();
  bool IsPulsing() const { return m_pulsing; }
  void Redraw() override;
  StatusProgressBar* AsProgressBar() override { return this; }
  wxGauge* GetGauge() const { return m_gauge; }

 private:
  wxGauge* m_gauge;
  int m_min = 0, m_max = 100, m_pos = 0;
  bool m_pulsing = false;
};

class CRibbonStatusBar : public wxStatusBar {
 public:
  // The progress bar's size on the bar.
  static constexpr int kProgressWidth = 300;
  static constexpr int kProgressHeight = 30;

  CRibbonStatusBar(wxWindow* parent, wxWindowID id);

  // Builds the elements with their initial texts.
  void AddElements();

  // Element of the main list or of the extended list at a position; null
  // when that list has no element there.
  StatusElement* GetElement(int pos) const;
  StatusElement* GetExElement(int pos) const;
  StatusProgressBar* GetProgressBar() const;

  // The width a text needs in a pane when each of its digits may be any
  // digit: the widest digit stands for every one, so the pane does not
  // change as the readout's digits do.
  int ValueTextWidth(const wxString& text) const;
  // Widens the colour readout pane, if need be, so the text fits whole
  // (as far as the bar has room); it never narrows.
  void FitColourPane(const wxString& text);
  // Sizes the first pane to its text: its label's width at least, wider for
  // a longer text as far as the bar has room beside the other panes.
  void FitFirstPane(const wxString& text);

 private:
  void SetFieldWidths();
  void OnSize(wxSizeEvent& event);
  void PlaceGauge();

  wxGauge* m_gauge = nullptr;
  int m_colourWidth = 0;  // the colour readout pane's width
  int m_firstWidth = 0;   // the first pane's width
  std::vector<std::unique_ptr<StatusElement>> m_main;
  std::vector<std::unique_ptr<StatusElement>> m_extended;
};

}  // namespace pw
