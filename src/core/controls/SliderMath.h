#pragma once
// The arithmetic of the bitmap slider: the value a press at (x, y) sets and
// where the thumb is drawn for a value. No window: the slider and the tests
// both call these. GUI thread.

// The style bits the slider reads (the toolkit's wxSL_HORIZONTAL,
// wxSL_VERTICAL and wxSL_INVERSE; the slider checks that they agree).
constexpr long SLIDER_HORIZONTAL = 0x0004;
constexpr long SLIDER_VERTICAL = 0x0008;
constexpr long SLIDER_INVERSE = 0x1000;

struct SliderGeometry {
    int width = 0;       // client size in pixels
    int height = 0;
    int thumbWidth = 0;  // the thumb picture's size; 0 x 0 in plain mode
    int thumbHeight = 0;
    long style = SLIDER_HORIZONTAL;
    float minValue = 0.0f;
    float maxValue = 1.0f;
};

// The value a press at client position (x, y) sets. The thumb travels over
// the size less the thumb and the pointer sits on the thumb's centre: v =
// (pos - thumb / 2) / travel * max in single precision, clamped to min..max,
// then mirrored (max - v) on an inverse slider. A slider no bigger than its
// thumb maps every press to one end rather than dividing by zero.
float SliderValueAt(const SliderGeometry& g, int x, int y);

// Where the thumb picture's top (vertical) or left (horizontal) edge lies for
// `value`: value / max * travel truncated, mirrored on an inverse slider.
// Not clamped (a value beyond max draws beyond the track), but kept within
// +-1e6 pixels so that no value makes the conversion overflow.
int SliderThumbOffset(const SliderGeometry& g, float value);

// The integer an event carries for a value: truncated toward zero, held
// within the range of an int.
int SliderEventInt(float value);

// Plain mode (no pictures): the top (vertical) or left (horizontal) edge of
// the small marker rectangle, value / max * size - 2 truncated. An inverse
// slider draws its marker mirrored, so it stays under the pointer.
int SliderPlainMarkerOffset(const SliderGeometry& g, float value);
