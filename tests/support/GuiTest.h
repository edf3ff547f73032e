#pragma once
// Helpers for GUI tests (GUI thread only).
#include <functional>

// Lets the toolkit deliver pending and simulated events for a while.
void PumpEvents(int milliseconds = 50);
// Pumps events until cond holds or the time is up; returns cond.
bool WaitFor(const std::function<bool()>& cond, int milliseconds = 3000);
