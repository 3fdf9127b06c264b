// The path rules in both styles (the Windows forms of the examples, and their
// POSIX equivalents), and the exported operations, which use the host's
// POSIX style.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "kes/kes_path.h"
#include "kes/kes_path_rules.hpp"

using korvo::kes::PathStyle;

namespace {

constexpr PathStyle kWin = PathStyle::kWindows;
constexpr PathStyle kPosix = PathStyle::kPosix;

std::string Localized(PathStyle style, std::string path, bool *native) {
    *native = korvo::kes::LocalizePath(style, path.data());
    return path;
}

std::string Joined(PathStyle style, std::string_view cwd, std::string_view path, size_t size) {
    std::string buffer(size, '#');
    korvo::kes::JoinAbsolute(style, cwd, path, buffer.data(), size);
    return buffer.c_str();
}

std::string Prefix(const char *path, size_t size = 64) {
    char buffer[64] = "#";
    return KesPathGetPrefix(buffer, path, size) == nullptr ? "<none>" : buffer;
}

}  // namespace

TEST(KesPathRules, WindowsStyleClassifiesDrivesUncAndSlashes) {
    for (const char *absolute : {"D:\\x", "\\\\srv\\share", "/x", "", "a\\b:\\c"})
        EXPECT_TRUE(korvo::kes::IsAbsolutePath(kWin, absolute)) << absolute;
    for (const char *relative : {"x/y", "D:/x", "\\x", "x"})
        EXPECT_FALSE(korvo::kes::IsAbsolutePath(kWin, relative)) << relative;
    for (const char *native : {"x/y", "D:/x", "D:\\x", "\\\\srv\\share"})
        EXPECT_TRUE(korvo::kes::IsNativePath(kWin, native)) << native;
    for (const char *foreign : {"/x", "/a/b", ""})
        EXPECT_FALSE(korvo::kes::IsNativePath(kWin, foreign)) << foreign;

    bool native;
    EXPECT_EQ(Localized(kWin, "a/b/d", &native), "a\\b\\d");
    EXPECT_TRUE(native);
    EXPECT_EQ(Localized(kWin, "/a/b", &native), "/a/b");
    EXPECT_FALSE(native);
}

TEST(KesPathRules, PosixStyleMakesEveryPathNative) {
    for (const char *absolute : {"/x", "/", "//srv/share"})
        EXPECT_TRUE(korvo::kes::IsAbsolutePath(kPosix, absolute)) << absolute;
    for (const char *relative : {"x/y", "", "D:\\x", "\\\\srv\\share"})
        EXPECT_FALSE(korvo::kes::IsAbsolutePath(kPosix, relative)) << relative;
    bool native;
    EXPECT_EQ(Localized(kPosix, "/a/b", &native), "/a/b");
    EXPECT_TRUE(native);
    EXPECT_EQ(Localized(kPosix, "a/b\\d", &native), "a/b\\d");
    EXPECT_TRUE(native);
}

TEST(KesPathRules, MakingAbsoluteJoinsWithTheStyleSeparatorAndCuts) {
    EXPECT_EQ(Joined(kWin, "C:\\w", "x\\y", 64), "C:\\w\\x\\y");
    EXPECT_EQ(Joined(kWin, "C:\\", "x", 64), "C:\\x");
    EXPECT_EQ(Joined(kWin, "C:\\w", "D:\\z", 64), "D:\\z");
    EXPECT_EQ(Joined(kPosix, "/w", "x/y", 64), "/w/x/y");
    EXPECT_EQ(Joined(kPosix, "/", "x", 64), "/x");
    // Never more than size - 1 bytes.
    EXPECT_EQ(Joined(kPosix, "/w", "xyz", 5), "/w/x");
    EXPECT_EQ(Joined(kPosix, "/long", "x", 4), "/lo");
    EXPECT_EQ(Joined(kPosix, "/w", "/absolute", 4), "/ab");
}

TEST(KesPath, PrefixFollowsTheTextRules) {
    EXPECT_EQ(Prefix("\\\\srv\\share\\f"), "\\\\srv");
    EXPECT_EQ(Prefix("D:\\dir\\f"), "D:");
    EXPECT_EQ(Prefix("dir\\f"), "<none>");
    EXPECT_EQ(Prefix("\\\\srv\\x", 3), "\\\\");
    EXPECT_EQ(Prefix("/usr/lib/x"), "/usr");
    EXPECT_EQ(Prefix("/usr"), "/usr");
    EXPECT_EQ(Prefix(""), "<none>");
}

TEST(KesPath, NameAndParentTakeTheLastSeparatorOfEitherKind) {
    char buffer[16];
    EXPECT_STREQ(KesPathGetName(buffer, "a/b\\z", sizeof buffer), "z");
    EXPECT_STREQ(KesPathGetName(buffer, "plain", sizeof buffer), "Failure");
    EXPECT_STREQ(KesPathGetName(buffer, nullptr, sizeof buffer), "Failure");
    EXPECT_STREQ(KesPathGetName(buffer, "d/abcdef", 4), "abc");  // cut and terminated

    EXPECT_STREQ(KesPathGetParent(buffer, "a\\b/z", sizeof buffer), "a\\b");
    EXPECT_STREQ(KesPathGetParent(buffer, "/x", sizeof buffer), "");
    EXPECT_STREQ(KesPathGetParent(buffer, "plain", sizeof buffer), "plain");
    EXPECT_STREQ(KesPathGetParent(buffer, nullptr, sizeof buffer), "");
    EXPECT_STREQ(KesPathGetParent(buffer, "abcdef/g", 4), "abc");
    char inPlace[] = "/depot/bucket/entry";
    EXPECT_STREQ(KesPathGetParent(inPlace, inPlace, sizeof inPlace), "/depot/bucket");

    // The host's style. On Windows drive letters and UNC names are absolute,
    // a path that begins with one '/' is not native and is left as it is,
    // and localising turns slashes into backslashes.
    EXPECT_TRUE(KesPathIsPathAbsolute("/x"));
    char path[] = "/a/b";
#if defined(_WIN32)
    EXPECT_TRUE(KesPathIsPathAbsolute("D:\\x"));
    EXPECT_TRUE(KesPathIsPathAbsolute("\\\\srv\\share"));
    EXPECT_FALSE(KesPathIsPathAbsolute("D:/x"));
    EXPECT_FALSE(KesPathIsPrefixNative("/x"));
    EXPECT_TRUE(KesPathIsPrefixNative("D:/x"));
    EXPECT_EQ(KesPathLocalize(path), nullptr);
    EXPECT_STREQ(path, "/a/b");
    char relative[] = "a/b/d";
    EXPECT_EQ(KesPathLocalize(relative), relative);
    EXPECT_STREQ(relative, "a\\b\\d");
#else
    // Only a leading '/' is absolute, and every path native.
    EXPECT_FALSE(KesPathIsPathAbsolute("D:\\x"));
    EXPECT_TRUE(KesPathIsPrefixNative("/x"));
    EXPECT_EQ(KesPathLocalize(path), path);
    EXPECT_STREQ(path, "/a/b");
#endif
}

TEST(KesPath, MakeAbsoluteStartsFromTheCurrentDirectory) {
    char cwd[1024];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    char buffer[1200];
    ASSERT_EQ(KesPathMakeAbsolute(buffer, "rel/x", sizeof buffer), buffer);
    // The current directory and the path are joined with the host's own
    // separator; the path itself is copied as given.
#if defined(_WIN32)
    const std::string separator = "\\";
#else
    const std::string separator = "/";
#endif
    const std::string root(cwd);
    EXPECT_EQ(std::string(buffer), root + (root.ends_with(separator) ? "" : separator) + "rel/x");
    // A current directory that does not fit is a failure with an empty buffer.
    char tiny[2] = "x";
    if (std::string(cwd).size() >= sizeof tiny) {
        EXPECT_EQ(KesPathMakeAbsolute(tiny, "rel", sizeof tiny), nullptr);
        EXPECT_STREQ(tiny, "");
    }
    EXPECT_EQ(KesPathMakeAbsolute(buffer, nullptr, sizeof buffer), nullptr);
}
