#include "MidiSchedule.h"

#include <algorithm>
#include <cmath>

void MidiSchedule::Note(const TimedMidiMessage& m)
{
    if (m.size < 2)
        return;
    const uint8_t kind = m.bytes[0] & 0xF0;
    const uint8_t d1 = m.bytes[1] & 0x7F;
    const uint8_t d2 = m.size > 2 ? m.bytes[2] & 0x7F : 0;
    if (kind == 0x90 && d2 > 0) {
        held_[d1].store(d2, std::memory_order_relaxed);
        touched_[d1].store(true, std::memory_order_relaxed);
    } else if (kind == 0x80 || kind == 0x90) {
        held_[d1].store(0, std::memory_order_relaxed);
    } else if (kind == 0xB0 && d1 == 123 && d2 == 0) {
        for (auto& h : held_)
            h.store(0, std::memory_order_relaxed);
    } else if (kind == 0xB0 && d1 == 1) {
        modWheel_.store(d2 + 1, std::memory_order_relaxed);
    } else if (kind == 0xE0) {
        bend_.store(d2 + 1, std::memory_order_relaxed);
    }
}

bool MidiSchedule::Push(const TimedMidiMessage& message)
{
    Note(message);
    const uint64_t head = head_.load(std::memory_order_relaxed);
    if (head - tail_.load(std::memory_order_acquire) >= kCapacity) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        overflowed_.store(true, std::memory_order_release);
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
    // After a drop, once everything queued before it has played: the state
    // MIDI left, from the last frame on. (A drop after this restore is
    // restored at a later buffer.)
    if (tail == head && overflowed_.exchange(false, std::memory_order_acq_rel))
        count += Restore(count > 0 ? last : 0, events + count, room - count);
    return count;
}

size_t MidiSchedule::Restore(uint32_t frame, EngineEvent* events, size_t room)
{
    size_t count = 0;
    const auto put = [&](uint8_t status, uint8_t data1, uint8_t data2) {
        if (count < room)
            events[count++] = EngineEvent{frame, 3, {status, data1, data2}};
    };
    for (uint8_t note = 0; note < 128; ++note) {
        if (!touched_[note].load(std::memory_order_relaxed))
            continue;
        const uint8_t velocity = held_[note].load(std::memory_order_relaxed);
        if (velocity > 0) {
            put(0x90, note, velocity);
        } else {
            put(0x80, note, 0);
            touched_[note].store(false, std::memory_order_relaxed);
        }
    }
    if (const int bend = bend_.load(std::memory_order_relaxed))
        put(0xE0, 0, static_cast<uint8_t>(bend - 1));
    if (const int wheel = modWheel_.load(std::memory_order_relaxed))
        put(0xB0, 1, static_cast<uint8_t>(wheel - 1));
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
