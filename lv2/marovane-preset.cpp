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
    "A bundle made before for the same name is replaced. Names that differ only\n"
    "where the preset's URI cannot tell them apart (\"a b\" and \"a-b\" both\n"
    "give #preset-a-b) would share a bundle: the second is refused, and one\n"
    "made before for another name is kept. A host shows the preset once it\n"
    "looks for plugins again (most do at start-up).\n"
    "\n"
    "  -d, --dir DIR          where the bundles go (default: ~/.lv2)\n"
    "  --shipped BUNDLE       write the plugin bundle's presets.ttl and its\n"
    "                         manifest.ttl (the build does this)\n"
    "  --manifest-head FILE   the manifest's part about the plugin itself\n"
    "  -h, --help             this text\n"
    "\n"
    "The preset holds the envelope, the LFO and both spectra. The patch's mod\n"
    "wheel position is not part of it: the mod wheel comes by MIDI. A value\n"
    "outside the range of its plugin control is refused.\n"
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
// this name (to be replaced); else why the patch is refused: the bundle
// holds another name's preset that maps to the same bundle.
std::string BundleFree(const std::string& bundle, const std::string& name, const std::string& path)
{
    std::ifstream in(bundle + "/preset.ttl");
    if (!in)
        return {};
    std::stringstream text;
    text << in.rdbuf();
    const std::string ttl = text.str();
    const std::string label = "rdfs:label ";
    if (ttl.find(label + TurtleString(name) + " ;") != std::string::npos)
        return {};
    std::string held = "another name's";
    if (const size_t at = ttl.find(label + "\""); at != std::string::npos) {
        const size_t from = at + label.size();
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

int Shipped(const std::string& bundle, const std::string& head, const std::vector<std::string>& patches)
{
    std::ifstream in(head);
    if (!in)
        return Fail("cannot read '" + head + "'");
    std::stringstream manifest;
    manifest << in.rdbuf();
    std::string presets = TurtlePrefixes();
    std::string entries;
    UriClaims claims;
    for (const std::string& path : patches) {
        Patch patch;
        if (std::string problem = LoadPatch(path, patch); !problem.empty())
            return Fail(problem);
        const std::string name = PatchName(path);
        const std::string uri = std::string(kPluginUri) + "#preset-" + UriName(name);
        if (std::string problem = claims.Claim(uri, path); !problem.empty())
            return Fail(problem);
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
        std::string clash = claims.Claim(uri, path);
        if (clash.empty())
            clash = BundleFree(bundle, name, path);
        if (!clash.empty()) {
            status = Fail(clash);
            continue;
        }
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
    // What was made must be told; a report that did not arrive is a failure.
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        status = Fail(std::string("cannot write the report: ") + (errno ? std::strerror(errno) : "write error"));
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
        case 'm':
            if (!*optarg)
                return UsageError("--manifest-head needs a value: an empty one names no file");
            head = optarg;
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
    if (shipped.empty() != head.empty())
        return UsageError("--shipped and --manifest-head go together");

    return shipped.empty() ? UserPresets(dir, patches) : Shipped(shipped, head, patches);
}
