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
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "PresetWriter.h"
#include "ShippedPresets.h"
#include "patch/Patch.h"
#include "patch/ReplaceFile.h"

namespace {

using namespace marovane_preset;

const char* const kUsage =
    "usage: marovane-preset [-d DIR] FILE.mrvn...\n"
    "       marovane-preset --shipped BUNDLE FILE.mrvn...\n";

const char* const kHelp =
    "\n"
    "Makes each patch a preset of the Marovane plugin, named after the file\n"
    "(\"My Bell.mrvn\" gives the preset \"My Bell\"), in a bundle of its own:\n"
    "DIR/marovane-NAME.lv2, where DIR is ~/.lv2 unless -d gives another folder.\n"
    "A bundle made before for the same name is replaced. Names that differ only\n"
    "where the preset's URI cannot tell them apart (\"a b\" and \"a-b\" both\n"
    "give #preset-a-b) would share a bundle: the second is refused, and one\n"
    "made before for another name is kept. A patch named as a shipped preset\n"
    "(\"Bell\") is labelled with \" (own)\" after its name (\"Bell (own)\"), so\n"
    "that a host does not list two presets under one name. A host shows the\n"
    "preset once it looks for plugins again (most do at start-up).\n"
    "\n"
    "  -d, --dir DIR          where the bundles go (default: ~/.lv2)\n"
    "  --shipped BUNDLE       write the plugin bundle's presets.ttl and add them\n"
    "                         to the bundle's manifest.ttl (the build does this)\n"
    "  -h, --help             this text\n"
    "\n"
    "The preset holds the envelope, the LFO, the mod wheel's position and both\n"
    "spectra. A value outside the range of its plugin control, or a level\n"
    "outside -1 to 1 (beyond what the harmonics editor draws), is refused.\n"
    "\n"
    "Exit status: 0 done, 1 a patch refused or not written (with -d, the\n"
    "others are written; with --shipped, none is), 2 a mistake in the options.\n";

int Fail(const std::string& message)
{
    std::fprintf(stderr, "marovane-preset: %s\n", message.c_str());
    return 1;
}

// A mistake in the options.
int UsageError(const std::string& message)
{
    Fail(message);
    return 2;
}

// Keeps two patches of one run from becoming the same preset: each preset
// URI remembers the file it came from.
class UriClaims {
public:
    // Empty when `uri` is this patch's alone, else why the patch is refused.
    std::string Claim(const std::string& uri, const std::string& path)
    {
        const auto [at, added] = claims_.emplace(uri, path);
        if (added || Same(at->second, path))
            return {};
        return "cannot use the patch file '" + path + "': it would be the same preset as '" + at->second + "', <" +
               uri + ">; rename one of the files";
    }

private:
    static bool Same(const std::string& a, const std::string& b)
    {
        struct stat sa, sb;
        return a == b || (stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
                          sa.st_ino == sb.st_ino);
    }
    std::map<std::string, std::string> claims_;
};

// Empty when the bundle's preset file is missing or holds the preset of
// this name (to be replaced), under its label or under the name itself (as
// one made before shipped presets were told apart); else why the patch is
// refused: the bundle holds another name's preset that maps to the same
// bundle.
std::string BundleFree(const std::string& bundle, const std::string& name, const std::string& label,
                       const std::string& path)
{
    std::ifstream in(bundle + "/preset.ttl");
    if (!in)
        return {};
    std::stringstream text;
    text << in.rdbuf();
    const std::string ttl = text.str();
    const std::string labelKey = "rdfs:label ";
    for (const std::string& held : {name, label})
        if (ttl.find(labelKey + TurtleString(held) + " ;") != std::string::npos)
            return {};
    std::string held = "another name's";
    if (const size_t at = ttl.find(labelKey + "\""); at != std::string::npos) {
        const size_t from = at + labelKey.size();
        size_t to = from + 1;
        while (to < ttl.size() && ttl[to] != '"' && ttl[to] != '\n')
            to += ttl[to] == '\\' ? 2 : 1;
        held = ttl.substr(from, to + 1 - from);
    }
    return "cannot use the patch file '" + path + "': the bundle '" + bundle + "' holds the preset " + held +
           ", which this one would replace; rename the file, or remove the bundle first";
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

// The line that starts the presets' part of the bundle's manifest: what the
// plugin framework wrote stands above it, and a run replaces what follows.
const char* const kPresetsMark = "# The presets, from the shipped patches (marovane-preset --shipped).";

int Shipped(const std::string& bundle, const std::vector<std::string>& patches)
{
    const std::string manifestPath = bundle + "/manifest.ttl";
    std::ifstream in(manifestPath);
    if (!in)
        return Fail("cannot read '" + manifestPath + "': the plugin's manifest comes first");
    std::stringstream read;
    read << in.rdbuf();
    std::string manifest = read.str();
    if (const size_t mark = manifest.find(kPresetsMark); mark != std::string::npos)
        manifest.resize(mark);
    if (!manifest.empty() && manifest.back() != '\n')
        manifest += '\n';
    std::string presets = TurtlePrefixes();
    std::string entries = std::string(kPresetsMark) + "\n" + TurtlePrefixes();
    UriClaims claims;
    for (const std::string& path : patches) {
        Patch patch;
        if (std::string problem = LoadPatch(path, patch); !problem.empty())
            return Fail(problem);
        const std::string name = PatchName(path);
        if (OwnPresetLabel(name, {}) != name || OwnPresetLabel(name, {name}) != name + " (own)")
            return Fail("cannot use the patch file '" + path + "': a shipped preset's name may not end in \" (own)\"");
        const std::string uri = std::string(kPluginUri) + "#preset-" + UriName(name);
        if (std::string problem = claims.Claim(uri, path); !problem.empty())
            return Fail(problem);
        presets += PresetTurtle(uri, name, patch);
        entries += PresetManifestEntry(uri, "presets.ttl");
    }
    for (const auto& [file, text] : {std::pair{"presets.ttl", presets}, std::pair{"manifest.ttl", manifest + entries}})
        if (std::string problem = ReplaceFileContents(bundle + "/" + file, text); !problem.empty())
            return Fail(problem);
    return 0;
}

int UserPresets(std::string dir, const std::vector<std::string>& patches)
{
    if (dir.empty()) { // no -d: an empty one is refused with the options
        const char* home = std::getenv("HOME");
        if (!home || !*home)
            return Fail("HOME is not set: give the folder with -d DIR");
        dir = std::string(home) + "/.lv2";
    }
    if (!MakeDir(dir))
        return Fail("cannot make the folder '" + dir + "': " + std::strerror(errno));
    int status = 0;
    UriClaims claims;
    for (const std::string& path : patches) {
        Patch patch;
        if (std::string problem = LoadPatch(path, patch); !problem.empty()) {
            status = Fail(problem);
            continue;
        }
        const std::string name = PatchName(path);
        const std::string uri = "urn:marovane:user#preset-" + UriName(name);
        const std::string bundle = dir + "/marovane-" + UriName(name) + ".lv2";
        const std::string label = OwnPresetLabel(name, kShippedPresetNames);
        std::string clash = claims.Claim(uri, path);
        if (clash.empty())
            clash = BundleFree(bundle, name, label, path);
        if (!clash.empty()) {
            status = Fail(clash);
            continue;
        }
        if (!MakeDir(bundle)) {
            status = Fail("cannot make the folder '" + bundle + "': " + std::strerror(errno));
            continue;
        }
        const std::string prefixes = TurtlePrefixes();
        std::string problem = ReplaceFileContents(bundle + "/preset.ttl", prefixes + PresetTurtle(uri, label, patch));
        if (problem.empty())
            problem = ReplaceFileContents(bundle + "/manifest.ttl", prefixes + PresetManifestEntry(uri, "preset.ttl"));
        if (!problem.empty()) {
            status = Fail(problem);
            continue;
        }
        std::printf("%s: the preset \"%s\" in %s\n", path.c_str(), label.c_str(), bundle.c_str());
    }
    // What was made must be told; a report that did not arrive is a failure.
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        status = Fail(std::string("cannot write the report: ") + (errno ? std::strerror(errno) : "write error"));
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    std::string dir, shipped;
    const option options[] = {{"dir", required_argument, nullptr, 'd'},
                              {"shipped", required_argument, nullptr, 's'},
                              {"help", no_argument, nullptr, 'h'},
                              {nullptr, 0, nullptr, 0}};
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, ":d:h", options, nullptr)) != -1) {
        switch (c) {
        case 'd':
            if (!*optarg)
                return UsageError("-d, --dir needs a value: an empty one names no folder");
            dir = optarg;
            break;
        case 's':
            if (!*optarg)
                return UsageError("--shipped needs a value: an empty one names no folder");
            shipped = optarg;
            break;
        case 'h':
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        case ':': return UsageError(std::string("option ") + argv[optind - 1] + " needs a value");
        default: return UsageError(std::string("unknown option ") + argv[optind - 1]);
        }
    }
    const std::vector<std::string> patches(argv + optind, argv + argc);
    if (patches.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (!shipped.empty() && !dir.empty())
        return UsageError("--shipped and -d, --dir do not go together");

    return shipped.empty() ? UserPresets(dir, patches) : Shipped(shipped, patches);
}
