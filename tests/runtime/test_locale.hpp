// Locales for tests of multibyte rules: LC_CTYPE is switched for the life of
// the object and restored afterwards. Test machines rarely have a double-byte
// locale installed, so Gbk() builds one (GBK, where a backslash can be the
// second byte of a character) with localedef in a private directory (Windows
// has it as code page 936); ok() is false when the locale cannot be had, and
// the test should skip. kUtf8 names the host's UTF-8 locale.
#ifndef KORVO_TESTS_RUNTIME_TEST_LOCALE_HPP
#define KORVO_TESTS_RUNTIME_TEST_LOCALE_HPP

#include <stdlib.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include "tests/support/test_host.hpp"

class TestLocale {
  public:
#if defined(_WIN32)
    static constexpr const char *kUtf8 = ".UTF-8";
#else
    static constexpr const char *kUtf8 = "C.UTF-8";
#endif

    explicit TestLocale(const char *name) : previous_(std::setlocale(LC_CTYPE, nullptr)) {
        ok_ = std::setlocale(LC_CTYPE, name) != nullptr;
    }
    ~TestLocale() {
        std::setlocale(LC_CTYPE, previous_.c_str());
    }
    TestLocale(const TestLocale &) = delete;
    TestLocale &operator=(const TestLocale &) = delete;

    static TestLocale Gbk() {
        return TestLocale();
    }
    bool ok() const {
        return ok_;
    }

  private:
#if defined(_WIN32)
    // Windows has GBK built in, as code page 936.
    TestLocale() : previous_(std::setlocale(LC_CTYPE, nullptr)) {
        ok_ = std::setlocale(LC_CTYPE, ".936") != nullptr && MB_CUR_MAX == 2;
    }
#else
    // Builds GBK and loads it through LOCPATH; once loaded, neither the
    // directory nor LOCPATH is needed any more.
    TestLocale() : previous_(std::setlocale(LC_CTYPE, nullptr)) {
        const std::string dir = korvo::test::makeScratchDirectory(
            std::filesystem::temp_directory_path(), "korvo_locale_");
        if (dir.empty())
            return;
        const std::string command = "localedef -c -i C -f GBK '" + dir + "/C.GBK' >/dev/null 2>&1";
        if (std::system(command.c_str()) == 0) {
            korvo::test::setEnvironmentVariable("LOCPATH", dir.c_str());
            ok_ = std::setlocale(LC_CTYPE, "C.GBK") != nullptr && MB_CUR_MAX == 2;
            korvo::test::setEnvironmentVariable("LOCPATH", nullptr);
        }
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
#endif

    std::string previous_;
    bool ok_ = false;
};

#endif
