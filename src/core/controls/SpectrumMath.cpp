#include "SpectrumMath.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>


int HarmonicsBarAt(int x)
{
    if (x < 0)
        return -1;
    const int bar = x / HARMONICS_BAR_WIDTH;
    return bar < NUM_PARTIALS ? bar : -1;
}

float HarmonicsClickLevel(int y, int height, float displayScale)
{
    const float hf = static_cast<float>(height);
    return (hf - static_cast<float>(y)) / hf / displayScale;
}

int HarmonicsBarHeight(float level, int height, float displayScale)
{
    float v = level * static_cast<float>(height) * displayScale;
    // Also catches NaN, which compares false both ways.
    if (!(v > -1.0e6f))
        v = v < 0.0f ? -1.0e6f : 0.0f;
    if (v > 1.0e6f)
        v = 1.0e6f;
    return static_cast<int>(v);
}

namespace {

// The bar under x, counting on to the left and right of the 128 (floor
// division), so that a line from outside the bars still finds the bars it
// crosses.
int BarColumn(int x)
{
    return x >= 0 ? x / HARMONICS_BAR_WIDTH : -((-x + HARMONICS_BAR_WIDTH - 1) / HARMONICS_BAR_WIDTH);
}

bool SetBar(float* levels, int bar, int row, int height, float displayScale, bool set)
{
    if (bar < 0 || bar >= NUM_PARTIALS || row < 0 || row >= height)
        return false;
    levels[bar] = set ? HarmonicsClickLevel(row, height, displayScale) : 0.0f;
    return true;
}

} // namespace

bool StrokeHarmonics(float* levels, HarmonicsPoint from, HarmonicsPoint to, int height, float displayScale,
                     bool set)
{
    const int fromBar = BarColumn(from.x);
    const int toBar = BarColumn(to.x);
    bool touched = SetBar(levels, fromBar, from.y, height, displayScale, set);
    // The bars strictly between the two ends: their centres lie strictly
    // between the two x, so the line has a row there.
    const int first = std::max(std::min(fromBar, toBar) + 1, 0);
    const int last = std::min(std::max(fromBar, toBar) - 1, NUM_PARTIALS - 1);
    const double x0 = from.x, y0 = from.y;
    const double slope = (static_cast<double>(to.y) - y0) / (static_cast<double>(to.x) - x0);
    for (int bar = first; bar <= last; ++bar) {
        const double centre = HARMONICS_BAR_WIDTH * bar + HARMONICS_BAR_WIDTH / 2;
        const long row = std::lround(y0 + (centre - x0) * slope);
        touched |= SetBar(levels, bar, static_cast<int>(std::clamp(row, -1L, static_cast<long>(height))), height,
                          displayScale, set);
    }
    touched |= SetBar(levels, toBar, to.y, height, displayScale, set);
    return touched;
}

float SpectrumSum(const float* levels)
{
    // One float accumulator in partial order: the figure must read the same
    // as the one the user saw before (float addition is not associative).
    float sum = 0.0f;
    for (int h = 0; h < NUM_PARTIALS; ++h)
        sum += levels[h];
    return sum;
}

bool NormalizeLevels(float* levels, int targetPolyphony)
{
    if (targetPolyphony < 1)
        return false;
    const float sum = SpectrumSum(levels);
    const float d = static_cast<float>(static_cast<double>(targetPolyphony) * static_cast<double>(sum));
    if (d != 1.0f && d != 0.0f)
        for (int h = 0; h < NUM_PARTIALS; ++h)
            levels[h] = levels[h] / d;
    return true;
}

const char* HarmonicWaveformName(int waveform)
{
    static const char* const names[NUM_HARMONIC_WAVEFORMS] = {"Square", "Saw", "Triangle", "Noise"};
    if (waveform < 0 || waveform >= NUM_HARMONIC_WAVEFORMS)
        return "";
    return names[waveform];
}

HarmonicSpectrum WaveformSpectrum(int waveform)
{
    HarmonicSpectrum s{};
    for (int i = 0; i < NUM_PARTIALS; ++i) {
        const int n = i + 1;
        switch (waveform) {
        case 0: // Square: odd harmonics at 1/n
            if (i % 2 == 0)
                s.level[i] = 1.0f / static_cast<float>(n);
            break;
        case 1: // Saw: every harmonic at 1/n
            s.level[i] = 1.0f / static_cast<float>(n);
            break;
        case 2: // Triangle: every fourth harmonic at 1/n^2
            if (i % 4 == 0)
                s.level[i] = 1.0f / static_cast<float>(n * n);
            break;
        case 3: // Noise: every harmonic at full level
            s.level[i] = 1.0f;
            break;
        default:
            break;
        }
    }
    return s;
}
