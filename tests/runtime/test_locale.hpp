// Locales for tests of multibyte rules. LC_CTYPE is switched for the life of
// an object and restored afterwards. Test machines rarely have a double-byte
// locale installed, so ScopedGbkLocale builds one (GBK, where a backslash can
// be the second byte of a character) with localedef into a private directory;
// ok() is false when that cannot be done, and the test should skip.
#ifndef KORVO_TESTS_RUNTIME_TEST_LOCALE_HPP
#define KORVO_TESTS_RUNTIME_TEST_LOCALE_HPP

#include <stdlib.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

class ScopedCtype {
  public:
    explicit ScopedCtype(const char *name) {
        const char *current = std::setlocale(LC_CTYPE, nullptr);
        previous_ = current != nullptr ? current : "C";
        ok_ = std::setlocale(LC_CTYPE, name) != nullptr;
    }
    ~ScopedCtype() { std::setlocale(LC_CTYPE, previous_.c_str()); }
    ScopedCtype(const ScopedCtype &) = delete;
    ScopedCtype &operator=(const ScopedCtype &) = delete;

    bool ok() const { return ok_; }

  private:
    std::string previous_;
    bool ok_ = false;
};

class ScopedGbkLocale {
  public:
    ScopedGbkLocale() {
        std::string dir = (std::filesystem::temp_directory_path() / "korvo_locale_XXXXXX").string();
        if (mkdtemp(dir.data()) == nullptr)
            return;
        dir_ = dir;
        const std::string command =
            "localedef -c -i C -f GBK '" + dir + "/C.GBK' >/dev/null 2>&1 </dev/null";
        if (std::system(command.c_str()) != 0)
            return;
        if (const char *old = std::getenv("LOCPATH"))
            previous_path_ = old;
        setenv("LOCPATH", dir.c_str(), 1);
        ctype_.emplace("C.GBK");
    }
    ~ScopedGbkLocale() {
        ctype_.reset();
        if (previous_path_) {
            setenv("LOCPATH", previous_path_->c_str(), 1);
        } else {
            unsetenv("LOCPATH");
        }
        std::error_code ignored;
        if (!dir_.empty())
            std::filesystem::remove_all(dir_, ignored);
    }
    ScopedGbkLocale(const ScopedGbkLocale &) = delete;
    ScopedGbkLocale &operator=(const ScopedGbkLocale &) = delete;

    bool ok() const { return ctype_ && ctype_->ok() && MB_CUR_MAX == 2; }

  private:
    std::string dir_;
    std::optional<std::string> previous_path_;
    std::optional<ScopedCtype> ctype_;
};

#endif
