// Generated names of every kind (high bytes, format and quote characters, separators, control
// characters, up to 400 bytes), each run held to the command's whole contract.
#include "support.h"

#include <gtest/gtest.h>

#include <random>

namespace
{

std::string generated_name(std::mt19937 &random)
{
    static const std::string specials = "%\\/\"' \t*?-:.";
    std::uniform_int_distribution<int> percent(0, 99);
    int kind = percent(random);
    size_t length = kind < 5    ? 0
                    : kind < 50 ? std::uniform_int_distribution<size_t>(1, 16)(random)
                    : kind < 80 ? std::uniform_int_distribution<size_t>(17, 255)(random)
                                : std::uniform_int_distribution<size_t>(256, 400)(random);
    std::string name;
    while (name.size() < length) {
        int pick = percent(random);
        if (pick < 25)
            name += static_cast<char>(std::uniform_int_distribution<int>(0x80, 0xFF)(random));
        else if (pick < 45)
            name += specials[std::uniform_int_distribution<size_t>(0, specials.size() - 1)(random)];
        else if (pick < 55)
            name += static_cast<char>(std::uniform_int_distribution<int>(0x01, 0x1F)(random));
        else
            name += static_cast<char>(std::uniform_int_distribution<int>('0', 'z')(random));
    }
    return name;
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

bool is_one_error_line(const std::string &text)
{
    bool known = text.rfind("CreateSemaphoreA failed: ", 0) == 0 ||
                 text.rfind("ReleaseSemaphore failed: ", 0) == 0;
    size_t end = text.size() - kNewline.size();
    return known && text.size() > kNewline.size() &&
           text.compare(end, std::string::npos, kNewline) == 0 &&
           text.find('\n') == text.size() - 1;
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
    for (int run = 0; run < runs; run++) {
        std::string name = generated_name(random);
        Outcome outcome = run_semsignal({name});
        if (!name.empty())
            forget_semaphore(name);
        SCOPED_TRACE("name \"" + printable(name) + "\"");

        if (name.empty()) {
            EXPECT_EQ(outcome.status, 1);
            EXPECT_EQ(outcome.out, "ERROR: no semaphore name provided" + kNewline);
            EXPECT_EQ(outcome.err, "");
            continue;
        }
        EXPECT_EQ(outcome.out, "");
        if (outcome.status == 0) {
            EXPECT_EQ(outcome.err, "");
        } else {
            EXPECT_EQ(outcome.status, 1);
            EXPECT_TRUE(is_one_error_line(outcome.err)) << printable(outcome.err);
            refused++;
        }
        if (name.size() >= 4) {
            EXPECT_EQ(outcome.out.find(name), std::string::npos);
            EXPECT_EQ(outcome.err.find(name), std::string::npos);
        }
        if (HasFailure())
            break;
    }
    // Both outcomes must have been seen, or the names were not varied enough to mean anything.
    EXPECT_GT(refused, 0);
    EXPECT_LT(refused, runs);
}

} // namespace
