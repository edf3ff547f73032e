#pragma once
// How the harmonics editor reports new spectra: the main window implements
// this, copies both spectra into the synthesis state and redraws the two
// waveform previews. GUI thread.

class HarmonicsCallback {
public:
    virtual ~HarmonicsCallback() = default;
    // attack and sustain each point to 128 levels owned by the caller; the
    // receiver copies them before it returns.
    virtual void OnHarmonicsChanged(const float* attack, const float* sustain) = 0;
};
