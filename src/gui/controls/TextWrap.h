#pragma once
// Breaking a message into lines no wider than a box: the toolkit's message
// box makes one line of each paragraph however long, so a long file name
// pushed the reason for a failure off the screen. No window: the width of a
// piece of text comes from the caller. Any thread.
#include <functional>

#include <wx/string.h>

// `text` with line breaks put in so that no line is wider than `maxWidth` as
// `widthOf` measures it. Lines break between words; a word wider than a line
// (a long path) is cut after its last '/' that fits, else after as many
// characters as fit, at least one. Existing line breaks stay; the blanks at a
// break are dropped, every other character is kept.
wxString WrapText(const wxString& text, int maxWidth, const std::function<int(const wxString&)>& widthOf);
