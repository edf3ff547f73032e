// The real program through what a careless user or a failing machine does to
// it, one row of a table each:
//  - its JACK server stopped while a key holds a note;
//  - no JACK server at all when it starts;
//  - started from another working directory;
//  - twenty computer keys held while another window takes the focus;
//  - 2,000 random key presses and releases of note keys, some keys still
//    down when the window is closed;
// and, apart, the program told to quit by SIGTERM, SIGINT and SIGHUP.
// Every row ends the same way: silent (a recording from JACK where a server
// still runs), alive (the process runs and its window is there), and closed
// by alt+F4 within 2 seconds with exit status 0.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/TestProcess.h"
#include "e2e/Recording.h"

namespace {

using Clock = std::chrono::steady_clock;
using testproc::Child;
using testproc::Output;

int Sh(const std::string& command) { return testproc::Run(command); }

double MsSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Answers every message the program shows (Return on each, as a user who
// reads and agrees) until none has come for `quiet`.
void AnswerMessages(std::chrono::milliseconds quiet)
{
    for (std::string m; !(m = FindWindow("Message", quiet)).empty();)
        Sh("xdotool windowactivate --sync " + m + " key Return");
}

// The main window, once the start-up messages before it (no MIDI devices, no
// sound) are answered; empty if it never comes.
std::string WaitForMainWindowAnsweringMessages(std::chrono::seconds timeout)
{
    const auto end = Clock::now() + timeout;
    while (Clock::now() < end) {
        const std::string window = FindWindow("Marovane", 200ms);
        if (!window.empty())
            return window;
        AnswerMessages(200ms);
    }
    return {};
}

// Twenty note keys of the computer keyboard, by their X names.
const std::vector<std::string> kNoteKeys = {"a", "s", "d", "f", "g", "h", "j", "k", "l", "q",
                                            "w", "e", "r", "t", "y", "u", "i", "o", "p", "z"};

// What a row does to the running program, and what it leaves to the end.
struct RowRun {
    testproc::JackServer* jack = nullptr; // null when the row runs without one
    std::string window;
    std::vector<std::string> keysLeftDown; // pressed again just before the close
};

struct Row {
    const char* name;
    bool serverAtStart;
    bool fromOtherDirectory;
    std::function<void(RowRun&)> act;
};

void HoldNoteThenStopServer(RowRun& run)
{
    ASSERT_EQ(Sh("xdotool keydown a"), 0);
    std::this_thread::sleep_for(400ms);
    kill(run.jack->Pid(), SIGTERM);
    ASSERT_TRUE(run.jack->WaitForExit(5s)) << "the test's server did not stop";
    std::this_thread::sleep_for(1s);
    Sh("xdotool keyup a");
    run.jack = nullptr; // nothing left to record from
}

void HoldTwentyKeysAndLoseFocus(RowRun& run)
{
    std::string down = "xdotool";
    for (const auto& k : kNoteKeys)
        down += " keydown " + k;
    ASSERT_EQ(Sh(down), 0);
    std::this_thread::sleep_for(300ms);
    Child other({"xmessage", "-name", "other", "-title", "Other", "another program"});
    const std::string otherWindow = FindWindow("Other", 5s);
    ASSERT_FALSE(otherWindow.empty()) << "no other window to switch to";
    Sh("xdotool windowactivate --sync " + otherWindow);
    std::this_thread::sleep_for(300ms);
    std::string up = "xdotool";
    for (const auto& k : kNoteKeys)
        up += " keyup " + k;
    Sh(up); // the key-ups go to the other window
    std::this_thread::sleep_for(300ms);
    other.Stop();
    Sh("xdotool windowactivate --sync " + run.window);
}

void TwoThousandRandomKeyEvents(RowRun& run)
{
    std::mt19937 random(12);
    std::set<std::string> down;
    std::string events;
    int count = 0;
    const auto flush = [&] {
        if (!events.empty()) {
            EXPECT_EQ(Sh("xdotool" + events), 0);
        }
        events.clear();
    };
    while (count < 2000) {
        const std::string& key = kNoteKeys[random() % kNoteKeys.size()];
        const bool press = down.count(key) == 0;
        events += (press ? " keydown --delay 2 " : " keyup --delay 2 ") + key;
        if (press)
            down.insert(key);
        else
            down.erase(key);
        if (++count % 200 == 0)
            flush();
    }
    flush();
    // What the run left down goes down again just before the close; until
    // then every key is let go, so the row can be heard to end silent.
    run.keysLeftDown.assign(down.begin(), down.end());
    std::string up = "xdotool";
    for (const auto& k : down)
        up += " keyup " + k;
    if (!down.empty())
        Sh(up);
}

const Row kRows[] = {
    {"server stopped under a held note", true, false, HoldNoteThenStopServer},
    {"no server at start", false, false, [](RowRun&) {}},
    {"started from another directory", true, true, [](RowRun&) {}},
    {"focus lost with twenty keys held", true, false, HoldTwentyKeysAndLoseFocus},
    {"2000 random key events", true, false, TwoThousandRandomKeyEvents},
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

class FaultTable : public ::testing::TestWithParam<Row> {};

TEST_P(FaultTable, EndsSilentAliveAndClosable)
{
    const Row& row = GetParam();
    const auto started = Clock::now();
    const char* binDir = std::getenv("MAROVANE_BIN_DIR");
    ASSERT_NE(binDir, nullptr);
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("marovane-faults-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "elsewhere");
    const std::string program = std::filesystem::absolute(std::filesystem::path(binDir) / "marovane").string();
    // No library autostarts a server of its own behind the test's back.
    setenv("JACK_NO_START_SERVER", "1", 1);

    std::optional<testproc::JackServer> jack;
    if (row.serverAtStart) {
        jack.emplace("faults");
        ASSERT_TRUE(jack->Ready());
    } else {
        setenv("JACK_DEFAULT_SERVER", ("mrv-faults-none-" + std::to_string(getpid())).c_str(), 1);
    }

    const std::string cwd = row.fromOtherDirectory ? (dir / "elsewhere").string() : dir.string();
    Child marovane({"sh", "-c", "cd \"$1\" && exec \"$0\"", program, cwd});
    ASSERT_TRUE(marovane.Running());
    RowRun run;
    run.jack = jack ? &*jack : nullptr;
    run.window = WaitForMainWindowAnsweringMessages(20s);
    ASSERT_FALSE(run.window.empty()) << "no window";
    if (row.serverAtStart) {
        ASSERT_TRUE(Eventually(
            [] { return Output("jack_lsp").find("marovane:out_1") != std::string::npos; }, 10s))
            << "no JACK output";
    }
    AnswerMessages(row.serverAtStart ? 300ms : 1s);
    Sh("xdotool windowactivate --sync " + run.window);

    row.act(run);
    if (HasFatalFailure())
        return;
    AnswerMessages(1s);

    // Silent: a second of the output, well after every release.
    if (run.jack) {
        std::this_thread::sleep_for(300ms);
        const std::string wav = (dir / "end.wav").string();
        Child recorder({"jack_rec", "-f", wav, "-d", "1", "-b", "32", "marovane:out_0", "marovane:out_1"});
        ASSERT_TRUE(recorder.Wait(10s).has_value()) << "jack_rec did not finish";
        const Recording rec = ReadWav(wav);
        ASSERT_GT(rec.left.size(), static_cast<size_t>(0.9 * kRate)) << "no recording";
        float peak = 0;
        for (size_t i = 0; i < rec.left.size(); ++i)
            peak = std::max({peak, std::abs(rec.left[i]), std::abs(rec.right[i])});
        EXPECT_LT(peak, 1e-4f) << "a note still sounds with no key down";
    }

    // Alive: the process runs and its window is there.
    ASSERT_FALSE(marovane.Wait(0ms).has_value()) << "the program ended by itself";
    EXPECT_FALSE(FindWindow("Marovane", 1s).empty()) << "the window is gone";

    // Closable: alt+F4, gone within 2 seconds, status 0.
    Sh("xdotool windowactivate --sync " + run.window);
    std::string hold = "xdotool";
    for (const auto& k : run.keysLeftDown)
        hold += " keydown " + k;
    if (!run.keysLeftDown.empty())
        Sh(hold);
    const auto closed = Clock::now();
    Sh("xdotool key alt+F4");
    const auto code = marovane.Wait(10s);
    const double exitMs = MsSince(closed);
    std::string up = "xdotool";
    for (const auto& k : run.keysLeftDown)
        up += " keyup " + k;
    if (!run.keysLeftDown.empty())
        Sh(up);
    ASSERT_TRUE(code.has_value()) << "still running 10 s after alt+F4";
    EXPECT_EQ(*code, 0);
    EXPECT_LT(exitMs, 2000.0);
    std::printf("%s: closed in %.0f ms, row took %.1f s\n", row.name, exitMs, MsSince(started) / 1000.0);
    std::filesystem::remove_all(dir);
}

// The program told to quit by a signal (a logout, kill, Ctrl-C or a closed
// terminal) ends as when its window is closed, exit status 0 within 2 s,
// whatever is open: the bare window, the save dialog, a start-up message
// before the window. Its JACK ports are gone with it.
TEST(Signals, EachEndsTheProgramCleanlyWhateverIsOpen)
{
    struct SignalRow {
        const char* name;
        int signal;
        bool server;
        const char* open; // an xdotool command run in the window first, or null
    };
    const SignalRow rows[] = {
        {"SIGTERM, the window up", SIGTERM, true, nullptr},
        {"SIGINT, the save dialog open", SIGINT, true, "key ctrl+s"},
        {"SIGHUP, a start-up message before the window", SIGHUP, false, nullptr},
    };
    const char* binDir = std::getenv("MAROVANE_BIN_DIR");
    ASSERT_NE(binDir, nullptr);
    setenv("JACK_NO_START_SERVER", "1", 1);
    for (const SignalRow& row : rows) {
        SCOPED_TRACE(row.name);
        std::optional<testproc::JackServer> jack;
        std::optional<testproc::OtherMidiPorts> otherMidi; // no MIDI messages before the window
        if (row.server) {
            jack.emplace("signals");
            ASSERT_TRUE(jack->Ready());
            otherMidi.emplace();
            ASSERT_TRUE(otherMidi->Ready());
        } else {
            setenv("JACK_DEFAULT_SERVER", "mrv-signals-none", 1);
        }
        Child marovane({std::string(binDir) + "/marovane"});
        if (row.server) {
            const std::string window = WaitForProgramWindow();
            ASSERT_FALSE(window.empty()) << "no window";
            if (row.open) {
                Sh("xdotool windowactivate --sync " + window + " " + row.open);
                ASSERT_FALSE(FindWindow("Save A Config", 5s).empty()) << "nothing opened";
            }
        } else {
            ASSERT_FALSE(FindWindow("Message", 20s).empty()) << "no start-up message";
        }
        std::this_thread::sleep_for(300ms);
        const auto sent = Clock::now();
        kill(marovane.Pid(), row.signal);
        const auto code = marovane.Wait(10s);
        const double exitMs = MsSince(sent);
        ASSERT_TRUE(code.has_value()) << "still running 10 s after the signal";
        EXPECT_EQ(*code, 0) << "ended by the signal instead of closing";
        EXPECT_LT(exitMs, 2000.0);
        if (row.server) {
            const std::string ports = Output("jack_lsp");
            EXPECT_EQ(ports.find("marovane:"), std::string::npos) << ports;
        }
        std::printf("%s: ended in %.0f ms\n", row.name, exitMs);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultTable, ::testing::ValuesIn(kRows), [](const auto& info) {
    std::string name;
    for (const char* c = info.param.name; *c; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
});

} // namespace
