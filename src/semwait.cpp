// semwait NAME [SECONDS]: wait until the named semaphore's count is above zero and take one,
// creating the semaphore if there is none; give up after SECONDS where they are given.
#include "named_semaphore.h"

namespace
{

// SECONDS: digits, and up to three more after a '.', from 0 to 4294967, whatever the locale; in
// milliseconds.
bool read_seconds(const system_char *text, unsigned long *milliseconds)
{
    const unsigned long most = 4294967000UL;
    unsigned long value = 0;
    int digits = 0, decimals = -1;
    for (; *text != 0; text++) {
        if (*text == '.' && decimals < 0 && digits > 0) {
            decimals = 0;
            continue;
        }
        const unsigned long digit = static_cast<unsigned long>(*text - '0');
        if (*text < '0' || *text > '9' || decimals == 3 || value > (most - digit) / 10)
            return false;
        value = value * 10 + digit;
        decimals >= 0 ? decimals++ : digits++;
    }
    for (int d = decimals < 0 ? 0 : decimals; d < 3; d++) {
        if (value > most / 10)
            return false;
        value *= 10;
    }
    *milliseconds = value;
    return digits > 0 && decimals != 0;
}

} // namespace

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
    unsigned long milliseconds = 0;
    const bool timed = argc > 2;
    if (timed && !read_seconds(argv[2], &milliseconds)) {
        write_usage_line("ERROR: SECONDS must be a number from 0 to 4294967");
        return 1;
    }

    Failure failure;
    switch (wait_named_semaphore(argv[1], timed ? &milliseconds : nullptr, &failure)) {
    case WaitOutcome::taken:
        return 0;
    case WaitOutcome::timed_out:
        return 2;
    case WaitOutcome::failed:
        break;
    }
    write_failure_line(failure);
    return 1;
}
