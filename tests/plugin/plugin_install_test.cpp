// The plugin's bundles installed into a temporary prefix, as make install
// puts them (the install's "plugins" component alone, so the test needs no
// other program built): PREFIX/lib/lv2/marovane.lv2, lib/vst3/marovane.vst3
// and lib/clap/marovane.clap, each module exporting its format's entry
// points, the installed LV2 module naming the plugin.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lv2/core/lv2.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string Output(const std::string& command)
{
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;)
        out.append(buffer, n);
    pclose(p);
    return out;
}

std::string Quoted(const fs::path& p) { return "'" + p.string() + "'"; }

// The module's dynamic symbols defined in it.
bool Exports(const fs::path& module, const std::string& symbol)
{
    const std::string symbols = Output("nm -D --defined-only " + Quoted(module));
    return symbols.find(" " + symbol + "\n") != std::string::npos;
}

} // namespace

TEST(PluginInstall, TheThreeBundlesWhereHostsLook)
{
    const fs::path prefix = fs::temp_directory_path() / ("marovane-plugin-install-" + std::to_string(getpid()));
    fs::remove_all(prefix);
    ASSERT_EQ(std::system(("cmake --install " + Quoted(MAROVANE_BUILD_DIR) + " --component plugins --prefix " +
                           Quoted(prefix) + " >/dev/null")
                              .c_str()),
              0);

    const fs::path lv2 = prefix / "lib/lv2/marovane.lv2";
    for (const char* file : {"manifest.ttl", "marovane_dsp.ttl", "marovane_dsp.so", "marovane_ui.ttl", "marovane_ui.so"})
        EXPECT_TRUE(fs::is_regular_file(lv2 / file)) << file;
    const fs::path vst3 = prefix / "lib/vst3/marovane.vst3/Contents/x86_64-linux/marovane.so";
    const fs::path clap = prefix / "lib/clap/marovane.clap";
    ASSERT_TRUE(fs::is_regular_file(vst3));
    ASSERT_TRUE(fs::is_regular_file(clap));

    const struct {
        fs::path module;
        const char* symbol;
    } entries[] = {{lv2 / "marovane_dsp.so", "lv2_descriptor"}, {lv2 / "marovane_ui.so", "lv2ui_descriptor"},
                   {vst3, "GetPluginFactory"},                 {vst3, "ModuleEntry"},
                   {vst3, "ModuleExit"},                       {clap, "clap_entry"}};
    for (const auto& e : entries)
        EXPECT_TRUE(Exports(e.module, e.symbol)) << e.module << " " << e.symbol;

    // The installed LV2 module loads and names the plugin.
    void* module = dlopen((lv2 / "marovane_dsp.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto descriptorOf = reinterpret_cast<LV2_Descriptor_Function>(dlsym(module, "lv2_descriptor"));
    ASSERT_NE(descriptorOf, nullptr);
    ASSERT_NE(descriptorOf(0), nullptr);
    EXPECT_STREQ(descriptorOf(0)->URI, "urn:marovane:synth");
    dlclose(module);
    fs::remove_all(prefix);
}
