#pragma once
// The test scales and mappings under tests/tuning, and the frequencies
// tests/tuning/make-tables.py computed for them with exact fractions
// (tests/tuning/expected/NAME.txt: one "note frequency" or "note silent" a
// line). The test's environment gives the source folder
// (MAROVANE_SOURCE_DIR).
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace marovane_test {

inline std::string TuningFile(const std::string& name)
{
    return std::string(std::getenv("MAROVANE_SOURCE_DIR")) + "/tests/tuning/" + name;
}

// The frequency the table gives `note` (0 for a key it lists as silent).
inline double ExpectedFrequency(const std::string& table, int note)
{
    std::ifstream in(TuningFile("expected/" + table + ".txt"));
    int key = -1;
    std::string value;
    while (in >> key >> value)
        if (key == note)
            return value == "silent" ? 0.0 : std::stod(value);
    ADD_FAILURE() << "no note " << note << " in " << table;
    return -1.0;
}

} // namespace marovane_test
