#include "EditorTuning.h"

#include <cctype>

#include "tuning/Tuning.h"

namespace marovane_plugin {

namespace {

std::string FileName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsKeymapFile(const std::string& path)
{
    if (path.size() < 4)
        return false;
    std::string end = path.substr(path.size() - 4);
    for (char& c : end)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return end == ".kbm";
}

} // namespace

std::string EditorTuning::Load(const std::string& path, Texts& texts)
{
    const bool keymap = IsKeymapFile(path);
    if (keymap && current_.scale.empty())
        return "Cannot load the keyboard mapping \"" + path + "\": load a scale (.scl) first; twelve equal steps "
               "take no mapping. The tuning is unchanged.";
    std::string text;
    if (std::string reason = ReadTuningFile(path, text); !reason.empty())
        return "Cannot load the tuning file " + reason + ". The tuning is unchanged.";
    const Texts next = keymap ? Texts{current_.scale, text} : Texts{text, ""};
    TuningTable table;
    std::string description;
    if (std::string reason = TuningFromTexts(next.scale, next.keymap, table, description); !reason.empty())
        return "Cannot load the tuning file \"" + path + "\": " + reason + ". The tuning is unchanged.";
    (keymap ? keymapFile_ : scaleFile_) = FileName(path);
    (keymap ? keymapFileText_ : scaleFileText_) = text;
    texts = next;
    return {};
}

void EditorTuning::Take(bool scale, const std::string& text)
{
    if (!scale) {
        current_.keymap = text;
        return;
    }
    if (text.empty()) {
        current_.scale.clear();
        description_.clear();
        return;
    }
    Scale read;
    if (!ReadScl(text, read).empty())
        return;
    current_.scale = text;
    description_ = read.description;
}

std::string EditorTuning::Name() const
{
    if (current_.scale.empty())
        return "twelve equal steps";
    std::string name = !description_.empty()                ? description_
                       : current_.scale == scaleFileText_ ? scaleFile_
                                                          : "a scale without a description";
    if (!current_.keymap.empty())
        name += current_.keymap == keymapFileText_ ? " (mapping " + keymapFile_ + ")" : " (with a keyboard mapping)";
    return name;
}

} // namespace marovane_plugin
