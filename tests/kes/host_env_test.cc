// The environment through the host layer: copies of variables, and the PATH
// extension that replaced setenv, which must leave every text a reader
// already holds intact.
#include "kes/host_env.hpp"

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
            ::setenv("PATH", old_->c_str(), 1);
        else
            ::unsetenv("PATH");
    }

  private:
    std::optional<std::string> old_;
};

TEST(HostEnvironment, PathGrowsByOneDirectoryAtATime) {
    SavedPath saved;
    ::setenv("PATH", "/usr/bin:/bin", 1);
    const char *before = std::getenv("PATH");
    const std::string held(before);

    ASSERT_TRUE(korvo::host::AppendToSearchPath("/opt/client"));
    EXPECT_EQ(korvo::host::GetEnvironment("PATH"), "/usr/bin:/bin:/opt/client");
    // The text a reader took before the change is still the old value.
    EXPECT_EQ(std::string(before), held);

    ASSERT_TRUE(korvo::host::AppendToSearchPath("/opt/more"));
    EXPECT_STREQ(std::getenv("PATH"), "/usr/bin:/bin:/opt/client:/opt/more");

    ::unsetenv("PATH");
    EXPECT_EQ(korvo::host::GetEnvironment("PATH"), std::nullopt);
    ASSERT_TRUE(korvo::host::AppendToSearchPath("/opt/client"));
    EXPECT_EQ(korvo::host::GetEnvironment("PATH"), "/opt/client");
}

TEST(HostEnvironment, ValuesAreCopies) {
    ::setenv("KORVO_HOST_ENV_TEST", "one", 1);
    const std::optional<std::string> value = korvo::host::GetEnvironment("KORVO_HOST_ENV_TEST");
    ::setenv("KORVO_HOST_ENV_TEST", "two", 1);
    EXPECT_EQ(value, "one");
    EXPECT_EQ(korvo::host::GetEnvironment("KORVO_HOST_ENV_TEST"), "two");
    ::setenv("KORVO_HOST_ENV_TEST", "", 1);
    EXPECT_EQ(korvo::host::GetEnvironment("KORVO_HOST_ENV_TEST"), "");
    ::unsetenv("KORVO_HOST_ENV_TEST");
}

}  // namespace
