#pragma once
// Key events belong to the music: the program's own controls hand the key
// events they receive to their parent window (the main window, or a panel or
// dialog that forwards in turn), so the computer keyboard plays whatever
// control the pointer or the focus is on. GUI thread.

#include <wx/event.h>
#include <wx/window.h>

// Gives a key event to the parent's own event processing; the event then
// counts as handled or skipped as the parent's handlers left it. Nothing
// happens for a window without a parent.
inline void ForwardKeyToParent(wxWindow* window, wxKeyEvent& event)
{
    if (wxWindow* parent = window->GetParent())
        parent->GetEventHandler()->ProcessEvent(event);
}
