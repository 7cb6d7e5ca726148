// Generated names of every kind (letters of many scripts, format and quote characters,
// separators, control characters, up to 400 bytes after the test's own prefix), each run held to
// the command's whole contract against a semaphore the test made under the same name, and semwait
// to its own in one run of ten.
#include "harness.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>

namespace
{

// The part after the prefix, empty in one case in twenty.
std::string generated_part(std::mt19937 &random)
{
    static const std::string specials = "%\\/\"' \t*?-:.";
    // Latin-1, Greek, CJK, fullwidth forms (look-alikes of ASCII), emoji (beyond 16 bits).
    static const char *const letters[] = {"é", "ÿ", "Ω", "λ", "任", "务", "ａ", "＼", "😀", "🙂"};
    auto pick = [&random](auto low, auto high) {
        return std::uniform_int_distribution<decltype(high - low)>(low, high)(random);
    };
    int kind = pick(0, 99);
    size_t length = kind < 5    ? 0
                    : kind < 50 ? pick(size_t{1}, size_t{16})
                    : kind < 80 ? pick(size_t{17}, size_t{255})
                                : pick(size_t{256}, size_t{400});
    std::string part;
    while (part.size() < length) {
        int choice = pick(0, 99);
        if (choice < 25) {
            part += letters[pick(size_t{0}, std::size(letters) - 1)];
        } else if (choice < 45) {
            part += specials[pick(size_t{0}, specials.size() - 1)];
        } else if (choice < 55) {
            part += static_cast<char>(pick(0x01, 0x1F));
        } else {
            part += static_cast<char>(pick(int{'0'}, int{'z'}));
        }
    }
    return part;
}

std::string printable(const std::string &name)
{
    std::string text;
    for (unsigned char c : name) {
        if (c >= 0x20 && c < 0x7F) {
            text += static_cast<char>(c);
        } else {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\x%02X", c);
            text += escaped;
        }
    }
    return text;
}

TEST(Names, EveryGeneratedNameKeepsTheContract)
{
#if defined(_WIN32)
    const int runs = 120;
#elif defined(SEMSIGNAL_SANITIZED)
    const int runs = 1000; // each sanitized start costs ten times as much
#else
    const int runs = 5000;
#endif
    std::mt19937 random(20261208); // fixed, so that a failure can be replayed
    int refused = 0;
    for (int run = 0; run < runs && !HasFailure(); run++) {
        std::string part = generated_part(random);
        if (part.empty()) {
            Outcome outcome = run_semsignal({""});
            EXPECT_EQ(outcome.status, 1);
            EXPECT_EQ(outcome.out, "ERROR: no semaphore name provided" + kNewline);
            EXPECT_EQ(outcome.err, "");
            continue;
        }
        std::string name = unique_name("generated") + part;
        SCOPED_TRACE("name \"" + printable(name) + "\"");
        // Where the system lets the test create the semaphore, the command must raise exactly
        // that one; where it refuses the name, the command must say so in the system's words.
        TestSemaphore semaphore(name, 0, 10);
        ASSERT_TRUE(semaphore.created() || semaphore.error() != 0) << "the name is taken";
        Outcome outcome = run_semsignal({name});
        EXPECT_EQ(outcome.out, "");
        if (semaphore.created()) {
            EXPECT_EQ(outcome.status, 0);
            EXPECT_EQ(outcome.err, "");
            EXPECT_EQ(semaphore.count(), 1);
        } else {
            EXPECT_EQ(outcome.status, 1);
            EXPECT_EQ(outcome.err, failure_line(kOpenStep, semaphore.error()))
                << printable(outcome.err);
            refused++;
        }
        // semwait reaches the same semaphore by the same name, in one run of ten.
        if (run % 10 == 0) {
            Outcome waited = run_semwait({name, "0"});
            EXPECT_EQ(waited.out, "");
            EXPECT_EQ(waited.status, semaphore.created() ? 0 : 1);
            EXPECT_EQ(waited.err,
                      semaphore.created() ? "" : failure_line(kOpenStep, semaphore.error()));
            if (semaphore.created()) {
                EXPECT_EQ(semaphore.count(), 0);
            }
        }
    }
    // Both outcomes must have been seen, or the names were not varied enough to mean anything.
    EXPECT_GT(refused, 0);
    EXPECT_LT(refused, runs);
}

} // namespace
