// semhold on Windows: the rest of its line, run as typed.
#include "harness.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace
{

// semhold gives COMMAND the rest of its own line after NAME and the blanks that follow it, as
// typed: never split and quoted again, however NAME was quoted. COMMAND is the test program,
// which says what line it received, in every console code page alike. A batch file runs as
// COMMAND, and all 32 bits of COMMAND's status come back.
TEST(Windows, SemholdRunsTheRestOfItsLineAsTyped)
{
    std::string name = unique_name("hold");
    const std::string shown = "\"two  blanks\"   \\\"x\\\" y";
    const std::string show = "\"" + tests_path() + "\" --show-command-line " + shown;
    const struct {
        std::string name; // as typed
        std::string command;
        int status;
        std::string out;
    } rows[] = {
        {name, show, 0, show},
        {"\"two words " + name + "\"", show, 0, show},
        {"\"a \\\"quoted\\\" " + name + "\"\t", show, 0, show},
        {"Local\\" + name, show, 0, show},
        {name, "cmd /c exit -1073741510", static_cast<int>(STATUS_CONTROL_C_EXIT), ""},
    };
    for (const auto &each : rows) {
        SCOPED_TRACE(each.name + "   " + each.command);
        Outcome outcome = run_semhold_line(each.name + "   " + each.command);
        EXPECT_EQ(outcome.status, each.status);
        EXPECT_EQ(outcome.out, each.out);
        EXPECT_EQ(outcome.err, "");
    }

    // Runtimes read "" inside quotes differently. semhold holds the semaphore that its C runtime
    // (the test program's own) reads as NAME, and runs the rest of the line after that NAME.
    const std::string doubled = "\"a \"\"doubled\"\" " + name + "\"";
    const std::string read = run_tests_helper("--show-argument " + doubled).out;
    std::string hex;
    for (unsigned char c : read)
        hex += "0123456789abcdef"[c >> 4] + std::string(1, "0123456789abcdef"[c & 15]);
    Outcome outcome = run_semhold_line(doubled + "   \"" + tests_path() + "\" --holds " + hex);
    SCOPED_TRACE("NAME as the runtime reads it: " + read);
    if (read == "a \"doubled\" " + name) { // "" inside quotes stays inside them
        EXPECT_EQ(outcome.status, 0) << "3: semhold held another semaphore";
        EXPECT_EQ(outcome.out + outcome.err, "");
    } else { // Windows' msvcrt.dll: NAME ends at the blank after `doubled`, and COMMAND is no file
        EXPECT_EQ(read, "a \"doubled");
        EXPECT_EQ(outcome.status, 127);
        EXPECT_EQ(outcome.err, failure_line(kRunStep, kNotFound));
    }

    // A batch file beside the commands, which signals, waits and ends with a status of its own.
    std::string folder = semsignal_path().substr(0, semsignal_path().find_last_of('\\') + 1);
    std::string batch = folder + unique_name("job") + ".cmd";
    struct Removed {
        std::wstring path;
        ~Removed() { DeleteFileW(path.c_str()); }
    } removed{wide(batch)};
    FILE *file = _wfopen(removed.path.c_str(), L"wb");
    ASSERT_NE(file, nullptr);
    fputs("@\"%~dp0semsignal.exe\" %1\r\n@\"%~dp0semwait.exe\" %1 0\r\n"
          "@if errorlevel 1 exit /b 9\r\n@exit /b 5\r\n",
          file);
    fclose(file);
    Outcome job = run_semhold_line(name + " \"" + batch + "\" " + name);
    EXPECT_EQ(job.status, 5) << "9: the signal was lost";
    EXPECT_EQ(job.out + job.err, "");
}

} // namespace
