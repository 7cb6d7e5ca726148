// semwait over Win32: the wait and its interruptions.
#include "open_semaphore.h"

namespace
{

HANDLE interrupted;

// Ctrl-C and Ctrl-Break only mark the interruption, which the wait then sees at once. Where the
// caller started the command with Ctrl-C disabled (a new process group), the system never passes
// it here: it stays ignored. Closing the console, logging off and shutting down (the last two
// reach services only) end the process as soon as the handler returns, whatever the wait has just
// taken: so the handler marks the interruption and never returns, and the main thread ends the
// process as the wait ended, within the 5 seconds that the system allows.
BOOL WINAPI on_control(DWORD event)
{
    SetEvent(interrupted);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        Sleep(INFINITE);
    return TRUE;
}

} // namespace

WaitOutcome wait_named_semaphore(const wchar_t *name, const unsigned long *milliseconds,
                                 Failure *failure)
{
    HANDLE semaphore = open_semaphore(name, SYNCHRONIZE, failure); // the right to wait
    if (semaphore == NULL)
        return WaitOutcome::failed;
    interrupted = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (interrupted == NULL) {
        failed("CreateEventW", GetLastError(), failure);
        CloseHandle(semaphore);
        return WaitOutcome::failed;
    }
    SetConsoleCtrlHandler(on_control, TRUE);
    // The interruption first: where both are there, the wait returns it and takes no count. The
    // system's waits measure time that does not count sleep, and that a change of the clock does
    // not move.
    HANDLE both[2] = {interrupted, semaphore};
    DWORD waited = WaitForMultipleObjects(2, both, FALSE, milliseconds ? *milliseconds : INFINITE);
    DWORD error = GetLastError();
    CloseHandle(semaphore);
    if (waited == WAIT_OBJECT_0)
        ExitProcess(STATUS_CONTROL_C_EXIT); // as the system's own handler ends a program
    if (waited == WAIT_OBJECT_0 + 1)
        return WaitOutcome::taken;
    if (waited == WAIT_TIMEOUT)
        return WaitOutcome::timed_out;
    failed(kWaitStep, error, failure);
    return WaitOutcome::failed;
}
