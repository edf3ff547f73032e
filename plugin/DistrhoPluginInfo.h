#pragma once
// What the plugin framework builds: one instrument with two outputs, MIDI in,
// a saved state beside its parameters, and an editor drawn with Cairo. The
// identifiers here are published: hosts and saved sessions know the plugin by
// them, so they never change.
//
//  - LV2 URI:         urn:marovane:synth (the state keys under it, "#...")
//  - CLAP id:         org.marovane.synth
//  - VST3 class id:   2046504473616C636E76724D00000000, which the framework
//                     builds from the unique id 'Mrvn' (PluginDsp::getUniqueId)

#define DISTRHO_PLUGIN_NAME "Marovane"
#define DISTRHO_PLUGIN_URI "urn:marovane:synth"
#define DISTRHO_PLUGIN_CLAP_ID "org.marovane.synth"
#define DISTRHO_PLUGIN_LV2_STATE_PREFIX "urn:marovane:synth#"
// The LV2 module exports its own lv2_descriptor (PluginLv2.cpp), around the
// framework's, which goes by this name.
#define DISTRHO_PLUGIN_LV2_INNER_DESCRIPTOR marovane_framework_lv2_descriptor

#define DISTRHO_PLUGIN_HAS_UI 1
#define DISTRHO_UI_USE_CAIRO 1
#define DISTRHO_UI_USER_RESIZABLE 0
#define DISTRHO_UI_DEFAULT_WIDTH 900
#define DISTRHO_UI_DEFAULT_HEIGHT 560

#define DISTRHO_PLUGIN_IS_RT_SAFE 1
#define DISTRHO_PLUGIN_IS_SYNTH 1
#define DISTRHO_PLUGIN_NUM_INPUTS 0
#define DISTRHO_PLUGIN_NUM_OUTPUTS 2
#define DISTRHO_PLUGIN_WANT_MIDI_INPUT 1
#define DISTRHO_PLUGIN_WANT_STATE 1
#define DISTRHO_PLUGIN_WANT_FULL_STATE 0
#define DISTRHO_PLUGIN_WANT_DIRECT_ACCESS 0

#define DISTRHO_PLUGIN_LV2_CATEGORY "lv2:InstrumentPlugin"
#define DISTRHO_PLUGIN_VST3_CATEGORIES "Instrument|Synth"
// The MIDI controllers a VST3 host delivers as parameters, on each of the 16
// channels: the ones the engine acts on (mod wheel, sustain pedal, all notes
// off, and 129: pitch bend); a host keeps the others.
#define DISTRHO_PLUGIN_VST3_INPUT_CONTROLLERS 1, 64, 123, 129
#define DISTRHO_PLUGIN_CLAP_FEATURES "instrument", "synthesizer", "stereo"
