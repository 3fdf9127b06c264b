// The environment through the host layer: copies of variables, and the PATH
// extension that replaced setenv, which must leave every text a reader
// already holds intact.
#include "kes/host_env.hpp"
#include "tests/support/test_host.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <optional>
#include <string>

namespace {

// Puts PATH back as it was when the test began.
class SavedPath {
  public:
    SavedPath() : old_(korvo::host::GetEnvironment("PATH")) {}
    ~SavedPath() {
        if (old_)
            korvo::test::setEnvironmentVariable("PATH", old_->c_str());
        else
            korvo::test::setEnvironmentVariable("PATH", nullptr);
    }

  private:
    std::optional<std::string> old_;
};

TEST(HostEnvironment, PathGrowsByOneDirectoryAtATime) {
    SavedPath saved;
    const std::string sep(1, korvo::host::kSearchListSeparator);
    korvo::test::setEnvironmentVariable("PATH", ("/usr/bin" + sep + "/bin").c_str());
    const char *before = std::getenv("PATH");
    const std::string held(before);

    ASSERT_TRUE(korvo::host::AppendToSearchPath("/opt/client"));
    EXPECT_EQ(korvo::host::GetEnvironment("PATH"), held + sep + "/opt/client");
#if !defined(_WIN32)
    // The text a reader took before the change is still the old value. (The
    // Windows C runtime frees the old entry: there only copies are safe.)
    EXPECT_EQ(std::string(before), held);
#endif

    ASSERT_TRUE(korvo::host::AppendToSearchPath("/opt/more"));
    EXPECT_EQ(std::string(std::getenv("PATH")), held + sep + "/opt/client" + sep + "/opt/more");

    korvo::test::setEnvironmentVariable("PATH", nullptr);
    EXPECT_EQ(korvo::host::GetEnvironment("PATH"), std::nullopt);
    ASSERT_TRUE(korvo::host::AppendToSearchPath("/opt/client"));
    EXPECT_EQ(korvo::host::GetEnvironment("PATH"), "/opt/client");
}

TEST(HostEnvironment, ValuesAreCopies) {
    korvo::test::setEnvironmentVariable("KORVO_HOST_ENV_TEST", "one");
    const std::optional<std::string> value = korvo::host::GetEnvironment("KORVO_HOST_ENV_TEST");
    korvo::test::setEnvironmentVariable("KORVO_HOST_ENV_TEST", "two");
    EXPECT_EQ(value, "one");
    EXPECT_EQ(korvo::host::GetEnvironment("KORVO_HOST_ENV_TEST"), "two");
    korvo::test::setEnvironmentVariable("KORVO_HOST_ENV_TEST", "");
#if defined(_WIN32)
    // Windows keeps no empty values: setting one removes the variable.
    EXPECT_EQ(korvo::host::GetEnvironment("KORVO_HOST_ENV_TEST"), std::nullopt);
#else
    EXPECT_EQ(korvo::host::GetEnvironment("KORVO_HOST_ENV_TEST"), "");
#endif
    korvo::test::setEnvironmentVariable("KORVO_HOST_ENV_TEST", nullptr);
}

}  // namespace
