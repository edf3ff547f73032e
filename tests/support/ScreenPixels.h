#pragma once
// What a person sees of a control: its pixels on the screen, read through the
// X server (ImageMagick's import), and whether a drop-down choice looks whole.
// GUI thread.
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <tuple>

#include <wx/window.h>

#include "app/TestProcess.h"

struct ScreenArea {
    int width = 0, height = 0;
    std::string rgb; // width * height pixels, three bytes each
    std::tuple<int, int, int> At(int x, int y) const
    {
        const size_t i = 3 * (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x));
        return {static_cast<unsigned char>(rgb[i]), static_cast<unsigned char>(rgb[i + 1]),
                static_cast<unsigned char>(rgb[i + 2])};
    }
};

// The screen's pixels in `rect` (screen coordinates); empty when they could
// not be read.
inline ScreenArea ReadScreen(const wxRect& rect)
{
    const std::string ppm = testproc::Output("import -window root -crop " + std::to_string(rect.width) + "x" +
                                             std::to_string(rect.height) + "+" + std::to_string(rect.x) + "+" +
                                             std::to_string(rect.y) + " -depth 8 ppm:-");
    ScreenArea area;
    int w = 0, h = 0, max = 0, used = 0;
    if (std::sscanf(ppm.c_str(), "P6 %d %d %d%n", &w, &h, &max, &used) != 3 || max != 255)
        return area;
    const size_t start = static_cast<size_t>(used) + 1; // one blank after the header
    if (ppm.size() < start + 3 * static_cast<size_t>(w) * static_cast<size_t>(h))
        return area;
    area.width = w;
    area.height = h;
    area.rgb = ppm.substr(start, 3 * static_cast<size_t>(w) * static_cast<size_t>(h));
    return area;
}

// The share of a choice's box, from 3 pixels in from its edges and left of
// its drop-down arrow, that has the box's most common colour or one close to
// it. A choice whose
// box and text area have one background scores well above 0.7 (only the
// letters differ); one that paints its text on a block of another colour
// scores far less.
inline double ShareOfBoxColour(wxWindow* choice)
{
    const ScreenArea area = ReadScreen(choice->GetScreenRect());
    if (area.width < 40 || area.height < 10)
        return 0.0;
    std::map<std::tuple<int, int, int>, int> counts;
    int total = 0;
    for (int y = 3; y < area.height - 3; ++y)
        for (int x = 3; x < area.width - 30; ++x) {
            ++counts[area.At(x, y)];
            ++total;
        }
    // The commonest colour, and the pixels near it (a themed box may shade
    // its face a little from top to bottom).
    std::tuple<int, int, int> common;
    int most = 0;
    for (const auto& [colour, n] : counts)
        if (n > most) {
            most = n;
            common = colour;
        }
    int near = 0;
    for (const auto& [colour, n] : counts)
        if (std::abs(std::get<0>(colour) - std::get<0>(common)) <= 16 &&
            std::abs(std::get<1>(colour) - std::get<1>(common)) <= 16 &&
            std::abs(std::get<2>(colour) - std::get<2>(common)) <= 16)
            near += n;
    return total ? static_cast<double>(near) / total : 0.0;
}
