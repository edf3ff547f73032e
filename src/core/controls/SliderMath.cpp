#include "SliderMath.h"

#include <climits>

namespace {

int TruncateBounded(float v, float limit)
{
    if (!(v > -limit)) // also NaN
        v = v < 0.0f ? -limit : 0.0f;
    if (v > limit)
        v = limit;
    return static_cast<int>(v);
}

} // namespace

float SliderValueAt(const SliderGeometry& g, int x, int y)
{
    int cw = g.width - g.thumbWidth;
    int ch = g.height - g.thumbHeight;
    const int halfW = g.thumbWidth / 2;
    const int halfH = g.thumbHeight / 2;
    if (cw < 1)
        cw = 1;
    if (ch < 1)
        ch = 1;
    float v;
    if (g.style & SLIDER_VERTICAL)
        v = static_cast<float>(y - halfH) / static_cast<float>(ch) * g.maxValue;
    else
        v = static_cast<float>(x - halfW) / static_cast<float>(cw) * g.maxValue;
    if (v < g.minValue)
        v = g.minValue;
    if (v > g.maxValue)
        v = g.maxValue;
    if (g.style & SLIDER_INVERSE)
        v = g.maxValue - v;
    return v;
}

int SliderThumbOffset(const SliderGeometry& g, float value)
{
    const bool vertical = (g.style & SLIDER_VERTICAL) != 0;
    const int travel = vertical ? g.height - g.thumbHeight : g.width - g.thumbWidth;
    int p = TruncateBounded(value / g.maxValue * static_cast<float>(travel), 1.0e6f);
    if (g.style & SLIDER_INVERSE)
        p = travel - p;
    return p;
}

int SliderEventInt(float value)
{
    return TruncateBounded(value, 2.0e9f);
}

int SliderPlainMarkerOffset(const SliderGeometry& g, float value)
{
    const bool vertical = (g.style & SLIDER_VERTICAL) != 0;
    const int size = vertical ? g.height : g.width;
    float fraction = value / g.maxValue;
    if (g.style & SLIDER_INVERSE)
        fraction = 1.0f - fraction;
    return TruncateBounded(static_cast<float>(static_cast<double>(fraction * static_cast<float>(size)) - 2.0), 1.0e6f);
}
