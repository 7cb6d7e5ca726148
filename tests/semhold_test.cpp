// semhold's behaviour that is the same on every target.
#include "harness.h"

#include <gtest/gtest.h>

#include <signal.h>

namespace
{

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
        Ending ending;
    } rows[] = {
        {"@SEMSIGNAL@ @NAME@@THEN@@SEMWAIT@ @NAME@ 0", 0},
        {"exit 42", 42},
#ifndef _WIN32
        {"kill -TERM $$", killed_by(SIGTERM)}, // COMMAND runs in semhold's place
#endif
    };
    for (const auto &each : rows) {
        SCOPED_TRACE(each.script);
        Outcome outcome = hold_around_a_shell(name, each.script);
        EXPECT_EQ(outcome.ending(), each.ending);
        EXPECT_EQ(outcome.out + outcome.err, "");
    }
    // Named in the working folder, so that no folder of the PATH that the tests' user may not
    // search (execvp then says "Permission denied", as env does) comes into it. Nothing to run at
    // all is not found either.
    const std::vector<std::string> not_found[] = {
#ifdef _WIN32
        {".\\no-such-command-semsignal-test.exe", "argument"},
        {"   "},
#else
        {"./no-such-command-semsignal-test", "argument"},
#endif
        {""},
    };
    for (const auto &command : not_found) {
        SCOPED_TRACE("COMMAND '" + command[0] + "'");
        std::vector<std::string> arguments = {name};
        arguments.insert(arguments.end(), command.begin(), command.end());
        Outcome outcome = run_semhold(arguments);
        EXPECT_EQ(outcome.status, 127);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, failure_line(kRunStep, kNotFound));
    }
}

} // namespace
