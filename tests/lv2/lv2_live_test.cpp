// The plugin played live in a real host: jalv under a JACK dummy server of
// the test's own, its MIDI input fed and its two outputs recorded by the
// test's JACK client. Note 69 at full velocity must sound as a 440 Hz sine of
// peak 0.5 on both channels, and stop after its Note Off.
#include <fcntl.h>
#include <sys/stat.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "app/TestProcess.h"
#include "e2e/JackMidiClient.h"
#include "e2e/Recording.h"

namespace {

using namespace std::chrono_literals;

TEST(Lv2Live, JalvPlaysNote69AsA440SineOfHalfScale)
{
    testproc::JackServer jack("lv2");
    ASSERT_TRUE(jack.Ready());

    // jalv reads commands from its standard input and quits at its end: a
    // FIFO that this test holds open keeps it running.
    const std::string fifo = ::testing::TempDir() + "lv2-jalv-input-" + std::to_string(getpid());
    unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int input = open(fifo.c_str(), O_RDWR);
    ASSERT_GE(input, 0);
    testproc::Child jalv({"sh", "-c", "exec jalv -x -n mrv-jalv urn:marovane:synth < '" + fifo + "'"});
    ASSERT_TRUE(Eventually([] { return testproc::Output("jack_lsp").find("mrv-jalv:lv2_audio_out_2") != std::string::npos; }, 10s))
        << "jalv never showed the plugin's ports";

    e2e::JackMidiClient client("lv2-player", 6.0);
    ASSERT_TRUE(client.Ok());
    ASSERT_TRUE(client.ConnectAudio("mrv-jalv:lv2_audio_out_1", "mrv-jalv:lv2_audio_out_2"));
    ASSERT_EQ(testproc::Run("jack_connect " + client.Name() + ":keys mrv-jalv:lv2_events_in"), 0);
    client.Record();
    std::this_thread::sleep_for(300ms);
    const size_t on = client.Send({0x90, 69, 127});
    std::this_thread::sleep_for(1500ms);
    const size_t off = client.Send({0x80, 69, 0});
    std::this_thread::sleep_for(500ms);
    client.StopRecording();
    close(input);

    const uint64_t onFrame = client.SentFrame(on), offFrame = client.SentFrame(off);
    ASSERT_GT(onFrame, 0u);
    ASSERT_GT(offFrame, onFrame + 44100);
    const size_t start = onFrame - client.FirstRecordedFrame();
    const size_t end = offFrame - client.FirstRecordedFrame();
    ASSERT_LT(end + 2000, client.Recorded());
    // A second in the middle of the note, recorded whole.
    const size_t from = start + 4096, to = from + 32768;
    ASSERT_TRUE(client.Whole(from, to)) << "the recorder missed a cycle";
    const std::vector<float>& left = client.Left();
    const std::vector<float>& right = client.Right();
    EXPECT_NEAR(Frequency(left, from, to), 440.0, 0.05);
    EXPECT_NEAR(Amplitude(left, from, to, 440.0), 0.5, 1e-3);
    float peak = 0.0f;
    for (size_t i = from; i < to; ++i) {
        ASSERT_EQ(left[i], right[i]) << i;
        peak = std::max(peak, std::fabs(left[i]));
    }
    EXPECT_NEAR(peak, 0.5f, 1e-3f);
    // Silence before the note and after its 10 ms release.
    for (size_t i = 0; i < start && i < left.size(); ++i)
        ASSERT_EQ(left[i], 0.0f) << "before the note, at " << i;
    if (client.Whole(end + 1024, client.Recorded())) {
        for (size_t i = end + 1024; i < client.Recorded(); ++i)
            ASSERT_EQ(left[i], 0.0f) << "after the release, at " << i;
    }
    unlink(fifo.c_str());
}

} // namespace
