// Finding the CDS client through the registry file and the client's
// cds.cfg, and the faults of both, each case in a fresh process. The
// registry file is the POSIX hosts' stand-in for the system registry; on
// Windows the loader reads the machine's registry key, whose reading the
// host registry tests cover.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/cds/cds_loader_fixture.hpp"

namespace {

using namespace cds_loader_test;

const char kSection[] = "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\CDSClient]";

class RegistryLoaderTest : public LoaderTest {
  protected:
    // A client home (with its lib/CacheMgr.jar) whose cds.cfg holds
    // `config`, named by a registry file that holds `registry` (with
    // "%HOME%" replaced by the home).
    std::string make_home(const std::string &config, std::string registry) {
        const std::string home = scratch / "home";
        std::filesystem::create_directories(home + "/lib");
        cds_test::write_file(home + "/lib/CacheMgr.jar", "");
        cds_test::write_file(home + "/cds.cfg", config);
        for (size_t at; (at = registry.find("%HOME%")) != std::string::npos;)
            registry.replace(at, 6, home);
        cds_test::write_file(registry_file(), registry);
        return home;
    }
    std::string registry_file() const { return scratch / "registry.ini"; }
};

TEST_F(RegistryLoaderTest, ClientFoundThroughTheRegistryAndItsConfiguration) {
    const std::string home = scratch / "home";
    make_home(
        "# client settings\nCacheSize=100\nClassPath = " + home +
            "/lib/CacheMgr.jar\nClassPath = /elsewhere/CacheMgr.jar\n",
        std::string("[Other]\ncds_home=/nowhere\n") + kSection + "\r\n  CDS_HOME = %HOME%\r\n");
    const std::string directory = home + "/lib/../cds";
    install(CDS_TEST_CLIENT, home + "/cds");

    ProgramRun run = probe({{"KORVO_REGISTRY_FILE", registry_file()}});
    EXPECT_EQ(run.korvo_lines(), with(loading_lines(5), {kLoaded}));
    EXPECT_EQ(run.printed("CLIENT"), directory + "/libCDSClient.so");
    EXPECT_EQ(run.printed("PATH"), "/usr/bin:/bin:" + directory);

    // With PATH unset, the directory becomes the whole PATH.
    run = probe({{"KORVO_REGISTRY_FILE", registry_file()}, {"PATH", std::nullopt}});
    EXPECT_EQ(run.printed("PATH"), directory);
    EXPECT_EQ(run.korvo_lines().back(), kLoaded);
}

TEST_F(RegistryLoaderTest, RegistryAndConfigurationFaultsSayWhy) {
    // No registry file at all.
    EXPECT_EQ(probe({}).korvo_lines(), (std::vector<std::string>{kNoHome, kNotLoaded}));

    // A registry file without the key, or with the key but not the value.
    make_home(
        "ClassPath=/x/CacheMgr.jar\n",
        "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Other]\ncds_home=%HOME%\n" +
            std::string(kSection) + "\nhome=%HOME%\n");
    EXPECT_EQ(probe({{"KORVO_REGISTRY_FILE", registry_file()}}).korvo_lines(),
              (std::vector<std::string>{kNoHome, kNotLoaded}));

    // A home longer than the registry value may be.
    cds_test::write_file(registry_file(),
                         std::string(kSection) + "\ncds_home=/" + std::string(300, 'h') + "\n");
    EXPECT_EQ(probe({{"KORVO_REGISTRY_FILE", registry_file()}}).korvo_lines(),
              (std::vector<std::string>{kNoHome, kNotLoaded}));

    // A FIFO in the registry file's place is refused without waiting for a
    // writer.
    const std::string fifo = scratch / "fifo.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(probe({{"KORVO_REGISTRY_FILE", fifo}}).korvo_lines(),
              (std::vector<std::string>{kNoHome, kNotLoaded}));

    // A home without cds.cfg.
    const std::string home = make_home("", std::string(kSection) + "\ncds_home=%HOME%\n");
    std::filesystem::remove(home + "/cds.cfg");
    EXPECT_EQ(
        probe({{"KORVO_REGISTRY_FILE", registry_file()}}).korvo_lines(),
        (std::vector<std::string>{
            "korvo: cds_get_lib_dir: Could not open " + home + "/cds.cfg for read.", kNotLoaded}));

    // A class path without the client's jar, and a line without '='.
    for (const char *config :
         {"ClassPath = /opt/cds/lib/other.jar\n", "ClassPath /opt/CacheMgr.jar\n"}) {
        make_home(config, std::string(kSection) + "\ncds_home=%HOME%\n");
        EXPECT_EQ(probe({{"KORVO_REGISTRY_FILE", registry_file()}}).korvo_lines(),
                  (std::vector<std::string>{kNotLoaded}))
            << config;
    }
}

TEST_F(RegistryLoaderTest, LongConfigurationLinesAreSkippedWhole) {
    const std::string home = scratch / "home";
    install(CDS_TEST_CLIENT, home + "/cds");
    const std::string skipped =
        "korvo: cds_get_lib_dir: Skipped 2 lines longer than 259 characters in " + home +
        "/cds.cfg.";
    // The tail of a long line is not taken for a line of its own, and a
    // ClassPath line that is too long is not cut short.
    const std::string long_comment = "#" + std::string(259, '-') + "ClassPath=/wrong/CacheMgr.jar";
    const std::string long_class_path =
        "ClassPath=" + home + "/lib/" + std::string(260, 'x') + "/../../lib/CacheMgr.jar";
    make_home(long_comment + "\n" + long_class_path + "\n",
              std::string(kSection) + "\ncds_home=%HOME%\n");
    EXPECT_EQ(probe({{"KORVO_REGISTRY_FILE", registry_file()}}).korvo_lines(),
              (std::vector<std::string>{skipped, kNotLoaded}));

    // Long lines before a proper one do not hide it.
    make_home(long_comment + "\n" + long_comment + "\nClassPath=" + home + "/lib/CacheMgr.jar\n",
              std::string(kSection) + "\ncds_home=%HOME%\n");
    EXPECT_EQ(probe({{"KORVO_REGISTRY_FILE", registry_file()}}).korvo_lines(),
              with({skipped}, with(loading_lines(5), {kLoaded})));
}

}  // namespace
