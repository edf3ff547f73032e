// The instrument as a plugin, for every format the framework builds (LV2,
// VST3, CLAP): one Engine per instance, rendered by the host's audio thread.
// run() only translates: the parameters into the engine's, the MIDI events
// into the engine's timed events, and the engine's block into the two
// outputs. The engine cuts the block at every event's frame and at its
// 256-frame grid, which activate() restarts, so a host playing in blocks of
// whole multiples of 256 frames hears what marovane-render writes, bit for
// bit.
//
// Threads, as the framework calls them: the constructor, activate and
// deactivate on the host's main thread; run() and setParameterValue on the
// audio thread (setParameterValue also on the main thread while nothing
// runs); getParameterValue anywhere; setState off the audio thread (LV2's
// worker or restore, CLAP's and VST3's main thread), one call at a time (the
// LV2 wrapper serialises its two callers: dpf-patches/0002). The framework
// keeps the state's text itself and saves it for us; VST3's and CLAP's
// process() never read that text, and LV2's run() reads its own copy handed
// over without a lock (0002). SetSpectra is the engine's hand-over, which
// the render takes at a buffer's start.
//
// The tuning (the "scale" and "keymap" states, Scala texts) is read in
// setState, off the audio thread, into a table of 128 frequencies handed to
// the engine whole (SetTuning), which the render takes at a buffer's start.
// A text that cannot be read keeps the tuning in use; an empty scale is
// twelve equal steps.
//
// The sample rate: LV2 gives the host's rate to the constructor (and a new
// one through its options to sampleRateChanged); VST3 and CLAP construct with
// a default and give the real rate to sampleRateChanged (in setupProcessing
// and activate). The framework calls it while nothing renders. The engine runs at rates of
// 8000 to 192000 Hz; at any other rate the plugin plays silence (the LV2
// module refuses to start at one: PluginLv2.cpp).

#include "DistrhoPlugin.hpp"

#include <cmath>
#include <cstring>

#include "PluginParameters.h"
#include "PluginState.h"
#include "synth/Engine.h"
#include "synth/OutputGuard.h"
#include "tuning/Tuning.h"

START_NAMESPACE_DISTRHO

using namespace marovane_plugin;

namespace {
constexpr double kMinRate = 8000;
constexpr double kMaxRate = 192000;

bool RateSupported(double rate) { return rate >= kMinRate && rate <= kMaxRate; }
// Events handed to the engine per call; a block with more is rendered in as
// many calls, which the engine's grid does not see.
constexpr uint32_t kEventBatch = 512;

int32_t EngineRate(double rate)
{
    return RateSupported(rate) ? static_cast<int32_t>(std::lround(rate)) : SAMPLE_RATE;
}
} // namespace

class PluginDsp final : public Plugin {
public:
    PluginDsp()
        : Plugin(kPluginParamCount, 0, kStateCount), engine_(EngineOptions{EngineRate(getSampleRate()), false}),
          rateSupported_(RateSupported(getSampleRate()))
    {
    }

protected:
    const char* getLabel() const override { return "Marovane"; }
    const char* getDescription() const override
    {
        return "A polyphonic additive synthesizer: up to 128 sine partials per note, morphing from an attack "
               "spectrum to a sustain spectrum, with a linear envelope and a tremolo LFO.";
    }
    const char* getMaker() const override { return "Marovane"; }
    const char* getLicense() const override { return "MIT"; }
    uint32_t getVersion() const override { return d_version(1, 0, 0); }
    int64_t getUniqueId() const override { return d_cconst('M', 'r', 'v', 'n'); }

    void initParameter(uint32_t index, Parameter& parameter) override
    {
        if (index >= kPluginParamCount)
            return;
        const PluginParam& p = kPluginParams[index];
        parameter.hints = kParameterIsAutomatable;
        if (p.kind == PluginParamKind::ModWheel) {
            parameter.name = kModWheelLabel;
            parameter.symbol = kModWheelSymbol;
            parameter.ranges = ParameterRanges(0.0f, 0.0f, 1.0f);
            return;
        }
        const ParameterInfo& info = ::Parameter(p.sound);
        parameter.name = info.label;
        parameter.symbol = info.symbol;
        parameter.unit = info.unit;
        parameter.ranges = ParameterRanges(info.defaultValue, info.minimum, info.maximum);
        if (info.integer)
            parameter.hints |= kParameterIsInteger;
        if (IsSwitch(info)) {
            // A toggle (LV2's lv2:toggled): off 0, on 1.
            parameter.hints |= kParameterIsBoolean;
            return;
        }
        if (info.choiceCount != 0) {
            ParameterEnumerationValue* values = new ParameterEnumerationValue[info.choiceCount];
            for (size_t i = 0; i < info.choiceCount; ++i) {
                values[i].value = static_cast<float>(i);
                values[i].label = info.choices[i];
            }
            parameter.enumValues.count = static_cast<uint8_t>(info.choiceCount);
            parameter.enumValues.restrictedMode = true;
            parameter.enumValues.values = values;
        }
    }

    void initState(uint32_t index, State& state) override
    {
        state.hints = kStateIsHostReadable;
        if (index == kAttackState) {
            state.key = kAttackStateKey;
            state.label = "Attack spectrum";
        } else if (index == kSustainState) {
            state.key = kSustainStateKey;
            state.label = "Sustain spectrum";
        } else if (index == kScaleState || index == kKeymapState) {
            // Twelve equal steps: no scale, no mapping.
            state.key = index == kScaleState ? kScaleStateKey : kKeymapStateKey;
            state.label = index == kScaleState ? "Tuning scale" : "Tuning keyboard mapping";
            state.defaultValue = "";
            return;
        }
        // The start-up sound's spectra, as the engine was made with them.
        const SynthState& synth = engine_.Synth();
        state.defaultValue = SpectrumText(index == kAttackState ? synth.Attack() : synth.Sustain()).c_str();
    }

    float getParameterValue(uint32_t index) const override
    {
        if (index >= kPluginParamCount)
            return 0.0f;
        const PluginParam& p = kPluginParams[index];
        if (p.kind == PluginParamKind::ModWheel)
            return engine_.Synth().modWheelDepth.load();
        return engine_.Parameter(p.sound);
    }

    void setParameterValue(uint32_t index, float value) override
    {
        if (index >= kPluginParamCount)
            return;
        const PluginParam& p = kPluginParams[index];
        if (p.kind == PluginParamKind::ModWheel) {
            if (!std::isnan(value))
                engine_.Synth().SetModWheelDepth(value < 0.0f ? 0.0f : value > 1.0f ? 1.0f : value);
            return;
        }
        engine_.SetParameter(p.sound, value);
    }

    void setState(const char* key, const char* value) override
    {
        if (std::strcmp(key, kScaleStateKey) == 0 || std::strcmp(key, kKeymapStateKey) == 0) {
            SetTuningText(std::strcmp(key, kScaleStateKey) == 0, value);
            return;
        }
        HarmonicSpectrum spectrum;
        if (!ReadSpectrumText(value, spectrum))
            return;
        if (std::strcmp(key, kAttackStateKey) == 0)
            engine_.Synth().SetSpectra(spectrum.level, nullptr);
        else if (std::strcmp(key, kSustainStateKey) == 0)
            engine_.Synth().SetSpectra(nullptr, spectrum.level);
    }

    // Deactivated: nothing renders.
    void sampleRateChanged(double newSampleRate) override
    {
        rateSupported_ = RateSupported(newSampleRate);
        if (rateSupported_)
            engine_.Synth().SetSampleRate(EngineRate(newSampleRate));
    }

    void activate() override
    {
        if (activatedBefore_) {
            // Notes held when the host stopped are let go: the pedal comes up
            // and every key is released, their tails heard as the next run
            // starts.
            const EngineEvent letGo[2] = {{0, 3, {0xB0, 64, 0}}, {0, 3, {0xB0, 123, 0}}};
            engine_.Render(nullptr, nullptr, 0, letGo, 2);
        }
        activatedBefore_ = true;
        engine_.ResetGrid();
    }

    void run(const float**, float** outputs, uint32_t frames, const MidiEvent* midi, uint32_t midiCount) override
    {
        float* left = outputs[0];
        float* right = outputs[1];
        if (!rateSupported_) {
            std::memset(left, 0, frames * sizeof(float));
            std::memset(right, 0, frames * sizeof(float));
            return;
        }
        // The events in batches. Each event's frame is held between the frame
        // reached by the ones before it (a late one plays there) and the
        // block's end, so that a batch ends where its last event plays.
        uint32_t done = 0;
        uint32_t reached = 0;
        uint32_t count = 0;
        auto renderTo = [&](uint32_t end) {
            for (uint32_t i = 0; i < count; ++i)
                events_[i].frame -= done;
            engine_.Render(left + done, right + done, end - done, events_, count);
            done = end;
            count = 0;
        };
        for (uint32_t i = 0; i < midiCount; ++i) {
            const MidiEvent& m = midi[i];
            if (m.size < 1 || m.size > 3)
                continue;
            reached = m.frame < reached ? reached : m.frame > frames ? frames : m.frame;
            if (count == kEventBatch)
                renderTo(reached);
            EngineEvent& e = events_[count++];
            e.frame = reached;
            e.size = m.size;
            std::memcpy(e.bytes, m.data, m.size);
        }
        renderTo(frames);
        SilenceNonFinite(left, frames);
        SilenceNonFinite(right, frames);
    }

private:
    // One of the tuning's texts from the state: the table of the scale and
    // mapping in use with it replaced, handed to the engine; kept out, and
    // the tuning kept, when either text cannot be read. A mapping that comes
    // while there is no scale is kept for the scale that follows.
    void SetTuningText(bool scale, const char* value)
    {
        const std::string text = value ? value : "";
        const std::string& scl = scale ? text : scaleText_;
        const std::string& kbm = scale ? keymapText_ : text;
        if (scl.empty()) {
            KeyMap map;
            if (!kbm.empty() && !ReadKbm(kbm, map).empty())
                return;
            engine_.SetEqualTuning();
        } else {
            TuningTable table;
            std::string description;
            if (!TuningFromTexts(scl, kbm, table, description).empty())
                return;
            engine_.SetTuning(table.frequency.data(), table.sounds.data());
        }
        (scale ? scaleText_ : keymapText_) = text;
    }

    Engine engine_;
    // The tuning's texts in use (setState's thread only).
    std::string scaleText_;
    std::string keymapText_;
    bool rateSupported_;
    bool activatedBefore_ = false;
    EngineEvent events_[kEventBatch] = {};

    DISTRHO_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(PluginDsp)
};

Plugin* createPlugin()
{
    return new PluginDsp();
}

END_NAMESPACE_DISTRHO
