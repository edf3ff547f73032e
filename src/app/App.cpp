#include "App.h"

#include <wx/image.h>

#include "app/Keyboard.h"

bool wxKeyboardApp::OnInit()
{
    wxImage::AddHandler(new wxXPMHandler);
    wxImage::AddHandler(new wxPNGHandler);
    wxImage::AddHandler(new wxJPEGHandler);
    wxImage::AddHandler(new wxGIFHandler);
    // The window icon is a Windows icon file.
    wxImage::AddHandler(new wxICOHandler);
    mainWindow = new wxKeyboard(nullptr, ID_KEYBOARD, "Marovane", wxDefaultPosition,
                                wxSize(400, 300), KEYBOARD_STYLE);
    mainWindow->Show(true);
    return true;
}

int wxKeyboardApp::OnExit() { return wxApp::OnExit(); }
