// Fuzzing harness of a loaded patch played: the reader as in patch_reader,
// then one note rendered through its attack and into its release with the
// hostile numbers a file may hold (negative times, huge levels, odd LFO
// values). Slower than the reader alone; it looks for what the sanitizers see
// in the render (a phase or table index out of range, a float too large for
// an integer) and checks that the output guard and the meters hold.
#include <cmath>
#include <cstdint>

#include "FuzzSupport.h"
#include "patch/Patch.h"
#include "patch/SettingsFile.h"
#include "synth/OutputGuard.h"
#include "synth/RenderFast.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SynthState& state = FuzzState();
    SettingsFile doc;
    Patch patch;
    if (!doc.LoadText(reinterpret_cast<const char*>(data), size) || !ReadCheckedPatch(doc, patch).empty())
        return 0;
    ApplyPatch(patch, state);
    state.SetPitchWheel(static_cast<float>(patch.modWheel & 16383)); // any wheel position
    state.SetModWheelDepth(SynthState::ModWheelDepthFromValue(patch.modWheel & 16383));
    static float out[2 * MAX_FRAMES];
    state.StartNote(60);
    for (int b = 0; b < 3; ++b) {
        if (b == 2)
            state.ReleaseNote(60);
        RenderWith(state, ChosenRenderVariant(), out, MAX_FRAMES);
        SilenceNonFinite(out, 2 * MAX_FRAMES);
        for (float v : out)
            FUZZ_CHECK(std::isfinite(v));
        FUZZ_CHECK(!std::isnan(state.LeftPeak()) && !std::isnan(state.RightPeak()));
        FUZZ_CHECK(state.LeftPeak() == state.RightPeak());
    }
    state.SetPitchWheel(PITCH_WHEEL_CENTRE);
    return 0;
}
