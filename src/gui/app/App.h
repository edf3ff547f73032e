#pragma once
// The application object: creates the one main window and shows it.
#include <vector>

#include <wx/app.h>
#include <wx/modalhook.h>

class wxKeyboard;

class wxKeyboardApp : public wxApp {
public:
    bool OnInit() override;
    int OnExit() override;

    // SIGTERM, SIGINT or SIGHUP (a logout, kill, Ctrl-C in the terminal, a
    // closed terminal): the program ends as when its window is closed, its
    // audio and MIDI clients closed, a dialog or message that is open ended
    // first. Runs from the event loop, not in the signal handler.
    void QuitOnSignal();

private:
    // The modal dialogs open now, the toolkit's file dialogs included (they
    // are not among its top-level windows), innermost last.
    struct ModalDialogs : wxModalDialogHook {
        int Enter(wxDialog* dialog) override;
        void Exit(wxDialog* dialog) override;
        std::vector<wxDialog*> open;
    };

    ModalDialogs modalDialogs;
    // Set once the window is made (it may be gone since: look it up).
    wxKeyboard* mainWindow = nullptr;
    bool quitRequested = false;
};
