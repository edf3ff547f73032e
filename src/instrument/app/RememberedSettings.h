#pragma once
// What the program keeps between starts: the MIDI input and output ports (by
// name), the two MIDI channels, the MIDI output switch, the audio output
// device (by name and sound system) and the tuning (its files' paths; the
// group is written only while there is a tuning). They live in the user's configuration
// folder, $XDG_CONFIG_HOME/marovane/settings.ini (~/.config/marovane where
// XDG_CONFIG_HOME is unset, empty or not an absolute path), in the format of
// the toolkit's configuration files that first wrote it:
//   [MIDI]
//   Input=Keys:Keys MIDI 1 24:0
//   ...
//   [Audio]
//   Device=system
//   [Tuning]
//   Scale=/home/me/scales/meantone.scl
//   Keymap=
// A value that starts with white space or a double quote is written in
// double quotes; line breaks, tabs and backslashes are escaped with a
// backslash. Every other character stands for itself: "$HOME" in a port's
// name is kept as written.
//
// A missing, unreadable or damaged file, or a damaged entry, gives the start
// values for what it lacks, silently. Writing happens when the user changes
// a setting; the file is replaced whole. No window here: the main window
// tells the user once when the file cannot be written.
//
// Threads: GUI thread.

#include <string>

class AudioDevices;

struct RememberedSettings {
    // Port names as the port lists gave them; empty when none was chosen.
    std::string midiInput;
    std::string midiOutput;
    int midiInputChannel = 1; // 1 to 16
    int midiOutputChannel = 1;
    bool midiOutputEnabled = false;
    // The audio device's name and its host API's name ("ALSA", "JACK Audio
    // Connection Kit"); empty for the system's default device.
    std::string audioDevice;
    std::string audioHost;
    // The tuning's Scala scale and keyboard mapping files; empty: twelve
    // equal steps, no mapping.
    std::string tuningScale;
    std::string tuningKeymap;

    bool operator==(const RememberedSettings&) const = default;
};

// The settings file, from the environment as it is now.
std::string RememberedSettingsPath();

class SettingsMemory {
public:
    // Reads the file at `path` (nothing is read for an empty path).
    explicit SettingsMemory(std::string path);

    const RememberedSettings& Remembered() const { return remembered_; }
    const std::string& Path() const { return path_; }

    // Keeps `settings` and writes the file, making its folder where it is
    // missing. Returns why the file could not be written the first time that
    // happens in this run, and an empty string otherwise (written, or a later
    // failure: the user has been told).
    std::string Keep(const RememberedSettings& settings);

private:
    std::string path_;
    RememberedSettings remembered_;
    bool failureTold_ = false;
};

// The device to open at start-up for the remembered one: the listed device
// with that name and host that plays the program's stream; -1 (the default
// device) when nothing is remembered or no such device plays now.
int ChooseAudioDevice(const std::string& name, const std::string& host, const AudioDevices& devices);
