// The settings kept between starts: where the file is, what a damaged or
// missing file gives, names that need care in the file, a folder that cannot
// be written, and which audio device a remembered name chooses.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/AudioDevices.h"
#include "app/RememberedSettings.h"

namespace {

namespace fs = std::filesystem;

// A folder of the test's own, removed with it.
struct Folder {
    fs::path path;
    Folder()
    {
        char name[] = "/tmp/marovane-remembered-XXXXXX";
        path = mkdtemp(name);
    }
    ~Folder()
    {
        std::error_code ignored;
        fs::permissions(path, fs::perms::owner_all, ignored);
        fs::remove_all(path, ignored);
    }
    void Write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(path / name, std::ios::binary) << bytes;
    }
};

RememberedSettings Chosen()
{
    RememberedSettings s;
    s.midiInput = "Keys:Keys MIDI 1 24:0";
    s.midiOutput = "other:in";
    s.midiInputChannel = 10;
    s.midiOutputChannel = 16;
    s.midiOutputEnabled = true;
    s.audioDevice = "system";
    s.audioHost = "JACK Audio Connection Kit";
    return s;
}

TEST(RememberedSettings, TheFileIsInTheUsersConfigurationFolder)
{
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    struct Case {
        const char* value;
        std::string expected;
    } cases[] = {
        {"/cfg/me", "/cfg/me/marovane/settings.ini"},
        {nullptr, home + "/.config/marovane/settings.ini"},
        {"", home + "/.config/marovane/settings.ini"},
        {"relative/path", home + "/.config/marovane/settings.ini"},
    };
    for (const Case& c : cases) {
        if (c.value)
            setenv("XDG_CONFIG_HOME", c.value, 1);
        else
            unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(RememberedSettingsPath(), c.expected) << (c.value ? c.value : "unset");
    }
    if (old)
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

TEST(RememberedSettings, WhatIsKeptIsReadAtTheNextStartEvenAwkwardNames)
{
    Folder folder;
    const std::string path = (folder.path / "marovane" / "settings.ini").string();
    std::vector<RememberedSettings> cases{Chosen()};
    RememberedSettings awkward = Chosen();
    awkward.midiInput = "  [Keys] = #1; \"quoted\" \\ back\tslash ";
    awkward.midiOutput = "Synthé:entrée ☺";
    awkward.audioDevice = "HDA Intel PCH: ALC3246 Analog (hw:0,0)";
    awkward.audioHost = "ALSA";
    cases.push_back(awkward);
    cases.push_back(RememberedSettings{});
    for (const RememberedSettings& kept : cases) {
        SettingsMemory first(path);
        EXPECT_EQ(first.Keep(kept), "");
        EXPECT_EQ(first.Remembered(), kept);
        SettingsMemory next(path);
        EXPECT_EQ(next.Remembered(), kept) << kept.midiInput;
    }
}

TEST(RememberedSettings, AMissingOrDamagedFileGivesTheStartValuesForWhatItLacks)
{
    RememberedSettings channelsOnly;
    channelsOnly.midiInputChannel = 3;
    channelsOnly.midiOutputChannel = 4;
    RememberedSettings switchedOn;
    switchedOn.midiOutputEnabled = true;
    switchedOn.midiInput = "keys";
    RememberedSettings keysOnly;
    keysOnly.midiInput = "keys";
    struct Case {
        const char* what;
        std::string bytes; // empty: no file
        RememberedSettings expected;
    } cases[] = {
        {"no file", "", RememberedSettings{}},
        {"not text", std::string("\0\xff\xfe[\x80\x81=\n\xc3\x28", 10), RememberedSettings{}},
        {"channels only", "[MIDI]\nInputChannel=3\nOutputChannel=4\n", channelsOnly},
        {"channels out of range",
         "[MIDI]\nInputChannel=17\nOutputChannel=-3\n", RememberedSettings{}},
        {"channels not numbers", "[MIDI]\nInputChannel=abc\nOutputChannel=4x\n", RememberedSettings{}},
        {"a huge channel", "[MIDI]\nInputChannel=99999999999999999999\n", RememberedSettings{}},
        {"the switch and a port among junk",
         "garbage line\n[MIDI\n[MIDI]\n=x\nOutputEnabled=1\nInput=keys\nUnknown=7\n", switchedOn},
        {"a switch that is no switch", "[MIDI]\nOutputEnabled=maybe\n", RememberedSettings{}},
        {"lines the configuration class chokes on",
         "[]\n[MIDI]]\n = x\n=\n[MIDI]\n[ ]\n==\n[\n]\nInput=keys\n\r\n", keysOnly},
    };
    for (const Case& c : cases) {
        Folder folder;
        const fs::path path = folder.path / "settings.ini";
        if (!c.bytes.empty())
            folder.Write("settings.ini", c.bytes);
        SettingsMemory memory(path.string());
        EXPECT_EQ(memory.Remembered(), c.expected) << c.what;
    }
    // A folder where the file should be.
    Folder folder;
    fs::create_directory(folder.path / "settings.ini");
    EXPECT_EQ(SettingsMemory((folder.path / "settings.ini").string()).Remembered(), RememberedSettings{});
}

TEST(RememberedSettings, AFolderThatCannotBeWrittenIsToldOnceAndTheSettingsStillChange)
{
    Folder folder;
    folder.Write("file", "not a folder");
    struct Case {
        const char* what;
        std::string path;
    } cases[] = {
        {"a file where the folder should be", (folder.path / "file" / "marovane" / "settings.ini").string()},
        {"no path at all", ""},
    };
    for (const Case& c : cases) {
        SettingsMemory memory(c.path);
        EXPECT_NE(memory.Keep(Chosen()), "") << c.what;
        EXPECT_EQ(memory.Remembered(), Chosen()) << c.what;
        EXPECT_EQ(memory.Keep(RememberedSettings{}), "") << c.what << ": told once";
    }
    if (geteuid() != 0) { // root writes anywhere
        fs::create_directory(folder.path / "locked");
        fs::permissions(folder.path / "locked", fs::perms::owner_read | fs::perms::owner_exec);
        SettingsMemory memory((folder.path / "locked" / "settings.ini").string());
        EXPECT_NE(memory.Keep(Chosen()), "");
    }
}

TEST(RememberedSettings, FifosInPlaceOfTheFilesNeitherBlockNorStayInTheWay)
{
    Folder folder;
    const fs::path path = folder.path / "settings.ini";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((path.string() + ".new").c_str(), 0600), 0);
    SettingsMemory memory(path.string());
    EXPECT_EQ(memory.Remembered(), RememberedSettings{});
    EXPECT_EQ(memory.Keep(Chosen()), "");
    EXPECT_EQ(SettingsMemory(path.string()).Remembered(), Chosen());
}

struct FakeDevice {
    std::string name, host;
    bool plays;
};

class FakeDevices : public AudioDevices {
public:
    explicit FakeDevices(std::vector<FakeDevice> list) : list(std::move(list)) {}
    int Count() const override { return static_cast<int>(list.size()); }
    AudioDeviceInfo Info(int i) const override { return {list.at(i).name, list.at(i).host, 2, 0.01, 44100.0}; }
    bool Plays(const PaStreamParameters& p, double) const override { return list.at(p.device).plays; }

private:
    std::vector<FakeDevice> list;
};

TEST(ChooseAudioDevice, TheRememberedDeviceWhenItPlaysElseTheDefault)
{
    const FakeDevices devices({{"default", "ALSA", true},
                               {"system", "ALSA", false},
                               {"pulse", "ALSA", true},
                               {"system", "JACK Audio Connection Kit", true},
                               {"hdmi", "ALSA", false}});
    struct Case {
        const char* what;
        std::string name, host;
        int expected;
    } cases[] = {
        {"nothing remembered", "", "", -1},
        {"present", "pulse", "ALSA", 2},
        {"the name on another host", "system", "JACK Audio Connection Kit", 3},
        {"present but no longer plays", "hdmi", "ALSA", -1},
        {"absent", "USB Audio", "ALSA", -1},
        {"the host is gone", "pulse", "OSS", -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseAudioDevice(c.name, c.host, devices), c.expected) << c.what;
    EXPECT_EQ(ChooseAudioDevice("pulse", "ALSA", FakeDevices({})), -1);
}

} // namespace
