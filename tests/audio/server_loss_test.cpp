// The audio stream when its JACK server dies under a sounding note: the loss
// is seen within a second, the meters' source falls to zero, a device change
// and the shutdown return at once instead of waiting on the dead server, and
// the server's return is reported once. A process can lose PortAudio's JACK
// client only once, so this is a program of its own.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <thread>

#include "app/TestProcess.h"
#include "audio/AudioStream.h"
#include "synth/Engine.h"
#include "synth/SynthState.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testproc::Child;

double MsSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

Child StartJack(const std::string& name)
{
    Child server({"jackd", "-r", "-n", name, "-d", "dummy", "-r", "44100", "-p", "256"});
    EXPECT_EQ(testproc::Run("jack_wait -w -t 10"), 0) << "no JACK server";
    return server;
}

// Polls CheckHealth as the window's timer does, until it reports something
// other than Fine or the time is up.
AudioStream::Health PollUntilReport(AudioStream& audio, std::chrono::milliseconds limit)
{
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        const AudioStream::Health h = audio.CheckHealth();
        if (h != AudioStream::Health::Fine)
            return h;
        std::this_thread::sleep_for(std::chrono::milliseconds(AudioStream::kHealthPollMs));
    }
    return AudioStream::Health::Fine;
}

TEST(ServerLoss, ADeadServerIsNoticedLeftAloneAndItsReturnReported)
{
    const std::string name = testproc::ServerName("loss");
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
    Child server = StartJack(name);

    auto engine = std::make_unique<Engine>();
    SynthState* synth = &engine->Synth();
    AudioStream audio(*engine);
    ASSERT_EQ(audio.Initialize(), paNoError);
    ASSERT_EQ(audio.OpenDefault(), paNoError);
    const PaDeviceIndex device = audio.Device();
    synth->StartNote(60);
    // The meters' read takes the peak: a read right after another may find
    // no buffer rendered in between, so the first read that sounds counts.
    bool sounded = false;
    for (auto end = Clock::now() + 3s; !sounded && Clock::now() < end;) {
        sounded = std::abs(audio.TakeLeftPeak() - 0.5f) < 0.01f;
        if (!sounded)
            std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(sounded) << "the note never sounded";
    EXPECT_EQ(PollUntilReport(audio, 1s), AudioStream::Health::Fine) << "a running stream is no loss";

    // The server goes. (SIGTERM: a server killed outright keeps its slot in
    // JACK's registry of servers for good, and eight such slots leave the
    // machine without JACK.)
    const auto killed = Clock::now();
    kill(server.Pid(), SIGTERM);
    server.Wait(2s);
    EXPECT_EQ(PollUntilReport(audio, 3s), AudioStream::Health::Lost);
    EXPECT_LT(MsSince(killed), 1000.0) << "the loss took too long to notice";
    EXPECT_TRUE(audio.IsLost());
    EXPECT_FALSE(audio.IsRunning());
    EXPECT_EQ(audio.TakeLeftPeak(), 0.0f) << "the meters would freeze at the last peak";
    EXPECT_EQ(audio.TakeRightPeak(), 0.0f);
    EXPECT_EQ(audio.CheckHealth(), AudioStream::Health::Fine) << "the loss is reported once";

    // Choosing a device now neither waits nor opens anything.
    PaStreamParameters params{};
    params.device = device;
    params.channelCount = 2;
    params.sampleFormat = paFloat32;
    auto t = Clock::now();
    EXPECT_EQ(audio.SelectDevice(params), paDeviceUnavailable);
    EXPECT_LT(MsSince(t), 200.0);

    // The server comes back: said once.
    Child again = StartJack(name);
    EXPECT_EQ(PollUntilReport(audio, 5s), AudioStream::Health::ServerBack);
    EXPECT_EQ(PollUntilReport(audio, 1s), AudioStream::Health::Fine);

    // Closing leaves the dead stream alone and returns at once.
    t = Clock::now();
    audio.Shutdown();
    EXPECT_LT(MsSince(t), 600.0);
}

} // namespace
