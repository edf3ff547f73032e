#include "MessageBox.h"

#include <algorithm>

#include <wx/dcscreen.h>
#include <wx/display.h>
#include <wx/msgdlg.h>
#include <wx/generic/msgdlgg.h>
#include <wx/settings.h>

#include "controls/TextWrap.h"

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

// The toolkit's box makes one line of each paragraph, however long: a long
// file name pushed the rest of a message, the reason for a failure, out of
// the box. Lines of at most 560 pixels (less on a small screen) in the box's
// own font.
wxString Wrapped(const wxString& text)
{
    wxScreenDC dc;
    dc.SetFont(wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT));
    const int maxWidth = std::min(560, wxDisplay(0u).GetClientArea().width * 2 / 3);
    return WrapText(text, maxWidth, [&dc](const wxString& piece) { return dc.GetTextExtent(piece).x; });
}
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
    wxGenericMessageDialog box(nullptr, Wrapped(text), "Message", wxOK | wxCENTRE);
    box.ShowModal();
}

bool AskYesNo(const wxString& text)
{
    if (QuestionSink())
        return QuestionSink()(text);
    if (quitting)
        return false;
    wxGenericMessageDialog box(nullptr, Wrapped(text), "Message", wxYES_NO | wxNO_DEFAULT | wxICON_QUESTION | wxCENTRE);
    return box.ShowModal() == wxID_YES;
}

void SetMessageSink(std::function<void(const wxString&)> sink) { Sink() = std::move(sink); }
void SetQuestionSink(std::function<bool(const wxString&)> sink) { QuestionSink() = std::move(sink); }

std::string PathBytes(const wxString& path)
{
    const wxCharBuffer bytes = path.fn_str();
    return bytes.data() ? std::string(bytes.data(), bytes.length()) : std::string();
}

wxString PathText(const std::string& path)
{
    return wxString(path.c_str(), *wxConvFileName);
}

wxString TextFromBelow(const std::string& text)
{
    const wxString utf8 = wxString::FromUTF8(text.data(), text.size());
    if (!utf8.empty() || text.empty())
        return utf8;
    return PathText(text);
}
