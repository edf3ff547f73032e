// The note kernel in plain C++, for any processor (the only one where there
// are no vector kernels): the reference render's own loop over one note's
// partials, each phase wrapped and stepped exactly as there, every product
// and sum rounded where the reference rounds it. The mix receives each
// frame's partials in ascending order, as the reference's output does.

#include "RenderFastKernel.h"

namespace marovane_fast {

void RenderNotePortable(const NoteKernelArgs& a)
{
    for (int k = 0; k < a.partials; ++k) {
        float phase = a.phase[k];
        const double inc = a.inc[k];
        const float level = a.level[k];
        for (unsigned i = 0; i < a.frames; ++i) {
            while (phase >= 1.0f)
                phase -= 1.0f;
            const float w = a.sine[static_cast<int>(phase * 32768)];
            a.mix[i] += level * w * a.gain[i];
            phase = static_cast<float>(phase + inc);
        }
        a.phase[k] = phase;
    }
}

void AdvancePhasesPortable(const NoteKernelArgs& a)
{
    for (int k = 0; k < a.partials; ++k) {
        float phase = a.phase[k];
        const double inc = a.inc[k];
        for (unsigned i = 0; i < a.frames; ++i) {
            while (phase >= 1.0f)
                phase -= 1.0f;
            phase = static_cast<float>(phase + inc);
        }
        a.phase[k] = phase;
    }
}

} // namespace marovane_fast
