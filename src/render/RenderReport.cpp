#include "RenderReport.h"

#include <cstdio>

std::string PaceText(double audioSeconds, double elapsedSeconds)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.1fx faster than real time",
                  elapsedSeconds > 0 ? audioSeconds / elapsedSeconds : 0.0);
    return text;
}
