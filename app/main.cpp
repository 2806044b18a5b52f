// The program's entry point: the application object does the rest.
#include "app/PixelwharfApp.h"

wxIMPLEMENT_APP(CPixelwharfApp);
