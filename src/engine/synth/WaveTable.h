#pragma once
// Seven single-cycle wave shapes of 32768 points each, and the frequency of
// every MIDI note. Built once when its engine is made; read-only after
// that, so any thread may read them without coordination.

#include <cstdint>
#include <memory>

constexpr int WAVE_TABLE_LENGTH = 32768;
constexpr int NUM_WAVEFORMS = 7;

class WaveTable {
public:
    // Allocates the zero-filled block (7 x 32768 floats) and builds it.
    WaveTable();

    // Fills all seven shapes in one pass over the positions.
    void Build();

    static int GetNumWaveforms() { return NUM_WAVEFORMS; }
    // "Invalid - Index Out of Range" for an index outside 0 to 6.
    static const char* GetWaveformName(int index);

    // Shape k occupies entries k * 32768 to k * 32768 + 32767.
    const float* Data() const { return data_.get(); }
    const float* Shape(int index) const { return data_.get() + index * WAVE_TABLE_LENGTH; }
    float At(int shape, int position) const { return data_[shape * WAVE_TABLE_LENGTH + position]; }
    // Whether the sine shape (shape 0) is half-mirrored (see IsHalfMirrored):
    // found by Build.
    bool SineHalfMirrored() const { return sineHalfMirrored_; }

private:
    std::unique_ptr<float[]> data_;
    bool sineHalfMirrored_ = false;
};

// Whether each half of a shape of WAVE_TABLE_LENGTH points is symmetric about
// its middle, bit for bit: entry h + r equals entry h + 16384 - r for h = 0
// and 16384 and r = 1 to 8191. The sine Build makes is (sin(pi - x) and
// sin(3 pi - x) round to the same floats as sin x with this library), so a
// reader may take every value of a half from the first quarter of it: the
// same values from half the memory.
bool IsHalfMirrored(const float* shape);

// Frequency in Hz of a MIDI note from the fixed table; 0.0 for any number
// outside 0 to 127.
double NoteFrequency(unsigned note);
