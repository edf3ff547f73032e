#include "ParameterSliders.h"

#include <wx/defs.h>

#include "app/ControlIds.h"
#include "controls/SliderMath.h"
#include "synth/SynthState.h"

namespace {

// Whole milliseconds or percent: the slider's value truncated toward zero,
// shown right-aligned in three characters.
template <Relaxed<int32_t> SynthState::*parameter>
ParameterSlider WholeNumber(int sliderId, const char* caption, float maximum)
{
    return {sliderId, wxID_STATIC, caption, maximum,
            [](const SynthState& s) { return static_cast<float>((s.*parameter).load()); },
            [](SynthState& s, float position) { s.*parameter = SliderEventInt(position); },
            [](const SynthState& s) { return wxString::Format("%3d", static_cast<int>((s.*parameter).load())); }};
}

} // namespace

const std::array<ParameterSlider, NUM_PARAMETER_SLIDERS> PARAMETER_SLIDERS = {
    WholeNumber<&SynthState::attackMs>(ID_ATTACK_SLIDER, "Attack (msec):", 1000.0f),
    WholeNumber<&SynthState::decayMs>(ID_DECAY_SLIDER, "Decay (msec):", 1000.0f),
    WholeNumber<&SynthState::sustainPercent>(ID_SUSTAIN_SLIDER, "Sustain (percent):", 100.0f),
    WholeNumber<&SynthState::releaseMs>(ID_RELEASE_SLIDER, "Release (msec):", 1000.0f),
    // Tenths of a hertz on the slider, 0 to 20 Hz, divided without rounding.
    ParameterSlider{ID_LFO_FREQUENCY, ID_LFO_FREQUENCY_LABEL, "LFO Freq (Hz):", 200.0f,
                    [](const SynthState& s) { return s.lfoFrequency * 10.0f; },
                    [](SynthState& s, float position) { s.lfoFrequency = position / 10.0f; },
                    [](const SynthState& s) {
                        return wxString::Format("%3.1f", static_cast<double>(s.lfoFrequency.load()));
                    }},
};

const ParameterSlider* FindParameterSlider(int sliderId)
{
    for (const ParameterSlider& row : PARAMETER_SLIDERS)
        if (row.sliderId == sliderId)
            return &row;
    return nullptr;
}
