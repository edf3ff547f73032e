// Fuzzing harness of the patch reader: bytes as a settings document, the
// document as a patch, the patch into the synthesis state. Only loads, so it
// runs thousands of inputs a second. Beyond not crashing, it checks what the
// loader promises:
//  - a refused document gives a reason and leaves an empty document;
//  - an accepted patch holds finite floats only, and the state a shape that
//    the wave table has.
#include <cmath>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "patch/Patch.h"
#include "patch/SettingsFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SynthState& state = FuzzState();
    SettingsFile doc;
    std::string error;
    if (!doc.LoadText(reinterpret_cast<const char*>(data), size, &error)) {
        FUZZ_CHECK(!error.empty());
        FUZZ_CHECK(doc.RootName() == "Settings" && doc.Entries().empty());
        return 0;
    }
    Patch patch;
    if (!ReadCheckedPatch(doc, patch).empty())
        return 0;
    FUZZ_CHECK(std::isfinite(patch.lfoFrequency));
    for (int h = 0; h < NUM_PARTIALS; ++h)
        FUZZ_CHECK(std::isfinite(patch.attack.level[h]) && std::isfinite(patch.sustain.level[h]));
    ApplyPatch(patch, state);
    FUZZ_CHECK(state.LfoWaveform() >= 0 && state.LfoWaveform() < 7);
    return 0;
}
