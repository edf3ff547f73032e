// About and Help in the main window, used as a person uses them: the buttons
// clicked and the windows closed through the X server. The about box shows
// the program's name, version and description; Help pressed twice gives one
// help window on the book's first page, in front; the instrument keeps
// sounding while the help is open; after either is closed the computer
// keyboard plays at once. A start without the book says so before anything
// else, and Help then opens an empty help window.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include <wx/dialog.h>
#include <wx/html/helpwnd.h>
#include <wx/html/htmlwin.h>
#include <wx/stattext.h>
#include <wx/timer.h>
#include <wx/treectrl.h>

#include "app/AboutHelp.h"
#include "app/HelpBookTest.h"
#include "app/KeyboardFixture.h"
#include "controls/ResourcePath.h"

namespace {

// A left click on a control's middle, through the X server.
void Click(wxWindow* control)
{
    const wxPoint p = control->GetScreenPosition() + control->GetSize() / 2;
    ASSERT_EQ(testproc::Run("xdotool mousemove " + std::to_string(p.x) + " " + std::to_string(p.y) +
                            " sleep 0.1 click 1"),
              0);
}


// Whether the window named `upper` is stacked above the one named `lower`,
// as the window manager keeps them (its list runs bottom to top).
bool StackedAbove(const std::string& upper, const std::string& lower)
{
    const auto id = [](const std::string& name) {
        const std::string out = testproc::Output("xdotool search --onlyvisible --name '" + name + "'");
        return out.empty() ? 0UL : std::stoul(out);
    };
    const unsigned long up = id(upper), low = id(lower);
    std::istringstream stack(testproc::Output("xprop -root _NET_CLIENT_LIST_STACKING"));
    std::vector<unsigned long> order;
    for (std::string word; stack >> word;)
        if (word.rfind("0x", 0) == 0)
            order.push_back(std::stoul(word, nullptr, 16));
    const auto at = [&](unsigned long w) { return std::find(order.begin(), order.end(), w); };
    return up && low && at(up) != order.end() && at(low) != order.end() && at(up) > at(low);
}

void CollectLabels(wxWindow* window, std::vector<wxString>& labels)
{
    for (wxWindow* child : window->GetChildren()) {
        if (wxDynamicCast(child, wxStaticText))
            labels.push_back(child->GetLabel());
        CollectLabels(child, labels);
    }
}

using WindowHelpTest = KeyboardWindowTest;

TEST_F(WindowHelpTest, AboutBoxShowsNameVersionAndDescriptionAndAfterItTheKeyboardPlays)
{
    // The box is read and closed with Escape while its own modal loop runs.
    std::vector<wxString> labels;
    bool modal = false;
    bool seen = false;
    wxTimer poll;
    poll.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        for (wxWindow* w : wxTopLevelWindows) {
            auto* box = wxDynamicCast(w, wxDialog);
            if (seen || !box || box == window || !box->IsShown() || !box->IsActive())
                continue;
            seen = true;
            modal = box->IsModal();
            CollectLabels(box, labels);
            testproc::Run("xdotool key Escape");
        }
    });
    poll.Start(100);
    Click(window->FindWindow(ID_ABOUT));
    ASSERT_TRUE(WaitFor([&] { return seen; }, 5000)) << "no about box";
    ASSERT_TRUE(WaitFor([&] {
        for (wxWindow* w : wxTopLevelWindows)
            if (w != window && w->IsShown())
                return false;
        return true;
    })) << "Escape did not close the about box";
    poll.Stop();

    EXPECT_TRUE(modal);
    const auto has = [&](const wxString& text) { return std::find(labels.begin(), labels.end(), text) != labels.end(); };
    EXPECT_TRUE(has("Marovane 1.0"));
    EXPECT_TRUE(has("Marovane uses the wxWidgets, PortAudio, and RtMidi libraries."));

    // Back in the window, the computer keyboard plays without a click.
    ASSERT_TRUE(WaitFor([this] { return window->IsActive(); }));
    XKey("keydown", "d");
    EXPECT_TRUE(WaitFor([this] { return Held(62); })) << "key D did not play after the about box";
    XKey("keyup", "d");
    EXPECT_TRUE(WaitFor([this] { return !Held(62); }));
}

TEST_F(WindowHelpTest, HelpTwiceGivesOneHelpWindowInFrontWhileTheInstrumentPlaysOn)
{
    const FirstPage first = BookFirstPage();
    ASSERT_FALSE(first.title.empty()) << "no help book beside the program";
    Click(window->FindWindow(ID_HELP));
    ASSERT_TRUE(WaitFor([] { return HelpFrames().size() == 1 && HelpFrames().front()->IsActive(); }))
        << "no help window in front";
    wxHtmlHelpFrame* help = HelpFrames().front();
    EXPECT_TRUE(WaitFor([] { return StackedAbove("^Marovane Help", "^Marovane$"); }))
        << "the help window opened behind the main window";
    EXPECT_TRUE(WaitFor([&] { return help->GetTitle() == "Marovane Help: " + first.title; })) << help->GetTitle();
    EXPECT_TRUE(help->GetHelpWindow()->GetHtmlWindow()->GetOpenedPage().EndsWith(first.file));
    EXPECT_GE(help->GetHelpWindow()->GetTreeCtrl()->GetCount(), 10u);

    // A note from a MIDI keyboard while the help is read: the instrument
    // plays it behind the help window. (The click on Help itself released
    // whatever was held, as every release over a button does.)
    window->NoteOn(60, true);
    EXPECT_TRUE(WaitFor([this] { return window->Synth().LeftPeak() > 0.4f; })) << "the note does not sound";
    const uint32_t buffers = window->Synth().BuffersRendered();
    PumpEvents(300);
    EXPECT_GT(window->Synth().BuffersRendered(), buffers + 10);
    EXPECT_TRUE(help->IsActive());

    // Back to the main window and Help again: the same help window comes to
    // the front, no second one opens.
    window->Raise();
    ASSERT_TRUE(WaitFor([this] { return window->IsActive(); }));
    Click(window->FindWindow(ID_HELP));
    EXPECT_TRUE(WaitFor([&] { return help->IsActive(); })) << "the help window did not come to the front";
    EXPECT_TRUE(StackedAbove("^Marovane Help", "^Marovane$"));
    PumpEvents(200);
    EXPECT_EQ(HelpFrames().size(), 1u);

    // Closed with the window manager's shortcut: the main window is active
    // again and the computer keyboard plays.
    XKey("key", "alt+F4");
    ASSERT_TRUE(WaitFor([] { return HelpFrames().empty(); })) << "the help window did not close";
    ASSERT_TRUE(WaitFor([this] { return window->IsActive(); }));
    XKey("keydown", "s");
    EXPECT_TRUE(WaitFor([this] { return Held(61); })) << "key S did not play after the help closed";
    XKey("keyup", "s");
    window->NoteOff(60, true);
}

TEST_F(WindowHelpTest, StartWithoutTheBookShowsTheHelpMessageFirstAndHelpOpensAnEmptyWindow)
{
    // Every file of the program but the book, in a folder of its own.
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("marovane-no-book-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const auto& entry : fs::directory_iterator(std::getenv("MAROVANE_BIN_DIR")))
        if (entry.is_regular_file() && entry.path().extension() != ".htb" && entry.path().extension() != "")
            fs::copy_file(entry.path(), dir / entry.path().filename());
    ASSERT_TRUE(fs::exists(dir / "octave.bmp"));
    ASSERT_FALSE(fs::exists(dir / "marovane.htb"));
    wxArrayString folders;
    folders.push_back(dir.string());
    SetResourceDirectories(folders);

    messages.clear();
    auto* bookless = new wxKeyboard(nullptr);
    SetResourceDirectories({});
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.front(),
              "Unable to load help file.  Please make sure that marovane.htb is in the program directory.");
    EXPECT_EQ(std::count(messages.begin(), messages.end(), messages.front()), 1);

    // Help opens the help window all the same, with nothing in it.
    window->Hide();
    bookless->Show();
    ASSERT_TRUE(WaitFor([&] { return bookless->IsActive(); }));
    Click(bookless->FindWindow(ID_HELP));
    ASSERT_TRUE(WaitFor([] { return HelpFrames().size() == 1; }));
    EXPECT_EQ(HelpFrames().front()->GetHelpWindow()->GetTreeCtrl()->GetCount(), 0u);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), messages.front()), 1) << "the message came again";

    // Closing the window closes its help window too.
    bookless->Close();
    EXPECT_TRUE(WaitFor([] { return HelpFrames().empty(); }));
    PumpEvents(100);
    fs::remove_all(dir);
}

} // namespace
