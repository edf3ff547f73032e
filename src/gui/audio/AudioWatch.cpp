#include "AudioWatch.h"

#include "controls/MessageBox.h"
#include "audio/AudioMessages.h"
#include "audio/AudioStream.h"

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
        ShowMessage(kAudioLostText);
    } else {
        ShowMessage(kAudioServerBackText);
    }
    telling = false;
}
