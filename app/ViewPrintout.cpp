#include "app/ViewPrintout.h"

#include <algorithm>

#include "app/PixelwharfView.h"
#include "app/Resources.h"
#include "app/CommandIds.h"

ViewPrintout::ViewPrintout(CPixelwharfView* view)
    : wxPrintout(pw::LoadString(pw::cmd::IDS_APP_TITLE)), m_view(view) {}

bool ViewPrintout::OnPrintPage(int) {
  wxDC* dc = GetDC();
  if (!dc || !m_view) return false;
  wxSize size = m_view->GetClientSize();
  FitThisSizeToPage(wxSize(std::max(1, size.x), std::max(1, size.y)));
  m_view->OnDraw(*dc);
  return true;
}

void ViewPrintout::GetPageInfo(int* minPage, int* maxPage, int* pageFrom, int* pageTo) {
  *minPage = *maxPage = *pageFrom = *pageTo = 1;
}
