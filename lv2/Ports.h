#pragma once
// The plugin's ports as hosts and saved sessions know them, and the ranges of
// its six controls: the window's sliders and choice, with the program's
// start-up values as defaults. The plugin clamps to these ranges, the preset
// maker refuses a patch outside them, and marovane.ttl states the same
// numbers (a test reads them back through a host library).
//
// Plain constants: any thread.

#include <cstdint>

namespace marovane_lv2 {

constexpr const char* kPluginUri = "urn:marovane:synth";

enum Port : uint32_t {
    kMidiIn = 0,
    kOutLeft = 1,
    kOutRight = 2,
    kAttack = 3,
    kDecay = 4,
    kSustain = 5,
    kRelease = 6,
    kLfoRate = 7,
    kLfoShape = 8,
    kPortCount = 9,
};

struct ControlPort {
    uint32_t index;
    const char* symbol;
    float minimum;
    float maximum;
    float defaultValue;
    bool integer; // whole milliseconds, percent or a shape index
};

constexpr uint32_t kFirstControl = kAttack;
constexpr uint32_t kControlCount = kPortCount - kFirstControl;

// In port order.
constexpr ControlPort kControls[kControlCount] = {
    {kAttack, "attack", 0.0f, 1000.0f, 0.0f, true},
    {kDecay, "decay", 0.0f, 1000.0f, 0.0f, true},
    {kSustain, "sustain", 0.0f, 100.0f, 100.0f, true},
    {kRelease, "release", 0.0f, 1000.0f, 10.0f, true},
    {kLfoRate, "lfo_rate", 0.0f, 20.0f, 5.0f, false},
    {kLfoShape, "lfo_shape", 0.0f, 6.0f, 0.0f, true},
};

// The state keys beside the ports: both spectra as vectors of 128 floats,
// and the version of that layout.
constexpr const char* kAttackSpectrumKey = "urn:marovane:synth#attack-spectrum";
constexpr const char* kSustainSpectrumKey = "urn:marovane:synth#sustain-spectrum";
constexpr const char* kStateVersionKey = "urn:marovane:synth#state-version";
constexpr int32_t kStateVersion = 1;

} // namespace marovane_lv2
