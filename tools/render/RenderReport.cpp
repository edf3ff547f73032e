#include "RenderReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

std::string PaceText(double audioSeconds, double elapsedSeconds)
{
    if (!(audioSeconds > 0))
        return "no audio to time";
    if (!(elapsedSeconds > 0))
        return "faster than the clock can tell";
    const double ratio = audioSeconds / elapsedSeconds;
    char text[64];
    if (ratio >= 1.0)
        std::snprintf(text, sizeof text, "%.1fx faster than real time", ratio);
    else
        std::snprintf(text, sizeof text, "%.1fx slower than real time", 1.0 / ratio);
    return text;
}

float Peak(const float* samples, size_t count, float peak)
{
    for (size_t i = 0; i < count; ++i)
        peak = std::max(peak, std::fabs(samples[i]));
    return peak;
}

std::string FullScaleWarning(float peak)
{
    if (!(peak > 1.0f))
        return {};
    char text[128];
    std::snprintf(text, sizeof text,
                  peak < 1e6f ? "the sound went over full scale: its peak is %.3f (%+.1f dB); a player will clip it"
                              : "the sound went over full scale: its peak is %.3g (%+.1f dB); a player will clip it",
                  static_cast<double>(peak), 20.0 * std::log10(static_cast<double>(peak)));
    return text;
}
