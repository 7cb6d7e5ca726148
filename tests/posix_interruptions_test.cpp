// Ending a wait over POSIX: every signal that ends a program, racing a raise, and a waiter that
// follows its name.
#include "harness.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

namespace
{

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// No core file of the tests' own: a waiter ended by SIGQUIT dumps none.
struct NoCoreFiles {
    rlimit before;
    NoCoreFiles()
    {
        getrlimit(RLIMIT_CORE, &before);
        rlimit none = {0, before.rlim_max};
        setrlimit(RLIMIT_CORE, &none);
    }
    ~NoCoreFiles() { setrlimit(RLIMIT_CORE, &before); }
};

// A waiter still going after that many seconds is killed, so that the row fails, not hangs.
void end_within(RunningWait &waiter, double seconds)
{
    const pid_t pid = static_cast<pid_t>(waiter.process());
    const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
    for (auto start = std::chrono::steady_clock::now(); seconds_since(start) < seconds;) {
        std::string line = contents_of(stat); // "PID (NAME) STATE ...": Z once it has ended
        if (line.compare(line.rfind(')') + 1, 3, " Z ") == 0)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
}

// Every signal that ends a program ends a wait at once, timed or not, and the waiter dies of the
// same signal; SIGRTMIN too, which the command's own timers raise. So does semhold without
// COMMAND.
TEST(PosixWait, AnInterruptionEndsTheWaitAtOnceByTheSameSignal)
{
    std::string name = unique_name("interrupted");
    TestSemaphore semaphore(name, 0, 10);
    ASSERT_TRUE(semaphore.created());
    NoCoreFiles no_core_files;
    for (int signal :
         {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, SIGPIPE, SIGRTMIN, SIGRTMIN + 1}) {
        // semwait NAME 30, semwait NAME, and semhold NAME, which ends by the same rule.
        for (int run = 0; run < 3; run++) {
            SCOPED_TRACE(std::string(strsignal(signal)) + (run == 0   ? ", 30 s"
                                                           : run == 1 ? ""
                                                                      : ", semhold"));
            RunningWait waiter(run == 0 ? std::vector<std::string>{name, "30"}
                                        : std::vector<std::string>{name},
                               run == 2);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            auto start = std::chrono::steady_clock::now();
            kill(static_cast<pid_t>(waiter.process()), signal);
            end_within(waiter, 0.5);
            Outcome outcome = waiter.outcome();
            EXPECT_EQ(outcome.ending(), killed_by(signal));
            EXPECT_EQ(outcome.out + outcome.err, "");
            EXPECT_LT(seconds_since(start), 0.5);
        }
    }
    // SIGINT just after the wait looked at whether anything interrupted it, and just before it
    // waits: the interruption still ends the wait at once.
    auto start = std::chrono::steady_clock::now();
    std::vector<std::string> command = {"timeout", "-s", "KILL", "5"};
    for (const std::string &word : misbehaving("SEMSIGNAL_TEST_SIGINT_IN_CLOCK=2"))
        command.push_back(word);
    command.insert(command.end(), {semwait_path(), name});
    Outcome outcome = run_program(command);
    EXPECT_EQ(outcome.ending(), killed_by(SIGINT)) << "between the look and the wait";
    EXPECT_LT(seconds_since(start), 0.5) << "between the look and the wait";
    semaphore.raise();
    EXPECT_EQ(semaphore.count(), 1);
}

// While semwait waits, it follows its name to whatever semaphore the name reaches now: one made
// again after the name was removed lets it through when signalled; a damaged file put in its
// place fails the wait; while the name is absent, it waits on, and its time runs out.
TEST(PosixWait, AWaiterFollowsItsNameToTheSemaphoreItReachesNow)
{
    const struct {
        const char *row;
        std::string script; // run once the waiter waits, with the name and the file
        int status;
        std::string line;
    } rows[] = {
        {"removed, then signalled", "rm \"$2\" && \"$0\" \"$1\"", 0, ""},
        {"replaced by a damaged file", "head -c 12 /dev/zero >\"$2.new\" && mv \"$2.new\" \"$2\"",
         1, failure_line("sem_clockwait", EINVAL)},
        {"removed", "rm \"$2\"", 2, ""},
    };
    for (const auto &each : rows) {
        SCOPED_TRACE(each.row);
        std::string name = unique_name("follow");
        LeftBehind left_behind(name);
        RunningWait waiter({name, "3"});
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(
            run_program({"sh", "-c", each.script, semsignal_path(), name, "/dev/shm/sem." + name})
                .status,
            0);
        Outcome outcome = waiter.outcome();
        EXPECT_EQ(outcome.status, each.status);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, each.line);
        EXPECT_LT(seconds_since(start), each.status == 2 ? 3.0 : 1.5) << "seconds";
    }
    // The semaphore the name reaches now is the one that was waited on: no count is left in it.
    std::string name = unique_name("follow");
    LeftBehind left_behind(name);
    RunningWait waiter({name, "3"});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(run_program({"rm", "/dev/shm/sem." + name}).status, 0);
    EXPECT_EQ(run_semsignal({name}).status, 0);
    EXPECT_EQ(waiter.outcome().status, 0);
    EXPECT_EQ(run_semwait({name, "0"}).status, 2) << "the count was not taken from the new one";
}

// A file truncated under a waiter fails the wait, in its words; an interruption that came first
// ends it as the interruption.
TEST(PosixWait, AFileTruncatedDuringTheWaitFailsItUnlessAnInterruptionCameFirst)
{
    const struct {
        std::vector<std::string> seconds;
        int signal; // sent after the truncation, or 0
        Ending ending;
        std::string line;
    } rows[] = {
        {{"1"}, 0, 1, failure_line("sem_clockwait", EINVAL)},
        {{}, SIGTERM, killed_by(SIGTERM), ""},
        {{"30"}, SIGINT, killed_by(SIGINT), ""},
    };
    for (const auto &each : rows) {
        SCOPED_TRACE(each.signal == 0 ? "the deadline" : strsignal(each.signal));
        std::string name = unique_name("truncated");
        LeftBehind left_behind(name);
        std::vector<std::string> arguments = {name};
        arguments.insert(arguments.end(), each.seconds.begin(), each.seconds.end());
        RunningWait waiter(arguments);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_EQ(truncate(("/dev/shm/sem." + name).c_str(), 0), 0);
        if (each.signal != 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            kill(static_cast<pid_t>(waiter.process()), each.signal);
        }
        Outcome outcome = waiter.outcome();
        EXPECT_EQ(outcome.ending(), each.ending);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, each.line);
    }
}

// Interrupted just as a count arrives, semwait never takes a count that its status does not
// report: each count raised is either reported by a status 0 or still in the semaphore.
TEST(PosixWait, AnInterruptionRacingASignalNeverLosesACount)
{
    std::string name = unique_name("race");
    TestSemaphore semaphore(name, 0, SEM_VALUE_MAX);
    ASSERT_TRUE(semaphore.created());
    const int rounds = 1200;
    const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGRTMIN + 1};
    NoCoreFiles no_core_files;
    std::mt19937 random(20261209);
    int taken = 0, interrupted = 0;
    for (int round = 0; round < rounds; round++) {
        const int signal = signals[round % 6];
        RunningWait waiter({name});
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::uniform_int_distribution<int>(300, 3000)(random)));
        semaphore.raise();
        // The signal lands anywhere from before the waiter sees the count to after it took it.
        auto raised = std::chrono::steady_clock::now();
        auto lag = std::chrono::microseconds(std::uniform_int_distribution<int>(0, 300)(random));
        while (std::chrono::steady_clock::now() - raised < lag) {
        }
        kill(static_cast<pid_t>(waiter.process()), signal);
        Outcome outcome = waiter.outcome();
        // What the round raised is taken back, so that the next waiter does not find it there.
        bool left = semaphore.take(0);
        if (outcome.status == 0) {
            taken++;
            EXPECT_FALSE(left) << "round " << round << ": a count taken, and still there";
        } else {
            EXPECT_EQ(outcome.ending(), killed_by(signal)) << "round " << round;
            EXPECT_TRUE(left) << "round " << round << ": interrupted, and the count lost";
            interrupted++;
        }
    }
    printf("%d rounds: %d waiters reported the count taken, %d were interrupted and left it\n",
           rounds, taken, interrupted);
}

// A caller that ignores SIGINT (a shell's background job) has it ignored by semwait too, and a
// wait stopped and continued keeps its deadline.
TEST(PosixWait, AnIgnoredSignalStaysIgnoredAndAStopKeepsTheDeadline)
{
    std::string name = unique_name("ignored");
    TestSemaphore semaphore(name, 0, 10);
    ASSERT_TRUE(semaphore.created());
    const struct {
        const char *row;
        std::string script;
    } rows[] = {
        {"SIGINT to a background job", "\"$0\" \"$@\" & sleep 0.3; kill -INT $!; wait $!"},
        {"SIGUSR1 ignored", "trap '' USR1; \"$0\" \"$@\" & sleep 0.3; kill -USR1 $!; wait $!"},
        {"stopped for 0.5 s", "\"$0\" \"$@\" & sleep 0.2; kill -STOP $!; sleep 0.5; "
                              "kill -CONT $!; wait $!"},
    };
    for (const auto &each : rows) {
        SCOPED_TRACE(each.row);
        auto start = std::chrono::steady_clock::now();
        Outcome outcome = run_program({"sh", "-c", each.script, semwait_path(), name, "1"});
        double took = seconds_since(start);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_GE(took, 1.0);
        EXPECT_LT(took, 1.3);
    }
    EXPECT_EQ(semaphore.count(), 0);
}

} // namespace
