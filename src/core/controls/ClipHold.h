#pragma once
// How long a meter keeps saying that its channel went over full scale: a
// level beyond 1.0 (or one that is not a number) lights the warning, which
// stays lit for holdMs after the last such level, so that a short overload is
// seen. Pure arithmetic; the meter feeds it the time. Any one thread.

#include <cstdint>
#include <limits>

class ClipHold {
public:
    static constexpr int64_t kDefaultHoldMs = 1000;

    explicit ClipHold(int64_t holdMs = kDefaultHoldMs) : holdMs_(holdMs) {}

    // A level read at nowMs (a clock that only moves forward); returns
    // whether the warning shows.
    bool Update(float level, int64_t nowMs)
    {
        if (!(level <= 1.0f))
            until_ = nowMs + holdMs_;
        return nowMs < until_;
    }

private:
    int64_t holdMs_;
    int64_t until_ = std::numeric_limits<int64_t>::min();
};
