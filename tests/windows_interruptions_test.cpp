// Ending a wait on Windows: Ctrl-Break and closing the console, racing a raise.
#include "harness.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace
{

// The exit status of a process that the test started, which is ended if it has not ended within
// 10 s, so that none is left behind; its handles are closed.
DWORD status_of(PROCESS_INFORMATION &process)
{
    WaitForSingleObject(process.hProcess, 10000);
    DWORD status = STILL_ACTIVE;
    GetExitCodeProcess(process.hProcess, &status);
    if (status == STILL_ACTIVE)
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return status;
}

// A round in which a waiter was ended just as the count it waits for was raised: its status says
// whether it took the count, which the semaphore must agree with. The count is taken back, so
// that the next waiter does not find it there. Returns whether the waiter took it.
bool took_the_count(DWORD status, TestSemaphore &semaphore, int round)
{
    bool left = semaphore.take(0);
    if (status == 0) {
        EXPECT_FALSE(left) << "round " << round << ": a count taken, and still there";
        return true;
    }
    EXPECT_EQ(status, static_cast<DWORD>(STATUS_CONTROL_C_EXIT)) << "round " << round;
    EXPECT_TRUE(left) << "round " << round << ": ended with nothing taken, and the count lost";
    return false;
}

// Ctrl-Break ends a wait at once with the status of a program that the system's own handler ends;
// racing a raise, it never takes a count that its status does not report. Ctrl-C, which a new
// process group has disabled, stays ignored there.
TEST(Windows, CtrlBreakEndsTheWaitAndNeverLosesACount)
{
    if (GetConsoleWindow() == NULL && GetConsoleOutputCP() == 0)
        GTEST_SKIP() << "needs a console: run it from a command prompt";
    std::string name = unique_name("break");
    TestSemaphore semaphore(name, 0, 100000);
    ASSERT_TRUE(semaphore.created());
    auto start_waiter = [&](const char *seconds, PROCESS_INFORMATION *process) {
        std::wstring line = wide("semwait.exe " + name + " " + seconds);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        return CreateProcessW(wide(semwait_path()).c_str(), &line[0], NULL, NULL, FALSE,
                              CREATE_NEW_PROCESS_GROUP, NULL, NULL, &startup, process) != FALSE;
    };
    PROCESS_INFORMATION process;
    ASSERT_TRUE(start_waiter("30", &process));
    Sleep(300);
    if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, process.dwProcessId)) {
        DWORD error = GetLastError();
        status_of(process);
        GTEST_SKIP() << "the console delivers no control event here (error " << error << ")";
    }
    EXPECT_EQ(status_of(process), static_cast<DWORD>(STATUS_CONTROL_C_EXIT));

    ASSERT_TRUE(start_waiter("1", &process));
    Sleep(300);
    GenerateConsoleCtrlEvent(CTRL_C_EVENT, process.dwProcessId);
    EXPECT_EQ(status_of(process), 2u) << "Ctrl-C was not ignored";

    const int rounds = 100;
    int taken = 0;
    for (int round = 0; round < rounds; round++) {
        ASSERT_TRUE(start_waiter("30", &process));
        Sleep(round % 5);
        semaphore.raise();
        GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, process.dwProcessId);
        taken += took_the_count(status_of(process), semaphore, round);
    }
    printf("%d rounds: %d waiters reported the count taken, %d were interrupted and left it\n",
           rounds, taken, rounds - taken);
}

// Closing the console of a waiter that a raise races ends it as Ctrl-C does: a count it took is
// reported by status 0, and 0xC000013A leaves the count in the semaphore.
TEST(Windows, ClosingTheConsoleNeverLosesACount)
{
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != NULL)
        GTEST_SKIP() << "a hang-up of Wine's terminal kills the process by SIGHUP before any "
                        "console handler runs; this runs on Windows";
    std::string name = unique_name("close");
    TestSemaphore semaphore(name, 0, 100000);
    ASSERT_TRUE(semaphore.created());
    wchar_t tests[MAX_PATH];
    GetModuleFileNameW(NULL, tests, MAX_PATH);
    auto start = [](const std::wstring &program, std::wstring line, DWORD flags) {
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_SHOWMINNOACTIVE;
        PROCESS_INFORMATION process = {};
        CreateProcessW(program.c_str(), &line[0], NULL, NULL, FALSE, flags, NULL, NULL, &startup,
                       &process);
        return process;
    };
    const int rounds = 30;
    int taken = 0;
    for (int round = 0; round < rounds; round++) {
        PROCESS_INFORMATION waiter =
            start(wide(semwait_path()), wide("semwait.exe " + name + " 30"), CREATE_NEW_CONSOLE);
        ASSERT_NE(waiter.hProcess, nullptr);
        Sleep(200 + round % 5);
        PROCESS_INFORMATION closer =
            start(tests,
                  L"semsignal_tests.exe --close-console-of " + std::to_wstring(waiter.dwProcessId) +
                      L" " + wide(name),
                  DETACHED_PROCESS);
        DWORD closed = status_of(closer);
        DWORD status = status_of(waiter);
        if (closed == 3)
            GTEST_SKIP() << "the waiter's console has no window here to close";
        ASSERT_EQ(closed, 0u);
        taken += took_the_count(status, semaphore, round);
    }
    printf("%d rounds: %d waiters reported the count taken, %d were ended and left it\n", rounds,
           taken, rounds - taken);
}

} // namespace
