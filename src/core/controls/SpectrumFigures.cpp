#include "SpectrumFigures.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "synth/SynthState.h"

namespace {
// The relative rounding of a float sum of 128 levels, each divided once:
// 128 roundings of half a float step, with room to spare.
constexpr double kSumRounding = NUM_PARTIALS * static_cast<double>(FLT_EPSILON);
} // namespace

bool SafePolyphonyCount(float sum, int& notes)
{
    if (!(sum > 0.0f))
        return false;
    double n = 1.0 / static_cast<double>(sum);
    const double whole = std::ceil(n);
    if (whole - n <= n * kSumRounding)
        n = whole;
    if (!(n < static_cast<double>(INT_MAX)))
        return false;
    notes = static_cast<int>(n);
    return true;
}

std::string PeakLevelString(float sum)
{
    char text[64];
    std::snprintf(text, sizeof text, "Peak Level: %6.3f", static_cast<double>(sum));
    return text;
}

std::string SafePolyphonyString(float sum)
{
    int notes = 0;
    if (!SafePolyphonyCount(sum, notes))
        return "Safe Polyphony: Inf";
    return "Safe Polyphony: " + std::to_string(notes);
}

int ParseTargetPolyphony(const std::string& text)
{
    const long n = std::strtol(text.c_str(), nullptr, 10);
    if (n > INT_MAX)
        return INT_MAX;
    if (n < INT_MIN)
        return INT_MIN;
    return static_cast<int>(n);
}
