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

TEST(MidiDeviceSettings, TheOpenPortIsFoundByNameInTheListAsItIsNow)
{
    Devices d({"keys", "seq"}, {"synth"});
    EXPECT_EQ(d.devices.OpenInputEntry(), -1) << "nothing open yet";
    d.devices.OpenAtStart();
    EXPECT_EQ(d.devices.InputPortName(), "keys");
    EXPECT_EQ(d.devices.OpenInputEntry(), 0);
    EXPECT_EQ(d.devices.OpenOutputEntry(), 0);
    d.devices.SelectInputDevice(1);
    EXPECT_EQ(d.devices.OpenInputEntry(), 1);
    EXPECT_EQ(d.devices.InputPortName(), "seq");

    // A choice that fails leaves no port open, and none is shown.
    d.in.openError = "no such port";
    d.devices.SelectInputDevice(0);
    EXPECT_EQ(d.devices.OpenInputEntry(), -1);
    EXPECT_EQ(d.devices.InputPortName(), "");
    d.out.openError = "no such port";
    d.devices.SelectOutputDevice(0);
    EXPECT_EQ(d.devices.OpenOutputEntry(), -1);
    EXPECT_EQ(d.devices.OutputPortName(), "");
}

TEST(MidiDeviceSettings, StartUpOpensTheRememberedPortsByName)
{
    Devices d({"keys", "seq", "pads"}, {"synth", "drums"});
    d.devices.OpenAtStart("pads", "drums");
    EXPECT_EQ(d.log, (fake::Log{"in open 2", "out open 1", "output opened"}));
    d.log.clear();
    Devices absent({"keys"}, {});
    absent.devices.OpenAtStart("pads", "drums");
    EXPECT_EQ(absent.log, (fake::Log{"in open 0", std::string("tell: ") + MidiDeviceSettings::kNoOutputText}));
}

TEST(ChooseMidiPort, ByNameElsePortZero)
{
    const std::vector<std::string> jack{"other:out", "Keys:capture", "seq:out"};
    const std::vector<std::string> alsa{"Midi Through:Midi Through Port-0 14:0", "Keys:Keys MIDI 1 24:0",
                                        "Keys:Keys MIDI 2 24:1"};
    struct Case {
        const char* what;
        std::string name;
        std::vector<std::string> present;
        int expected;
    } cases[] = {
        {"nothing remembered", "", jack, 0},
        {"no ports", "Keys:capture", {}, -1},
        {"nothing remembered, no ports", "", {}, -1},
        {"present", "Keys:capture", jack, 1},
        {"last of the list", "seq:out", jack, 2},
        {"absent", "Pads:capture", jack, 0},
        {"case counts", "keys:capture", jack, 0},
        {"ALSA, same numbers", "Keys:Keys MIDI 2 24:1", alsa, 2},
        {"ALSA, plugged in again as another client", "Keys:Keys MIDI 2 28:1", alsa, 2},
        {"ALSA, another port of the device", "Keys:Keys MIDI 3 24:2", alsa, 0},
        {"numbers only at the end", "Keys:Keys MIDI 1 x:0", alsa, 0},
        {"a name that ends in a colon", "Keys:", jack, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseMidiPort(c.name, c.present), c.expected) << c.what;
}

TEST(MidiChannelSetting, SeventeenIsOne)
{
    const int cases[][2] = {{1, 1}, {5, 5}, {16, 16}, {17, 1}, {0, 1}};
    for (const auto& c : cases)
        EXPECT_EQ(MidiChannelSetting(c[0]), c[1]) << c[0];
}

} // namespace
