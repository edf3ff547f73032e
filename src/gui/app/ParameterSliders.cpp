#include "ParameterSliders.h"

#include <wx/defs.h>

#include "app/ControlIds.h"
#include "controls/SliderMath.h"
#include "synth/SynthState.h"

namespace {

// Whole milliseconds or percent: the slider's value truncated toward zero,
// shown right-aligned in three characters; a slider step is one unit.
template <ParamId id>
ParameterSlider WholeNumber(int sliderId, const char* caption)
{
    static_assert(Parameter(id).integer && Parameter(id).minimum == 0.0f, "a whole-number slider from 0");
    return {id,
            sliderId,
            wxID_STATIC,
            caption,
            Parameter(id).maximum,
            [](const SynthState& s) { return s.Parameter(id); },
            [](SynthState& s, float position) { s.SetParameter(id, static_cast<float>(SliderEventInt(position))); },
            [](const SynthState& s) { return wxString::Format("%3d", static_cast<int>(s.Parameter(id))); }};
}

// The LFO frequency in tenths of a hertz on the slider, divided without
// rounding.
constexpr float kLfoSteps = 10.0f;
static_assert(!Parameter(ParamId::LfoFrequency).integer && Parameter(ParamId::LfoFrequency).minimum == 0.0f,
              "a slider of tenths from 0");

// The output volume in tenths of a decibel on the slider, counted from its
// bottom end (-60 dB at position 0).
constexpr float kVolumeSteps = 10.0f;
constexpr float kVolumeBottom = Parameter(ParamId::Volume).minimum;
static_assert(!Parameter(ParamId::Volume).integer && kVolumeBottom < 0.0f, "a slider of tenths from the bottom end");

} // namespace

const std::array<ParameterSlider, NUM_PARAMETER_SLIDERS> PARAMETER_SLIDERS = {
    ParameterSlider{ParamId::Volume, ID_VOLUME_SLIDER, ID_VOLUME_LABEL, "Volume (dB):",
                    (Parameter(ParamId::Volume).maximum - kVolumeBottom) * kVolumeSteps,
                    [](const SynthState& s) { return (s.volumeDb - kVolumeBottom) * kVolumeSteps; },
                    [](SynthState& s, float position) {
                        s.SetParameter(ParamId::Volume,
                                       static_cast<float>(SliderEventInt(position)) / kVolumeSteps + kVolumeBottom);
                    },
                    [](const SynthState& s) {
                        return wxString::Format("%.1f", static_cast<double>(s.volumeDb.load()));
                    }},
    WholeNumber<ParamId::Attack>(ID_ATTACK_SLIDER, "Attack (msec):"),
    WholeNumber<ParamId::Decay>(ID_DECAY_SLIDER, "Decay (msec):"),
    WholeNumber<ParamId::Sustain>(ID_SUSTAIN_SLIDER, "Sustain (percent):"),
    WholeNumber<ParamId::Release>(ID_RELEASE_SLIDER, "Release (msec):"),
    ParameterSlider{ParamId::LfoFrequency, ID_LFO_FREQUENCY, ID_LFO_FREQUENCY_LABEL, "LFO Freq (Hz):",
                    Parameter(ParamId::LfoFrequency).maximum * kLfoSteps,
                    [](const SynthState& s) { return s.lfoFrequency * kLfoSteps; },
                    [](SynthState& s, float position) {
                        s.SetParameter(ParamId::LfoFrequency, position / kLfoSteps);
                    },
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
