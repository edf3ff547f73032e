#pragma once
// The editor's switches: the plugin parameters that are toggles
// (IsPluginSwitch, PluginParameters.h), shown as check boxes. A click sets
// the other value, through the host (begin, set, end of an edit); a value
// from the host shows as it is. Editor thread only; plain functions.

namespace marovane_plugin {

// Whether a switch's value is on: a half or more, as the engine rounds it.
inline bool SwitchOn(float value)
{
    return value >= 0.5f;
}

// The value a click on a switch showing `value` sets: on for off, off for on.
inline float ClickedSwitchValue(float value)
{
    return SwitchOn(value) ? 0.0f : 1.0f;
}

} // namespace marovane_plugin
