// The commands over POSIX named semaphores: their files, whoever made them, and what differs
// from Windows.
#include "harness.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <semaphore.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <thread>

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

// What is in a semaphore's place before the command runs: nothing, a file the test writes, or one
// that another user (nobody) writes and holds a read lease on, as any owner of a file may, or a
// second link to a file of the test's own.
enum class Plant { nothing, file, leased_file, linked_file };

// The file planted under a name not yet used, and its lease held until the test ends.
struct PlantedFile {
    PlantedFile(const std::string &file, const std::string &contents, Plant plant)
    {
        int ready[2];
        if (plant == Plant::nothing)
            return;
        if (plant == Plant::linked_file) {
            target = file + "-target";
            made = write_file(target, contents) && link(target.c_str(), file.c_str()) == 0;
            return;
        }
        if (plant == Plant::file || pipe(ready) != 0) {
            made = write_file(file, contents);
            return;
        }
        holder = fork();
        if (holder == 0) {
            close(ready[0]);
            signal(SIGIO, SIG_IGN); // what a holder is sent when its lease is to be broken
            bool held = setgid(65534) == 0 && setuid(65534) == 0 && write_file(file, contents);
            int fd = held ? open(file.c_str(), O_RDONLY) : -1;
            held = fd >= 0 && fcntl(fd, F_SETLEASE, F_RDLCK) == 0;
            if (write(ready[1], held ? "y" : "n", 1) == 1 && held)
                pause();
            _exit(0);
        }
        close(ready[1]);
        char answer = 'n';
        made = holder > 0 && read(ready[0], &answer, 1) == 1 && answer == 'y';
        close(ready[0]);
    }
    ~PlantedFile()
    {
        if (!target.empty())
            unlink(target.c_str());
        if (holder > 0) {
            kill(holder, SIGKILL);
            waitpid(holder, nullptr, 0);
        }
    }
    PlantedFile(const PlantedFile &) = delete;
    PlantedFile &operator=(const PlantedFile &) = delete;

    static bool write_file(const std::string &file, const std::string &contents)
    {
        mode_t inherited = umask(0);
        int fd = open(file.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0644);
        umask(inherited);
        bool written = fd >= 0 && write(fd, contents.data(), contents.size()) ==
                                      static_cast<ssize_t>(contents.size());
        if (fd >= 0)
            close(fd);
        return written;
    }

    bool made = false;
    pid_t holder = -1;
    std::string target; // the file linked under the name
};

// The C library's temporary files of semaphores being made: sem. and six random characters.
std::set<std::string> temporary_semaphore_files()
{
    std::set<std::string> files;
    if (DIR *folder = opendir("/dev/shm")) {
        while (dirent *entry = readdir(folder))
            if (strncmp(entry->d_name, "sem.", 4) == 0 && strlen(entry->d_name) == 10)
                files.insert(entry->d_name);
        closedir(folder);
    }
    return files;
}

const std::string kAsFound = "<as found>";

// What a semaphore's file holds (in the C library's layout for 64-bit atomics): the count, the
// number of waiters, and 128 as the flags of its futex calls.
std::string semaphore_file(unsigned count, unsigned waiters, unsigned flags)
{
    unsigned words[8] = {count, waiters, flags};
    return std::string(reinterpret_cast<const char *>(words), sizeof words);
}

// A file in the semaphore's place that the C library cannot post to (planted by another user for
// a name not yet used, or truncated, or swapped since, or linked from elsewhere), held under a
// lease, or a caller that blocks signals, has one of them pending, limits the size of files or
// has set an alarm: the command never waits, never dies of a signal of its own and reports only
// what happened. A file whose contents show it is no semaphore is refused before the raise, with
// the line of sem_post for something that is not a semaphore, and every file that is not raised
// is left byte for byte as it was found.
TEST(Posix, NoFileAndNoCallerMakesTheRaiseWaitDieOrLie)
{
    static_assert(sizeof(sem_t) == 32, "the layout of 64-bit semaphores");
    const std::string garbage(sizeof(sem_t), 'U'); // the C library aborts on it
    // One waiter recorded and 129 as the futex flags: the wake-up becomes a wait.
    const std::string crafted = semaphore_file(0, 1, 129);
    const std::string refused = failure_line(kRaiseStep, EINVAL);
    // Made inside a file system of its own, in a mount namespace of its own, filled up: a file of
    // the same size as a semaphore, with no room for its page.
    const std::vector<std::string> full_file_system = {
        "unshare",
        "-m",
        "sh",
        "-c",
        "mount -t tmpfs -o size=64k none /dev/shm && "
        "truncate -s 32 /dev/shm/sem.@NAME@ && "
        "{ dd if=/dev/zero of=/dev/shm/fill bs=4k 2>/dev/null; exec \"$@\"; }",
        "sh"};
    std::vector<std::string> full_without_sigbus = full_file_system;
    full_without_sigbus.insert(full_without_sigbus.end(), {"env", "--block-signal=BUS"});
    // A watchdog alarm set before exec, and standard error a pipe that is full and not read.
    const std::vector<std::string> watchdog_and_full_pipe = {
        "perl", "-MFcntl", "-e",
        "$^F = 9; pipe(R, W) or die; fcntl(W, F_SETFL, O_NONBLOCK); "
        "1 while syswrite(W, 'x' x 4096); fcntl(W, F_SETFL, 0); "
        "open(STDERR, '>&', \\*W) or die; alarm 1; exec @ARGV or die"};
    // A caller that blocked one of the guard's signals and has one pending when it starts the
    // command.
    auto pending = [](const char *signal) {
        return std::vector<std::string>{"perl", "-MPOSIX", "-e",
                                        std::string("sigprocmask(SIG_BLOCK, POSIX::SigSet->new(") +
                                            signal + ")) or die; kill " + signal +
                                            ", $$; exec @ARGV or die"};
    };
    // The name moved on while the command opens its file (strace holds the open of that file back
    // for 0.4 s; LeakSanitizer cannot run under it): `then` runs meanwhile, on the file $f.
    auto while_opening = [](const std::string &then) {
        return std::vector<std::string>{
            "sh", "-c",
            "f=/dev/shm/sem.@NAME@; "
            "ASAN_OPTIONS=detect_leaks=0 strace -qq -o /dev/null -P \"$f\" -e "
            "inject=openat:delay_exit=400000 \"$@\" & sleep 0.2; " +
                then + "; wait $!",
            "sh"};
    };
    // A file too short for a semaphore, swapped for a sound one, and a sound one removed.
    const std::vector<std::string> swapped_while_opening = while_opening(
        "{ head -c 8 /dev/zero; printf '\\200'; head -c 23 /dev/zero; } >\"$f.new\" && "
        "mv \"$f.new\" \"$f\"");
    const std::vector<std::string> removed_while_opening = while_opening("rm \"$f\"");
    const std::string sound = semaphore_file(0, 0, 128);
    const Plant nothing = Plant::nothing, file = Plant::file, leased_file = Plant::leased_file,
                linked_file = Plant::linked_file;
    const struct {
        const char *row;
        Plant plant;
        std::string contents;
        std::vector<std::string> caller; // runs the command and its name, as the caller does
        Ending status;
        std::string line; // standard error, whole
        double seconds;   // at most
        bool needs_root;
        std::string after = kAsFound; // the file's contents afterwards
        bool raises_only = false;     // a row of semsignal's alone
        // The caller's words may hold @NAME@, the name of the row's semaphore.
    } rows[] = {
        {"empty", file, "", {}, 1, refused, 0.5, false},
        {"too short", file, std::string(sizeof(sem_t) - 1, '\0'), {}, 1, refused, 0.5, false},
        {"crafted flags", file, crafted, {}, 1, refused, 0.5, false},
        {"2^31 waiters", file, semaphore_file(0, 1U << 31, 128), {}, 1, refused, 0.5, false},
        {"garbage", file, garbage, {}, 1, refused, 0.5, false},
        {"private to one process", file, semaphore_file(0, 0, 0), {}, 1, refused, 0.5, false},
        {"a second link", linked_file, sound, {}, 1, refused, 0.5, false},
        // The name reaches a sound semaphore by the time of the raise, which raises that one.
        {"too short, swapped for a sound one", file, sound.substr(0, 12), swapped_while_opening, 0,
         "", 5, false, semaphore_file(1, 0, 128)},
        {"removed while it is opened", file, sound, removed_while_opening, 0, "", 5, false,
         semaphore_file(1, 0, 128)},
        {"SIGRTMIN pending", file, sound, pending("34"), 0, "", 0.5, false,
         semaphore_file(1, 0, 128)},
        {"SIGBUS pending", file, sound, pending("7"), 0, "", 0.5, false, semaphore_file(1, 0, 128)},
        {"SIGABRT pending", file, sound, pending("6"), 0, "", 0.5, false,
         semaphore_file(1, 0, 128)},
        {"crafted, SIGALRM blocked",
         file,
         crafted,
         {"env", "--block-signal=ALRM"},
         1,
         refused,
         5,
         false},
        {"crafted, every signal blocked",
         file,
         crafted,
         {"env", "--block-signal"},
         1,
         refused,
         5,
         false},
        {"a new name, no file may grow",
         nothing,
         "",
         {"sh", "-c", "ulimit -f 0; exec \"$@\"", "sh"},
         1,
         failure_line(kOpenStep, EFBIG),
         0.5,
         false},
        {"at its highest value, a watchdog, and standard error full", file,
         semaphore_file(SEM_VALUE_MAX, 0, 128), watchdog_and_full_pipe, killed_by(SIGALRM), "", 5,
         false},
        {"sparse, on a full file system", nothing, "", full_file_system, 1, refused, 0.5, true},
        {"the same, SIGBUS blocked", nothing, "", full_without_sigbus, 1, refused, 0.5, true},
        // The guard gives the raise a second of its own.
        {"a raise that never returns", file, sound, misbehaving("SEMSIGNAL_TEST_HANG_SEM_POST=1"),
         1, refused, 3, false, kAsFound, true},
        {"leased by another user",
         leased_file,
         semaphore_file(0, 0, 128),
         {},
         1,
         failure_line(kOpenStep, EAGAIN),
         0.5,
         true},
    };
    int skipped = 0;
    for (const auto &each : rows) {
        if (each.needs_root && geteuid() != 0) {
            skipped++;
            continue;
        }
        // semwait refuses what semsignal refuses, after the same checks, in the words of its wait.
        // semhold refuses it too, as a semaphore it cannot open, and never runs its command.
        for (const std::string other : {"", ", semwait NAME 0", ", semhold NAME COMMAND"}) {
            SCOPED_TRACE(std::string(each.row) + other);
            const bool waits = other.find("semwait") != std::string::npos;
            const bool holds = other.find("semhold") != std::string::npos;
            if ((waits || holds) && (each.status != 1 || each.line.empty() || each.raises_only))
                continue;
            std::string name = unique_name("damaged");
            LeftBehind left_behind(name);
            std::string path = "/dev/shm/sem." + name;
            PlantedFile planted(path, each.contents, each.plant);
            ASSERT_TRUE(each.plant == nothing || planted.made);
            std::set<std::string> temporary_before = temporary_semaphore_files();
            std::vector<std::string> command = {"timeout", "-s", "KILL", "10"};
            for (std::string word : each.caller) {
                for (size_t at; (at = word.find("@NAME@")) != std::string::npos;)
                    word.replace(at, 6, name); // the name is of letters, digits and '-'
                command.push_back(word);
            }
            if (waits)
                command.insert(command.end(), {semwait_path(), name, "0"});
            else if (holds)
                command.insert(command.end(), {semhold_path(), name, "sh", "-c", "exit 7"});
            else
                command.insert(command.end(), {semsignal_path(), name});

            auto start = std::chrono::steady_clock::now();
            Outcome outcome = run_program(command);
            double took =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            EXPECT_EQ(outcome.ending(), holds ? Ending(125) : each.status); // semhold's own
            EXPECT_EQ(outcome.out, "");
            EXPECT_EQ(outcome.err, each.line != refused ? each.line
                                   : waits              ? failure_line("sem_clockwait", EINVAL)
                                   : holds              ? failure_line(kOpenStep, EINVAL)
                                                        : each.line);
            EXPECT_LT(took, each.seconds) << "seconds";
            EXPECT_EQ(contents_of(path), each.after != kAsFound  ? each.after
                                         : each.plant == nothing ? "<no file>"
                                                                 : each.contents);
            // Another process's semaphore being made has a temporary file for some microseconds:
            // one that is new and still there a moment later was left behind by this row. It is
            // reported, never removed, since nothing tells whose it is.
            std::set<std::string> temporary_after = temporary_semaphore_files();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            for (const std::string &file : temporary_semaphore_files())
                if (temporary_before.count(file) == 0 && temporary_after.count(file) == 1)
                    ADD_FAILURE() << "/dev/shm/" << file << " is left behind";
        }
    }
    if (skipped > 0)
        GTEST_SKIP() << "needs root for " << skipped
                     << " rows, which mount a file system of their own or lease as another user";
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
