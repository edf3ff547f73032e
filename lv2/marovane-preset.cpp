// marovane-preset: turns patch files into presets of the Marovane plugin.
// A player's own patch becomes a small bundle of its own in ~/.lv2, where
// every host finds it beside the plugin; the build makes the plugin's shipped
// presets with --shipped. Each patch is read by the program's patch reader.

#include <getopt.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Ports.h"
#include "PresetWriter.h"
#include "patch/Patch.h"
#include "patch/ReplaceFile.h"

namespace {

using namespace marovane_lv2;

const char* const kUsage =
    "usage: marovane-preset [-d DIR] FILE.mrvn...\n"
    "       marovane-preset --shipped BUNDLE --manifest-head FILE FILE.mrvn...\n";

const char* const kHelp =
    "\n"
    "Makes each patch a preset of the Marovane plugin, named after the file\n"
    "(\"My Bell.mrvn\" gives the preset \"My Bell\"), in a bundle of its own:\n"
    "DIR/marovane-NAME.lv2, where DIR is ~/.lv2 unless -d gives another folder.\n"
    "A bundle made before for the same name is replaced. A host shows the\n"
    "preset once it looks for plugins again (most do at start-up).\n"
    "\n"
    "  -d, --dir DIR          where the bundles go (default: ~/.lv2)\n"
    "  --shipped BUNDLE       write the plugin bundle's presets.ttl and its\n"
    "                         manifest.ttl (the build does this)\n"
    "  --manifest-head FILE   the manifest's part about the plugin itself\n"
    "  -h, --help             this text\n"
    "\n"
    "The preset holds the envelope, the LFO and both spectra. The patch's mod\n"
    "wheel position is not part of it: the mod wheel comes by MIDI. A value\n"
    "outside the range of its plugin control is refused.\n";

int Fail(const std::string& message)
{
    std::fprintf(stderr, "marovane-preset: %s\n", message.c_str());
    return 1;
}

// Reads a patch and checks it fits the plugin's ports; the reason, naming the
// file, when it does not.
std::string LoadPatch(const std::string& path, Patch& patch)
{
    SettingsFile doc;
    std::string reason;
    if (!doc.LoadFile(path, &reason) || !(reason = ReadCheckedPatch(doc, patch)).empty())
        return "cannot use the patch file '" + path + "': " + reason;
    const std::string range = PatchOutOfRange(patch, &doc);
    if (!range.empty())
        return "cannot use the patch file '" + path + "': " + range;
    return {};
}

bool MakeDir(const std::string& path)
{
    return mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

int Shipped(const std::string& bundle, const std::string& head, const std::vector<std::string>& patches)
{
    std::ifstream in(head);
    if (!in)
        return Fail("cannot read '" + head + "'");
    std::stringstream manifest;
    manifest << in.rdbuf();
    std::string presets = TurtlePrefixes();
    std::string entries;
    for (const std::string& path : patches) {
        Patch patch;
        if (std::string problem = LoadPatch(path, patch); !problem.empty())
            return Fail(problem);
        const std::string name = PatchName(path);
        const std::string uri = std::string(kPluginUri) + "#preset-" + UriName(name);
        presets += PresetTurtle(uri, name, patch);
        entries += PresetManifestEntry(uri, "presets.ttl");
    }
    for (const auto& [file, text] : {std::pair{"presets.ttl", presets}, std::pair{"manifest.ttl", manifest.str() + entries}})
        if (std::string problem = ReplaceFileContents(bundle + "/" + file, text); !problem.empty())
            return Fail(problem);
    return 0;
}

int UserPresets(std::string dir, const std::vector<std::string>& patches)
{
    if (dir.empty()) {
        const char* home = std::getenv("HOME");
        if (!home || !*home)
            return Fail("HOME is not set: give the folder with -d DIR");
        dir = std::string(home) + "/.lv2";
    }
    if (!MakeDir(dir))
        return Fail("cannot make the folder '" + dir + "': " + std::strerror(errno));
    int status = 0;
    for (const std::string& path : patches) {
        Patch patch;
        if (std::string problem = LoadPatch(path, patch); !problem.empty()) {
            status = Fail(problem);
            continue;
        }
        const std::string name = PatchName(path);
        const std::string uri = "urn:marovane:user#preset-" + UriName(name);
        const std::string bundle = dir + "/marovane-" + UriName(name) + ".lv2";
        if (!MakeDir(bundle)) {
            status = Fail("cannot make the folder '" + bundle + "': " + std::strerror(errno));
            continue;
        }
        const std::string prefixes = TurtlePrefixes();
        std::string problem = ReplaceFileContents(bundle + "/preset.ttl", prefixes + PresetTurtle(uri, name, patch));
        if (problem.empty())
            problem = ReplaceFileContents(bundle + "/manifest.ttl", prefixes + PresetManifestEntry(uri, "preset.ttl"));
        if (!problem.empty()) {
            status = Fail(problem);
            continue;
        }
        std::printf("%s: the preset \"%s\" in %s\n", path.c_str(), name.c_str(), bundle.c_str());
    }
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    std::string dir, shipped, head;
    const option options[] = {{"dir", required_argument, nullptr, 'd'},
                              {"shipped", required_argument, nullptr, 's'},
                              {"manifest-head", required_argument, nullptr, 'm'},
                              {"help", no_argument, nullptr, 'h'},
                              {nullptr, 0, nullptr, 0}};
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, ":d:h", options, nullptr)) != -1) {
        switch (c) {
        case 'd': dir = optarg; break;
        case 's': shipped = optarg; break;
        case 'm': head = optarg; break;
        case 'h':
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        case ':': return Fail(std::string("option ") + argv[optind - 1] + " needs a value");
        default: return Fail(std::string("unknown option ") + argv[optind - 1]);
        }
    }
    const std::vector<std::string> patches(argv + optind, argv + argc);
    if (patches.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (shipped.empty() != head.empty())
        return Fail("--shipped and --manifest-head go together");

    return shipped.empty() ? UserPresets(dir, patches) : Shipped(shipped, head, patches);
}
