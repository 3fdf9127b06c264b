// The text rules of the CDS source: the registry file, the client's cds.cfg,
// the path of a downloaded package and the file list it joins.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cds/cds_actual_path.hpp"
#include "cds/cds_config.hpp"
#include "cds/cds_download.hpp"
#include "cds/cds_registry.hpp"
#include "tests/cds/cds_stderr.hpp"
#include "tests/cds_client/cds_test_support.hpp"

namespace {

using namespace korvo::cds;

std::optional<std::string> home_in(const std::string &text) {
    return registry_value(text, kClientKey, kClientHomeValue);
}

TEST(RegistryFile, FindsTheClientsHome) {
    const std::string section =
        "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\CDSClient]";
    EXPECT_EQ(home_in(section + "\ncds_home=/opt/cds\n"), "/opt/cds");
    // Registry names ignore case; blanks, CR LF, comments and quotes are
    // the file's, not the value's.
    EXPECT_EQ(
        home_in(
            "; comment\n[hkey_local_machine\\system\\currentcontrolset\\services\\cdsclient]\r\n"
            "# another\n  CDS_Home  =  \"/opt/my cds\"  \r\n"),
        "/opt/my cds");
    // The first entry of the section wins; other sections do not count.
    EXPECT_EQ(
        home_in("[Other]\ncds_home=/wrong\n" + section + "\nother=1\ncds_home=/a\ncds_home=/b\n"),
        "/a");
    // A malformed section line ends the section before it.
    EXPECT_EQ(home_in(section + "\n[broken\ncds_home=/wrong\n"), std::nullopt);
    EXPECT_EQ(home_in(section + "\ncds_home\n"), std::nullopt);
    EXPECT_EQ(home_in("cds_home=/no/section\n"), std::nullopt);
    EXPECT_EQ(home_in(""), std::nullopt);
    EXPECT_EQ(home_in(section + "\ncds_home=/a" + std::string(1, '\0') + "b\n"), std::nullopt);
    EXPECT_EQ(home_in(section + "\ncds_home=\n"), "");
}

TEST(ClientConfiguration, ClassPathLeadsToTheLibraryDirectory) {
    EXPECT_EQ(scan_class_path("ClassPath = C:/cds/lib/CacheMgr.jar\n").directory,
              "C:/cds/lib/../cds");
    // Everything from the jar on goes, and the first ClassPath line decides.
    EXPECT_EQ(scan_class_path(
                  "Other=1\nClassPath=\t/opt/lib/CacheMgr.jar;x.jar\r\nClassPath=/b/CacheMgr.jar")
                  .directory,
              "/opt/lib/../cds");
    EXPECT_EQ(
        scan_class_path("ClassPath=/opt/lib/other.jar\nClassPath=/b/CacheMgr.jar\n").directory,
        std::nullopt);
    EXPECT_EQ(scan_class_path("ClassPath /opt/lib/CacheMgr.jar\n").directory, std::nullopt);
    EXPECT_EQ(scan_class_path("classpath=/opt/lib/CacheMgr.jar\n").directory, std::nullopt);
    EXPECT_EQ(scan_class_path("").directory, std::nullopt);

    // Lines up to 259 characters are read; longer ones are skipped whole.
    const std::string value = "/" + std::string(259 - 10 - 14, 'd') + "/CacheMgr.jar";
    const std::string fits = "ClassPath=" + value;
    ASSERT_EQ(fits.size(), 259u);
    EXPECT_EQ(scan_class_path(fits + "\n").directory,
              value.substr(0, value.size() - 12) + "../cds");
    const korvo::cds::ClassPathScan scan =
        scan_class_path(fits + "x\n" + std::string(300, '#') + "ClassPath=/t/CacheMgr.jar\n");
    EXPECT_EQ(scan.directory, std::nullopt);
    EXPECT_EQ(scan.long_lines, 2u);
}

TEST(DownloadedFilePath, TheFileLiesNearTheDownloadDirectory) {
    EXPECT_EQ(cache_path_near("/x/y/z/w", "p1"), "/x/y/cache/files/1/p1-1");
    EXPECT_EQ(cache_path_near("/x/y", "p1"), "/cache/files/1/p1-1");
    EXPECT_EQ(cache_path_near("/x", "p1"), std::nullopt);
    EXPECT_EQ(cache_path_near("noslash", "p1"), std::nullopt);
    // At most the directory's length plus 99 characters.
    EXPECT_EQ(cache_path_near("/a/b/c", std::string(200, 'p')),
              ("/a/cache/files/1/" + std::string(200, 'p')).substr(0, 6 + 99));
}

const char *answered_directory = nullptr;
const char *answer_directory(uint32_t) {
    return answered_directory;
}

TEST(DownloadedFilePath, EachOutcomeWritesItsLine) {
    cds_test::ScratchDir scratch;
    CdsFuncs funcs{};
    funcs.GetDownloadDirectory = &answer_directory;
    std::vector<std::string> lines;
    {
        cds_test::StderrCapture capture(scratch / "stderr");
        answered_directory = scratch.path().c_str();
        EXPECT_STREQ(korvo::cds::actual_path(funcs, 3, "p").get(), scratch.path().c_str());
        answered_directory = "noslash";
        EXPECT_STREQ(korvo::cds::actual_path(funcs, 4, "p").get(), "noslash");
        answered_directory = nullptr;
        EXPECT_EQ(korvo::cds::actual_path(funcs, 5, "p"), nullptr);
        lines = capture.lines();
    }
    EXPECT_EQ(lines,
              (std::vector<std::string>{
                  "korvo: cds_get_actual_path: Start. cds_handle=3 cds_path=" + scratch.path(),
                  "korvo: cds_get_actual_path: Existing path valid. cds_handle=3 cds_path=" +
                      scratch.path(),
                  "korvo: cds_get_actual_path: Start. cds_handle=4 cds_path=noslash",
                  "korvo: cds_get_actual_path: Missing last slash. cds_handle=4 cds_path=noslash",
                  "korvo: cds_get_actual_path: Start. cds_handle=5 cds_path=<null>",
              }));
}

TEST(DownloadedFilePath, FilesJoinTheUntakenPartOfTheList) {
    EXPECT_STREQ(korvo::cds::list_with(nullptr, "/c/p-1").get(), "/c/p-1");
    EXPECT_STREQ(korvo::cds::list_with("/a,/b", "/c/p-1").get(), "/a,/b,/c/p-1");
}

}  // namespace
