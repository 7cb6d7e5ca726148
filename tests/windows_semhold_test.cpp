// semhold on Windows: the rest of its line, run as typed.
#include "harness.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace
{

// semhold gives COMMAND the rest of its own line after NAME and the blanks that follow it, as
// typed: never split and quoted again, however NAME was quoted. A batch file runs as COMMAND, and
// all 32 bits of COMMAND's status come back.
TEST(Windows, SemholdRunsTheRestOfItsLineAsTyped)
{
    std::string name = unique_name("hold");
    const std::string shown = "\"two  blanks\"   \\\"x\\\" y";
    const struct {
        std::string name; // as typed
        std::string command;
        int status;
        std::string out;
    } rows[] = {
        {name, "cmd /c echo " + shown, 0, shown + "\r\n"},
        {"\"two words " + name + "\"", "cmd /c echo " + shown, 0, shown + "\r\n"},
        {"\"a \\\"quoted\\\" " + name + "\"\t", "cmd /c echo x", 0, "x\r\n"},
        {"\"a \"\"doubled\"\" " + name + "\"", "cmd /c echo y", 0, "y\r\n"},
        {"Local\\" + name, "cmd /c echo z", 0, "z\r\n"},
        {name, "cmd /c exit -1073741510", static_cast<int>(STATUS_CONTROL_C_EXIT), ""},
    };
    for (const auto &each : rows) {
        SCOPED_TRACE(each.name + "   " + each.command);
        Outcome outcome = run_semhold_line(each.name + "   " + each.command);
        EXPECT_EQ(outcome.status, each.status);
        EXPECT_EQ(outcome.out, each.out);
        EXPECT_EQ(outcome.err, "");
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
    Outcome outcome = run_semhold_line(name + " \"" + batch + "\" " + name);
    EXPECT_EQ(outcome.status, 5) << "9: the signal was lost";
    EXPECT_EQ(outcome.out + outcome.err, "");
}
} // namespace
