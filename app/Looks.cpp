#include "app/Looks.h"

#include <cstdlib>

#include <wx/ribbon/art.h>

#include "app/CommandIds.h"

namespace pw {

int g_nAppLook = cmd::ID_VIEW_APPLOOK_OFF_2007_BLUE;

namespace {

OfficeStyle g_officeStyle = OfficeStyle::LunaBlue;

// Dark greys for the chrome, a lighter grey under the buttons so their
// dark outlines still show, and near-white labels.
void MakeDark(wxRibbonArtProvider& art) {
  const wxColour chrome(43, 43, 46), edge(30, 30, 32), page(88, 88, 93), label(80, 80, 85);
  const wxColour text(245, 245, 245), dimmed(150, 150, 155), hover(112, 112, 118), pressed(138, 112, 62);
  for (int id : {wxRIBBON_ART_TAB_CTRL_BACKGROUND_COLOUR, wxRIBBON_ART_TAB_CTRL_BACKGROUND_GRADIENT_COLOUR})
    art.SetColour(id, chrome);
  for (int id : {wxRIBBON_ART_TAB_BORDER_COLOUR, wxRIBBON_ART_PAGE_BORDER_COLOUR, wxRIBBON_ART_PANEL_BORDER_COLOUR,
                 wxRIBBON_ART_PANEL_BORDER_GRADIENT_COLOUR, wxRIBBON_ART_TAB_SEPARATOR_COLOUR,
                 wxRIBBON_ART_TAB_SEPARATOR_GRADIENT_COLOUR})
    art.SetColour(id, edge);
  for (int id : {wxRIBBON_ART_TAB_LABEL_COLOUR, wxRIBBON_ART_TAB_ACTIVE_LABEL_COLOUR, wxRIBBON_ART_TAB_HOVER_LABEL_COLOUR,
                 wxRIBBON_ART_PANEL_LABEL_COLOUR, wxRIBBON_ART_PANEL_HOVER_LABEL_COLOUR,
                 wxRIBBON_ART_PANEL_MINIMISED_LABEL_COLOUR, wxRIBBON_ART_BUTTON_BAR_LABEL_COLOUR,
                 wxRIBBON_ART_BUTTON_BAR_LABEL_HIGHLIGHT_COLOUR})
    art.SetColour(id, text);
  art.SetColour(wxRIBBON_ART_BUTTON_BAR_LABEL_DISABLED_COLOUR, dimmed);
  for (int id : {wxRIBBON_ART_TAB_ACTIVE_BACKGROUND_TOP_COLOUR, wxRIBBON_ART_TAB_ACTIVE_BACKGROUND_TOP_GRADIENT_COLOUR,
                 wxRIBBON_ART_TAB_ACTIVE_BACKGROUND_COLOUR, wxRIBBON_ART_TAB_ACTIVE_BACKGROUND_GRADIENT_COLOUR,
                 wxRIBBON_ART_PAGE_BACKGROUND_TOP_COLOUR, wxRIBBON_ART_PAGE_BACKGROUND_TOP_GRADIENT_COLOUR,
                 wxRIBBON_ART_PAGE_BACKGROUND_COLOUR, wxRIBBON_ART_PAGE_BACKGROUND_GRADIENT_COLOUR,
                 wxRIBBON_ART_PAGE_HOVER_BACKGROUND_TOP_COLOUR, wxRIBBON_ART_PAGE_HOVER_BACKGROUND_TOP_GRADIENT_COLOUR,
                 wxRIBBON_ART_PAGE_HOVER_BACKGROUND_COLOUR, wxRIBBON_ART_PAGE_HOVER_BACKGROUND_GRADIENT_COLOUR,
                 wxRIBBON_ART_PANEL_ACTIVE_BACKGROUND_TOP_COLOUR,
                 wxRIBBON_ART_PANEL_ACTIVE_BACKGROUND_TOP_GRADIENT_COLOUR,
                 wxRIBBON_ART_PANEL_ACTIVE_BACKGROUND_COLOUR, wxRIBBON_ART_PANEL_ACTIVE_BACKGROUND_GRADIENT_COLOUR})
    art.SetColour(id, page);
  for (int id : {wxRIBBON_ART_TAB_HOVER_BACKGROUND_TOP_COLOUR, wxRIBBON_ART_TAB_HOVER_BACKGROUND_TOP_GRADIENT_COLOUR,
                 wxRIBBON_ART_TAB_HOVER_BACKGROUND_COLOUR, wxRIBBON_ART_TAB_HOVER_BACKGROUND_GRADIENT_COLOUR,
                 wxRIBBON_ART_PANEL_LABEL_BACKGROUND_COLOUR, wxRIBBON_ART_PANEL_LABEL_BACKGROUND_GRADIENT_COLOUR})
    art.SetColour(id, label);
  for (int id : {wxRIBBON_ART_PANEL_HOVER_LABEL_BACKGROUND_COLOUR,
                 wxRIBBON_ART_PANEL_HOVER_LABEL_BACKGROUND_GRADIENT_COLOUR, wxRIBBON_ART_PANEL_HOVER_BORDER_COLOUR,
                 wxRIBBON_ART_PANEL_HOVER_BORDER_GRADIENT_COLOUR, wxRIBBON_ART_BUTTON_BAR_HOVER_BORDER_COLOUR,
                 wxRIBBON_ART_BUTTON_BAR_HOVER_BACKGROUND_TOP_COLOUR,
                 wxRIBBON_ART_BUTTON_BAR_HOVER_BACKGROUND_TOP_GRADIENT_COLOUR,
                 wxRIBBON_ART_BUTTON_BAR_HOVER_BACKGROUND_COLOUR,
                 wxRIBBON_ART_BUTTON_BAR_HOVER_BACKGROUND_GRADIENT_COLOUR})
    art.SetColour(id, hover);
  for (int id : {wxRIBBON_ART_BUTTON_BAR_ACTIVE_BORDER_COLOUR, wxRIBBON_ART_BUTTON_BAR_ACTIVE_BACKGROUND_TOP_COLOUR,
                 wxRIBBON_ART_BUTTON_BAR_ACTIVE_BACKGROUND_TOP_GRADIENT_COLOUR,
                 wxRIBBON_ART_BUTTON_BAR_ACTIVE_BACKGROUND_COLOUR,
                 wxRIBBON_ART_BUTTON_BAR_ACTIVE_BACKGROUND_GRADIENT_COLOUR})
    art.SetColour(id, pressed);
}

// Labels of buttons that cannot be used are drawn halfway between the
// label colour and the page, so they read as greyed in every look (the
// providers' own schemes give them the enabled label's colour).
wxRibbonArtProvider* WithDimmedDisabledLabels(wxRibbonArtProvider* art) {
  const wxColour label = art->GetColour(wxRIBBON_ART_BUTTON_BAR_LABEL_COLOUR);
  const wxColour disabled = art->GetColour(wxRIBBON_ART_BUTTON_BAR_LABEL_DISABLED_COLOUR);
  const wxColour page = art->GetColour(wxRIBBON_ART_PAGE_BACKGROUND_COLOUR);
  auto distance = [](const wxColour& a, const wxColour& b) {
    return std::abs(a.Red() - b.Red()) + std::abs(a.Green() - b.Green()) + std::abs(a.Blue() - b.Blue());
  };
  // A look that dims them already (the black one) keeps its own grey.
  if (distance(disabled, label) * 3 >= distance(page, label)) return art;
  auto mid = [](unsigned char a, unsigned char b) { return static_cast<unsigned char>((a + b) / 2); };
  art->SetColour(wxRIBBON_ART_BUTTON_BAR_LABEL_DISABLED_COLOUR,
                 wxColour(mid(label.Red(), page.Red()), mid(label.Green(), page.Green()),
                          mid(label.Blue(), page.Blue())));
  return art;
}

wxRibbonArtProvider* Office2007(OfficeStyle style) {
  auto* art = new wxRibbonMSWArtProvider();
  switch (style) {
    case OfficeStyle::LunaBlue:
      art->SetColourScheme(wxColour(165, 198, 240), wxColour(255, 210, 100), wxColour(21, 66, 139));
      break;
    case OfficeStyle::ObsidianBlack:
      art->SetColourScheme(wxColour(72, 72, 76), wxColour(255, 185, 70), wxColour(255, 255, 255));
      // The provider turns any primary colour into a blue-tinted scheme:
      // the black style sets its greys itself.
      MakeDark(*art);
      break;
    case OfficeStyle::Silver:
      art->SetColourScheme(wxColour(208, 212, 221), wxColour(255, 215, 110), wxColour(40, 40, 48));
      break;
    case OfficeStyle::Aqua:
      art->SetColourScheme(wxColour(150, 212, 214), wxColour(255, 215, 110), wxColour(20, 70, 80));
      break;
  }
  return art;
}

}  // namespace

OfficeStyle CurrentOfficeStyle() { return g_officeStyle; }

wxRibbonArtProvider* CreateLookArtProvider(int look) {
  switch (look) {
    case 205: case 206: case 207: case 208: case 209: case 210:
      return WithDimmedDisabledLabels(new wxRibbonAUIArtProvider());
    case cmd::ID_VIEW_APPLOOK_OFF_2007_BLUE: g_officeStyle = OfficeStyle::LunaBlue; break;
    case cmd::ID_VIEW_APPLOOK_OFF_2007_BLACK: g_officeStyle = OfficeStyle::ObsidianBlack; break;
    case cmd::ID_VIEW_APPLOOK_OFF_2007_SILVER: g_officeStyle = OfficeStyle::Silver; break;
    case cmd::ID_VIEW_APPLOOK_OFF_2007_AQUA: g_officeStyle = OfficeStyle::Aqua; break;
    case cmd::ID_VIEW_APPLOOK_WINDOWS_7:
      return WithDimmedDisabledLabels(new wxRibbonMSWArtProvider());  // the provider's own scheme
    default: break;  // 211 to 214 and anything else: the current style
  }
  return WithDimmedDisabledLabels(Office2007(g_officeStyle));
}

}  // namespace pw
