// The audio stream of the main window under a JACK dummy server: a device
// change keeps held notes, a failed one leaves the program silent until the
// next choice, suspending stops the render at once, and a start without any
// device shows one message and runs silent.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "app/KeyboardFixture.h"

namespace {

PaStreamParameters JackOutput()
{
    PaStreamParameters p{};
    PaHostApiIndex api = Pa_HostApiTypeIdToHostApiIndex(paJACK);
    p.device = api >= 0 ? Pa_GetHostApiInfo(api)->defaultOutputDevice : paNoDevice;
    p.channelCount = 2;
    p.sampleFormat = paFloat32;
    p.suggestedLatency = p.device >= 0 ? Pa_GetDeviceInfo(p.device)->defaultLowOutputLatency : 0;
    p.hostApiSpecificStreamInfo = nullptr;
    return p;
}

using AudioDeviceTest = KeyboardWindowTest;

TEST_F(AudioDeviceTest, HeldNotesSurviveADeviceChangeAndSoundAgainOnTheNewStream)
{
    SynthState& synth = window->Synth();
    window->NoteOn(60, false);
    ASSERT_TRUE(WaitFor([&] { return std::abs(synth.LeftPeak() - 0.5f) < 0.01f; }))
        << "note 60 never sounded: peak " << synth.LeftPeak();

    // A device that cannot be opened: its bare error text, then silence.
    PaStreamParameters bad = JackOutput();
    bad.device = 9999;
    window->OnAudioDeviceSelected(&bad);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], wxString(Pa_GetErrorText(paInvalidDevice)));
    EXPECT_EQ(window->Audio().Stream(), nullptr);
    EXPECT_TRUE(synth.renderSuspended);
    const uint32_t buffers = synth.BuffersRendered();
    PumpEvents(100);
    EXPECT_EQ(synth.BuffersRendered(), buffers) << "rendered without a stream";

    // Meanwhile the sound changes; the note stays held.
    float quieter[NUM_PARTIALS] = {0.25f};
    synth.SetSpectra(quieter, quieter);
    EXPECT_TRUE(window->Synth().IsKeyDown(60));

    // A working device: the held note is heard again, not restarted.
    PaStreamParameters good = JackOutput();
    ASSERT_NE(good.device, paNoDevice);
    window->OnAudioDeviceSelected(&good);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_FALSE(synth.renderSuspended);
    EXPECT_TRUE(window->Audio().IsRunning());
    EXPECT_TRUE(WaitFor([&] { return std::abs(synth.LeftPeak() - 0.25f) < 0.01f; }))
        << "peak " << synth.LeftPeak();
    EXPECT_TRUE(synth.IsNoteHeld(60));
    EXPECT_GT(synth.BuffersRendered(), buffers);

    // And a change while the note sounds keeps it sounding.
    window->OnAudioDeviceSelected(&good);
    const uint32_t after = synth.BuffersRendered();
    EXPECT_TRUE(WaitFor([&] { return synth.BuffersRendered() > after + 5; }));
    EXPECT_TRUE(synth.IsNoteHeld(60));
    EXPECT_NEAR(synth.LeftPeak(), 0.25f, 0.01f);
}

TEST_F(AudioDeviceTest, NoBufferIsRenderedOnceSuspendReturns)
{
    SynthState& synth = window->Synth();
    window->NoteOn(69, false);
    ASSERT_TRUE(WaitFor([&] { return synth.IsNoteHeld(69); }));
    for (int round = 0; round < 5; ++round) {
        window->Audio().Suspend();
        const uint32_t buffers = synth.BuffersRendered();
        PumpEvents(30); // several periods of the running stream
        EXPECT_EQ(synth.BuffersRendered(), buffers) << "round " << round;
        window->Audio().Resume();
        EXPECT_TRUE(WaitFor([&] { return synth.BuffersRendered() > buffers; }));
    }
}

// Nothing at all: no MIDI device (the MIDI objects fall back to JACK, which
// is not there either) and no audio device.
TEST_F(AudioDeviceTest, WithoutAnyDeviceTheProgramShowsTheMidiMessagesThenTheSoundsAndRunsSilent)
{
    // No JACK server under this name, and none started for it.
    const std::string server = jack->Name();
    setenv("JACK_DEFAULT_SERVER", ("mrv-none-" + std::to_string(getpid())).c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    window->Destroy();
    PumpEvents(50);
    messages.clear();

    window = new wxKeyboard(nullptr);
    window->Show();
    const int devices = Pa_GetDeviceCount();
    setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
    if (devices > 0)
        GTEST_SKIP() << "this machine has an audio device of its own";

    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0], "No MIDI input devices detected.  MIDI input is disabled.");
    EXPECT_EQ(messages[1], "No MIDI output devices detected.  MIDI output is disabled.");
    EXPECT_TRUE(messages[2].StartsWith("PortAudio error: ")) << messages[2];
    EXPECT_TRUE(messages[2].EndsWith("\n"));
    EXPECT_EQ(window->Audio().Stream(), nullptr);
    // The keyboards still work, silently.
    window->NoteOn(60, false);
    PumpEvents(50);
    EXPECT_TRUE(window->Synth().IsKeyDown(60));
    EXPECT_TRUE(window->octaveControls[3]->IsKeyDown(0));
    EXPECT_EQ(window->Synth().BuffersRendered(), 0u);
    EXPECT_EQ(messages.size(), 3u);
}

} // namespace

namespace {

// A host that hands the callback more than 256 frames still gets every frame
// rendered, exactly as 256-frame buffers would render it.
TEST(AudioCallback, LargerBuffersAreRenderedInStepsOf256)
{
    auto played = std::make_unique<SynthState>();
    auto twin = std::make_unique<SynthState>();
    AudioStream stream(*played);
    for (SynthState* s : {played.get(), twin.get()})
        s->StartNote(69);
    std::vector<float> out(2 * 600, 1.0f), expected(2 * 600);
    AudioStream::Callback(nullptr, out.data(), 600, nullptr, 0, &stream);
    twin->Render(expected.data(), 256);
    twin->Render(expected.data() + 512, 256);
    twin->Render(expected.data() + 1024, 88);
    EXPECT_EQ(std::memcmp(out.data(), expected.data(), out.size() * sizeof(float)), 0);
    EXPECT_NEAR(*std::max_element(out.begin() + 1024, out.end()), 0.5f, 0.01f); // the last step sounds too
}

} // namespace
