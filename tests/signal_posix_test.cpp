// The command over POSIX named semaphores: what differs from Windows and what only POSIX has.
#include "support.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <semaphore.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

std::string error_line(const char *call, int error)
{
    return std::string(call) + " failed: " + strerror(error) + "\n";
}

// A semaphore lives until it is unlinked: a signal nobody waits for yet is kept for the first.
TEST(Posix, ANewNameKeepsItsSignalForTheFirstWaiter)
{
    std::string name = unique_name("new");
    Outcome outcome = run_semsignal({name});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out + outcome.err, "");
    {
        Waiter waiter(name, 0);
        EXPECT_TRUE(waiter.released());
    }
    Waiter second(name, 100);
    EXPECT_FALSE(second.released());
    forget_semaphore(name);
}

TEST(Posix, NamesThePlatformRefusesGiveTheCreateLine)
{
    const struct {
        std::string name;
        int error;
    } refused[] = {
        {"inner/slash", EINVAL},
        {"/", EINVAL},
        {std::string(NAME_MAX + 45, 'n'), ENAMETOOLONG},
    };
    for (const auto &each : refused) {
        Outcome outcome = run_semsignal({each.name});
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, error_line("CreateSemaphoreA", each.error));
    }
}

TEST(Posix, ARaisePastTheHighestValueFailsAndKeepsTheCount)
{
    std::string name = unique_name("full");
    TestSemaphore semaphore(name, SEM_VALUE_MAX, SEM_VALUE_MAX);
    ASSERT_TRUE(semaphore.created());

    Outcome outcome = run_semsignal({name});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, error_line("ReleaseSemaphore", EOVERFLOW));
    EXPECT_EQ(semaphore.count(), SEM_VALUE_MAX);
}

// Created with mode 0600, a semaphore is its creator's user's alone, as with Windows' default
// security.
TEST(Posix, AnotherUsersSemaphoreIsRefused)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run the command as another user";
    // The other user runs a copy in a folder it can reach, wherever the build is.
    char folder[] = "/tmp/semsignal-test-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::string copy = std::string(folder) + "/semsignal";
    ASSERT_EQ(run_program({"cp", semsignal_path(), copy}).status, 0);
    chmod(folder, 0755);
    auto as_nobody = [&](const std::string &name) {
        return run_program(
            {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--", copy, name});
    };

    std::string mine = unique_name("private");
    std::string theirs = unique_name("theirs");
    ASSERT_EQ(run_semsignal({mine}).status, 0);
    EXPECT_EQ(as_nobody(theirs).status, 0) << "the other user cannot run the command at all";

    Outcome outcome = as_nobody(mine);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, error_line("CreateSemaphoreA", EACCES));
    forget_semaphore(mine);
    forget_semaphore(theirs);
    unlink(copy.c_str());
    rmdir(folder);
}

#ifndef SEMSIGNAL_SANITIZED
TEST(Memory, ValgrindFindsNoErrorAndNoLeakOnEitherPath)
{
    std::string name = unique_name("memcheck");
    for (const std::string &argument : {name, std::string("inner/slash"), std::string()}) {
        Outcome outcome = run_program({"valgrind", "-q", "--error-exitcode=99", "--leak-check=full",
                                       "--show-leak-kinds=all", "--errors-for-leak-kinds=all",
                                       semsignal_path(), argument});
        EXPECT_EQ(outcome.status, argument == name ? 0 : 1) << argument << outcome.err;
    }
    forget_semaphore(name);
}
#endif

} // namespace
