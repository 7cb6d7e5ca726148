// The command's behaviour that is the same on every target.
#include "support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace
{

const std::string kUsageLine = "ERROR: no semaphore name provided" + kNewline;

void expect_silent_success(const Outcome &outcome)
{
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "");
}

TEST(Usage, MissingOrEmptyNameGivesTheUsageLineAndTouchesNoSemaphore)
{
    std::string unused = unique_name("unused");
    TestSemaphore semaphore(unused, 0, 10);
    ASSERT_TRUE(semaphore.created());
    for (auto run : {run_semsignal, run_semhold}) {
        for (const std::vector<std::string> &arguments :
             {std::vector<std::string>{}, {""}, {"", unused}}) {
            Outcome outcome = run(arguments);
            EXPECT_EQ(outcome.status, 1);
            EXPECT_EQ(outcome.out, kUsageLine);
            EXPECT_EQ(outcome.err, "");
        }
    }
    EXPECT_EQ(semaphore.count(), 0);
}

// semhold NAME, then a shell that runs `script`, whose @NAME@, @SEMSIGNAL@ and @SEMWAIT@ stand for
// the name and the commands, and whose @THEN@ runs one command after another.
Outcome hold_around_a_shell(const std::string &name, std::string script)
{
    const struct {
        std::string mark, text;
    } words[] = {{"@NAME@", name},
                 {"@SEMSIGNAL@", "\"" + semsignal_path() + "\""},
                 {"@SEMWAIT@", "\"" + semwait_path() + "\""},
#ifdef _WIN32
                 {"@THEN@", " & "}};
#else
                 {"@THEN@", "; "}};
#endif
    for (const auto &word : words)
        for (size_t at; (at = script.find(word.mark)) != std::string::npos;)
            script.replace(at, word.mark.size(), word.text);
#ifdef _WIN32
    return run_semhold_line(name + " cmd /c \"" + script + "\"");
#else
    return run_semhold({name, "sh", "-c", script});
#endif
}

// semhold keeps the semaphore while its command runs, so that a signal sent between two waits
// reaches the second; it ends with the command's status, and says when there is no command.
TEST(Hold, KeepsASignalBetweenTwoWaitsAndEndsWithItsCommandsStatus)
{
    std::string name = unique_name("hold");
    LeftBehind left_behind(name);
    const struct {
        std::string script;
        int status;
    } rows[] = {
        {"@SEMSIGNAL@ @NAME@@THEN@@SEMWAIT@ @NAME@ 0", 0},
        {"exit 42", 42},
    };
    for (const auto &each : rows) {
        SCOPED_TRACE(each.script);
        Outcome outcome = hold_around_a_shell(name, each.script);
        EXPECT_EQ(outcome.status, each.status);
        EXPECT_EQ(outcome.out + outcome.err, "");
    }
    // Named in the working folder, so that no folder of the PATH that the tests' user may not
    // search (execvp then says "Permission denied", as env does) comes into it.
#ifdef _WIN32
    Outcome outcome = run_semhold({name, ".\\no-such-command-semsignal-test.exe", "argument"});
#else
    Outcome outcome = run_semhold({name, "./no-such-command-semsignal-test", "argument"});
#endif
    EXPECT_EQ(outcome.status, 127);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, failure_line(kRunStep, kNotFound));
}

TEST(Signal, LetsAWaiterThroughOnce)
{
    std::string name = unique_name("waiter");
    TestSemaphore semaphore(name, 0, 10);
    ASSERT_TRUE(semaphore.created());
    Waiter waiter(name, 10000);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    expect_silent_success(run_semsignal({name}));
    EXPECT_TRUE(waiter.released());
    EXPECT_EQ(semaphore.count(), 0);
}

TEST(Signal, EachRunRaisesTheCountOfAnExistingSemaphoreByOne)
{
    std::string name = unique_name("count");
    TestSemaphore semaphore(name, 3, 100);
    ASSERT_TRUE(semaphore.created());
    for (int run = 1; run <= 4; run++) {
        expect_silent_success(run_semsignal({name}));
        EXPECT_EQ(semaphore.count(), 3 + run);
    }
}

TEST(Signal, OnlyTheFirstArgumentIsTheName)
{
    std::string name = unique_name("first");
    std::string second = unique_name("second");
    TestSemaphore semaphore(name, 0, 10);
    TestSemaphore second_semaphore(second, 0, 10);
    ASSERT_TRUE(semaphore.created());
    ASSERT_TRUE(second_semaphore.created());

    expect_silent_success(run_semsignal({name, second, "-v", ""}));
    EXPECT_EQ(semaphore.count(), 1);
    EXPECT_EQ(second_semaphore.count(), 0);
}

TEST(Signal, NamesThatLookLikeOptionsOrFormatsAreJustNames)
{
    for (std::string prefix : {"-h", "--help", "/?", "%s%n%s%n", "with  blanks ", "quote\"d "}) {
        std::string name = prefix + unique_name("odd");
        TestSemaphore semaphore(name, 0, 10);
        ASSERT_TRUE(semaphore.created()) << name;
        expect_silent_success(run_semsignal({name}));
        EXPECT_EQ(semaphore.count(), 1) << name;
    }
}

TEST(Concurrency, ParallelRunsRaiseTheCountByExactlyTheirNumber)
{
#ifdef _WIN32
    const int runs = 8;
#else
    const int runs = 32;
#endif
    std::string name = unique_name("parallel");
    TestSemaphore semaphore(name, 0, 1000);
    ASSERT_TRUE(semaphore.created());
    for (const Outcome &outcome : run_semsignal_together({name}, runs))
        expect_silent_success(outcome);
    EXPECT_EQ(semaphore.count(), runs);
}

} // namespace
