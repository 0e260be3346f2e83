#include "support/OrdinaryUser.h"

#include <cstdio>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarvelo::test {
namespace {

[[noreturn]] void becomeNobodyAndRun(const std::function<void()>& body)
{
    const passwd* nobody = getpwnam("nobody");
    if (!nobody || setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) {
        std::fprintf(stderr, "cannot become nobody\n");
        _exit(2);
    }
    body();
    std::fflush(nullptr);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
}

}  // namespace

void runAsOrdinaryUser(const std::function<void()>& body)
{
    if (geteuid() != 0) {
        body();
        return;
    }
    std::fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        becomeNobodyAndRun(body);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "failed as the user nobody";
}

void runAsEveryUser(const std::function<void()>& body)
{
    {
        SCOPED_TRACE("as ourselves");
        body();
    }
    if (geteuid() == 0) {
        SCOPED_TRACE("as nobody");
        runAsOrdinaryUser(body);
    }
}

}  // namespace tarvelo::test
