#pragma once
// The editor's tuning: the scale's and the keyboard mapping's texts that the
// plugin's state holds ("scale" and "keymap", PluginParameters.h), a file the
// file browser gave turned into new texts to send, and the tuning's name.
// Display-free; the editor's thread (these allocate and read files).
//
// A file whose name ends in ".kbm" (any case) is a keyboard mapping for the
// scale in use (refused while there is none); any other file is a scale, and
// loading one leaves the mapping out (a mapping is made for its scale).

#include <string>

namespace marovane_plugin {

class EditorTuning {
public:
    // The texts to send as the two states.
    struct Texts {
        std::string scale;
        std::string keymap;
    };

    // Reads the file at `path` and makes the texts the tuning would have with
    // it: "" and `texts` set (nothing here changes until the texts come back
    // through Take), or the one message to show, naming the file and the
    // reader's reason; the tuning in use stays.
    std::string Load(const std::string& path, Texts& texts);

    // A state's text arriving (sent by this editor and returned, or the
    // host's): the name follows. A scale text that does not read changes
    // nothing, as the sound processor keeps its tuning then.
    void Take(bool scale, const std::string& text);

    const Texts& Current() const { return current_; }
    // "twelve equal steps", the scale's description, or the name of the file
    // it was loaded from here when the description is empty ("a scale without
    // a description" for one that came from the host without a name); with a
    // mapping, "(mapping FILE.kbm)" or "(with a keyboard mapping)" after it.
    std::string Name() const;

private:
    Texts current_;
    std::string description_;
    // The files last loaded here and the texts they gave, to name the tuning
    // by when its texts come back.
    std::string scaleFile_, scaleFileText_, keymapFile_, keymapFileText_;
};

} // namespace marovane_plugin
