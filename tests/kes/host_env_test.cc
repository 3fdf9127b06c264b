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
    korvo::test::setEnvironmentVariable("PATH", "/usr/bin:/bin");
    const char *before = std::getenv("PATH");
    const std::string held(before);

    ASSERT_TRUE(korvo::host::AppendToSearchPath("/opt/client"));
    EXPECT_EQ(korvo::host::GetEnvironment("PATH"), "/usr/bin:/bin:/opt/client");
    // The text a reader took before the change is still the old value.
    EXPECT_EQ(std::string(before), held);

    ASSERT_TRUE(korvo::host::AppendToSearchPath("/opt/more"));
    EXPECT_STREQ(std::getenv("PATH"), "/usr/bin:/bin:/opt/client:/opt/more");

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
    EXPECT_EQ(korvo::host::GetEnvironment("KORVO_HOST_ENV_TEST"), "");
    korvo::test::setEnvironmentVariable("KORVO_HOST_ENV_TEST", nullptr);
}

}  // namespace
