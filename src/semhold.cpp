// semhold NAME [COMMAND [ARG...]]: hold the named semaphore, creating it if there is none, while
// COMMAND runs, and end with COMMAND's exit status; without COMMAND, until interrupted. As env,
// nohup and timeout do, it ends 125 where it fails itself, 126 where COMMAND cannot be run and
// 127 where it cannot be found, so that a caller can tell those from COMMAND's own status.
#include "named_semaphore.h"

#ifdef _WIN32
int wmain(int argc, wchar_t *argv[]) // the name exactly as given, whatever the ANSI code page
#else
int main(int argc, char *argv[])
#endif
{
    if (argc < 2 || argv[1][0] == 0) {
        write_usage_line("ERROR: no semaphore name provided");
        return 125;
    }

    unsigned long status = 0;
    Failure failure;
    HoldOutcome outcome = hold_named_semaphore(argv + 1, &status, &failure);
    if (outcome == HoldOutcome::ended)
        return static_cast<int>(status); // COMMAND's own, all 32 bits of it on Windows
    write_failure_line(failure);
    switch (outcome) {
    case HoldOutcome::not_found:
        return 127;
    case HoldOutcome::not_runnable:
        return 126;
    default:
        return 125;
    }
}
