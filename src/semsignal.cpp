// semsignal NAME: raise the count of the named semaphore by one, creating it if there is none.
#include "named_semaphore.h"

#ifdef _WIN32
int wmain(int argc, wchar_t *argv[]) // the name exactly as given, whatever the ANSI code page
#else
int main(int argc, char *argv[])
#endif
{
    if (argc < 2 || argv[1][0] == 0) {
        write_usage_line("ERROR: no semaphore name provided");
        return 1;
    }

    Failure failure;
    if (!signal_named_semaphore(argv[1], &failure)) {
        write_failure_line(failure);
        return 1;
    }
    return 0;
}
