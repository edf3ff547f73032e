#pragma once
// What the user is told about a lost audio stream (see AudioStream), in the
// program's words. Shown in message boxes by the window.

// The stream stopped for good: its server died or its device went away.
inline constexpr const char* kAudioLostText =
    "The audio output has stopped: the audio server or the sound device has gone away.\n"
    "Marovane goes on without sound. You will be told when the server is back.";
// After a loss, the JACK server runs again.
inline constexpr const char* kAudioServerBackText =
    "The audio server is running again. Close Marovane and start it again to bring the sound back.";
// A device was chosen after the loss.
inline constexpr const char* kAudioLostChoiceText =
    "No audio device can be opened: the audio server that Marovane was playing through has gone away.\n"
    "Close Marovane and start it again once the server runs.";
