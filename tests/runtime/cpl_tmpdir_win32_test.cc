// The temporary directory on Windows: without KORVO_TMPDIR and TMPDIR it is
// the system's (GetTempPathA, which follows TMP) without its trailing
// separator, asked anew on every call.
#include <windows.h>

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

#include "runtime/cpl.h"

namespace {

// Sets a variable for the test and puts the old value back afterwards.
class ScopedVariable {
  public:
    ScopedVariable(const char *name, const char *value) : name_(name) {
        if (const char *old = std::getenv(name))
            old_ = old;
        ::_putenv_s(name, value);
    }
    ~ScopedVariable() { ::_putenv_s(name_, old_ ? old_->c_str() : ""); }

  private:
    const char *name_;
    std::optional<std::string> old_;
};

}  // namespace

TEST(TemporaryDirectory, TheSystemsFollowsTmpAndLosesItsLastSeparator) {
    const ScopedVariable korvo("KORVO_TMPDIR", "");
    const ScopedVariable posix("TMPDIR", "");
    {
        const ScopedVariable tmp("TMP", "C:\\windows\\");
        EXPECT_STREQ(cpl_tmpdir(), "C:\\windows");
    }
    {
        const ScopedVariable tmp("TMP", "C:\\");
        EXPECT_STREQ(cpl_tmpdir(), "C:\\");
    }
    char system[MAX_PATH + 1];
    const DWORD length = ::GetTempPathA(sizeof system, system);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(std::string(cpl_tmpdir()) + "\\", std::string(system, length));

    const ScopedVariable mine("KORVO_TMPDIR", "D:\\scratch");
    EXPECT_STREQ(cpl_tmpdir(), "D:\\scratch");
}
