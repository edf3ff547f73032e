#pragma once
// The audio output devices as the program sees them: a count, each device's
// name, host, channels, latency and default rate, and whether it plays the
// program's stream. PortAudioDevices asks PortAudio; a test hands the audio
// settings dialog a list of its own. Also the rule that picks the rate a
// device is played at. GUI thread.

#include <string>

#include <portaudio.h>

struct AudioDeviceInfo {
    std::string name;    // 8-bit, as the host reports it
    std::string hostApi; // the name of the device's host API ("ALSA", "JACK Audio Connection Kit")
    int maxOutputChannels = 0;
    double defaultLowOutputLatency = 0.0; // seconds
    double defaultSampleRate = 0.0;       // Hz
};

class AudioDevices {
public:
    virtual ~AudioDevices() = default;
    // The number of devices, or a negative error code.
    virtual int Count() const = 0;
    virtual AudioDeviceInfo Info(int index) const = 0;
    // True when the device opens an output stream of `params` at `rate` Hz.
    virtual bool Plays(const PaStreamParameters& params, double rate) const = 0;
};

// The devices PortAudio found at its initialisation.
class PortAudioDevices : public AudioDevices {
public:
    int Count() const override;
    AudioDeviceInfo Info(int index) const override;
    bool Plays(const PaStreamParameters& params, double rate) const override;
};

// The program's stream on device `index`: 2 channels of paFloat32 at the
// device's default low output latency, no host-specific data.
PaStreamParameters StreamParameters(int index, const AudioDeviceInfo& info);

// The rate the program plays a device at: 44100 Hz when the device takes it,
// else the device's own default rate when it takes that; 0 when it plays
// neither (the device is not usable).
double PlayableRate(const AudioDevices& devices, int index);
