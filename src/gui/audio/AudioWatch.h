#pragma once
// Keeps an eye on the audio stream for the main window: a GUI timer polls
// AudioStream::CheckHealth and tells the user, once, when the sound is lost
// (the audio server died or the device went away) and, once, when a lost
// JACK server runs again and a restart would bring the sound back. The
// window stays usable throughout. GUI thread.

#include <functional>

#include <wx/timer.h>

class AudioStream;

class AudioWatch : public wxTimer {
public:
    // Starts polling `audio` at once; `onLost` (may be empty) runs after the
    // loss is noticed and before the user is told.
    explicit AudioWatch(AudioStream& audio, std::function<void()> onLost = {});
    ~AudioWatch() override;

    void Notify() override;

private:
    AudioStream& audio;
    std::function<void()> onLost;
    bool telling = false;
};
