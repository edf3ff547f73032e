// The program's message box with a text far wider than the screen: the
// failure of a save under a long file name. The box stays on the screen and
// its lines show the whole text, the reason at its end included.
#include <gtest/gtest.h>

#include <functional>

#include <wx/dialog.h>
#include <wx/display.h>
#include <wx/stattext.h>
#include <wx/timer.h>

#include "controls/MessageBox.h"
#include "patch/Patch.h"
#include "support/GuiTest.h"
#include "synth/SynthState.h"

namespace {

struct ShownBox {
    bool seen = false;
    wxRect box;
    std::vector<wxRect> lineRects;
    wxString text; // the lines' labels, one after the other
};

// Shows `text` as the program does and looks at the box from inside its
// modal loop, then presses OK.
ShownBox ShowAndLook(const wxString& text)
{
    ShownBox shown;
    wxTimer poll;
    int polls = 0;
    poll.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        for (wxWindow* w : wxTopLevelWindows) {
            auto* box = wxDynamicCast(w, wxDialog);
            // Looked at once the window manager has placed it.
            if (!box || !box->IsShown() || !box->IsModal() || shown.seen || ++polls < 6)
                continue;
            shown.seen = true;
            shown.box = box->GetScreenRect();
            std::function<void(wxWindow*)> collect = [&](wxWindow* parent) {
                for (wxWindow* child : parent->GetChildren()) {
                    if (auto* label = wxDynamicCast(child, wxStaticText)) {
                        shown.lineRects.push_back(label->GetScreenRect());
                        shown.text += label->GetLabel();
                    }
                    collect(child);
                }
            };
            collect(box);
            box->EndModal(wxID_OK);
        }
    });
    poll.Start(100);
    ShowMessage(text);
    poll.Stop();
    return shown;
}

TEST(MessageBox, ALongSaveErrorIsWrappedOnTheScreenWithItsReason)
{
    SetMessageSink({});
    const std::string path = "/no-such-folder-for-marovane/" + std::string(230, 'p') + ".mrvn";
    SynthState synth;
    const wxString failure = wxString::FromUTF8(WritePatchFile(path, PatchFromState(synth, 0)));
    ASSERT_FALSE(failure.empty());
    const wxString reason = failure.AfterLast(':').Strip(wxString::both);
    ASSERT_FALSE(reason.empty()) << failure;

    const ShownBox shown = ShowAndLook(failure);
    ASSERT_TRUE(shown.seen) << "no message box";
    const wxRect screen = wxDisplay(0u).GetGeometry();
    EXPECT_TRUE(screen.Contains(shown.box)) << "box " << shown.box.x << "," << shown.box.y << " "
                                            << shown.box.width << "x" << shown.box.height;
    for (const wxRect& line : shown.lineRects)
        EXPECT_TRUE(shown.box.Contains(line)) << "a line of " << line.width << " px runs out of the box " << line.x << "," << line.y << " in " << shown.box.x << "," << shown.box.y << " " << shown.box.width << "x" << shown.box.height;
    // Every character of the text is shown, only the breaks differ.
    wxString seen = shown.text, all = failure;
    for (wxString* s : {&seen, &all}) {
        s->Replace("\n", "");
        s->Replace(" ", "");
    }
    EXPECT_EQ(seen, all);
    EXPECT_TRUE(shown.text.Contains(reason)) << shown.text;
}

} // namespace
