// Played as a person plays it: the real `marovane` on the virtual display,
// the key A pressed and released through the X server, the program's JACK
// output recorded with jack_rec, then the window closed with the system's
// close shortcut. The recording must hold a 261.6 Hz sine of peak 0.5 while A
// is down and silence within the release time after it is up, and the
// program must end with exit code 0.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <chrono>
#include <functional>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/TestProcess.h"
#include "e2e/Recording.h"

namespace {

using namespace std::chrono_literals;
using testproc::Child;
using testproc::Output;


TEST(PlayNote, KeyASoundsMiddleCUntilReleasedAndTheProgramQuitsCleanly)
{
    const char* binDir = std::getenv("MAROVANE_BIN_DIR");
    ASSERT_NE(binDir, nullptr);
    const std::string program = std::string(binDir) + "/marovane";
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("marovane-e2e-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string wav = (dir / "take.wav").string();

    testproc::JackServer jack("e2e");
    ASSERT_TRUE(jack.Ready());
    // Another program's MIDI ports: start-up opens them and asks nothing.
    testproc::OtherMidiPorts otherMidi;
    ASSERT_TRUE(otherMidi.Ready());

    // Started from another directory: it must find its resources by itself.
    std::filesystem::current_path(dir);
    Child marovane({program});
    ASSERT_TRUE(marovane.Running());

    const std::string window = WaitForProgramWindow();
    ASSERT_FALSE(window.empty()) << "no window, or no JACK output";
    testproc::Run("xdotool windowactivate --sync " + window);

    Child recorder({"jack_rec", "-f", wav, "-d", "5", "-b", "32", "marovane:out_0", "marovane:out_1"});
    ASSERT_TRUE(Eventually(
        [&] { return Output("jack_lsp -c marovane:out_0").find("jackrec") != std::string::npos; }, 5s))
        << "jack_rec never connected";
    std::this_thread::sleep_for(400ms);
    ASSERT_EQ(testproc::Run("xdotool keydown a"), 0);
    std::this_thread::sleep_for(1000ms);
    ASSERT_EQ(testproc::Run("xdotool keyup a"), 0);
    ASSERT_TRUE(recorder.Wait(10s).has_value()) << "jack_rec did not finish";

    // Closed as a person closes it: the window manager's close shortcut.
    testproc::Run("xdotool windowactivate --sync " + window + " key alt+F4");
    auto code = marovane.Wait(15s);
    ASSERT_TRUE(code.has_value()) << "the program did not end after its window was closed";
    EXPECT_EQ(*code, 0);

    const Recording rec = ReadWav(wav);
    ASSERT_GT(rec.left.size(), static_cast<size_t>(2.5 * kRate)) << "no recording";
    float channelDifference = 0;
    for (size_t i = 0; i < rec.left.size(); ++i)
        channelDifference = std::max(channelDifference, std::abs(rec.left[i] - rec.right[i]));
    EXPECT_LT(channelDifference, 1e-6f) << "both channels carry the same sound";

    const std::vector<float>& x = rec.left;
    size_t onset = 0, last = 0;
    while (onset < x.size() && std::abs(x[onset]) < 0.01f)
        ++onset;
    ASSERT_LT(onset, x.size()) << "nothing sounded";
    ASSERT_GT(onset, 0u) << "sound before the key was pressed";
    for (size_t i = 0; i < x.size(); ++i)
        if (std::abs(x[i]) > 1e-4f)
            last = i;
    const double held = (last - onset) / kRate;
    EXPECT_GT(held, 0.8) << "the note stopped early";
    EXPECT_LT(held, 1.5) << "the note went on after the key was up";

    // The steady part: middle C at peak 0.5.
    const size_t from = onset + static_cast<size_t>(0.1 * kRate);
    const size_t to = last - static_cast<size_t>(0.1 * kRate);
    ASSERT_LT(from, to);
    float peak = 0;
    for (size_t i = from; i < to; ++i)
        peak = std::max(peak, std::abs(x[i]));
    EXPECT_NEAR(peak, 0.5f, 0.01f);
    EXPECT_NEAR(Frequency(x, from, to), 261.626, 0.3);

    // The release: from the last full-level swing to silence within the 10 ms
    // release time (plus one period of the sine), and silence to the end.
    size_t lastFull = 0;
    for (size_t i = onset; i < x.size(); ++i)
        if (std::abs(x[i]) > 0.45f)
            lastFull = i;
    EXPECT_LT((last - lastFull) / kRate, 0.010 + 1.0 / 261.6 + 0.001);
    EXPECT_GT((x.size() - last) / kRate, 0.2) << "the recording ended before the silence";

    std::filesystem::current_path("/");
    std::filesystem::remove_all(dir);
}

} // namespace
