#include "AudioWatch.h"

#include "app/MessageBox.h"
#include "audio/AudioStream.h"

const char* const AudioWatch::kLostText =
    "The audio output has stopped: the audio server or the sound device has gone away.\n"
    "Marovane goes on without sound. You will be told when the server is back.";
const char* const AudioWatch::kServerBackText =
    "The audio server is running again. Close Marovane and start it again to bring the sound back.";
const char* const AudioWatch::kLostChoiceText =
    "No audio device can be opened: the audio server that Marovane was playing through has gone away.\n"
    "Close Marovane and start it again once the server runs.";

AudioWatch::AudioWatch(AudioStream& audio, std::function<void()> onLost)
    : audio(audio), onLost(std::move(onLost))
{
    Start(AudioStream::kHealthPollMs);
}

AudioWatch::~AudioWatch() { Stop(); }

void AudioWatch::Notify()
{
    // A message box runs the event loop, and with it this timer: one message
    // at a time.
    if (telling)
        return;
    const AudioStream::Health health = audio.CheckHealth();
    if (health == AudioStream::Health::Fine)
        return;
    telling = true;
    if (health == AudioStream::Health::Lost) {
        if (onLost)
            onLost();
        ShowMessage(kLostText);
    } else {
        ShowMessage(kServerBackText);
    }
    telling = false;
}
