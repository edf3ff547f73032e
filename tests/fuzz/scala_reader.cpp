// Fuzzing harness of the Scala reader. The input is a scale and a keyboard
// mapping: the text before the first "@kbm" mark is the .scl, the lines
// after the mark's line the .kbm; an input without the mark goes whole to
// both readers.
// Beyond not crashing, it checks what the readers promise:
//  - a refused text gives a one-line reason and leaves an empty scale or a
//    default mapping;
//  - an accepted scale has 1 to 1024 finite degrees, a ratio's parts are
//    positive; an accepted mapping holds notes 0 to 127 and a positive
//    finite reference frequency, and its reference is not on an 'x';
//  - the frequencies, with and without the mapping, are finite and positive
//    on every key that sounds and 0 on every other.
#include <cmath>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "tuning/Tuning.h"

namespace {

void CheckTable(const TuningTable& table)
{
    for (int key = 0; key < 128; ++key) {
        if (table.sounds[key])
            FUZZ_CHECK(std::isfinite(table.frequency[key]) && table.frequency[key] > 0.0);
        else
            FUZZ_CHECK(table.frequency[key] == 0.0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t mark = input.find("@kbm");
    const std::string sclText = mark == std::string::npos ? input : input.substr(0, mark);
    const size_t kbmStart = mark == std::string::npos ? 0 : input.find('\n', mark);
    const std::string kbmText = mark == std::string::npos ? input
                                : kbmStart == std::string::npos ? std::string()
                                                                : input.substr(kbmStart + 1);

    Scale scale;
    const std::string sclReason = ReadScl(sclText, scale);
    if (sclReason.empty()) {
        FUZZ_CHECK(!scale.degrees.empty() && scale.degrees.size() <= MAX_SCALE_NOTES);
        for (const ScaleDegree& degree : scale.degrees) {
            FUZZ_CHECK(std::isfinite(degree.cents));
            FUZZ_CHECK(degree.numerator > 0 && degree.denominator > 0);
            FUZZ_CHECK(degree.isRatio || (degree.numerator == 1 && degree.denominator == 1));
        }
        CheckTable(TuningFrequencies(scale, nullptr));
    } else {
        FUZZ_CHECK(sclReason.find('\n') == std::string::npos);
        FUZZ_CHECK(scale.degrees.empty() && scale.description.empty());
    }

    KeyMap map;
    const std::string kbmReason = ReadKbm(kbmText, map);
    if (kbmReason.empty()) {
        FUZZ_CHECK(map.size >= 0 && map.size <= MAX_KEY_MAP_SIZE);
        FUZZ_CHECK(map.mapping.size() == static_cast<size_t>(map.size));
        FUZZ_CHECK(map.firstNote >= 0 && map.firstNote <= map.lastNote && map.lastNote <= 127);
        FUZZ_CHECK(map.middleNote >= 0 && map.middleNote <= 127);
        FUZZ_CHECK(map.referenceNote >= 0 && map.referenceNote <= 127);
        FUZZ_CHECK(std::isfinite(map.referenceFrequency) && map.referenceFrequency > 0.0);
        if (sclReason.empty()) {
            const TuningTable table = TuningFrequencies(scale, &map);
            CheckTable(table);
            for (int key = 0; key < 128; ++key)
                if (key < map.firstNote || key > map.lastNote)
                    FUZZ_CHECK(!table.sounds[key]);
        }
    } else {
        FUZZ_CHECK(kbmReason.find('\n') == std::string::npos);
        FUZZ_CHECK(map.size == 0 && map.mapping.empty());
    }
    return 0;
}
