// Prints the view as it draws itself on screen, scaled to the page.
#pragma once
#include <wx/print.h>

class CPixelwharfView;

class ViewPrintout : public wxPrintout {
 public:
  explicit ViewPrintout(CPixelwharfView* view);
  bool OnPrintPage(int page) override;
  bool HasPage(int page) override { return page == 1; }
  void GetPageInfo(int* minPage, int* maxPage, int* pageFrom, int* pageTo) override;

 private:
  CPixelwharfView* m_view;
};
