#pragma once
// The program's message boxes: modal, caption "Message", an OK button; the
// program carries on after each. A test can take the messages instead of
// showing them (a modal box would stop it). GUI thread.
#include <functional>
#include <string>

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

// The window's edge with the libraries below it, whose texts are UTF-8 and
// whose paths are bytes as the system takes them.
// A path the toolkit gave, as those bytes (the toolkit's file-name
// conversion: a name that is not UTF-8 keeps its bytes).
std::string PathBytes(const wxString& path);
// A path from below, for the toolkit.
wxString PathText(const std::string& path);
// A text from below: UTF-8, or, where it names a file whose name is not
// UTF-8, read with the file-name conversion.
wxString TextFromBelow(const std::string& text);
