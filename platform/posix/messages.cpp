// The commands' lines, and the C library's text for a failure.
#include "messages.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

namespace
{

// Appends `text` to the line that ends at `end`, as far as `limit`, and returns the new end. The
// lines are put together by hand and written with one fputs, so that each command binds as few
// C library functions at start-up as it can (every one is bound before main).
char *append(char *end, const char *limit, const char *text)
{
    while (*text != '\0' && end < limit)
        *end++ = *text++;
    *end = '\0';
    return end;
}

} // namespace

bool failed(const char *step, int error, Failure *failure)
{
    failure->step = step;
    // Where the C library fails without saying why, it is a name or a semaphore it cannot use.
    char *text = failure->text;
    append(text, text + sizeof failure->text - 1, strerror(error != 0 ? error : EINVAL));
    return false;
}

void write_usage_line(const char *text)
{
    char line[128] = {};
    append(append(line, line + sizeof line - 1, text), line + sizeof line - 1, "\n");
    fputs(line, stdout);
}

void write_failure_line(const Failure &failure)
{
    char line[sizeof failure.text + 64] = {};
    const char *limit = line + sizeof line - 1;
    char *end = append(append(line, limit, failure.step), limit, " failed: ");
    append(append(end, limit, failure.text), limit, "\n");
    fputs(line, stderr);
}
