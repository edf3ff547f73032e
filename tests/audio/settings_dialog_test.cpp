// The audio settings dialog on the virtual display, fed a made-up device list:
// which devices it lists, in which order and with which text, what an empty or
// failed list looks like, and what a choice hands to the main window. Also the
// program's message box, which must carry its title where a window manager
// sees it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/stattext.h>
#include <wx/timer.h>

#include "controls/MessageBox.h"
#include "app/TestProcess.h"
#include "audio/AudioDevices.h"
#include "audio/AudioSettings.h"
#include "audio/AudioSettingsInterface.h"
#include "controls/KeylessControls.h"
#include "support/GuiTest.h"
#include "support/ScreenPixels.h"

namespace {

struct FakeDevice {
    std::string name;
    std::string host;
    int outputs;
    double latency;
    double defaultRate;
    std::vector<double> rates; // the rates it opens a stereo float stream at
};

class FakeDevices : public AudioDevices {
public:
    FakeDevices(std::vector<FakeDevice> list, int count) : list(std::move(list)), count(count) {}
    int Count() const override { return count; }
    AudioDeviceInfo Info(int i) const override
    {
        const FakeDevice& d = list.at(i);
        return {d.name, d.host, d.outputs, d.latency, d.defaultRate};
    }
    bool Plays(const PaStreamParameters& p, double rate) const override
    {
        const FakeDevice& d = list.at(p.device);
        if (p.channelCount > d.outputs || p.sampleFormat != paFloat32)
            return false;
        for (double r : d.rates)
            if (r == rate)
                return true;
        return false;
    }

private:
    std::vector<FakeDevice> list;
    int count;
};

class Recorder : public AudioSettingsInterface {
public:
    void OnAudioDeviceChanged(int) override {}
    void OnAudioDeviceSelected(const PaStreamParameters* p) override { chosen.push_back(*p); }
    std::vector<PaStreamParameters> chosen;
};

const FakeDevice kMic{"Microphone", "ALSA", 0, 0.0087, 44100, {44100, 48000}};
const FakeDevice kCard{"HDA Intel PCH: ALC3246 Analog (hw:0,0)", "ALSA", 2, 0.0116, 44100, {44100, 48000}};
const FakeDevice kFast{"default", "ALSA", 128, 0.0005, 44100, {44100}};
const FakeDevice kJack48{"system", "JACK Audio Connection Kit", 2, 0.0053, 48000, {48000}};
const FakeDevice kOdd{"Odd", "OSS", 2, 0.01, 22050, {96000}};
const FakeDevice kMono{"Mono", "ALSA", 1, 0.01, 44100, {44100}};

struct Case {
    const char* what;
    std::vector<FakeDevice> devices;
    int count; // what the device count reports (an error when negative)
    std::vector<wxString> entries;
    std::vector<int> entryDevices;
    std::vector<wxString> messages;
    bool enabled;
};

class AudioSettingsDialog : public testing::Test {
protected:
    void SetUp() override
    {
        SetMessageSink([this](const wxString& text) { messages.push_back(text); });
    }
    void TearDown() override { SetMessageSink({}); }

    wxAudioSettings* Make(const FakeDevices& devices)
    {
        return new wxAudioSettings(nullptr, &recorder, ID_AUDIO_SETTINGS_DIALOG, "Audio Settings", wxDefaultPosition,
                                   wxSize(400, 300), AUDIO_SETTINGS_STYLE, &devices);
    }

    Recorder recorder;
    std::vector<wxString> messages;
};

TEST_F(AudioSettingsDialog, ListsTheDevicesThatPlayTheStreamLastFirst)
{
    const Case cases[] = {
        {"an input, then two outputs", {kMic, kCard, kFast}, 3,
         {"default [ALSA]", "HDA Intel PCH: ALC3246 Analog (hw:0,0) (11 ms) [ALSA]"}, {2, 1}, {}, true},
        {"a JACK server at 48000 Hz and devices that play neither rate nor stereo", {kOdd, kJack48, kMono}, 3,
         {"system (5 ms) [JACK Audio Connection Kit] 48000 Hz"}, {1}, {}, true},
        {"no device at all", {}, 0, {}, {}, {}, false},
        {"devices that cannot play the stream", {kMic, kMono}, 2, {}, {}, {}, true},
        {"a failing device count", {kCard}, -9999, {}, {}, {"ERROR: Pa_CountDevices returned 0xffffd8f1.\n"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        messages.clear();
        FakeDevices devices(c.devices, c.count);
        wxAudioSettings* dialog = Make(devices);
        wxKeylessChoice* choice = dialog->DeviceChoice();
        std::vector<wxString> entries;
        for (unsigned i = 0; i < choice->GetCount(); ++i)
            entries.push_back(choice->GetString(i));
        EXPECT_EQ(entries, c.entries);
        for (size_t k = 0; k < c.entryDevices.size(); ++k)
            EXPECT_EQ(dialog->EntryOfDevice(c.entryDevices[k]), static_cast<int>(k)) << "device " << c.entryDevices[k];
        EXPECT_EQ(messages, c.messages);
        EXPECT_EQ(choice->IsEnabled(), c.enabled);
        EXPECT_EQ(choice->GetSelection(), wxNOT_FOUND) << "nothing is chosen before the user chooses";
        dialog->Destroy();
    }
    PumpEvents(20);
}

TEST_F(AudioSettingsDialog, BuildsItsWindowAsSpecifiedAndTakesTheMainWindowsColours)
{
    FakeDevices devices({kMic, kCard, kFast}, 3);
    wxAudioSettings* dialog = Make(devices);
    EXPECT_EQ(dialog->GetTitle(), "Audio Settings");
    EXPECT_EQ(dialog->GetId(), 14000);
    EXPECT_EQ(dialog->GetName(), "dialog");
    EXPECT_TRUE(dialog->GetExtraStyle() & wxWS_EX_BLOCK_EVENTS);
    EXPECT_EQ(dialog->DeviceChoice()->GetId(), 14004);
    auto* close = dynamic_cast<wxButton*>(dialog->FindWindow(14001));
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->GetLabel(), "Close");
    wxStaticText* label = nullptr;
    for (wxWindow* child : dialog->GetChildren())
        if (auto* text = dynamic_cast<wxStaticText*>(child))
            label = text;
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->GetLabel(), "Audio Out Device:");
    EXPECT_EQ(label->GetId(), wxID_STATIC);
    // Label then choice side by side, the button below both.
    EXPECT_LT(label->GetPosition().x, dialog->DeviceChoice()->GetPosition().x);
    EXPECT_GT(close->GetPosition().y, dialog->DeviceChoice()->GetPosition().y);

    const wxColour text(255, 204, 102), back(102, 51, 0);
    dialog->SetForegroundColour(text);
    dialog->SetBackgroundColour(back);
    EXPECT_EQ(label->GetForegroundColour(), text);
    EXPECT_EQ(close->GetForegroundColour(), text);
    EXPECT_EQ(dialog->DeviceChoice()->GetForegroundColour(), text);
    EXPECT_EQ(dialog->DeviceChoice()->GetBackgroundColour(), back);
    EXPECT_EQ(close->GetBackgroundColour(), back);
    EXPECT_EQ(dialog->GetBackgroundColour(), back);
    dialog->Destroy();
    PumpEvents(20);
}

// The device list looks whole in the main window's colours: brown from edge
// to edge with its text, not a brown block inside a white box.
TEST_F(AudioSettingsDialog, TheDeviceChoiceLooksWhole)
{
    FakeDevices devices({kMic, kCard, kFast}, 3);
    wxAudioSettings* dialog = Make(devices);
    dialog->SetForegroundColour(wxColour(255, 204, 102));
    dialog->SetBackgroundColour(wxColour(102, 51, 0));
    dialog->Show();
    PumpEvents(400);
    EXPECT_GT(ShareOfBoxColour(dialog->DeviceChoice()), 0.7) << "the device choice is not of one colour";
    const ScreenArea box = ReadScreen(dialog->DeviceChoice()->GetScreenRect());
    ASSERT_GT(box.width, 10);
    EXPECT_EQ(box.At(4, box.height / 2), std::make_tuple(102, 51, 0)) << "the box is not brown";
    dialog->Destroy();
    PumpEvents(20);
}

TEST_F(AudioSettingsDialog, SelectionStaysWithinTheListAndAChoiceHandsOverItsDevicesRecord)
{
    FakeDevices devices({kMic, kCard, kFast}, 3);
    wxAudioSettings* dialog = Make(devices);
    wxKeylessChoice* choice = dialog->DeviceChoice();
    dialog->SetSelectedDevice(1);
    EXPECT_EQ(choice->GetSelection(), 1);
    for (int beyond : {2, 3, -1, 1000}) {
        dialog->SetSelectedDevice(beyond);
        EXPECT_EQ(choice->GetSelection(), 1) << beyond;
    }
    EXPECT_TRUE(recorder.chosen.empty()) << "preselecting chooses nothing";
    EXPECT_EQ(dialog->EntryOfDevice(0), -1) << "the input is not listed";

    // The user picks the second entry: device 1, the card.
    choice->SetSelection(1);
    wxCommandEvent picked(wxEVT_CHOICE, ID_AUDIO_DEVICE_CHOICE);
    picked.SetInt(1);
    picked.SetEventObject(choice);
    choice->ProcessWindowEvent(picked);
    ASSERT_EQ(recorder.chosen.size(), 1u);
    const PaStreamParameters& p = recorder.chosen[0];
    EXPECT_EQ(p.device, 1);
    EXPECT_EQ(p.channelCount, 2);
    EXPECT_EQ(p.sampleFormat, static_cast<PaSampleFormat>(paFloat32));
    EXPECT_EQ(p.suggestedLatency, 0.0116);
    EXPECT_EQ(p.hostApiSpecificStreamInfo, nullptr);
    dialog->Destroy();
    PumpEvents(20);
}

TEST_F(AudioSettingsDialog, CloseButtonAndCloseBoxBothEndTheModalDialog)
{
    FakeDevices devices({kCard}, 1);
    for (bool viaButton : {true, false}) {
        SCOPED_TRACE(viaButton ? "Close button" : "close box");
        wxAudioSettings* dialog = Make(devices);
        wxTimer closer;
        closer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
            if (!dialog->IsModal())
                return; // not yet shown
            closer.Stop();
            if (viaButton) {
                wxCommandEvent click(wxEVT_BUTTON, ID_AUDIO_CLOSE);
                click.SetEventObject(dialog->FindWindow(ID_AUDIO_CLOSE));
                dialog->FindWindow(ID_AUDIO_CLOSE)->ProcessWindowEvent(click);
            } else {
                dialog->Close();
            }
        });
        closer.Start(50);
        dialog->ShowModal();
        EXPECT_FALSE(dialog->IsModal());
        EXPECT_FALSE(closer.IsRunning()) << "the dialog ended by itself";
        closer.Stop();
        dialog->Destroy();
        PumpEvents(20);
    }
}

// What a window manager (and a person) sees of a message box: its title.
TEST(MessageBox, CarriesTheTitleMessageWhereTheWindowManagerSeesIt)
{
    SetMessageSink({});
    std::string found;
    bool dismissed = false;
    wxTimer looker;
    int tries = 0;
    looker.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        found = testproc::Output("xdotool search --onlyvisible --name '^Message$'");
        if ((!found.empty() || ++tries > 60) && !dismissed) {
            dismissed = true;
            looker.Stop();
            // OK, pressed as a person presses it: Return in the box.
            testproc::Run("xdotool key Return");
        }
    });
    looker.Start(100);
    ShowMessage("Something to read.");
    looker.Stop();
    EXPECT_TRUE(dismissed);
    EXPECT_FALSE(found.empty()) << "no visible window titled \"Message\"";
}

} // namespace
