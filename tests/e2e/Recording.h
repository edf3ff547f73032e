#pragma once
// What the end-to-end tests share: waiting for the program, reading a
// jack_rec recording, and measuring the sound in it.
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/TestProcess.h"

namespace {

using namespace std::chrono_literals;

constexpr double kRate = 44100.0;

inline bool Eventually(const std::function<bool()>& cond, std::chrono::milliseconds timeout)
{
    auto end = std::chrono::steady_clock::now() + timeout;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// The X id of a visible window whose title is exactly `title`, once one is
// shown within the time, or an empty string.
inline std::string FindWindow(const std::string& title, std::chrono::milliseconds timeout)
{
    std::string id;
    Eventually(
        [&] {
            id = testproc::Output("xdotool search --onlyvisible --name '^" + title + "$'");
            id = id.substr(0, id.find('\n'));
            return !id.empty();
        },
        timeout);
    return id;
}

// Waits until the program shows its window and has its JACK output port;
// returns the window's X id, or an empty string if either never came.
inline std::string WaitForProgramWindow()
{
    const std::string window = FindWindow("Marovane", 20s);
    if (window.empty())
        return {};
    if (!Eventually([] { return testproc::Output("jack_lsp").find("marovane:out_1") != std::string::npos; }, 10s))
        return {};
    return window;
}

struct Recording {
    std::vector<float> left, right;
};

inline Recording ReadWav(const std::string& path)
{
    Recording r;
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f)
        return r;
    std::vector<float> frames(static_cast<size_t>(info.frames) * info.channels);
    sf_readf_float(f, frames.data(), info.frames);
    sf_close(f);
    if (info.channels != 2 || info.samplerate != 44100)
        return r;
    for (sf_count_t i = 0; i < info.frames; ++i) {
        r.left.push_back(frames[2 * i]);
        r.right.push_back(frames[2 * i + 1]);
    }
    return r;
}

// The frequency of a steady sine from its upward zero crossings.
inline double Frequency(const std::vector<float>& x, size_t from, size_t to)
{
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t i = from + 1; i < to; ++i) {
        if (x[i - 1] < 0.0f && x[i] >= 0.0f) {
            double t = (i - 1) + x[i - 1] / (x[i - 1] - x[i]);
            if (first < 0)
                first = t;
            last = t;
            ++crossings;
        }
    }
    return crossings > 1 ? (crossings - 1) * kRate / (last - first) : 0.0;
}

// The amplitude of the sine at `hz` in x[from, to): a Hann-windowed
// correlation, exact for a steady sine whose neighbours lie several window
// bins away.
inline double Amplitude(const std::vector<float>& x, size_t from, size_t to, double hz)
{
    const double pi = 3.14159265358979323846;
    double re = 0, im = 0, wsum = 0;
    const double n = static_cast<double>(to - from);
    for (size_t i = from; i < to; ++i) {
        const double k = static_cast<double>(i - from);
        const double w = 0.5 - 0.5 * std::cos(2 * pi * k / n);
        const double phase = 2 * pi * hz * static_cast<double>(i) / kRate;
        re += w * x[i] * std::cos(phase);
        im += w * x[i] * std::sin(phase);
        wsum += w;
    }
    return 2 * std::sqrt(re * re + im * im) / wsum;
}

// The stretches of sound in a recording: [start, end) sample ranges whose
// samples exceed `threshold`, split where it stays quiet for `gap` samples.
inline std::vector<std::pair<size_t, size_t>> SoundingStretches(const std::vector<float>& x, float threshold,
                                                                size_t gap)
{
    std::vector<std::pair<size_t, size_t>> out;
    size_t quiet = gap;
    for (size_t i = 0; i < x.size(); ++i) {
        if (std::abs(x[i]) > threshold) {
            if (quiet >= gap)
                out.push_back({i, i + 1});
            out.back().second = i + 1;
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return out;
}

} // namespace
