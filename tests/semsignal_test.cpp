// semsignal's behaviour that is the same on every target, and the usage line of the commands that
// share it.
#include "harness.h"

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
    // semhold's own failures end 125, apart from any status of its COMMAND's.
    const struct {
        Outcome (*run)(const std::vector<std::string> &);
        int status;
    } commands[] = {{run_semsignal, 1}, {run_semhold, 125}};
    for (const auto &command : commands) {
        for (const std::vector<std::string> &arguments :
             {std::vector<std::string>{}, {""}, {"", unused}}) {
            Outcome outcome = command.run(arguments);
            EXPECT_EQ(outcome.status, command.status);
            EXPECT_EQ(outcome.out, kUsageLine);
            EXPECT_EQ(outcome.err, "");
        }
    }
    EXPECT_EQ(semaphore.count(), 0);
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
