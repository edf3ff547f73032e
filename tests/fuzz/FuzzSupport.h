#pragma once
// What the fuzzing harnesses share: one synthesis state for the whole run
// (building a state starts the render's helper thread, far too slow to do per
// input), and a check that stops the run on a broken property the way a
// sanitizer stops it on a fault.

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "synth/SynthState.h"

inline SynthState& FuzzState()
{
    static const std::unique_ptr<SynthState> state = std::make_unique<SynthState>();
    return *state;
}

#define FUZZ_CHECK(condition)                                                                           \
    do {                                                                                                \
        if (!(condition)) {                                                                             \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);          \
            std::abort();                                                                               \
        }                                                                                               \
    } while (0)
