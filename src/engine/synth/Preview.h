#pragma once
// One cycle of the waveform a spectrum makes, as the two small previews under
// the harmonics editor show it. Pure arithmetic on the GUI thread: no window.

#include "SynthState.h"
#include "WaveTable.h"

// Samples in one preview cycle, and the width in pixels of a preview panel.
constexpr int PREVIEW_LENGTH = 120;

struct PreviewCycle {
    float sample[PREVIEW_LENGTH];
};

// Sums every partial of `levels` (128 floats) from the sine shape, 120 samples
// stepping (h + 1) * 32768 / 120 table positions per sample (truncated, so the
// cycle covers 32760 of 32768 positions), then clamps the sum to -1..1. Every
// partial takes part, also those at level 0; partials above 60 fold back.
PreviewCycle ComputePreviewCycle(const float* levels, const WaveTable& waves);

// The pixel row of sample v in a preview `height` pixels high: 1 on row 0,
// 0 on the centre row, -1 on row `height`.
int PreviewRow(float v, int height);
