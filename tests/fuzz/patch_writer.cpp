// Fuzzing harness of the patch writer: whatever patch the reader accepts,
// written as a document and read back, gives the same 265 values bit for bit
// (the shortest float texts must survive the reader's trip through a double).
#include <cstdint>
#include <cstring>

#include "FuzzSupport.h"
#include "patch/Patch.h"
#include "patch/SettingsFile.h"

namespace {

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool SamePatch(const Patch& a, const Patch& b)
{
    bool same = a.attackMs == b.attackMs && a.decayMs == b.decayMs && a.sustainPercent == b.sustainPercent &&
                a.releaseMs == b.releaseMs && SameBits(a.lfoFrequency, b.lfoFrequency) &&
                a.lfoWaveform == b.lfoWaveform && SameBits(a.volumeDb, b.volumeDb) && a.bandLimit == b.bandLimit &&
                a.modWheel == b.modWheel;
    for (int h = 0; h < NUM_PARTIALS; ++h)
        same = same && SameBits(a.attack.level[h], b.attack.level[h]) &&
               SameBits(a.sustain.level[h], b.sustain.level[h]);
    return same;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzState();
    SettingsFile doc;
    Patch patch;
    if (!doc.LoadText(reinterpret_cast<const char*>(data), size) || !ReadCheckedPatch(doc, patch).empty())
        return 0;
    SettingsFile saved;
    WritePatch(patch, saved);
    const std::string text = saved.SaveText();
    SettingsFile reloaded;
    FUZZ_CHECK(reloaded.LoadText(text.data(), text.size()));
    Patch back;
    FUZZ_CHECK(ReadCheckedPatch(reloaded, back).empty());
    FUZZ_CHECK(SamePatch(patch, back));
    return 0;
}
