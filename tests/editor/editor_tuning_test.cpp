// The editor's tuning (plugin/editor/EditorTuning): the texts a file the
// browser gave would send, the message for one that cannot be used (the
// tuning kept), and the name shown as the state's texts come back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "EditorTuning.h"

using marovane_plugin::EditorTuning;

namespace {

std::string Write(const std::string& name, const std::string& text)
{
    const std::string path =
        (std::filesystem::temp_directory_path() / ("editor-tuning-" + std::to_string(getpid()) + "-" + name)).string();
    std::ofstream(path) << text;
    return path;
}

const std::string kScale = "! s.scl\nQuarter tones\n2\n50.0\n2/1\n";
const std::string kNameless = "! n.scl\n\n1\n3/2\n";
const std::string kMap = "! m.kbm\n2\n0\n127\n60\n70\n440.0\n2\n0\nx\n";

// Loads a file and hands its texts back as the state would.
std::string LoadAndReturn(EditorTuning& tuning, const std::string& path)
{
    EditorTuning::Texts texts;
    const std::string error = tuning.Load(path, texts);
    if (error.empty()) {
        tuning.Take(false, texts.keymap);
        tuning.Take(true, texts.scale);
    }
    return error;
}

} // namespace

TEST(EditorTuning, FilesBecomeTheStatesTextsAndTheNameFollowsThem)
{
    EditorTuning tuning;
    EXPECT_EQ(tuning.Name(), "twelve equal steps");
    const std::string scl = Write("quarter.scl", kScale), kbm = Write("half.KBM", kMap),
                      nameless = Write("plain.scl", kNameless);

    EditorTuning::Texts texts;
    ASSERT_EQ(tuning.Load(scl, texts), "");
    EXPECT_EQ(texts.scale, kScale);
    EXPECT_EQ(texts.keymap, "");
    EXPECT_EQ(tuning.Name(), "twelve equal steps") << "nothing changes before the state returns";
    tuning.Take(true, texts.scale);
    EXPECT_EQ(tuning.Name(), "Quarter tones");

    ASSERT_EQ(LoadAndReturn(tuning, kbm), "");
    EXPECT_EQ(tuning.Current().scale, kScale);
    EXPECT_EQ(tuning.Current().keymap, kMap);
    EXPECT_EQ(tuning.Name(), "Quarter tones (mapping " + std::filesystem::path(kbm).filename().string() + ")");

    // A new scale leaves the mapping out; without a description its file names it.
    ASSERT_EQ(LoadAndReturn(tuning, nameless), "");
    EXPECT_EQ(tuning.Current().keymap, "");
    EXPECT_EQ(tuning.Name(), std::filesystem::path(nameless).filename().string());

    // The same texts from the host, not loaded here, and twelve equal steps again.
    EditorTuning other;
    other.Take(true, kNameless);
    other.Take(false, kMap);
    EXPECT_EQ(other.Name(), "a scale without a description (with a keyboard mapping)");
    other.Take(true, "");
    EXPECT_EQ(other.Name(), "twelve equal steps");
    for (const std::string& p : {scl, kbm, nameless})
        std::remove(p.c_str());
}

TEST(EditorTuning, AFileThatCannotBeUsedIsOneMessageAndTheTuningStays)
{
    EditorTuning tuning;
    const std::string scl = Write("good.scl", kScale);
    const std::string mapFirst = Write("first.kbm", kMap);
    EditorTuning::Texts texts;
    const std::string noScale = tuning.Load(mapFirst, texts);
    EXPECT_NE(noScale.find("load a scale"), std::string::npos) << noScale;
    ASSERT_EQ(LoadAndReturn(tuning, scl), "");

    struct Case {
        std::string path;
        std::string says;
    };
    const Case cases[] = {
        {Write("cut.scl", "Cut\n4\n100.0\n"), "scale: line 4"},
        {Write("bad.kbm", "2\n0\n127\n60\n69\n-5\n"), "keyboard mapping: line 6"},
        {"/nonexistent/x.scl", "No such file"},
    };
    for (const Case& c : cases) {
        texts = {"untouched", "untouched"};
        const std::string error = tuning.Load(c.path, texts);
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_NE(error.find(c.path), std::string::npos) << error;
        EXPECT_EQ(texts.scale, "untouched");
        EXPECT_EQ(tuning.Current().scale, kScale);
        EXPECT_EQ(tuning.Name(), "Quarter tones");
        std::remove(c.path.c_str());
    }
    // A scale text that does not read, from the host, changes nothing either.
    tuning.Take(true, "Broken\n3\n");
    EXPECT_EQ(tuning.Name(), "Quarter tones");
    std::remove(scl.c_str());
    std::remove(mapFirst.c_str());
}
