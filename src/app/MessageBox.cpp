#include "MessageBox.h"

#include <wx/msgdlg.h>
#include <wx/generic/msgdlgg.h>

namespace {
std::function<void(const wxString&)>& Sink()
{
    static std::function<void(const wxString&)> sink;
    return sink;
}
std::function<bool(const wxString&)>& QuestionSink()
{
    static std::function<bool(const wxString&)> sink;
    return sink;
}
bool quitting = false;
} // namespace

void StopShowingMessages() { quitting = true; }

void ShowMessage(const wxString& text)
{
    if (Sink()) {
        Sink()(text);
        return;
    }
    if (quitting)
        return;
    // The toolkit's own dialog: GTK's native box leaves the window title empty
    // when the caption is the toolkit's default text, which "Message" is, so
    // the window manager (and anyone looking for the box) would not see it.
    wxGenericMessageDialog box(nullptr, text, "Message", wxOK | wxCENTRE);
    box.ShowModal();
}

bool AskYesNo(const wxString& text)
{
    if (QuestionSink())
        return QuestionSink()(text);
    if (quitting)
        return false;
    wxGenericMessageDialog box(nullptr, text, "Message", wxYES_NO | wxNO_DEFAULT | wxICON_QUESTION | wxCENTRE);
    return box.ShowModal() == wxID_YES;
}

void SetMessageSink(std::function<void(const wxString&)> sink) { Sink() = std::move(sink); }
void SetQuestionSink(std::function<bool(const wxString&)> sink) { QuestionSink() = std::move(sink); }
