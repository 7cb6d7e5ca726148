// semwait's behaviour that is the same on every target.
#include "harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace
{

const std::string kSecondsLine = "ERROR: SECONDS must be a number from 0 to 4294967" + kNewline;

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void pause_ms(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// Each row runs against a semaphore that holds a count: a number takes it, anything else is
// refused before any semaphore is touched.
TEST(Wait, SecondsAreANumberFrom0To4294967WithUpToThreeDecimals)
{
    const struct {
        std::string seconds;
        bool valid;
    } rows[] = {
        {"0", true},     {"00", true},           {"0.5", true},          {"1.25", true},
        {"2.000", true}, {"4294967", true},      {"4294967.000", true},  {"-1", false},
        {"1e3", false},  {"2,5", false},         {"5s", false},          {"0x10", false},
        {"", false},     {" ", false},           {" 5", false},          {"1.2345", false},
        {"5.", false},   {".5", false},          {"4294967.001", false}, {"4294968", false},
        {"+5", false},   {"99999999999", false}, {"1.2.3", false},
    };
    for (const auto &each : rows) {
        SCOPED_TRACE("SECONDS \"" + each.seconds + "\"");
        std::string name = unique_name("seconds");
        TestSemaphore semaphore(name, 1, 10);
        ASSERT_TRUE(semaphore.created());
        Outcome outcome = run_semwait({name, each.seconds, "ignored"});
        EXPECT_EQ(outcome.status, each.valid ? 0 : 1);
        EXPECT_EQ(outcome.out, each.valid ? "" : kSecondsLine);
        EXPECT_EQ(outcome.err, "");
        EXPECT_EQ(semaphore.count(), each.valid ? 0 : 1);
    }
    // Nor is a semaphore made for a name nobody holds.
    std::string unused = unique_name("unused");
    LeftBehind left_behind(unused);
    EXPECT_EQ(run_semwait({unused, "5s"}).status, 1);
    TestSemaphore fresh(unused, 0, 10);
    EXPECT_TRUE(fresh.created()) << "semwait made the semaphore";
}

TEST(Wait, MissingOrEmptyNameGivesTheUsageLine)
{
    for (const std::vector<std::string> &arguments :
         {std::vector<std::string>{}, {""}, {"", "5"}}) {
        Outcome outcome = run_semwait(arguments);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.out, "ERROR: no semaphore name provided" + kNewline);
        EXPECT_EQ(outcome.err, "");
    }
}

// 0 takes a count that is there and never waits; without one, the time runs out at once.
TEST(Wait, ZeroSecondsTakesACountThatIsThereAndNeverWaits)
{
    std::string name = unique_name("zero");
    TestSemaphore semaphore(name, 0, 10);
    ASSERT_TRUE(semaphore.created());
    auto start = std::chrono::steady_clock::now();
    Outcome outcome = run_semwait({name, "0"});
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.out + outcome.err, "");
    EXPECT_LT(seconds_since(start), 0.5);

    semaphore.raise();
    semaphore.raise();
    outcome = run_semwait({name, "0"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out + outcome.err, "");
    EXPECT_EQ(semaphore.count(), 1);
}

// A time-out lasts at least its SECONDS, and not much longer, and takes nothing; a count that
// comes before it lets the waiter through.
TEST(Wait, ATimeOutLastsItsSecondsAndTakesNothing)
{
    std::string name = unique_name("timeout");
    TestSemaphore semaphore(name, 0, 10);
    ASSERT_TRUE(semaphore.created());
    auto start = std::chrono::steady_clock::now();
    Outcome outcome = run_semwait({name, "0.7"});
    double took = seconds_since(start);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.out + outcome.err, "");
    EXPECT_GE(took, 0.7);
    EXPECT_LT(took, 1.5);
    semaphore.raise();
    EXPECT_EQ(semaphore.count(), 1);
}

// A blocked waiter is let through by semsignal, and by anyone's raise of the same semaphore.
TEST(Wait, ABlockedWaiterIsLetThroughBySemsignalOrAnyRaise)
{
    std::string name = unique_name("blocked");
    TestSemaphore semaphore(name, 0, 10);
    ASSERT_TRUE(semaphore.created());
    for (bool by_semsignal : {true, false}) {
        SCOPED_TRACE(by_semsignal ? "semsignal" : "the test's own raise");
        RunningWait waiter({name, "30"});
        pause_ms(300);
        auto start = std::chrono::steady_clock::now();
        if (by_semsignal)
            EXPECT_EQ(run_semsignal({name}).status, 0);
        else
            semaphore.raise();
        Outcome outcome = waiter.outcome();
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.out + outcome.err, "");
        EXPECT_LT(seconds_since(start), 2.0);
        EXPECT_EQ(semaphore.count(), 0);
    }
}

// Each signal lets one waiter through: of two, one is let through, and the other's time runs out.
TEST(Wait, TwoWaitersAndOneSignalLetOneThrough)
{
    std::string name = unique_name("two");
    TestSemaphore semaphore(name, 0, 10);
    ASSERT_TRUE(semaphore.created());
    RunningWait first({name, "2"}), second({name, "2"});
    pause_ms(300);
    EXPECT_EQ(run_semsignal({name}).status, 0);
    int first_status = first.outcome().status, second_status = second.outcome().status;
    EXPECT_EQ(first_status + second_status, 2) << first_status << " and " << second_status;
    EXPECT_TRUE(first_status == 0 || second_status == 0);
    EXPECT_EQ(semaphore.count(), 0);
}

// A name nobody holds: semwait makes the semaphore (count 0), as semsignal would, and waits on
// it; semsignal's signal then finds it.
TEST(Wait, ANameNobodyHoldsIsMadeAndWaitedOn)
{
    std::string name = unique_name("nobody");
    LeftBehind left_behind(name);
    RunningWait waiter({name, "30"});
    pause_ms(300);
    EXPECT_EQ(run_semsignal({name}).status, 0);
    EXPECT_EQ(waiter.outcome().status, 0);
}

} // namespace
