#include "MessageBox.h"

#include <wx/msgdlg.h>
#include <wx/generic/msgdlgg.h>

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
    else {
        // GTK's own message box leaves out a title that reads "Message"; the
        // toolkit's drawn one shows it.
        wxGenericMessageDialog box(nullptr, text, "Message", wxOK | wxCENTRE);
        box.ShowModal();
    }
}

void SetMessageSink(std::function<void(const wxString&)> sink) { Sink() = std::move(sink); }
