#include "App.h"

#include <algorithm>
#include <csignal>

#include <wx/dialog.h>
#include <wx/image.h>

#include "app/Keyboard.h"
#include "controls/MessageBox.h"

bool wxKeyboardApp::OnInit()
{
    modalDialogs.Register();
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        SetSignalHandler(signal, [](int) { static_cast<wxKeyboardApp*>(wxTheApp)->QuitOnSignal(); });
    wxImage::AddHandler(new wxXPMHandler);
    wxImage::AddHandler(new wxPNGHandler);
    wxImage::AddHandler(new wxJPEGHandler);
    wxImage::AddHandler(new wxGIFHandler);
    // The window icon is a Windows icon file.
    wxImage::AddHandler(new wxICOHandler);
    mainWindow = new wxKeyboard(nullptr, ID_KEYBOARD, "Marovane", wxDefaultPosition,
                                wxSize(400, 300), KEYBOARD_STYLE);
    // A signal during the start-up messages: the window goes as it comes.
    if (quitRequested)
        mainWindow->Close(true);
    else
        mainWindow->Show(true);
    return true;
}

void wxKeyboardApp::QuitOnSignal()
{
    quitRequested = true;
    StopShowingMessages();
    // The innermost first: a question over a dialog, say.
    const std::vector<wxDialog*> open(modalDialogs.open.rbegin(), modalDialogs.open.rend());
    for (wxDialog* dialog : open)
        dialog->EndModal(wxID_CANCEL);
    // While the window is being made (a start-up message was open), it is
    // closed once made; afterwards, if it is still there.
    if (!mainWindow)
        return;
    if (wxWindow* window = wxWindow::FindWindowById(ID_KEYBOARD); window && !window->IsBeingDeleted())
        window->Close(true);
}

int wxKeyboardApp::OnExit()
{
    modalDialogs.Unregister();
    return wxApp::OnExit();
}

int wxKeyboardApp::ModalDialogs::Enter(wxDialog* dialog)
{
    open.push_back(dialog);
    return wxID_NONE; // shown as usual
}

void wxKeyboardApp::ModalDialogs::Exit(wxDialog* dialog)
{
    open.erase(std::remove(open.begin(), open.end(), dialog), open.end());
}
