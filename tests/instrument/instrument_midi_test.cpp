// The instrument's MIDI with fake devices: start-up, what MIDI input does to
// the instrument and reports for the display, the channel rules, and the
// output's refusals and thread hop.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "app/Instrument.h"
#include "midi/FakeMidiDevices.h"

namespace {

using Bytes = std::vector<std::vector<uint8_t>>;

struct Quiet : InstrumentDisplay, KeyDisplay {
    int shown = 0;
    void ShowModWheel(int) override { ++shown; }
    void ShowPitchWheel(int) override { ++shown; }
    void ShowBank(int) override { ++shown; }
    void ShowPatch(int) override { ++shown; }
    void ShowSound() override { ++shown; }
    void ShowKeyDown(int) override {}
    void ShowKeyUp(int) override {}
    void ClearAllKeys() override {}
};

// A device that notes its own end in the shared log.
template <typename Device>
struct Logged : Device {
    using Device::Device;
    ~Logged() override
    {
        if (this->log_)
            this->log_->push_back(this->name_ + " deleted");
    }
};

class InstrumentMidiTest : public testing::Test {
protected:
    fake::Log log; // outlives the devices, which write their end into it
    Quiet display;
    std::unique_ptr<Instrument> instrument = std::make_unique<Instrument>(display, display);
    fake::OutputDevice* out = nullptr;

    void WithDevices(std::vector<std::string> ins, std::vector<std::string> outs)
    {
        auto in = std::make_unique<Logged<fake::InputDevice>>("in", std::move(ins), &log);
        auto o = std::make_unique<Logged<fake::OutputDevice>>("out", std::move(outs), &log);
        out = o.get();
        instrument->SetMidiDevices(std::move(in), std::move(o));
    }
    void Midi(std::vector<uint8_t> m) { instrument->MidiInput().OnMidiMessage(m.data(), m.size()); }
};

TEST_F(InstrumentMidiTest, StartUpOpensPortZeroOrReturnsBothMessages)
{
    EXPECT_EQ(instrument->OpenMidiDevicesAtStart(),
              (std::vector<std::string>{"No MIDI input devices detected.  MIDI input is disabled.",
                                        "No MIDI output devices detected.  MIDI output is disabled."}))
        << "no MIDI objects at all";
    WithDevices({"keys"}, {"synth"});
    EXPECT_TRUE(instrument->OpenMidiDevicesAtStart().empty());
    EXPECT_EQ(log, (fake::Log{"in open 0", "out open 0"}));
    EXPECT_EQ(instrument->MidiInputPorts()->PortName(0), "keys");

    // Input deleted first, at shutdown.
    log.clear();
    instrument->Shutdown();
    EXPECT_EQ(log, (fake::Log{"in deleted", "out deleted"}));
    EXPECT_EQ(instrument->MidiInputPorts(), nullptr);
}

TEST_F(InstrumentMidiTest, InputPlaysTheInstrumentAndMarksTheDisplayWithoutSending)
{
    WithDevices({"keys"}, {"synth"});
    instrument->OpenMidiDevicesAtStart();
    instrument->SetMidiOutputEnabled(true);
    const SynthState& synth = instrument->Synth();

    Midi({0x90, 60, 100});
    EXPECT_TRUE(synth.IsKeyDown(60));
    EXPECT_EQ(synth.NoteVelocity(60), 100.0f / 127.0f);
    Midi({0xC0, 4});
    Midi({0xB0, 1, 64});
    Midi({0xE0, 0, 127});
    EXPECT_EQ(instrument->CurrentPatch(), 5);
    EXPECT_EQ(instrument->ModWheelPosition(), 8192);
    EXPECT_EQ(synth.modWheelDepth, 8192.0f / 16383.0f) << "the wheel brings its tremolo";
    EXPECT_EQ(synth.pitchWheel, 16256.0f);
    EXPECT_EQ(instrument->TakeMidiDisplayChanges(),
              MidiDisplayChanges::kPatch | MidiDisplayChanges::kModWheel | MidiDisplayChanges::kPitchWheel);
    EXPECT_EQ(display.shown, 0) << "nothing is shown from the MIDI thread's calls";
    instrument->PumpMidiOutput();
    EXPECT_TRUE(out->sent.empty()) << "nothing that arrives goes back out";
}

TEST_F(InstrumentMidiTest, ThePedalHoldsMidiNotesOnlyAndPanicOrAChannelChangeLiftsIt)
{
    const SynthState& synth = instrument->Synth();
    Midi({0xB0, 64, 127});
    Midi({0x90, 60, 100});
    Midi({0x80, 60, 0});
    EXPECT_TRUE(synth.IsKeyDown(60)) << "held by the pedal";
    instrument->NoteOn(62, false);
    instrument->NoteOff(62, false);
    EXPECT_FALSE(synth.IsKeyDown(62)) << "the computer keyboard's notes are not held";
    Midi({0xB0, 64, 0});
    EXPECT_FALSE(synth.IsKeyDown(60)) << "released when the pedal comes up";

    // Panic, then a channel change: each time the pedal is up after it.
    for (int round = 0; round < 2; ++round) {
        Midi({0xB0, 64, 127});
        Midi({0x90, 60, 100});
        if (round == 0)
            instrument->Panic();
        else
            instrument->SetMidiInputChannel(1);
        EXPECT_FALSE(synth.IsKeyDown(60)) << round;
        Midi({0x90, 64, 100});
        Midi({0x80, 64, 0});
        EXPECT_FALSE(synth.IsKeyDown(64)) << round << ": the pedal is up";
    }
}

TEST_F(InstrumentMidiTest, AChannelChangeReleasesHeldNotesAndSeventeenIsOne)
{
    WithDevices({"keys"}, {"synth"});
    instrument->OpenMidiDevicesAtStart();
    instrument->SetMidiOutputEnabled(true);
    instrument->NoteOn(60, false);
    Midi({0x90, 64, 100});
    out->sent.clear();

    instrument->SetMidiInputChannel(5);
    EXPECT_FALSE(instrument->Synth().IsKeyDown(60));
    EXPECT_FALSE(instrument->Synth().IsKeyDown(64));
    EXPECT_EQ(out->sent, (Bytes{{0x80, 60, 0}, {0x80, 64, 0}, {0xB0, 123, 0}}));
    Midi({0x90, 62, 100});
    EXPECT_FALSE(instrument->Synth().IsKeyDown(62)) << "channel 1 is no longer heard";
    Midi({0x94, 62, 100});
    EXPECT_TRUE(instrument->Synth().IsKeyDown(62));

    // The Note Offs go out on the channel still in force, then the new one.
    out->sent.clear();
    instrument->NoteOn(67, false);
    instrument->SetMidiOutputChannel(17);
    EXPECT_EQ(instrument->MidiOutputChannel(), 1);
    instrument->SetMidiOutputChannel(3);
    instrument->NoteOn(67, false);
    EXPECT_EQ(out->sent, (Bytes{{0x90, 67, 127}, {0x80, 62, 0}, {0x80, 67, 0}, {0xB0, 123, 0}, {0xB0, 123, 0},
                                {0x92, 67, 127}}));
    instrument->SetMidiInputChannel(17);
    EXPECT_EQ(instrument->MidiInputChannel(), 1);
}

TEST_F(InstrumentMidiTest, AllNotesOffFromTheMidiThreadIsSentFromTheGuiThread)
{
    WithDevices({"keys"}, {"synth"});
    instrument->OpenMidiDevicesAtStart();
    instrument->SetMidiOutputEnabled(true);
    instrument->NoteOn(60, false);
    instrument->NoteOn(64, false);
    out->sent.clear();
    std::thread([&] { Midi({0xB0, 123, 0}); }).join();
    EXPECT_TRUE(out->sent.empty());
    instrument->PumpMidiOutput();
    EXPECT_EQ(out->sent, (Bytes{{0x80, 60, 0}, {0x80, 64, 0}}));
}

TEST_F(InstrumentMidiTest, OutputOnWithoutAPortIsToldOnceUntilAPortOpens)
{
    WithDevices({}, {"synth", "drums"});
    instrument->SetMidiOutputEnabled(true);
    instrument->NoteOn(60, false);
    instrument->NoteOff(60, false);
    EXPECT_EQ(instrument->TakeMidiOutputNotice(), MidiOutputPath::kNoPortText);
    instrument->NoteOn(61, false);
    EXPECT_EQ(instrument->TakeMidiOutputNotice(), "");
    EXPECT_EQ(instrument->SelectMidiOutputDevice(7), "no port 7") << "the device's own text";
    EXPECT_EQ(instrument->MidiOutputDevice(), 7);
    EXPECT_EQ(instrument->SelectMidiOutputDevice(1), "");
    instrument->NoteOn(62, false);
    EXPECT_EQ(out->sent, (Bytes{{0x90, 62, 127}}));
    out->vanished = true;
    instrument->NoteOn(63, false);
    EXPECT_EQ(instrument->TakeMidiOutputNotice(), MidiOutputPath::kGoneText) << "told again after a new port";
}

} // namespace
