#include "Engine.h"

#include <algorithm>
#include <cmath>

#include "FloatEnvironment.h"

namespace {

// The bytes of a channel message with this status: Program Change and Channel
// Pressure carry one data byte, the other kinds two.
uint32_t ChannelMessageSize(uint8_t status)
{
    return (status & 0xE0) == 0xC0 ? 2 : 3;
}

} // namespace

void EngineMidi::Target::SetNoteVelocity(int note, float velocity) { synth_.SetNoteVelocity(note, velocity); }

void EngineMidi::Target::NoteOn(int note, bool) { synth_.StartNote(note); }

void EngineMidi::Target::NoteOff(int note, bool) { synth_.ReleaseNote(note); }

void EngineMidi::Target::AllNotesOff(bool)
{
    for (int note = 0; note < NUM_NOTES; ++note)
        if (synth_.IsKeyDown(note))
            synth_.ReleaseNote(note);
}

void EngineMidi::Target::SetModWheelFromMidi(int value)
{
    synth_.SetModWheelDepth(SynthState::ModWheelDepthFromValue(value));
}

void EngineMidi::Target::SetPitchWheelFromMidi(int value) { synth_.SetPitchWheel(static_cast<float>(value)); }

EngineMidi::EngineMidi(SynthState& synth) : target_(synth), decoder_(target_) {}

void EngineMidi::Apply(const uint8_t* bytes, uint32_t size)
{
    if (size < 1 || size > 3)
        return;
    uint8_t b[3] = {bytes[0], 0, 0};
    // A channel message plays on the decoder's channel 1, whatever its own.
    if (b[0] >= 0x80 && b[0] < 0xF0) {
        if (size < ChannelMessageSize(b[0]))
            return;
        b[0] &= 0xF0;
    }
    for (uint32_t i = 1; i < size; ++i)
        b[i] = bytes[i];
    decoder_.Decode(b, size);
}

Engine::Engine(const EngineOptions& options) : synth_(options.helperThread)
{
    synth_.SetSampleRate(options.sampleRate);
}

template <class Sink>
void Engine::RenderPieces(uint32_t frames, const EngineEvent* events, size_t count, Sink sink)
{
    if (resetGrid_.exchange(false, std::memory_order_acquire))
        gridPosition_ = 0;
    size_t next = 0;
    uint32_t done = 0;
    while (done < frames) {
        // Everything due by now, late ones (out of order) included.
        while (next < count && events[next].frame <= done) {
            midi_.Apply(events[next].bytes, events[next].size);
            ++next;
        }
        uint32_t end = frames;
        if (next < count)
            end = std::min(end, events[next].frame);
        const uint64_t toGrid = MAX_FRAMES - gridPosition_ % MAX_FRAMES;
        end = static_cast<uint32_t>(std::min<uint64_t>(end, done + toGrid));
        sink(done, end - done);
        gridPosition_ += end - done;
        done = end;
    }
    // At or past the block's end: heard from the next block's first frame.
    for (; next < count; ++next)
        midi_.Apply(events[next].bytes, events[next].size);
}

void Engine::ApplyVolume(float* piece, uint32_t frames)
{
    const float dB = synth_.Snapshot().volumeDb;
    if (!volumeStarted_ || dB != volumeDb_) {
        const auto to = static_cast<float>(std::pow(10.0, static_cast<double>(dB) / 20.0));
        volumeDb_ = dB;
        if (volumeStarted_) {
            glideFrom_ = gain_;
            glideTo_ = to;
            glideDone_ = 0;
        } else {
            gain_ = to; // nothing heard yet: no glide
        }
        volumeStarted_ = true;
    }
    if (glideDone_ == kVolumeGlideFrames && gain_ == 1.0f)
        return; // 0 dB: the render's output as it is
    const marovane_fp::FixedEnvironment environment;
    const float span = glideTo_ - glideFrom_;
    for (uint32_t i = 0; i < frames; ++i) {
        if (glideDone_ < kVolumeGlideFrames) {
            ++glideDone_;
            gain_ = glideDone_ == kVolumeGlideFrames
                        ? glideTo_
                        : glideFrom_ + span * (static_cast<float>(glideDone_) / static_cast<float>(kVolumeGlideFrames));
        }
        piece[2 * i] *= gain_;
        piece[2 * i + 1] *= gain_;
    }
}

void Engine::Render(float* left, float* right, uint32_t frames, const EngineEvent* events, size_t count)
{
    RenderPieces(frames, events, count, [&](uint32_t at, uint32_t n) {
        synth_.Render(piece_, n);
        ApplyVolume(piece_, n);
        for (uint32_t i = 0; i < n; ++i) {
            left[at + i] = piece_[2 * i];
            right[at + i] = piece_[2 * i + 1];
        }
    });
}

void Engine::RenderInterleaved(float* out, uint32_t frames, const EngineEvent* events, size_t count)
{
    RenderPieces(frames, events, count, [&](uint32_t at, uint32_t n) {
        float* piece = out + 2 * static_cast<size_t>(at);
        synth_.Render(piece, n);
        ApplyVolume(piece, n);
    });
}
