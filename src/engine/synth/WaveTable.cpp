#include "WaveTable.h"

#include "Parameters.h"

#include <cmath>
#include <cstring>
#include <iterator>

namespace {

constexpr double kTwoPi = 6.283185307179586;

// 440 Hz x 2^((n - 69) / 12), written out to three decimals (two from note
// 124 on). The engine's pitches are these numbers, not the formula.
constexpr double kNoteFrequency[128] = {
    8.176, 8.662, 9.177, 9.723, 10.301, 10.913, 11.562, 12.250,
    12.978, 13.750, 14.568, 15.434, 16.352, 17.324, 18.354, 19.445,
    20.602, 21.827, 23.125, 24.500, 25.957, 27.500, 29.135, 30.868,
    32.703, 34.648, 36.708, 38.891, 41.203, 43.654, 46.249, 48.999,
    51.913, 55.000, 58.270, 61.735, 65.406, 69.296, 73.416, 77.782,
    82.407, 87.307, 92.499, 97.999, 103.826, 110.000, 116.541, 123.471,
    130.813, 138.591, 146.832, 155.563, 164.814, 174.614, 184.997, 195.998,
    207.652, 220.000, 233.082, 246.942, 261.626, 277.183, 293.665, 311.127,
    329.628, 349.228, 369.994, 391.995, 415.305, 440.000, 466.164, 493.883,
    523.251, 554.365, 587.330, 622.254, 659.255, 698.456, 739.989, 783.991,
    830.609, 880.000, 932.328, 987.767, 1046.502, 1108.731, 1174.659, 1244.508,
    1318.510, 1396.913, 1479.978, 1567.982, 1661.219, 1760.000, 1864.655, 1975.533,
    2093.005, 2217.461, 2349.318, 2489.016, 2637.020, 2793.826, 2959.955, 3135.963,
    3322.438, 3520.000, 3729.310, 3951.066, 4186.009, 4434.922, 4698.636, 4978.032,
    5274.041, 5587.652, 5919.911, 6271.927, 6644.875, 7040.000, 7458.620, 7902.133,
    8372.018, 8869.844, 9397.273, 9956.063, 10548.08, 11175.30, 11839.82, 12543.85,
};

// The shapes' names are the LFO choice's (Parameters.h).
static_assert(std::size(kLfoShapeNames) == NUM_WAVEFORMS, "a name for each shape");

} // namespace

WaveTable::WaveTable() : data_(new float[NUM_WAVEFORMS * WAVE_TABLE_LENGTH]()) { Build(); }

void WaveTable::Build()
{
    float* sine = data_.get();
    float* square = sine + 1 * WAVE_TABLE_LENGTH;
    float* saw = sine + 2 * WAVE_TABLE_LENGTH;
    float* triangle = sine + 3 * WAVE_TABLE_LENGTH;
    float* sinc = sine + 4 * WAVE_TABLE_LENGTH;
    float* pulse = sine + 5 * WAVE_TABLE_LENGTH;
    float* trapezoid = sine + 6 * WAVE_TABLE_LENGTH;

    // The saw's turning point is compared and divided as a float.
    const float sawTop = 31129.6f;
    const double third = 10922.666666666666;
    const double twoThirds = 21845.333333333332;

    for (int i = 0; i < WAVE_TABLE_LENGTH; ++i) {
        sine[i] = static_cast<float>(std::sin(i / 32768.0 * kTwoPi));
        square[i] = i < 16384 ? 1.0f : 0.0f;
        if (static_cast<float>(i) < sawTop)
            saw[i] = static_cast<float>(i / static_cast<double>(sawTop));
        else
            saw[i] = static_cast<float>(1.0 - (i - static_cast<double>(sawTop)) / 1638.0);
        if (i < 16384)
            triangle[i] = static_cast<float>(2.0 * i / 32768.0 * 2.0 - 1.0);
        else
            triangle[i] = static_cast<float>(1.0 - 2.0 * (i - 16384) / 32768.0 * 2.0);
        sinc[i] = std::fabs(sine[i]);
        pulse[i] = i < 8192 ? 1.0f : 0.0f;
        if (i < 10922)
            trapezoid[i] = static_cast<float>(i / third);
        else if (i < 21845)
            trapezoid[i] = 1.0f;
        else
            trapezoid[i] = static_cast<float>((i - twoThirds) / third);
    }
    sineHalfMirrored_ = IsHalfMirrored(sine);
}

bool IsHalfMirrored(const float* shape)
{
    constexpr int kHalf = WAVE_TABLE_LENGTH / 2;
    for (int h = 0; h < WAVE_TABLE_LENGTH; h += kHalf)
        for (int r = 1; r < kHalf / 2; ++r)
            if (std::memcmp(&shape[h + r], &shape[h + kHalf - r], sizeof(float)) != 0)
                return false;
    return true;
}

const char* WaveTable::GetWaveformName(int index)
{
    if (index < 0 || index >= NUM_WAVEFORMS)
        return "Invalid - Index Out of Range";
    return kLfoShapeNames[index];
}

double NoteFrequency(unsigned note)
{
    return note < 128 ? kNoteFrequency[note] : 0.0;
}
