#pragma once
// Helpers for GUI tests (GUI thread only).

// Lets the toolkit deliver pending and simulated events for a while.
void PumpEvents(int milliseconds = 50);
