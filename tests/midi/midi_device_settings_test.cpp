// The MIDI device settings with fake port lists: what start-up opens or
// tells, in which order, and how a port change or a failure is handled.
#include <gtest/gtest.h>

#include "midi/MidiDeviceSettings.h"
#include "FakeMidiDevices.h"

namespace {

struct Devices {
    fake::Log log;
    fake::InputDevice in;
    fake::OutputDevice out;
    MidiDeviceSettings devices;
    Devices(std::vector<std::string> ins, std::vector<std::string> outs, bool withPorts = true)
        : in("in", std::move(ins), &log), out("out", std::move(outs), &log),
          devices(withPorts ? &in : nullptr, withPorts ? &out : nullptr,
                  [this](const std::string& text) { log.push_back("tell: " + text); })
    {
        devices.onOutputOpened = [this] { log.push_back("output opened"); };
    }
};

TEST(MidiDeviceSettings, StartUpOpensPortZeroOrTellsInputThenOutput)
{
    const std::string noIn = std::string("tell: ") + MidiDeviceSettings::kNoInputText;
    const std::string noOut = std::string("tell: ") + MidiDeviceSettings::kNoOutputText;
    EXPECT_EQ(noIn, "tell: No MIDI input devices detected.  MIDI input is disabled.");
    EXPECT_EQ(noOut, "tell: No MIDI output devices detected.  MIDI output is disabled.");
    struct Case {
        const char* what;
        std::vector<std::string> ins, outs;
        bool withPorts;
        fake::Log expected;
    } cases[] = {
        {"no devices", {}, {}, true, {noIn, noOut}},
        {"no MIDI library back end", {"a"}, {"b"}, false, {noIn, noOut}},
        {"both", {"keys", "seq"}, {"synth"}, true, {"in open 0", "out open 0", "output opened"}},
        {"input only", {"keys"}, {}, true, {"in open 0", noOut}},
        {"output only", {}, {"synth"}, true, {noIn, "out open 0", "output opened"}},
    };
    for (const Case& c : cases) {
        Devices d(c.ins, c.outs, c.withPorts);
        d.devices.OpenAtStart();
        EXPECT_EQ(d.log, c.expected) << c.what;
    }
}

TEST(MidiDeviceSettings, AnotherPortClosesTheOldOneFirstAndAFailureIsTold)
{
    Devices d({"keys", "seq"}, {"synth", "drums"});
    d.devices.OpenAtStart();
    d.log.clear();
    d.devices.SelectInputDevice(1);
    d.devices.SelectOutputDevice(1);
    EXPECT_EQ(d.log, (fake::Log{"in close 0", "in open 1", "out close 0", "out open 1", "output opened"}));
    EXPECT_EQ(d.in.OpenIndex(), 1);

    d.log.clear();
    d.out.openError = "MidiOutJack::openPort: JACK error creating port";
    d.devices.SelectOutputDevice(0);
    EXPECT_EQ(d.log, (fake::Log{"out close 1", "out open 0", "tell: MidiOutJack::openPort: JACK error creating port"}));
    EXPECT_EQ(d.devices.OutputDevice(), 0) << "the index is kept though the port did not open";
    EXPECT_FALSE(d.out.IsOpen());
}

TEST(MidiChannelSetting, SeventeenIsOne)
{
    const int cases[][2] = {{1, 1}, {5, 5}, {16, 16}, {17, 1}, {0, 1}};
    for (const auto& c : cases)
        EXPECT_EQ(MidiChannelSetting(c[0]), c[1]) << c[0];
}

} // namespace
