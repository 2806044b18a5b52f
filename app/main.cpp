// The program's entry point: keeps the raw arguments, then the application
// object does the rest.
#include <wx/app.h>

#include <chrono>

#include "app/PixelwharfApp.h"
#include "platform/background_work.h"

wxIMPLEMENT_APP_NO_MAIN(CPixelwharfApp);

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) CPixelwharfApp::RawArguments().push_back(argv[i]);
  const int status = wxEntry(argc, argv);
  // The settings are saved and the window is gone. A read the user walked
  // away from may still sit inside a library call that cannot be stopped:
  // the process does not wait for it, nor tear the libraries down under it.
  pw::LeaveWithoutBackgroundWork(status, std::chrono::milliseconds(50));
  return status;
}
