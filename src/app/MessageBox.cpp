#include "MessageBox.h"

#include <wx/msgdlg.h>

namespace {
std::function<void(const wxString&)>& Sink()
{
    static std::function<void(const wxString&)> sink;
    return sink;
}
} // namespace

void ShowMessage(const wxString& text)
{
    if (Sink())
        Sink()(text);
    else
        wxMessageBox(text, "Message", wxOK | wxCENTRE);
}

void SetMessageSink(std::function<void(const wxString&)> sink) { Sink() = std::move(sink); }
