#pragma once
// The sound file the renderer writes: stereo 32-bit float samples in a WAV
// file. Not for the audio thread (file I/O); one object per file.

#include <sndfile.h>

#include <string>

class SoundFileOutput {
public:
    SoundFileOutput() = default;
    ~SoundFileOutput();
    SoundFileOutput(const SoundFileOutput&) = delete;
    SoundFileOutput& operator=(const SoundFileOutput&) = delete;

    // Starts the file on `fd`, which must be seekable (the header is written
    // again at the end) and stays the caller's. False and Error() on failure.
    bool Open(int fd, int rate);
    // The same on a file of the caller's making (a test's, say).
    bool Open(SF_VIRTUAL_IO& io, void* user, int rate);
    // Appends `frames` interleaved stereo frames.
    bool Write(const float* samples, sf_count_t frames);
    // Writes the header's final sizes and closes the file; false and Error()
    // when that fails.
    bool Close();
    const std::string& Error() const { return error_; }

private:
    bool Started(SNDFILE* file);

    SNDFILE* file_ = nullptr;
    std::string error_;
};
