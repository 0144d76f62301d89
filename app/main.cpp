// Entry point of the desktop program.
#include "app/main_app.h"

wxIMPLEMENT_APP(MyApp);
