#include "MidiSchedule.h"

#include <algorithm>
#include <cmath>

bool MidiSchedule::Push(const TimedMidiMessage& message)
{
    const uint64_t head = head_.load(std::memory_order_relaxed);
    if (head - tail_.load(std::memory_order_acquire) >= kCapacity) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    ring_[head % kCapacity] = message;
    head_.store(head + 1, std::memory_order_release);
    return true;
}

int64_t MidiSchedule::FrameIn(const TimedMidiMessage& message, const BufferClock& clock)
{
    if (message.hasJackFrame && clock.hasJackFrame) {
        // JACK's frame count wraps at 2^32: the distance is taken modulo.
        const auto since = static_cast<int32_t>(message.jackFrame - clock.jackFrame);
        return static_cast<int64_t>(since) + clock.frames;
    }
    const double seconds = static_cast<double>(message.nanoseconds - clock.startNanoseconds) * 1e-9;
    return static_cast<int64_t>(std::floor(seconds * clock.sampleRate)) + clock.frames;
}

size_t MidiSchedule::Take(const BufferClock& clock, EngineEvent* events, size_t room)
{
    uint64_t tail = tail_.load(std::memory_order_relaxed);
    const uint64_t head = head_.load(std::memory_order_acquire);
    const auto farAhead = static_cast<int64_t>(clock.frames) +
                          static_cast<int64_t>(kMaxAheadSeconds * clock.sampleRate);
    size_t count = 0;
    uint32_t last = 0;
    for (; tail != head && count < room; ++tail) {
        const TimedMidiMessage& m = ring_[tail % kCapacity];
        int64_t frame = FrameIn(m, clock);
        if (frame >= clock.frames && frame <= farAhead)
            break; // due in a later buffer, and so is everything after it
        if (frame < 0 || frame > farAhead)
            frame = 0; // late, or stamped by a clock that jumped: now
        // Order is kept: a message never plays before the one before it.
        last = std::max(last, static_cast<uint32_t>(frame));
        EngineEvent& e = events[count++];
        e.frame = last;
        e.size = m.size;
        std::copy(m.bytes, m.bytes + 3, e.bytes);
    }
    tail_.store(tail, std::memory_order_release);
    return count;
}

void MidiSchedule::Clear() { tail_.store(head_.load(std::memory_order_acquire), std::memory_order_release); }

int64_t AudioClock::Update(int64_t nowNanoseconds, uint32_t frames, double sampleRate)
{
    const double now = static_cast<double>(nowNanoseconds);
    const double period = 1e9 * frames / sampleRate;
    const double error = now - t1_;
    if (!started_ || frames != frames_ || std::fabs(error) > 4 * period) {
        // Fons Adriaensen's loop, "Using a DLL to filter time" (2005).
        const double omega = 2 * M_PI * 1.0 * (period * 1e-9);
        b_ = std::sqrt(2.0) * omega;
        c_ = omega * omega;
        period_ = period;
        frames_ = frames;
        t0_ = now;
        t1_ = now + period;
        started_ = true;
        return nowNanoseconds;
    }
    t0_ = t1_;
    t1_ += b_ * error + period_;
    period_ += c_ * error;
    return static_cast<int64_t>(t0_);
}
