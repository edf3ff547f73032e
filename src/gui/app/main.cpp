#include "app/App.h"

wxIMPLEMENT_APP(wxKeyboardApp);
