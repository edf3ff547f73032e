#include "Preview.h"

PreviewCycle ComputePreviewCycle(const float* levels, const WaveTable& waves)
{
    PreviewCycle cycle{};
    const float* sine = waves.Shape(0);
    for (int h = 0; h < NUM_PARTIALS; ++h) {
        const int step = (h + 1) * WAVE_TABLE_LENGTH / PREVIEW_LENGTH;
        // The position is a float holding whole numbers below 65536: exact.
        float pos = 0.0f;
        for (int i = 0; i < PREVIEW_LENGTH; ++i) {
            cycle.sample[i] = levels[h] * sine[static_cast<int>(pos)] + cycle.sample[i];
            pos = pos + static_cast<float>(step);
            while (pos >= static_cast<float>(WAVE_TABLE_LENGTH))
                pos -= static_cast<float>(WAVE_TABLE_LENGTH);
        }
    }
    for (float& v : cycle.sample) {
        if (v < -1.0f)
            v = -1.0f;
        else if (v > 1.0f)
            v = 1.0f;
    }
    return cycle;
}

int PreviewRow(float v, int height)
{
    const double half = height / 2.0;
    return static_cast<int>(half - static_cast<double>(static_cast<float>(half) * v));
}
