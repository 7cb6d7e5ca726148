// The command over POSIX named semaphores: what differs from Windows and what only POSIX has.
#include "support.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <semaphore.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// A semaphore lives until it is unlinked: a signal nobody waits for yet is kept for the first.
TEST(Posix, ANewNameKeepsItsSignalForTheFirstWaiter)
{
    std::string name = unique_name("new");
    LeftBehind semaphore(name);
    Outcome outcome = run_semsignal({name});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out + outcome.err, "");
    {
        Waiter waiter(name, 0);
        EXPECT_TRUE(waiter.released());
    }
    Waiter second(name, 100);
    EXPECT_FALSE(second.released());
}

// The C library prefixes "sem." to the name of the semaphore's file, so that names of 252 bytes
// and more are too long; the command passes them all on and reports what it says.
TEST(Posix, NamesThePlatformRefusesGiveTheOpenLine)
{
    std::string longest = unique_name("long");
    longest += std::string(NAME_MAX - 4 - longest.size(), 'n');
    const struct {
        std::string name;
        int error;
    } refused[] = {
        {unique_name("inner") + "/slash", EINVAL},
        {"/", EINVAL},
        {longest + "n", ENAMETOOLONG},
    };
    for (const auto &each : refused) {
        Outcome outcome = run_semsignal({each.name});
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, failure_line(kOpenStep, each.error));
    }

    TestSemaphore semaphore(longest, 0, 10);
    ASSERT_TRUE(semaphore.created());
    EXPECT_EQ(run_semsignal({longest}).status, 0);
    EXPECT_EQ(semaphore.count(), 1);
}

TEST(Posix, ARaisePastTheHighestValueFailsAndKeepsTheCount)
{
    std::string name = unique_name("full");
    TestSemaphore semaphore(name, SEM_VALUE_MAX, SEM_VALUE_MAX);
    ASSERT_TRUE(semaphore.created());

    Outcome outcome = run_semsignal({name});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, failure_line(kRaiseStep, EOVERFLOW));
    EXPECT_EQ(semaphore.count(), SEM_VALUE_MAX);
}

// A file in the semaphore's place that is too short to hold one (planted by another user for a
// name not yet used, or truncated) is refused, and left as it was found.
TEST(Posix, ASemaphoreFileTooShortToHoldASemaphoreIsRefusedAndLeftAlone)
{
    for (off_t size : {off_t{0}, static_cast<off_t>(sizeof(sem_t) - 1)}) {
        SCOPED_TRACE(size);
        std::string name = unique_name("damaged");
        LeftBehind planted(name);
        std::string file = "/dev/shm/sem." + name;
        int fd = open(file.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, size), 0);
        close(fd);

        Outcome outcome = run_semsignal({name});
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, failure_line(kRaiseStep, EINVAL));
        struct stat status;
        ASSERT_EQ(stat(file.c_str(), &status), 0);
        EXPECT_EQ(status.st_size, size);
        EXPECT_EQ(status.st_mode & 07777, 0644u);
    }
}

// A new semaphore's file has mode 0600 less the umask: the creator's user's alone, as with
// Windows' default security.
TEST(Posix, ANewSemaphoreHasMode0600LessTheUmask)
{
    const struct {
        mode_t umask;
        mode_t mode;
    } cases[] = {{0, 0600}, {0400, 0200}};
    for (const auto &each : cases) {
        std::string name = unique_name("mode");
        LeftBehind semaphore(name);
        mode_t inherited = umask(each.umask);
        Outcome outcome = run_semsignal({name});
        umask(inherited);
        EXPECT_EQ(outcome.status, 0);
        struct stat status;
        ASSERT_EQ(stat(("/dev/shm/sem." + name).c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, each.mode) << "umask " << each.umask;
    }
}

// A folder of the test's own, and whatever is in it, removed when it goes.
struct TemporaryFolder {
    char path[32] = "/tmp/semsignal-test-XXXXXX";
    TemporaryFolder()
    {
        if (mkdtemp(path) == nullptr)
            path[0] = '\0';
    }
    ~TemporaryFolder()
    {
        if (path[0] != '\0')
            run_program({"rm", "-rf", path});
    }
};

TEST(Posix, AnotherUsersSemaphoreIsRefused)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run the command as another user";
    // The other user runs a copy in a folder it can reach, wherever the build is.
    TemporaryFolder folder;
    ASSERT_NE(folder.path[0], '\0');
    std::string copy = std::string(folder.path) + "/semsignal";
    ASSERT_EQ(run_program({"cp", semsignal_path(), copy}).status, 0);
    ASSERT_EQ(chmod(folder.path, 0755), 0);
    ASSERT_EQ(chmod(copy.c_str(), 0755), 0);
    auto as_nobody = [&](const std::string &name) {
        return run_program(
            {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--", copy, name});
    };

    std::string mine = unique_name("private");
    std::string theirs = unique_name("theirs");
    LeftBehind my_semaphore(mine), their_semaphore(theirs);
    ASSERT_EQ(run_semsignal({mine}).status, 0);
    ASSERT_EQ(as_nobody(theirs).status, 0) << "the other user cannot run the command at all";

    Outcome outcome = as_nobody(mine);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, failure_line(kOpenStep, EACCES));
}

TEST(Memory, ValgrindFindsNoErrorAndNoLeakOnEitherPath)
{
#ifdef SEMSIGNAL_SANITIZED
    GTEST_SKIP() << "valgrind does not run sanitized programs";
#endif
    std::string name = unique_name("memcheck");
    LeftBehind semaphore(name);
    for (const std::string &argument : {name, unique_name("inner") + "/slash", std::string()}) {
        Outcome outcome = run_program({"valgrind", "-q", "--error-exitcode=99", "--leak-check=full",
                                       "--show-leak-kinds=all", "--errors-for-leak-kinds=all",
                                       semsignal_path(), argument});
        EXPECT_EQ(outcome.status, argument == name ? 0 : 1) << argument << outcome.err;
    }
}

} // namespace
