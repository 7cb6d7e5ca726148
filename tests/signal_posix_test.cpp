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

#include <chrono>

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

// A file in the semaphore's place that the C library cannot post to (planted by another user for
// a name not yet used, or truncated, or swapped since) is refused with the line of sem_post for
// something that is not a semaphore, last on standard error, where the C library may have written
// a line of its own: never a crash, never a wait. A file too short to hold a semaphore is left as
// it was found.
TEST(Posix, ADamagedSemaphoreFileIsRefusedWithoutACrashOrAWait)
{
    std::string too_short(sizeof(sem_t) - 1, '\0');
    std::string garbage(sizeof(sem_t), 'U'); // the C library aborts on it
    // One waiter recorded and 129 as the wake-up's futex flags: the wake-up becomes a wait.
    std::string crafted = std::string("\0\0\0\0\1\0\0\0\x81", 9) + std::string(23, '\0');
    const struct {
        const char *file;
        std::string contents;
        bool full_file_system; // of the same size as a semaphore, but with no room for its page
        bool left_as_found;
    } cases[] = {
        {"empty", "", false, true},
        {"too short", too_short, false, true},
        {"crafted flags", crafted, false, false},
        {"garbage", garbage, false, false},
        {"sparse, on a full file system", "", true, false},
    };
    bool skipped = false;
    for (const auto &each : cases) {
        SCOPED_TRACE(each.file);
        std::string name = unique_name("damaged");
        LeftBehind planted(name);
        std::string file = "/dev/shm/sem." + name;
        std::vector<std::string> command = {"timeout", "-s", "KILL", "10", semsignal_path(), name};
        if (each.full_file_system) {
            if (geteuid() != 0) {
                skipped = true;
                continue;
            }
            // A file system of its own, in a mount namespace of its own, filled up.
            command = {
                "unshare",
                "-m",
                "sh",
                "-c",
                "mount -t tmpfs -o size=64k none /dev/shm && truncate -s 32 " + file +
                    " && { dd if=/dev/zero of=/dev/shm/fill bs=4k 2>/dev/null; exec \"$@\"; }",
                "sh"};
            command.insert(command.end(), {semsignal_path(), name});
        } else {
            int fd = open(file.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0644);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(write(fd, each.contents.data(), each.contents.size()),
                      static_cast<ssize_t>(each.contents.size()));
            close(fd);
        }

        auto start = std::chrono::steady_clock::now();
        Outcome outcome = run_program(command);
        auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.out, "");
        std::string line = failure_line(kRaiseStep, EINVAL);
        EXPECT_TRUE(outcome.err.size() >= line.size() &&
                    outcome.err.compare(outcome.err.size() - line.size(), line.size(), line) == 0)
            << outcome.err;
        EXPECT_LT(took, std::chrono::seconds(5));
        if (each.left_as_found) {
            EXPECT_EQ(outcome.err, line);
            struct stat status;
            ASSERT_EQ(stat(file.c_str(), &status), 0);
            EXPECT_EQ(status.st_size, static_cast<off_t>(each.contents.size()));
            EXPECT_EQ(status.st_mode & 07777, 0644u);
        }
    }
    if (skipped)
        GTEST_SKIP() << "the full file system needs root, for a mount namespace of its own";
}

// The C library drops leading slashes, but counts them against its limit on the length of a
// name, and then fails without saying why; the command drops them first, so that any number of
// them names the same semaphore.
TEST(Posix, LeadingSlashesNameTheSameSemaphore)
{
    const std::string slashes(250, '/');
    std::string existing = unique_name("slashes");
    TestSemaphore semaphore(existing, 0, 10);
    ASSERT_TRUE(semaphore.created());
    Outcome outcome = run_semsignal({slashes + existing});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out + outcome.err, "");
    EXPECT_EQ(semaphore.count(), 1);

    std::string fresh = unique_name("slashes");
    LeftBehind created(fresh);
    outcome = run_semsignal({slashes + fresh});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out + outcome.err, "");
    {
        Waiter first(fresh, 0);
        EXPECT_TRUE(first.released()) << "the count is 0";
    }
    Waiter second(fresh, 0);
    EXPECT_FALSE(second.released()) << "the count was above 1";
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
