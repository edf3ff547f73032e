// A shared module made of the whole engine library and nothing else, as a
// plugin is: it must link with no undefined symbol and need no library but
// the C and C++ runtimes (check-engine-link.sh looks).
#include "synth/Engine.h"

extern "C" __attribute__((visibility("default"))) float marovane_engine_module_render(void)
{
    Engine engine({48000, false});
    const EngineEvent note = {0, 3, {0x90, 69, 127}};
    float left[512], right[512];
    engine.Render(left, right, 512, &note, 1);
    return left[511];
}
