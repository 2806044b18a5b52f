// The program's entry point: keeps the raw arguments, then the application
// object does the rest.
#include <wx/app.h>

#include "app/PixelwharfApp.h"

wxIMPLEMENT_APP_NO_MAIN(CPixelwharfApp);

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) CPixelwharfApp::RawArguments().push_back(argv[i]);
  return wxEntry(argc, argv);
}
