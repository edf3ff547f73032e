#pragma once
// The keyboard as the X server sees it now, whatever window has the focus.
// GUI thread.

// Whether the key of an X hardware key code is down. True where there is no
// X server to ask, so that nothing is released on a guess.
bool IsHardwareKeyPressed(unsigned hardwareCode);
