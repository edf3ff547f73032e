// The audio stream of the main window under a JACK dummy server: a device
// change keeps held notes, a failed one leaves the program silent until the
// next choice, suspending stops the render at once, and a start without any
// device shows one message and runs silent.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <wx/timer.h>

#include "app/KeyboardFixture.h"
#include "synth/Engine.h"
#include "audio/AudioSettings.h"
#include "controls/KeylessControls.h"

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

// Hands every choice on to the main window, and keeps a copy.
class ChoiceSpy : public AudioSettingsInterface {
public:
    explicit ChoiceSpy(AudioSettingsInterface& window) : window(window) {}
    void OnAudioDeviceChanged(int) override {}
    void OnAudioDeviceSelected(const PaStreamParameters* p) override
    {
        chosen.push_back(*p);
        window.OnAudioDeviceSelected(p);
    }
    AudioSettingsInterface& window;
    std::vector<PaStreamParameters> chosen;
};

TEST_F(AudioDeviceTest, ChoosingTheDeviceInUseFromTheDropDownReopensItAndEscapeKeepsIt)
{
    SynthState& synth = window->Synth();
    ChoiceSpy spy(*window);
    const PaDeviceIndex inUse = window->Audio().Device();
    ASSERT_NE(inUse, paNoDevice);
    int preselected = -2, entryInUse = -3;
    std::string dialogWindow;
    bool clicked = false, done = false;
    int ticks = 0, clickedAt = 0, chosenAt = 0, afterEscape = -2;
    testproc::Child xdotool;
    wxAudioSettings* dialog = nullptr;
    wxTimer person;
    person.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        if (++ticks > 80 && dialog && !done) { // 8 s: give up, and fail below
            done = true;
            person.Stop();
            dialog->EndModal(0);
            return;
        }
        for (wxWindow* w : wxTopLevelWindows)
            if (auto* d = dynamic_cast<wxAudioSettings*>(w); d && d->IsModal())
                dialog = d;
        if (!dialog)
            return;
        // Each step spawns xdotool and returns, so the dialog sees the input.
        if (!clicked) {
            preselected = dialog->DeviceChoice()->GetSelection();
            entryInUse = dialog->EntryOfDevice(inUse);
            dialogWindow = testproc::Output("xdotool search --onlyvisible --name '^Audio Settings$'");
            dialogWindow = dialogWindow.substr(0, dialogWindow.find('\n'));
            if (dialogWindow.empty())
                return;
            // Hold a note key in the dialog: the main window plays it. Then
            // open the drop-down as a person does...
            XKey("keydown", "a");
            const wxPoint c = dialog->DeviceChoice()->GetPosition() + dialog->DeviceChoice()->GetSize() / 2;
            xdotool = testproc::Child({"xdotool", "mousemove", "--window", dialogWindow, std::to_string(c.x),
                                       std::to_string(c.y), "sleep", "0.2", "click", "1"});
            clicked = true;
            clickedAt = ticks;
            return;
        }
        if (ticks == clickedAt + 10) {
            // ... and click the entry that opened under the pointer: the
            // device in use, the only one here.
            xdotool = testproc::Child({"xdotool", "click", "1"});
        }
        // Then the list once more, left with Escape: nothing is chosen, and
        // the entry in use is shown again.
        if (chosenAt == 0 && !spy.chosen.empty()) {
            chosenAt = ticks;
            xdotool = testproc::Child({"xdotool", "click", "1"});
        }
        if (chosenAt && ticks == chosenAt + 10)
            xdotool = testproc::Child({"xdotool", "key", "Escape"});
        if (chosenAt && ticks == chosenAt + 20 && !done) {
            afterEscape = dialog->DeviceChoice()->GetSelection();
            done = true;
            person.Stop();
            dialog->EndModal(0);
        }
    });
    person.Start(100);
    ShowAudioSettings(window, &spy, window->Audio());
    person.Stop();
    ASSERT_NE(dialog, nullptr) << "the dialog never showed";
    EXPECT_EQ(preselected, entryInUse) << "the device in use is preselected";
    EXPECT_GE(entryInUse, 0);
    ASSERT_EQ(spy.chosen.size(), 1u) << "choosing the entry in use went unnoticed";
    EXPECT_EQ(spy.chosen[0].device, inUse);
    EXPECT_EQ(afterEscape, entryInUse) << "a list left without a choice lost the entry in use";
    EXPECT_TRUE(messages.empty()) << messages[0];
    EXPECT_TRUE(Held(60)) << "the key held in the dialog plays through the main window";
    EXPECT_TRUE(WaitFor([&] { return std::abs(synth.LeftPeak() - 0.5f) < 0.01f; })) << synth.LeftPeak();
    EXPECT_TRUE(window->Audio().IsRunning());
    XKey("keyup", "a");
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

// A host that hands the callback buffers of another size than 256 frames
// still gets every frame rendered, cut on the engine's grid, which runs on
// from one buffer to the next (the second buffer's pieces are 168, 256 and
// 176 frames): the sound of the engine's own block call.
TEST(AudioCallback, OtherBufferSizesAreRenderedOnTheEnginesGrid)
{
    // A spectrum morph steps once per piece, so a cut off the grid would show.
    Sound morphing;
    morphing.decayMs = 200;
    morphing.sustainPercent = 50;
    morphing.attack.level[0] = 0.5f;
    morphing.sustain.level[0] = 0.1f;
    morphing.sustain.level[2] = 0.3f;
    auto played = std::make_unique<Engine>();
    auto twin = std::make_unique<Engine>();
    AudioStream stream(*played);
    for (Engine* e : {played.get(), twin.get()}) {
        e->Synth().SetSound(morphing);
        e->Synth().StartNote(69);
    }
    std::vector<float> out(2 * 1200, 1.0f), expected(2 * 1200);
    for (size_t at : {0, 1200}) {
        AudioStream::Callback(nullptr, out.data() + at, 600, nullptr, 0, &stream);
        twin->RenderInterleaved(expected.data() + at, 600, nullptr, 0);
    }
    EXPECT_EQ(std::memcmp(out.data(), expected.data(), out.size() * sizeof(float)), 0);
    EXPECT_GT(*std::max_element(out.begin() + 2200, out.end()), 0.1f); // the last frames sound too
}

} // namespace
