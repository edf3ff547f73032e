#pragma once
// What the audio settings dialog asks of the main window. The operations are
// declared in their fixed order. GUI thread.

struct PaStreamParameters;

class AudioSettingsInterface {
public:
    virtual ~AudioSettingsInterface() = default;
    // Kept for the dialog's sake; the main window does nothing with it.
    virtual void OnAudioDeviceChanged(int deviceIndex) = 0;
    // Reopens the stream on the chosen device (device, 2 channels, paFloat32,
    // the device's low output latency). The dialog owns the record.
    virtual void OnAudioDeviceSelected(const PaStreamParameters* params) = 0;
};
