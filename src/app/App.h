#pragma once
// The application object: creates the one main window and shows it.
#include <wx/app.h>

class wxKeyboard;

class wxKeyboardApp : public wxApp {
public:
    bool OnInit() override;
    int OnExit() override;

private:
    wxKeyboard* mainWindow = nullptr;
};
