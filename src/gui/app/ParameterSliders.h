#pragma once
// The volume, envelope and LFO sliders of the main window as one table: each row a
// caption, a slider, its value text with its format, and the parameter of the
// synthesis state it sets. Building the controls, showing a loaded patch and
// the sliders' scroll handler all go through the table. GUI thread.

#include <array>

#include <wx/string.h>

#include "synth/Parameters.h"

class SynthState;
class wxBitmapSlider;
class wxStaticText;

struct ParameterSlider {
    ParamId parameter; // its range comes from the parameter table
    int sliderId;
    int labelId; // the value text's identifier (most share the static one)
    const char* caption;
    float maximum; // the slider runs from 0: the parameter's range in slider steps
    // Where the slider stands for the parameter's value.
    float (*position)(const SynthState& synth);
    // Stores the parameter for a slider position.
    void (*store)(SynthState& synth, float position);
    // The value text of the parameter's value.
    wxString (*text)(const SynthState& synth);
};

constexpr int NUM_PARAMETER_SLIDERS = 6;
// Volume, attack, decay, sustain, release, LFO frequency, in the window's
// order.
extern const std::array<ParameterSlider, NUM_PARAMETER_SLIDERS> PARAMETER_SLIDERS;

// The row of a slider identifier, or null.
const ParameterSlider* FindParameterSlider(int sliderId);

// The controls of one row, once created.
struct ParameterSliderControls {
    wxBitmapSlider* slider = nullptr;
    wxStaticText* label = nullptr;
};
