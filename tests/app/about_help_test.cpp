// The about box and the help book, on a plain parent window: what the about
// box shows and that it is modal; the help book read from the zip built
// beside the program, its window opened once and brought to the front, and
// the message when the book is missing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include <wx/app.h>
#include <wx/collpane.h>
#include <wx/dialog.h>
#include <wx/display.h>
#include <wx/filename.h>
#include <wx/filesys.h>
#include <wx/frame.h>
#include <wx/html/helpfrm.h>
#include <wx/html/helpwnd.h>
#include <wx/html/htmlwin.h>
#include <wx/hyperlink.h>
#include <wx/stattext.h>
#include <wx/stopwatch.h>
#include <wx/timer.h>
#include <wx/treectrl.h>
#include <wx/uiaction.h>

#include "app/AboutHelp.h"
#include "app/HelpBookTest.h"
#include "controls/MessageBox.h"
#include "support/GuiTest.h"

namespace {

std::string Env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? v : "";
}

void CollectLabels(wxWindow* window, std::vector<wxString>& labels)
{
    for (wxWindow* child : window->GetChildren()) {
        if (wxDynamicCast(child, wxStaticText) || wxDynamicCast(child, wxCollapsiblePane) ||
            wxDynamicCast(child, wxHyperlinkCtrl))
            labels.push_back(wxString(child->GetLabel()).Trim());
        CollectLabels(child, labels);
    }
}

bool HasLabel(const std::vector<wxString>& labels, const wxString& text)
{
    return std::find(labels.begin(), labels.end(), text) != labels.end();
}

// Words of a text, one blank between them: the about box wraps long lines.
wxString Words(const wxString& text)
{
    wxString out;
    for (const wxString& w : wxSplit(text, ' ')) {
        wxString word = w;
        word.Trim(true).Trim(false);
        if (word.empty())
            continue;
        if (!out.empty())
            out += ' ';
        out += word;
    }
    return out;
}

class AboutHelpTest : public testing::Test {
protected:
    void SetUp() override
    {
        wxTheApp->SetExitOnFrameDelete(false);
        SetMessageSink([this](const wxString& text) { messages.push_back(text); });
        parent = new wxFrame(nullptr, wxID_ANY, "Marovane", wxDefaultPosition, wxSize(400, 300));
        parent->Show();
        ASSERT_TRUE(WaitFor([this] { return parent->IsActive(); }));
    }
    void TearDown() override
    {
        for (wxHtmlHelpFrame* f : HelpFrames())
            f->Destroy();
        parent->Destroy();
        PumpEvents(100);
        SetMessageSink({});
    }

    wxFrame* parent = nullptr;
    std::vector<wxString> messages;
};

TEST_F(AboutHelpTest, AboutBoxIsModalAndShowsNameVersionDescriptionAndTheLicence)
{
    std::ifstream licenceFile(Env("MAROVANE_SOURCE_DIR") + "/LICENSE");
    std::stringstream licence;
    licence << licenceFile.rdbuf();
    ASSERT_FALSE(licence.str().empty()) << "no LICENSE";

    // Inspected and closed from inside its own modal loop.
    wxString title;
    bool modal = false;
    bool overParent = false;
    std::vector<wxString> labels;
    bool seen = false;
    wxTimer poll;
    poll.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        for (wxWindow* w : wxTopLevelWindows) {
            auto* box = wxDynamicCast(w, wxDialog);
            if (!box || !box->IsShown() || seen)
                continue;
            seen = true;
            title = box->GetTitle();
            modal = box->IsModal();
            overParent = box->GetParent() == parent;
            CollectLabels(box, labels);
            if (modal)
                box->EndModal(wxID_OK);
            else
                box->Close();
        }
    });
    poll.Start(50);
    wxStopWatch sw;
    ShowAboutBox(parent, wxIcon());
    poll.Stop();

    ASSERT_TRUE(seen) << "no about box was shown";
    EXPECT_TRUE(modal) << "the about box must wait for the user";
    EXPECT_TRUE(overParent);
    EXPECT_EQ(title, "About Marovane");
    EXPECT_TRUE(HasLabel(labels, "Marovane 1.0")) << testing::PrintToString(std::vector<std::string>(labels.begin(), labels.end()));
    EXPECT_TRUE(HasLabel(labels, "Marovane uses the wxWidgets, PortAudio, and RtMidi libraries."));
    EXPECT_TRUE(HasLabel(labels, wxString::FromUTF8("Copyright \xC2\xA9 2026 the Marovane developers")));
    EXPECT_TRUE(HasLabel(labels, "The Marovane developers"));
    // The licence as LICENSE has it, word for word.
    wxString expected = wxString::FromUTF8(licence.str());
    expected.Replace("\n", " ");
    bool licenceShown = false;
    for (wxString l : labels) {
        l.Replace("\n", " ");
        licenceShown = licenceShown || Words(l) == Words(expected);
    }
    EXPECT_TRUE(licenceShown) << "the licence text is not the LICENSE file";
    // No web site is shown: the project has none.
    for (const wxString& l : labels)
        EXPECT_FALSE(l.Contains("http")) << l;
}

TEST_F(AboutHelpTest, AboutInformationHoldsNoWebSiteAndAnIconOnlyWhenThereIsOne)
{
    EXPECT_FALSE(MakeAboutInfo(wxIcon()).HasWebSite());
    EXPECT_FALSE(MakeAboutInfo(wxIcon()).HasIcon());
    wxIcon icon;
    icon.CopyFromBitmap(wxBitmap(32, 32));
    EXPECT_TRUE(MakeAboutInfo(icon).HasIcon());
}

TEST_F(AboutHelpTest, HelpOpensOneWindowOnTheBooksFirstPageAndBringsItToTheFront)
{
    HelpBook help;
    ASSERT_TRUE(help.Load(BookPath()));
    EXPECT_TRUE(messages.empty());

    // The book as built: its project file names the first page, whose title
    // the window shows.
    const FirstPage first = BookFirstPage();
    ASSERT_FALSE(first.title.empty()) << "no help book beside the program, or not a zip";
    const wxString firstPage = first.file;
    const wxString firstTitle = first.title;

    help.ShowContents();
    ASSERT_TRUE(WaitFor([] { return HelpFrames().size() == 1; }));
    wxHtmlHelpFrame* frame = HelpFrames().front();
    EXPECT_EQ(frame, help.Frame());
    ASSERT_TRUE(WaitFor([&] { return frame->GetTitle() == "Marovane Help: " + firstTitle; }))
        << frame->GetTitle();
    wxHtmlHelpWindow* window = frame->GetHelpWindow();
    EXPECT_TRUE(window->GetHtmlWindow()->GetOpenedPage().EndsWith(firstPage))
        << window->GetHtmlWindow()->GetOpenedPage();
    // Contents and pages only: no toolbar, and the tree lists the book.
    EXPECT_EQ(window->GetToolBar(), nullptr);
    ASSERT_NE(window->GetTreeCtrl(), nullptr);
    EXPECT_GE(window->GetTreeCtrl()->GetCount(), 10u);

    // The main window in front again; a second Help brings the same help
    // window back to the front.
    parent->Raise();
    ASSERT_TRUE(WaitFor([this] { return parent->IsActive(); }));
    help.ShowContents();
    EXPECT_TRUE(WaitFor([&] { return frame->IsActive(); })) << "the help window did not come to the front";
    EXPECT_EQ(HelpFrames().size(), 1u);

    // Closing it (the program ending) leaves no help window.
    help.Close();
    EXPECT_TRUE(WaitFor([] { return HelpFrames().empty(); }));
    EXPECT_EQ(help.Frame(), nullptr);
}

TEST_F(AboutHelpTest, MissingBookIsReportedAndHelpThenOpensAnEmptyWindow)
{
    HelpBook help;
    EXPECT_FALSE(help.Load("/nonexistent/marovane.htb"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0],
              "Unable to load help file.  Please make sure that marovane.htb is in the program directory.");
    help.ShowContents();
    ASSERT_TRUE(WaitFor([] { return HelpFrames().size() == 1; }));
    EXPECT_EQ(help.Frame()->GetHelpWindow()->GetTreeCtrl()->GetCount(), 0u);
    EXPECT_EQ(messages.size(), 1u) << "the empty help window adds no message";
}

TEST_F(AboutHelpTest, AFileThatIsNotABookIsReportedLikeAMissingOne)
{
    const wxString path = wxFileName::GetTempDir() + "/marovane-not-a-book-" + wxString::Format("%lu", wxGetProcessId()) + ".htb";
    {
        std::ofstream f(path.ToStdString());
        f << "not a zip";
    }
    HelpBook help;
    EXPECT_FALSE(help.Load(path));
    wxRemoveFile(path);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].StartsWith("Unable to load help file."));
}

// Opened as a person opens it, with a click on "License", the licence keeps
// the about box on a screen 1000 pixels high (the test's display), over a
// main window where the program's opens, and the whole text is still there
// to read. The program keeps it there itself: this test also runs on a
// display without a window manager, which would otherwise leave the box
// running past the bottom. So it needs no active window.
TEST(AboutBox, WithItsLicenceOpenStaysOnTheScreen)
{
    wxTheApp->SetExitOnFrameDelete(false);
    // The parent about where the main window opens on this screen, a little
    // below the middle: the box opens centred over it.
    auto* parent = new wxFrame(nullptr, wxID_ANY, "Marovane", wxPoint(250, 290), wxSize(1092, 544));
    parent->Show();
    PumpEvents(300);
    const wxRect screen = wxDisplay(0u).GetGeometry();
    ASSERT_LE(screen.height, 1000);
    wxCollapsiblePane* licence = nullptr;
    wxRect closedBox, openBox;
    std::vector<wxString> labels;
    int polls = 0;
    wxUIActionSimulator sim;
    wxTimer poll;
    poll.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        wxDialog* box = nullptr;
        for (wxWindow* w : wxTopLevelWindows)
            if (auto* d = wxDynamicCast(w, wxDialog); d && d->IsShown() && d->IsModal())
                box = d;
        if (!box)
            return;
        ++polls;
        if (polls == 6) { // placed by the window manager: open the licence
            std::function<void(wxWindow*)> find = [&](wxWindow* parent) {
                for (wxWindow* child : parent->GetChildren()) {
                    if (auto* pane = wxDynamicCast(child, wxCollapsiblePane)) {
                        std::vector<wxString> inside;
                        CollectLabels(pane, inside);
                        for (const wxString& l : inside)
                            if (l.Contains("Permission is hereby granted"))
                                licence = pane;
                    }
                    find(child);
                }
            };
            find(box);
            closedBox = box->GetScreenRect();
            if (licence) {
                sim.MouseMove(licence->GetScreenPosition() + wxPoint(12, 10));
                sim.MouseClick();
            }
        } else if (polls == 20) {
            openBox = box->GetScreenRect();
            CollectLabels(box, labels);
            box->EndModal(wxID_OK);
        }
    });
    poll.Start(100);
    ShowAboutBox(parent, wxIcon());
    poll.Stop();
    parent->Destroy();
    PumpEvents(100);

    ASSERT_NE(licence, nullptr) << "no licence pane";
    EXPECT_GT(openBox.height, closedBox.height) << "the click did not open the licence";
    EXPECT_TRUE(screen.Contains(openBox)) << "about box at " << openBox.y << ", " << openBox.height
                                          << " px high, on a screen " << screen.height << " px high";
    wxString all;
    for (const wxString& l : labels)
        all += " " + l;
    all.Replace("\n", " ");
    EXPECT_TRUE(Words(all).Contains("THE SOFTWARE IS PROVIDED \"AS IS\"")) << "the licence's last paragraph";
}

} // namespace
