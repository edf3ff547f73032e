#pragma once
// What marovane-render (in $MAROVANE_BIN_DIR) makes of a MIDI file, read back
// as two channels: how the plugin tests compare a host's samples with the
// render tool's. Header only; the test links libsndfile.

#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace marovane_test {

// Runs `marovane-render --midi MID OPTIONS -o WAV` and reads WAV into `left`
// and `right` (both left empty when the tool fails). The WAV is removed.
inline void RenderToolStereo(const std::string& mid, const std::string& options, const std::string& wav,
                             std::vector<float>& left, std::vector<float>& right)
{
    left.clear();
    right.clear();
    const std::string command = std::string(std::getenv("MAROVANE_BIN_DIR")) + "/marovane-render --midi '" + mid +
                                "' " + options + " -o '" + wav + "' >/dev/null 2>&1";
    SF_INFO info{};
    SNDFILE* f = std::system(command.c_str()) == 0 ? sf_open(wav.c_str(), SFM_READ, &info) : nullptr;
    if (f) {
        std::vector<float> frames(static_cast<size_t>(info.frames) * 2);
        sf_readf_float(f, frames.data(), info.frames);
        sf_close(f);
        for (size_t i = 0; i < frames.size() / 2; ++i) {
            left.push_back(frames[2 * i]);
            right.push_back(frames[2 * i + 1]);
        }
    }
    std::remove(wav.c_str());
}

} // namespace marovane_test
