#pragma once
// The arithmetic behind the harmonics editor and the whole-spectrum
// operations: which bar a click hits and the level it sets, how tall a bar is
// drawn, the sum behind the two figures (peak level, safe polyphony),
// normalising for a target polyphony and the spectra of the classic
// waveforms. No window: the editor panel and the tests both call these. GUI
// thread.

#include "synth/SynthState.h"

// Each of the 128 bars is 5 pixels wide, so the editor is 640 pixels wide.
constexpr int HARMONICS_BAR_WIDTH = 5;
constexpr int HARMONICS_EDITOR_WIDTH = NUM_PARTIALS * HARMONICS_BAR_WIDTH;

// The bar under x, or -1 when x lies left or right of all 128 bars.
int HarmonicsBarAt(int x);
// The level a left click on row y sets in an editor `height` pixels high:
// (height - y) / height / scale in single precision, so the top row sets
// 1 / scale and the bottom row 1 / (height * scale).
float HarmonicsClickLevel(int y, int height, float displayScale);
// The height in pixels of the bar of `level`: level * height * scale,
// truncated toward zero (kept within +-1e6 so that a wild level read from a
// patch still draws as a clipped bar).
int HarmonicsBarHeight(float level, int height, float displayScale);

// A pointer position in editor pixels.
struct HarmonicsPoint {
    int x = 0;
    int y = 0;
};
// One stretch of a stroke: the pointer moved from `from` to `to` with a
// button held, in an editor `height` pixels high. Every bar from the one under
// `from` to the one under `to` is set (left button, `set`) or cleared (right
// button) along the straight line between the two points: the end bars take
// the level of their point, a bar between them the level of the row the line
// crosses at its centre, rounded to the nearest row, so fast moves leave no
// gaps. A bar whose point lies above or below the editor, or a point left or
// right of the 128 bars, changes nothing. Returns whether any bar was set.
bool StrokeHarmonics(float* levels, HarmonicsPoint from, HarmonicsPoint to, int height, float displayScale,
                     bool set);

// The sum of the 128 levels, added from partial 1 upward into a float: the
// highest amplitude one note of this spectrum can reach.
float SpectrumSum(const float* levels);
// The window's texts of the two figures are in the window's library
// (controls/SpectrumTexts.h).

// Scales `levels` so that they sum to 1 / targetPolyphony: every level is
// divided by d = target * sum (rounded to float) unless d is 0 or 1. Returns
// false, changing nothing, when the target is below 1; true otherwise (the
// editor then reports the spectrum, changed or not).
bool NormalizeLevels(float* levels, int targetPolyphony);

// The choices of the harmonic waveform: 0 "Square", 1 "Saw", 2 "Triangle",
// 3 "Noise".
constexpr int NUM_HARMONIC_WAVEFORMS = 4;
const char* HarmonicWaveformName(int waveform);
// The magnitudes of a classic waveform's partials (no phases): Square 1/n on
// odd n, Saw 1/n on every n, Triangle 1/n^2 on n = 1, 5, 9, ..., Noise 1.0
// everywhere. Any other index gives 128 zeros.
HarmonicSpectrum WaveformSpectrum(int waveform);
