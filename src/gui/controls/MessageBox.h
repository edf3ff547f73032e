#pragma once
// The program's message boxes: modal, caption "Message", an OK button; the
// program carries on after each. A test can take the messages instead of
// showing them (a modal box would stop it). GUI thread.
#include <functional>

#include <wx/string.h>

void ShowMessage(const wxString& text);
// A question in the same style, with Yes and No (No the default); true for Yes.
bool AskYesNo(const wxString& text);

// From now on no box is shown (ShowMessage does nothing, AskYesNo answers
// No): the program was told to quit and nobody should have to answer.
void StopShowingMessages();

// Routes every later ShowMessage to `sink` (or back to real boxes when empty).
void SetMessageSink(std::function<void(const wxString&)> sink);
// Routes every later AskYesNo to `sink`, whose answer it returns.
void SetQuestionSink(std::function<bool(const wxString&)> sink);
