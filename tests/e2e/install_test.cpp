// An install into a temporary prefix, as `cmake --install` (make install)
// does it: the programs in bin/, their files in share/marovane, a desktop
// entry and its icons. The installed program, started from an unrelated
// current directory, finds its pictures, icon and help book there: it starts
// without a message box or an error window, with its own icon, and Help shows
// the book. Closing the window while the help is open ends the program.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <wx/app.h>
#include <wx/image.h>

#include "app/HelpBookTest.h"
#include "app/Keyboard.h"
#include "controls/MessageBox.h"
#include "app/TestProcess.h"
#include "e2e/Recording.h"
#include "support/GuiTest.h"

namespace {

namespace fs = std::filesystem;
using testproc::Child;
using testproc::Output;

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

std::string Quoted(const fs::path& p) { return "'" + p.string() + "'"; }

// Where the Help button is in the window's client area, learnt from a window
// built in this process on the same display.
wxPoint HelpButton()
{
    wxTheApp->SetExitOnFrameDelete(false);
    SetMessageSink([](const wxString&) {});
    auto* w = new wxKeyboard(nullptr);
    wxWindow* help = w->FindWindow(ID_HELP);
    const wxPoint at = help->GetPosition() + help->GetSize() / 2;
    w->Destroy();
    PumpEvents(100);
    SetMessageSink({});
    return at;
}

TEST(Install, IntoAPrefixAndStartedFromElsewhereTheProgramFindsItsFiles)
{
    const char* binDir = std::getenv("MAROVANE_BIN_DIR");
    ASSERT_NE(binDir, nullptr);
    const fs::path build = fs::path(binDir).parent_path();
    const fs::path root = fs::temp_directory_path() / ("marovane-install-" + std::to_string(getpid()));
    const fs::path prefix = root / "prefix";
    const fs::path elsewhere = root / "elsewhere";
    fs::remove_all(root);
    fs::create_directories(elsewhere);

    ASSERT_EQ(testproc::Run("cmake --install " + Quoted(build) + " --prefix " + Quoted(prefix)), 0);

    // The programs, and nothing else, in bin/.
    std::vector<std::string> programs;
    for (const auto& entry : fs::directory_iterator(prefix / "bin"))
        programs.push_back(entry.path().filename().string());
    std::sort(programs.begin(), programs.end());
    EXPECT_EQ(programs, (std::vector<std::string>{"marovane", "marovane-preset", "marovane-render"}));

    // The plugin's bundle where hosts look under the prefix, whole: a host
    // pointed there finds the plugin and its presets.
    for (const char* name :
         {"manifest.ttl", "marovane_dsp.ttl", "marovane_ui.ttl", "presets.ttl", "marovane_dsp.so", "marovane_ui.so"})
        EXPECT_TRUE(fs::is_regular_file(prefix / "lib/lv2/marovane.lv2" / name)) << name;
    EXPECT_TRUE(fs::is_regular_file(prefix / "lib/vst3/marovane.vst3/Contents/x86_64-linux/marovane.so"));
    EXPECT_TRUE(fs::is_regular_file(prefix / "lib/clap/marovane.clap"));
    const std::string lv2 = "LV2_PATH=" + Quoted(prefix / "lib/lv2") + " ";
    EXPECT_EQ(Output(lv2 + "lv2ls"), "urn:marovane:synth\n");
    EXPECT_NE(Output(lv2 + "lv2info urn:marovane:synth").find("Square Lead"), std::string::npos);

    // Everything the program reads, in share/marovane.
    const fs::path share = prefix / "share" / "marovane";
    for (const char* name : {"spin.bmp", "sliderbk.bmp", "sliderind.bmp", "hsliderbk.bmp", "hsliderind.bmp",
                             "octave.bmp", "marovane.ico", "marovane.htb", "patches/Organ.mrvn"})
        EXPECT_TRUE(fs::is_regular_file(share / name)) << name;
    EXPECT_FALSE(fs::exists(share / "help")) << "the book's sources are not installed, the book is";

    // The desktop entry starts the program by name with its icon, and its
    // icons are PNG pictures of the sizes their folders say.
    const auto entry = Lines(ReadFile(prefix / "share/applications/marovane.desktop"));
    for (const char* line : {"[Desktop Entry]", "Type=Application", "Name=Marovane", "Exec=marovane", "Icon=marovane"})
        EXPECT_NE(std::find(entry.begin(), entry.end(), line), entry.end()) << line;
    for (int size : {32, 64, 128, 256}) {
        const std::string s = std::to_string(size);
        const fs::path icon = prefix / "share/icons/hicolor" / (s + "x" + s) / "apps/marovane.png";
        wxImage image;
        ASSERT_TRUE(image.LoadFile(icon.string(), wxBITMAP_TYPE_PNG)) << icon;
        EXPECT_EQ(image.GetWidth(), size);
        EXPECT_EQ(image.GetHeight(), size);
    }

    // Started from another directory. A missing picture would open an error
    // window, a missing help book a message box that holds up the start.
    testproc::JackServer jack("install");
    ASSERT_TRUE(jack.Ready());
    // Another program's MIDI ports: the start asks nothing about MIDI.
    testproc::OtherMidiPorts otherMidi;
    ASSERT_TRUE(otherMidi.Ready());
    Child marovane({"sh", "-c", "cd " + Quoted(elsewhere) + " && exec " + Quoted(prefix / "bin/marovane")});
    const std::string window = WaitForProgramWindow();
    ASSERT_FALSE(window.empty()) << "no window: something held up the start";
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(Lines(Output("xdotool search --onlyvisible --pid " + std::to_string(marovane.Pid()))),
              std::vector<std::string>{window})
        << "the program opened other windows (a message or an error)";
    EXPECT_NE(Output("xprop -id " + window + " _NET_WM_ICON").find("Icon (32 x 32)"), std::string::npos)
        << "the window does not carry the program's icon";

    // Help, twice: one window with the book's first page.
    const wxPoint button = HelpButton();
    const std::string helpTitle = ("Marovane Help: " + BookFirstPage().title).ToStdString();
    ASSERT_NE(helpTitle, "Marovane Help: ");
    const auto clickHelp = [&] {
        return testproc::Run("xdotool windowactivate --sync " + window + " mousemove --window " + window + " " +
                             std::to_string(button.x) + " " + std::to_string(button.y) + " sleep 0.2 click 1");
    };
    const auto helpWindows = [] { return Lines(Output("xdotool search --onlyvisible --name '^Marovane Help'")); };
    ASSERT_EQ(clickHelp(), 0);
    ASSERT_TRUE(Eventually([&] { return helpWindows().size() == 1; }, 10s)) << "no help window";
    EXPECT_EQ(Output("xdotool getwindowname " + helpWindows().front()), helpTitle + "\n");
    ASSERT_EQ(clickHelp(), 0);
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(helpWindows().size(), 1u);

    // The main window closed with the help still open: the program ends.
    testproc::Run("xdotool windowactivate --sync " + window + " key alt+F4");
    EXPECT_EQ(marovane.Wait(15s), std::optional<int>(0)) << "the program outlived its window";
    fs::remove_all(root);
}

} // namespace
