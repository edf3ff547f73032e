#pragma once
// The sound file the renderer writes: stereo 32-bit float samples in a WAV
// file, or in an RF64 file when the sound may outgrow the 4 GiB that a WAV
// header counts (over three hours at 192000 Hz). The caller says how long the
// sound can be at most: a sound that surely fits is written as WAV, as
// always; one that may not is started as RF64 and written as WAV (of the
// extensible kind) at the end if it fits after all. Not for the audio thread
// (file I/O); one object per file.

#include <sndfile.h>

#include <string>

class SoundFileOutput {
public:
    SoundFileOutput() = default;
    ~SoundFileOutput();
    SoundFileOutput(const SoundFileOutput&) = delete;
    SoundFileOutput& operator=(const SoundFileOutput&) = delete;

    // The most frames a WAV file holds: its sizes count 32 bits of bytes,
    // the header's own included.
    static constexpr sf_count_t kMaxWavFrames = (0xFFFFFFFFll - 4096) / 8;

    // Starts the file on `fd`, which must be seekable (the header is written
    // again at the end) and stays the caller's, for at most `maxFrames`
    // frames. False and Error() on failure.
    bool Open(int fd, int rate, sf_count_t maxFrames);
    // The same on a file of the caller's making (a test's, say).
    bool Open(SF_VIRTUAL_IO& io, void* user, int rate, sf_count_t maxFrames);
    // Appends `frames` interleaved stereo frames.
    bool Write(const float* samples, sf_count_t frames);
    // Writes the header's final sizes and closes the file; false and Error()
    // when that fails.
    bool Close();
    const std::string& Error() const { return error_; }

private:
    bool Started(SNDFILE* file, const SF_INFO& info);

    SNDFILE* file_ = nullptr;
    std::string error_;
};
