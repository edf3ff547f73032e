#pragma once
// The words the renderer prints about a render it finished. Any thread.

#include <cstddef>
#include <string>

// How the render's pace compares with real time: "12.5x faster than real
// time".
std::string PaceText(double audioSeconds, double elapsedSeconds);
