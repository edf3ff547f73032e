// The settings kept between starts: where the file is, what a damaged or
// missing file gives, names that need care in the file, a folder that cannot
// be written, and which audio device a remembered name chooses.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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

std::string FileText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The file keeps the text the toolkit's configuration class gave it when it
// first wrote it, byte for byte, so older files and newer ones are the same.
TEST(RememberedSettings, TheFileIsWrittenAsItAlwaysWas)
{
    RememberedSettings awkward = Chosen();
    awkward.midiInput = "  [Keys] = #1; \"quoted\" \\ back\tslash ";
    awkward.midiOutput = "Synth\xc3\xa9:entr\xc3\xa9" "e \xe2\x98\xba";
    awkward.audioDevice = "HDA Intel PCH: ALC3246 Analog (hw:0,0)";
    awkward.audioHost = "ALSA";
    RememberedSettings escapes;
    escapes.midiInput = "\"q\" a\\b\nc\rd";
    escapes.midiOutput = "zz$HOME:out";
    escapes.audioDevice = "Card $HOME";
    escapes.audioHost = "a\"b";
    RememberedSettings tuned = Chosen();
    tuned.tuningScale = "/home/me/scales/meantone \xc3\xa9.scl";
    tuned.tuningKeymap = " lead.kbm";
    const struct {
        RememberedSettings kept;
        std::string text;
    } cases[] = {
        {Chosen(), "[MIDI]\nInput=Keys:Keys MIDI 1 24:0\nOutput=other:in\nInputChannel=10\nOutputChannel=16\n"
                   "OutputEnabled=1\n[Audio]\nDevice=system\nHost=JACK Audio Connection Kit\n"},
        {awkward, "[MIDI]\nInput=\"  [Keys] = #1; \\\"quoted\\\" \\\\ back\\tslash \"\n"
                  "Output=Synth\xc3\xa9:entr\xc3\xa9" "e \xe2\x98\xba\nInputChannel=10\nOutputChannel=16\n"
                  "OutputEnabled=1\n[Audio]\nDevice=HDA Intel PCH: ALC3246 Analog (hw:0,0)\nHost=ALSA\n"},
        {escapes, "[MIDI]\nInput=\"\\\"q\\\" a\\\\b\\nc\\rd\"\nOutput=zz$HOME:out\nInputChannel=1\nOutputChannel=1\n"
                  "OutputEnabled=0\n[Audio]\nDevice=Card $HOME\nHost=a\"b\n"},
        {tuned, "[MIDI]\nInput=Keys:Keys MIDI 1 24:0\nOutput=other:in\nInputChannel=10\nOutputChannel=16\n"
                "OutputEnabled=1\n[Audio]\nDevice=system\nHost=JACK Audio Connection Kit\n[Tuning]\n"
                "Scale=/home/me/scales/meantone \xc3\xa9.scl\nKeymap=\" lead.kbm\"\n"},
    };
    for (const auto& c : cases) {
        Folder folder;
        const fs::path path = folder.path / "settings.ini";
        EXPECT_EQ(SettingsMemory(path.string()).Keep(c.kept), "");
        EXPECT_EQ(FileText(path), c.text);
        EXPECT_EQ(SettingsMemory(path.string()).Remembered(), c.kept) << c.kept.midiInput;
    }
}

// A "$" in a name is part of the name: a port called "zz$HOME:out" is found
// again at the next start, and a device named "Card $HOME" stays so named
// when another setting changes and the file is written anew.
TEST(RememberedSettings, ADollarSignIsKeptAsWritten)
{
    Folder folder;
    const fs::path path = folder.path / "settings.ini";
    RememberedSettings port;
    port.midiOutput = "zz$HOME:out";
    port.midiInput = "${HOME}:in $";
    EXPECT_EQ(SettingsMemory(path.string()).Keep(port), "");
    EXPECT_EQ(SettingsMemory(path.string()).Remembered().midiOutput, "zz$HOME:out");
    EXPECT_EQ(SettingsMemory(path.string()).Remembered().midiInput, "${HOME}:in $");

    folder.Write("settings.ini", "[MIDI]\nInputChannel=3\n[Audio]\nDevice=Card $HOME\nHost=ALSA\n");
    SettingsMemory memory(path.string());
    EXPECT_EQ(memory.Remembered().audioDevice, "Card $HOME");
    RememberedSettings changed = memory.Remembered();
    changed.midiInputChannel = 5;
    EXPECT_EQ(memory.Keep(changed), "");
    const std::string text = FileText(path);
    EXPECT_NE(text.find("\nDevice=Card $HOME\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nInputChannel=5\n"), std::string::npos) << text;
}

// Files as the toolkit's configuration class read them (and a person may
// have edited them): names in any case, white space around keys and before
// values, quotes, escapes, comments, a group given twice, a key given twice.
TEST(RememberedSettings, FilesInTheConfigurationFormatReadAsBefore)
{
    const struct {
        const char* text;
        const char* input;
    } inputs[] = {
        {"[MIDI]\nInput=  x  \n", "x  "},
        {"[MIDI]\n  Input  =  v\n", "v"},
        {"[MIDI]\nInput=\"x\" y\n", "x y"},
        {"[MIDI]\nInput=\"x\\\"\n", "x\""},
        {"[MIDI]\nInput=a\"b\n", "a\"b"},
        {"[MIDI]\nInput=\\\"a\n", "\"a"},
        {"[MIDI]\nInput=a\\qb\n", "ab"},
        {"[MIDI]\nInput=a\\\n", "a"},
        {"[MIDI]\nInput=\"\"\n", ""},
        {"[MIDI]\nInput=\t\"x\"\n", "x"},
        {"[MIDI]\nInput=x\t\n", "x\t"},
        {"[midi]\ninput=a\n", "a"},
        {"[MIDI]\r\nInput=a\r\n", "a"},
        {"[MIDI]\nInput=a\nInput=b\n", "b"},
        {"Input=top\n[MIDI]\nInput = b ; c\n", "b ; c"},
        {"[MIDI]  ; c\nInput=a\n", ""}, // no group line of ours
        {"[MIDI]\n#Input=a\n", ""},
        {"[Audio]\nInput=a\n", ""},
        {"[A]\n[MIDI]\nInput=a\n[Audio]\n[MIDI]\nOutput=b\n", "a"},
    };
    for (const auto& c : inputs) {
        Folder folder;
        folder.Write("settings.ini", c.text);
        EXPECT_EQ(SettingsMemory((folder.path / "settings.ini").string()).Remembered().midiInput, c.input) << c.text;
    }
    const struct {
        const char* text;
        int channel;
        bool enabled;
    } numbers[] = {
        {"[MIDI]\nInputChannel= 5\nOutputEnabled= 1\n", 5, true},
        {"[MIDI]\nInputChannel=+5\nOutputEnabled=\"1\"\n", 5, true},
        {"[MIDI]\nInputChannel=05\n", 5, false},
        {"[MIDI]\nInputChannel=\"5\"\n", 5, false},
        {"[MIDI]\nInputChannel=5 \nOutputEnabled=1 \n", 1, false},
        {"[MIDI]\nInputChannel=0x5\nOutputEnabled=yes\n", 1, false},
        {"[MIDI]\nInputChannel=5.0\n", 1, false},
    };
    for (const auto& c : numbers) {
        Folder folder;
        folder.Write("settings.ini", c.text);
        const RememberedSettings read = SettingsMemory((folder.path / "settings.ini").string()).Remembered();
        EXPECT_EQ(read.midiInputChannel, c.channel) << c.text;
        EXPECT_EQ(read.midiOutputEnabled, c.enabled) << c.text;
    }
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
