#pragma once
// The last guard between the render and the device or a file. The render has
// no limiter, so a sound drawn loud enough (levels near the largest float, or
// partials that sum beyond it) overflows to infinity, and infinity minus
// infinity is NaN; a device handed NaN goes silent or worse, and a WAV file
// keeps it. Such samples become 0 here. The render's peaks already count them
// as over full scale, so the meters show the overload.
//
// Any thread; on the rendering thread after each block: it allocates nothing,
// takes no lock and touches only the buffer.

#include <cmath>
#include <cstddef>

// Replaces every sample that is not a finite number by 0. Returns how many it
// replaced: a buffer with any went over full scale.
inline size_t SilenceNonFinite(float* samples, size_t count)
{
    size_t replaced = 0;
    for (size_t i = 0; i < count; ++i) {
        if (!std::isfinite(samples[i])) {
            samples[i] = 0.0f;
            ++replaced;
        }
    }
    return replaced;
}
