#pragma once
// The words the renderer prints about a render it finished. Any thread.

#include <cstddef>
#include <string>

// How the render's pace compares with real time: "12.5x faster than real
// time", or "2.0x slower than real time" when it took longer than the sound
// lasts.
std::string PaceText(double audioSeconds, double elapsedSeconds);

// The largest magnitude among `count` samples and `peak`, the peak so far.
float Peak(const float* samples, size_t count, float peak);

// The warning for a sound whose peak went over full scale (1.0), which a
// player or a converter to integer samples clips; empty when it did not.
std::string FullScaleWarning(float peak);
